#include "ax_support.h"

#include <gtest/gtest.h>

namespace axtest {

namespace {

template <class F>
void Resolve(HMODULE m, const char* name, F& f)
{
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

}  // namespace

const ControlSeams& Control()
{
    static ControlSeams seams;
    if (!seams.Loaded()) {
        if (HMODULE m = GetModuleHandleW(L"Flash.ocx")) {
            Resolve(m, "RefControl_StepFrames", seams.StepFrames);
            Resolve(m, "RefControl_SetManualClock", seams.SetManualClock);
            Resolve(m, "RefControl_EnableLog", seams.EnableLog);
            Resolve(m, "RefControl_ClearLog", seams.ClearLog);
            Resolve(m, "RefControl_ReadLog", seams.ReadLog);
            Resolve(m, "RefControl_InstanceCount", seams.InstanceCount);
            Resolve(m, "RefControl_CollectGarbage", seams.CollectGarbage);
        }
    }
    return seams;
}

std::string ControlLog()
{
    const int n = Control().ReadLog(nullptr, 0);
    std::string log(static_cast<size_t>(n) + 1, '\0');
    Control().ReadLog(log.data(), n + 1);
    log.resize(static_cast<size_t>(n));
    return log;
}

void StepControls(int frames)
{
    Control().StepFrames(nullptr, frames);
    nstest::Pump();
}

std::string BackEndName(const ::testing::TestParamInfo<TkvPlugin>& info)
{
    return info.param == kvActiveX ? "ActiveX" : "Netscape";
}

const wchar_t* DriverClassOf(TkvPlugin backEnd)
{
    return backEnd == kvActiveX ? L"TkvFlashDriverActiveX" : L"TkvFlashDriverNS";
}

std::string LogOf(TkvPlugin backEnd) { return backEnd == kvActiveX ? ControlLog() : nstest::PlayerLog(); }

void ClearLogOf(TkvPlugin backEnd)
{
    if (backEnd == kvActiveX)
        Control().ClearLog();
    else
        nstest::Player().ClearLog();
}

void StepOn(TkvPlugin backEnd, int frames)
{
    if (backEnd == kvActiveX)
        StepControls(frames);
    else
        nstest::Step(frames);
}

void UseControlClock()
{
    static bool done = false;
    if (!done && Control().Loaded()) {
        Control().SetManualClock(1);
        Control().EnableLog(1);
        done = true;
    }
    // A control made before the clock went manual may have started its
    // timer: a step of no frames moves it onto the tests' clock too.
    if (done)
        Control().StepFrames(nullptr, 0);
}

std::unique_ptr<nstest::TPlayerForm, nstest::FormDeleter> NewActiveXForm(TColor playerColour)
{
    auto form = nstest::NewPlayerForm(playerColour);
    form->Player->SetPlugin(kvActiveX);
    // The control's module is loaded now: its clock goes manual, for this
    // control (which may have started its timer) and every later one.
    UseControlClock();
    nstest::Pump();
    return form;
}

}  // namespace axtest
