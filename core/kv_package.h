// The package frame: starts and stops the package's units in order, and shows
// the About box.
#pragma once

// Runs the units' start sections in order. A second call does nothing.
void KvPackageStart();
// Runs the stop sections in reverse order, after the last driver is gone.
// Does nothing when the package is not started.
void KvPackageStop();
bool KvPackageStarted();

// The package's version text, e.g. "Korvel Flash components 0.2.0".
const wchar_t* KvVersionText();
// Shows the About message box (owner may be nullptr).
void KvAbout(void* ownerWindow = nullptr);
