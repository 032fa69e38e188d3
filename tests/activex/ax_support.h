// Shared by the tests that play movies through the ActiveX back-end and the
// reference player's control (Flash.ocx, registered in the test prefix).
#pragma once

#include <windows.h>

#include <string>

#include "kv_driver_activex.h"
#include "../netscape/ns_support.h"

namespace axtest {

// The reference control's test seams, resolved from its loaded module.
struct ControlSeams {
    int (*StepFrames)(IUnknown*, int) = nullptr;
    void (*SetManualClock)(int) = nullptr;
    void (*EnableLog)(int) = nullptr;
    void (*ClearLog)() = nullptr;
    int (*ReadLog)(char*, int) = nullptr;
    int (*InstanceCount)() = nullptr;
    void (*CollectGarbage)() = nullptr;
    bool Loaded() const { return StepFrames != nullptr; }
};
const ControlSeams& Control();
std::string ControlLog();
// Steps every live control n frames, then handles waiting messages.
void StepControls(int frames = 1);

// A shown form with an opaque ActiveX player of 100 x 100 at (10, 10).
std::unique_ptr<nstest::TPlayerForm, nstest::FormDeleter> NewActiveXForm(
    TColor playerColour = static_cast<TColor>(0x00404040));

}  // namespace axtest
