// Shared between the framework's own source files only.
#pragma once

#include "framework/controls.h"

namespace kvinternal {

// The client-area mouse button and move messages a control handles.
bool IsMouseMessage(UINT msg);

// The graphic control that has the mouse captured through its parent's window.
extern TControl* g_captureControl;
// A control moved or resized: DCs held for it outside painting are stale.
void ControlMoved(TControl* c);
// Depth of window procedure calls; DCs acquired outside painting are
// released when the outermost one returns.
extern int g_messageDepth;
}  // namespace kvinternal
