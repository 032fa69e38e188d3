// The exported test seams (refcontrol_seams.h).
#include <algorithm>
#include <cstring>

#include "control_internal.h"
#include "refcontrol_seams.h"

using namespace refcontrol;

extern "C" int RefControl_StepFrames(IUnknown* control, int frames) noexcept
{
    try {
        callLog().received("RefControl_StepFrames frames=" + std::to_string(frames));
        std::vector<Control*> targets;
        if (control) {
            if (Control* c = Control::fromUnknown(control))
                targets.push_back(c);
        } else {
            targets = Control::live();
        }
        int stepped = 0;
        for (Control* c : targets) {
            // An earlier control's frame may have released a later one.
            auto live = Control::live();
            if (std::find(live.begin(), live.end(), c) == live.end())
                continue;
            ComPtr<IUnknown> hold(c->identity());
            c->stepFrames(frames);
            ++stepped;
        }
        return stepped;
    } catch (...) {
        return 0;
    }
}

extern "C" void RefControl_SetManualClock(int manual) noexcept
{
    refhost::EngineSession::setGlobalManualClock(manual != 0);
}

extern "C" void RefControl_EnableLog(int enable) noexcept { callLog().enable(enable != 0); }

extern "C" void RefControl_ClearLog() noexcept { callLog().clear(); }

extern "C" int RefControl_ReadLog(char* buffer, int size) noexcept
{
    try {
        std::string text = callLog().text();
        if (buffer && size > 0) {
            size_t n = std::min(text.size(), size_t(size - 1));
            std::memcpy(buffer, text.data(), n);
            buffer[n] = '\0';
        }
        return static_cast<int>(text.size());
    } catch (...) {
        return 0;
    }
}

extern "C" int RefControl_InstanceCount() noexcept { return static_cast<int>(Control::live().size()); }

extern "C" int RefControl_ObjectCount() noexcept { return liveObjects(); }

extern "C" void RefControl_CollectGarbage() noexcept
{
    try {
        for (refhost::EngineSession* s : refhost::EngineSession::all())
            if (!s->destroyed())
                s->collectGarbage();
    } catch (...) {
    }
}
