// Shared by the tests that play movies through the ActiveX back-end and the
// reference player's control (Flash.ocx, registered in the test prefix).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "kv_driver_activex.h"
#include "../netscape/ns_support.h"

// Names a back-end in the messages of a parameterised test.
inline void PrintTo(TkvPlugin backEnd, std::ostream* os)
{
    *os << (backEnd == kvActiveX ? "kvActiveX" : backEnd == kvNetscape ? "kvNetscape" : "kvDefault");
}

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

// The two back-ends as the parameter of a value-parameterised test: what a
// case asks of "its" back-end goes to the plug-in or to the control.
inline constexpr TkvPlugin kBothBackEnds[] = {kvNetscape, kvActiveX};
std::string BackEndName(const ::testing::TestParamInfo<TkvPlugin>& info);
const wchar_t* DriverClassOf(TkvPlugin backEnd);
// The call log of the back-end's player, and its clock.
std::string LogOf(TkvPlugin backEnd);
void ClearLogOf(TkvPlugin backEnd);
void StepOn(TkvPlugin backEnd, int frames = 1);
// Puts the control's module, once loaded (the first component's probe loads
// it), on the tests' clock with its log on; every live control steps only
// when told from then on.
void UseControlClock();

// A shown form with an opaque ActiveX player of 100 x 100 at (10, 10).
std::unique_ptr<nstest::TPlayerForm, nstest::FormDeleter> NewActiveXForm(
    TColor playerColour = static_cast<TColor>(0x00404040));

}  // namespace axtest
