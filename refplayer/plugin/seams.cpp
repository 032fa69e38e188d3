// The exported test seams (refplayer_seams.h).
#include <windows.h>

#include <cstring>

#include "call_log.h"
#include "config.h"
#include "instance.h"
#include "refplayer_seams.h"
#include "scriptable.h"

using namespace refplugin;

extern "C" int RefPlayer_StepFrames(NPP npp, int frames) noexcept
{
    try {
        CallLog::instance().received("RefPlayer_StepFrames frames=" + std::to_string(frames));
        std::vector<Instance*> targets;
        if (npp) {
            if (Instance* i = Instance::from(npp))
                targets.push_back(i);
        } else {
            for (Instance* i : Instance::all())
                if (!i->destroyed())
                    targets.push_back(i);
        }
        int stepped = 0;
        for (Instance* i : targets) {
            // An earlier instance's frame may have destroyed a later one.
            auto live = Instance::all();
            if (std::find(live.begin(), live.end(), i) == live.end() || i->destroyed())
                continue;
            Instance::Entry entry(i);
            i->stepFrames(frames);
            ++stepped;
        }
        return stepped;
    } catch (...) {
        return 0;
    }
}

extern "C" void RefPlayer_SetManualClock(int manual) noexcept { refhost::EngineSession::setGlobalManualClock(manual != 0); }

extern "C" void RefPlayer_EnableLog(int enable) noexcept { CallLog::instance().enable(enable != 0); }

extern "C" void RefPlayer_ClearLog() noexcept { CallLog::instance().clear(); }

extern "C" int RefPlayer_ReadLog(char* buffer, int size) noexcept
{
    try {
        std::string text = CallLog::instance().text();
        if (buffer && size > 0) {
            size_t n = text.size() < size_t(size - 1) ? text.size() : size_t(size - 1);
            std::memcpy(buffer, text.data(), n);
            buffer[n] = '\0';
        }
        return static_cast<int>(text.size());
    } catch (...) {
        return 0;
    }
}

extern "C" int RefPlayer_InstanceCount() noexcept { return Instance::liveCount(); }

extern "C" int RefPlayer_ObjectCount() noexcept { return liveScriptObjects(); }

extern "C" void RefPlayer_CollectGarbage() noexcept
{
    try {
        for (refhost::EngineSession* s : refhost::EngineSession::all())
            if (!s->destroyed())
                s->collectGarbage();
    } catch (...) {
    }
}

extern "C" void RefPlayer_ReloadConfig() noexcept
{
    try {
        refreshConfig();
    } catch (...) {
    }
}
