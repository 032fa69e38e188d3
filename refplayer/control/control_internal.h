// Shared inside the control's sources only.
#pragma once

#include <new>
#include <string>

#include "call_log.h"
#include "control.h"

namespace refcontrol {

// Property ids of the main interface (the published ones).
namespace dispid {
inline constexpr DISPID kReadyState = -525;
inline constexpr DISPID kMovie = 0x66;
inline constexpr DISPID kQuality = 0x69;
inline constexpr DISPID kLoop = 0x6a;
inline constexpr DISPID kFrameNum = 0x6b;
inline constexpr DISPID kScaleMode = 0x78;
inline constexpr DISPID kAlignMode = 0x79;
inline constexpr DISPID kBackgroundColor = 0x7b;
inline constexpr DISPID kTotalFrames = 0x7c;
inline constexpr DISPID kPlaying = 0x7d;
inline constexpr DISPID kWMode = 0x85;
inline constexpr DISPID kSAlign = 0x86;
inline constexpr DISPID kMenu = 0x87;
inline constexpr DISPID kBase = 0x88;
inline constexpr DISPID kScale = 0x89;
inline constexpr DISPID kDeviceFont = 0x8a;
inline constexpr DISPID kEmbedMovie = 0x8b;
inline constexpr DISPID kBGColor = 0x8c;
inline constexpr DISPID kQuality2 = 0x8d;
inline constexpr DISPID kSWRemote = 0x9f;
inline constexpr DISPID kFlashVars = 0xaa;
inline constexpr DISPID kAllowScriptAccess = 0xab;
inline constexpr DISPID kMovieData = 0xbe;
inline constexpr DISPID kSeamlessTabbing = 0xc0;
inline constexpr DISPID kProfile = 0xc2;
inline constexpr DISPID kProfileAddress = 0xc3;
inline constexpr DISPID kProfilePort = 0xc4;
inline constexpr DISPID kAllowNetworking = 0xc9;
inline constexpr DISPID kAllowFullScreen = 0xca;
// Events.
inline constexpr DISPID kOnReadyStateChange = -609;
inline constexpr DISPID kOnProgress = 0x7a6;
inline constexpr DISPID kFSCommand = 0x96;
inline constexpr DISPID kFlashCall = 0xc5;
}  // namespace dispid

inline refplugin::CallLog& callLog() { return refplugin::CallLog::instance(); }

// Runs the body of a COM entry point: no exception leaves it.
template <typename Body>
HRESULT guarded(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

template <typename Args, typename Body>
HRESULT Control::entry(const char* iface, const char* method, Args&& args, Body&& body) noexcept
{
    return guarded([&]() -> HRESULT {
        if (callLog().enabled()) {
            std::string line = std::string(iface) + "." + method;
            std::string a = args();
            if (!a.empty())
                line += " " + a;
            callLog().received(line);
        }
        if (HRESULT f = injected(method); f != S_OK)
            return f;
        if (answersNothing(method))
            return S_OK;
        // The container may drop its last reference from inside a callback.
        ComPtr<IUnknown> self(identity());
        return body();
    });
}

inline std::string none() { return {}; }

// The type library embedded in this module.
HRESULT loadOwnTypeLib(ITypeLib** lib);

// Objects of this module's own making.
HRESULT createConnectionPointEnum(IUnknown* owner, const std::vector<IConnectionPoint*>& points,
                                  IEnumConnectionPoints** out);
HRESULT createConnectionsEnum(const std::vector<CONNECTDATA>& items, IEnumConnections** out);

}  // namespace refcontrol
