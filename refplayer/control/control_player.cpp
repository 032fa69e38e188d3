// The control's automation face: IDispatch through the type library, the
// main interface's methods and properties, property browsing, and the
// movie's calls out (FSCommand, ExternalInterface) as events.
#include <cmath>
#include <cstdlib>

#include "control_internal.h"
#include "refplayer/script/eixml.h"

namespace refcontrol {
namespace {

std::string quotedText(BSTR b) { return refplugin::quoted(utf8(b)); }

VARIANT_BOOL vb(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

struct Choice {
    int value;
    const wchar_t* name;
};
const Choice kQualities[] = {{0, L"Low"}, {1, L"High"}, {2, L"AutoLow"}, {3, L"AutoHigh"}};
const Choice kScaleModes[] = {{0, L"ShowAll"}, {1, L"NoBorder"}, {2, L"ExactFit"}, {3, L"NoScale"}};

std::span<const Choice> choicesOf(DISPID id)
{
    if (id == dispid::kQuality)
        return kQualities;
    if (id == dispid::kScaleMode)
        return kScaleModes;
    return {};
}

// ActionScript's numbered movie clip properties, as TGetProperty names them.
const char* const kClipProperties[] = {"_x",        "_y",         "_xscale",     "_yscale",   "_currentframe",
                                       "_totalframes", "_alpha",  "_visible",    "_width",    "_height",
                                       "_rotation", "_target",    "_framesloaded", "_name",   "_droptarget",
                                       "_url",      "_highquality", "_focusrect", "_soundbuftime", "_quality"};

}  // namespace

// ---- IDispatch ------------------------------------------------------------------------------

HRESULT Control::typeInfo(ITypeInfo** ti)
{
    if (!typeInfo_) {
        ComPtr<ITypeLib> lib;
        HRESULT hr = loadOwnTypeLib(lib.put());
        if (FAILED(hr))
            return hr;
        hr = lib->GetTypeInfoOfGuid(IID_IkvFlashPlayer, typeInfo_.put());
        if (FAILED(hr))
            return hr;
    }
    *ti = typeInfo_.get();
    (*ti)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::GetTypeInfoCount(UINT* count) noexcept
{
    return entry("IDispatch", "GetTypeInfoCount", none, [&]() -> HRESULT {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::GetTypeInfo(UINT index, LCID, ITypeInfo** ti) noexcept
{
    return entry("IDispatch", "GetTypeInfo", [&] { return std::to_string(index); }, [&]() -> HRESULT {
        if (!ti)
            return E_POINTER;
        *ti = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        return typeInfo(ti);
    });
}

HRESULT STDMETHODCALLTYPE Control::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                                 DISPID* ids) noexcept
{
    return entry("IDispatch", "GetIDsOfNames", [&] { return names && count ? utf8(names[0], wcslen(names[0])) : none(); },
                 [&]() -> HRESULT {
                     if (!IsEqualIID(riid, IID_NULL))
                         return DISP_E_UNKNOWNINTERFACE;
                     ComPtr<ITypeInfo> ti;
                     HRESULT hr = typeInfo(ti.put());
                     if (FAILED(hr))
                         return hr;
                     return DispGetIDsOfNames(ti.get(), names, count, ids);
                 });
}

HRESULT STDMETHODCALLTYPE Control::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                          VARIANT* result, EXCEPINFO* excep, UINT* argErr) noexcept
{
    return entry("IDispatch", "Invoke", [&] { return "dispid=" + std::to_string(id) + " flags=" + std::to_string(flags); },
                 [&]() -> HRESULT {
                     if (!IsEqualIID(riid, IID_NULL))
                         return DISP_E_UNKNOWNINTERFACE;
                     ComPtr<ITypeInfo> ti;
                     HRESULT hr = typeInfo(ti.put());
                     if (FAILED(hr))
                         return hr;
                     DISPPARAMS empty{};
                     return ti->Invoke(static_cast<IkvFlashPlayer*>(this), id, flags, params ? params : &empty, result,
                                       excep, argErr);
                 });
}

// ---- stored properties ------------------------------------------------------------------------

HRESULT Control::getText(DISPID id, const char* name, BSTR* out)
{
    return entry("IkvFlashPlayer", name, none, [&]() -> HRESULT {
        if (!out)
            return E_POINTER;
        return newBstr(props_.text(id), out);
    });
}

HRESULT Control::putText(DISPID id, const char* name, BSTR in)
{
    return entry("IkvFlashPlayer", name, [&] { return quotedText(in); }, [&]() -> HRESULT {
        props_.set(id, utf8(in));
        notifyChanged(id);
        return S_OK;
    });
}

HRESULT Control::getTruth(DISPID id, const char* name, bool fallback, VARIANT_BOOL* out)
{
    return entry("IkvFlashPlayer", name, none, [&]() -> HRESULT {
        if (!out)
            return E_POINTER;
        *out = vb(props_.truth(id, fallback));
        return S_OK;
    });
}

HRESULT Control::putTruth(DISPID id, const char* name, VARIANT_BOOL in)
{
    return entry("IkvFlashPlayer", name, [&] { return std::to_string(in); }, [&]() -> HRESULT {
        props_.set(id, in != VARIANT_FALSE);
        notifyChanged(id);
        return S_OK;
    });
}

HRESULT Control::getNumber(DISPID id, const char* name, int32_t fallback, LONG* out)
{
    return entry("IkvFlashPlayer", name, none, [&]() -> HRESULT {
        if (!out)
            return E_POINTER;
        *out = props_.integer(id, fallback);
        return S_OK;
    });
}

HRESULT Control::putNumber(DISPID id, const char* name, int32_t in)
{
    return entry("IkvFlashPlayer", name, [&] { return std::to_string(in); }, [&]() -> HRESULT {
        props_.set(id, in);
        notifyChanged(id);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::get_Quality(int* v) noexcept
{
    LONG n = 0;
    HRESULT hr = v ? getNumber(dispid::kQuality, "get_Quality", 1, &n) : E_POINTER;
    if (SUCCEEDED(hr))
        *v = n;
    return hr;
}
HRESULT STDMETHODCALLTYPE Control::put_Quality(int v) noexcept { return putNumber(dispid::kQuality, "put_Quality", v); }
HRESULT STDMETHODCALLTYPE Control::get_ScaleMode(int* v) noexcept
{
    LONG n = 0;
    HRESULT hr = v ? getNumber(dispid::kScaleMode, "get_ScaleMode", 0, &n) : E_POINTER;
    if (SUCCEEDED(hr))
        *v = n;
    return hr;
}
HRESULT STDMETHODCALLTYPE Control::put_ScaleMode(int v) noexcept { return putNumber(dispid::kScaleMode, "put_ScaleMode", v); }
HRESULT STDMETHODCALLTYPE Control::get_AlignMode(int* v) noexcept
{
    LONG n = 0;
    HRESULT hr = v ? getNumber(dispid::kAlignMode, "get_AlignMode", 0, &n) : E_POINTER;
    if (SUCCEEDED(hr))
        *v = n;
    return hr;
}
HRESULT STDMETHODCALLTYPE Control::put_AlignMode(int v) noexcept { return putNumber(dispid::kAlignMode, "put_AlignMode", v); }

HRESULT STDMETHODCALLTYPE Control::get_BackgroundColor(LONG* v) noexcept
{
    return getNumber(dispid::kBackgroundColor, "get_BackgroundColor", -1, v);
}
HRESULT STDMETHODCALLTYPE Control::put_BackgroundColor(LONG v) noexcept
{
    HRESULT hr = putNumber(dispid::kBackgroundColor, "put_BackgroundColor", v);
    if (SUCCEEDED(hr))
        guarded([&] {
            applyWindowMode();
            return S_OK;
        });
    return hr;
}

HRESULT STDMETHODCALLTYPE Control::get_WMode(BSTR* v) noexcept { return getText(dispid::kWMode, "get_WMode", v); }
HRESULT STDMETHODCALLTYPE Control::put_WMode(BSTR v) noexcept
{
    HRESULT hr = putText(dispid::kWMode, "put_WMode", v);
    if (SUCCEEDED(hr))
        guarded([&] {
            applyWindowMode();
            return S_OK;
        });
    return hr;
}

// "Transparent" leaves the stage background out; a background colour of the
// container's choosing replaces the movie's own.
void Control::applyWindowMode()
{
    bool transparent = _stricmp(props_.text(dispid::kWMode).c_str(), "transparent") == 0;
    bool ownBackground = props_.integer(dispid::kBackgroundColor, -1) >= 0;
    run([this, engineTransparent = transparent || ownBackground] { player_.setTransparent(engineTransparent); });
    repaintAll();
}

HRESULT STDMETHODCALLTYPE Control::get_SAlign(BSTR* v) noexcept { return getText(dispid::kSAlign, "get_SAlign", v); }
HRESULT STDMETHODCALLTYPE Control::put_SAlign(BSTR v) noexcept { return putText(dispid::kSAlign, "put_SAlign", v); }
HRESULT STDMETHODCALLTYPE Control::get_Menu(VARIANT_BOOL* v) noexcept { return getTruth(dispid::kMenu, "get_Menu", true, v); }
HRESULT STDMETHODCALLTYPE Control::put_Menu(VARIANT_BOOL v) noexcept { return putTruth(dispid::kMenu, "put_Menu", v); }
HRESULT STDMETHODCALLTYPE Control::get_Base(BSTR* v) noexcept { return getText(dispid::kBase, "get_Base", v); }
HRESULT STDMETHODCALLTYPE Control::put_Base(BSTR v) noexcept { return putText(dispid::kBase, "put_Base", v); }
HRESULT STDMETHODCALLTYPE Control::get_Scale(BSTR* v) noexcept { return getText(dispid::kScale, "get_Scale", v); }
HRESULT STDMETHODCALLTYPE Control::put_Scale(BSTR v) noexcept { return putText(dispid::kScale, "put_Scale", v); }
HRESULT STDMETHODCALLTYPE Control::get_DeviceFont(VARIANT_BOOL* v) noexcept
{
    return getTruth(dispid::kDeviceFont, "get_DeviceFont", false, v);
}
HRESULT STDMETHODCALLTYPE Control::put_DeviceFont(VARIANT_BOOL v) noexcept
{
    return putTruth(dispid::kDeviceFont, "put_DeviceFont", v);
}
HRESULT STDMETHODCALLTYPE Control::get_EmbedMovie(VARIANT_BOOL* v) noexcept
{
    return getTruth(dispid::kEmbedMovie, "get_EmbedMovie", false, v);
}
HRESULT STDMETHODCALLTYPE Control::put_EmbedMovie(VARIANT_BOOL v) noexcept
{
    return putTruth(dispid::kEmbedMovie, "put_EmbedMovie", v);
}
HRESULT STDMETHODCALLTYPE Control::get_BGColor(BSTR* v) noexcept { return getText(dispid::kBGColor, "get_BGColor", v); }
HRESULT STDMETHODCALLTYPE Control::put_BGColor(BSTR v) noexcept { return putText(dispid::kBGColor, "put_BGColor", v); }
HRESULT STDMETHODCALLTYPE Control::get_Quality2(BSTR* v) noexcept { return getText(dispid::kQuality2, "get_Quality2", v); }
HRESULT STDMETHODCALLTYPE Control::put_Quality2(BSTR v) noexcept { return putText(dispid::kQuality2, "put_Quality2", v); }
HRESULT STDMETHODCALLTYPE Control::get_SWRemote(BSTR* v) noexcept { return getText(dispid::kSWRemote, "get_SWRemote", v); }
HRESULT STDMETHODCALLTYPE Control::put_SWRemote(BSTR v) noexcept { return putText(dispid::kSWRemote, "put_SWRemote", v); }
HRESULT STDMETHODCALLTYPE Control::get_FlashVars(BSTR* v) noexcept { return getText(dispid::kFlashVars, "get_FlashVars", v); }
HRESULT STDMETHODCALLTYPE Control::put_FlashVars(BSTR v) noexcept { return putText(dispid::kFlashVars, "put_FlashVars", v); }
HRESULT STDMETHODCALLTYPE Control::get_AllowScriptAccess(BSTR* v) noexcept
{
    return getText(dispid::kAllowScriptAccess, "get_AllowScriptAccess", v);
}
HRESULT STDMETHODCALLTYPE Control::put_AllowScriptAccess(BSTR v) noexcept
{
    return putText(dispid::kAllowScriptAccess, "put_AllowScriptAccess", v);
}
HRESULT STDMETHODCALLTYPE Control::get_MovieData(BSTR* v) noexcept { return getText(dispid::kMovieData, "get_MovieData", v); }
HRESULT STDMETHODCALLTYPE Control::put_MovieData(BSTR v) noexcept { return putText(dispid::kMovieData, "put_MovieData", v); }
HRESULT STDMETHODCALLTYPE Control::get_InlineData(IUnknown** v) noexcept
{
    return entry("IkvFlashPlayer", "get_InlineData", none, [&]() -> HRESULT {
        if (!v)
            return E_POINTER;
        *v = nullptr;  // the control keeps no inline data of its own
        return S_OK;
    });
}
HRESULT STDMETHODCALLTYPE Control::put_InlineData(IUnknown*) noexcept
{
    return entry("IkvFlashPlayer", "put_InlineData", none, [] { return E_NOTIMPL; });
}
HRESULT STDMETHODCALLTYPE Control::get_SeamlessTabbing(VARIANT_BOOL* v) noexcept
{
    return getTruth(dispid::kSeamlessTabbing, "get_SeamlessTabbing", true, v);
}
HRESULT STDMETHODCALLTYPE Control::put_SeamlessTabbing(VARIANT_BOOL v) noexcept
{
    return putTruth(dispid::kSeamlessTabbing, "put_SeamlessTabbing", v);
}
HRESULT STDMETHODCALLTYPE Control::get_Profile(VARIANT_BOOL* v) noexcept { return getTruth(dispid::kProfile, "get_Profile", false, v); }
HRESULT STDMETHODCALLTYPE Control::put_Profile(VARIANT_BOOL v) noexcept { return putTruth(dispid::kProfile, "put_Profile", v); }
HRESULT STDMETHODCALLTYPE Control::get_ProfileAddress(BSTR* v) noexcept
{
    return getText(dispid::kProfileAddress, "get_ProfileAddress", v);
}
HRESULT STDMETHODCALLTYPE Control::put_ProfileAddress(BSTR v) noexcept
{
    return putText(dispid::kProfileAddress, "put_ProfileAddress", v);
}
HRESULT STDMETHODCALLTYPE Control::get_ProfilePort(LONG* v) noexcept
{
    return getNumber(dispid::kProfilePort, "get_ProfilePort", 0, v);
}
HRESULT STDMETHODCALLTYPE Control::put_ProfilePort(LONG v) noexcept
{
    return putNumber(dispid::kProfilePort, "put_ProfilePort", v);
}
HRESULT STDMETHODCALLTYPE Control::get_AllowNetworking(BSTR* v) noexcept
{
    return getText(dispid::kAllowNetworking, "get_AllowNetworking", v);
}
HRESULT STDMETHODCALLTYPE Control::put_AllowNetworking(BSTR v) noexcept
{
    return putText(dispid::kAllowNetworking, "put_AllowNetworking", v);
}
HRESULT STDMETHODCALLTYPE Control::get_AllowFullScreen(BSTR* v) noexcept
{
    return getText(dispid::kAllowFullScreen, "get_AllowFullScreen", v);
}
HRESULT STDMETHODCALLTYPE Control::put_AllowFullScreen(BSTR v) noexcept
{
    return putText(dispid::kAllowFullScreen, "put_AllowFullScreen", v);
}

// ---- the movie --------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Control::get_ReadyState(LONG* v) noexcept
{
    return entry("IkvFlashPlayer", "get_ReadyState", none, [&]() -> HRESULT {
        if (!v)
            return E_POINTER;
        // 0 loading, 4 complete; a control without a movie counts as complete.
        *v = player_.hasMovie() || movieUrl_.empty() ? 4 : 0;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::get_TotalFrames(LONG* v) noexcept
{
    return entry("IkvFlashPlayer", "get_TotalFrames", none, [&]() -> HRESULT {
        if (!v)
            return E_POINTER;
        EngineScope scope(*this);
        *v = player_.totalFrames();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::get_Playing(VARIANT_BOOL* v) noexcept
{
    return entry("IkvFlashPlayer", "get_Playing", none, [&]() -> HRESULT {
        if (!v)
            return E_POINTER;
        EngineScope scope(*this);
        *v = vb(player_.isPlaying());
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::put_Playing(VARIANT_BOOL v) noexcept
{
    return entry("IkvFlashPlayer", "put_Playing", [&] { return std::to_string(v); }, [&]() -> HRESULT {
        bool on = v != VARIANT_FALSE;
        run([this, on] { on ? player_.play() : player_.stopPlay(); });
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::get_Loop(VARIANT_BOOL* v) noexcept
{
    return entry("IkvFlashPlayer", "get_Loop", none, [&]() -> HRESULT {
        if (!v)
            return E_POINTER;
        EngineScope scope(*this);
        *v = vb(player_.hasMovie() ? player_.loop() : props_.truth(dispid::kLoop, true));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::put_Loop(VARIANT_BOOL v) noexcept
{
    return entry("IkvFlashPlayer", "put_Loop", [&] { return std::to_string(v); }, [&]() -> HRESULT {
        bool on = v != VARIANT_FALSE;
        props_.set(dispid::kLoop, on);
        run([this, on] { player_.setLoop(on); });
        notifyChanged(dispid::kLoop);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::get_Movie(BSTR* v) noexcept { return getText(dispid::kMovie, "get_Movie", v); }

HRESULT STDMETHODCALLTYPE Control::put_Movie(BSTR v) noexcept
{
    return entry("IkvFlashPlayer", "put_Movie", [&] { return quotedText(v); }, [&]() -> HRESULT {
        std::string url = utf8(v);
        props_.set(dispid::kMovie, url);
        notifyChanged(dispid::kMovie);
        return url.empty() ? S_OK : loadMovieUrl(url);
    });
}

HRESULT STDMETHODCALLTYPE Control::LoadMovie(int layer, BSTR url) noexcept
{
    return entry("IkvFlashPlayer", "LoadMovie", [&] { return std::to_string(layer) + " " + quotedText(url); },
                 [&]() -> HRESULT {
                     std::string u = utf8(url);
                     if (layer != 0) {
                         callLog().note("LoadMovie refused: only layer 0 can be loaded from the container");
                         return E_INVALIDARG;
                     }
                     if (u.empty()) {
                         callLog().note("LoadMovie refused: no URL");
                         return E_INVALIDARG;
                     }
                     props_.set(dispid::kMovie, u);
                     return loadMovieUrl(u);
                 });
}

HRESULT Control::loadMovieUrl(const std::string& url)
{
    movieUrl_ = url;
    closed_ = false;
    run([this, url] { player_.loadRootUrl(url); });
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::get_FrameNum(LONG* v) noexcept
{
    return entry("IkvFlashPlayer", "get_FrameNum", none, [&]() -> HRESULT {
        if (!v)
            return E_POINTER;
        EngineScope scope(*this);
        *v = player_.currentFrame();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::put_FrameNum(LONG v) noexcept
{
    return entry("IkvFlashPlayer", "put_FrameNum", [&] { return std::to_string(v); }, [&]() -> HRESULT {
        run([this, v] { player_.gotoFrame(v); });
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::SetZoomRect(LONG, LONG, LONG, LONG) noexcept
{
    return entry("IkvFlashPlayer", "SetZoomRect", none, [] { return S_OK; });
}
HRESULT STDMETHODCALLTYPE Control::Zoom(int) noexcept { return entry("IkvFlashPlayer", "Zoom", none, [] { return S_OK; }); }
HRESULT STDMETHODCALLTYPE Control::Pan(LONG, LONG, int) noexcept
{
    return entry("IkvFlashPlayer", "Pan", none, [] { return S_OK; });
}

HRESULT Control::command(const char* name, std::function<void()> action)
{
    return entry("IkvFlashPlayer", name, none, [&]() -> HRESULT {
        run(std::move(action));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::Play() noexcept { return command("Play", [this] { player_.play(); }); }
HRESULT STDMETHODCALLTYPE Control::Stop() noexcept { return command("Stop", [this] { player_.stopPlay(); }); }
HRESULT STDMETHODCALLTYPE Control::StopPlay() noexcept { return command("StopPlay", [this] { player_.stopPlay(); }); }
HRESULT STDMETHODCALLTYPE Control::Back() noexcept { return command("Back", [this] { player_.back(); }); }
HRESULT STDMETHODCALLTYPE Control::Forward() noexcept { return command("Forward", [this] { player_.forward(); }); }
HRESULT STDMETHODCALLTYPE Control::Rewind() noexcept { return command("Rewind", [this] { player_.rewind(); }); }

HRESULT STDMETHODCALLTYPE Control::GotoFrame(LONG frame) noexcept
{
    return entry("IkvFlashPlayer", "GotoFrame", [&] { return std::to_string(frame); }, [&]() -> HRESULT {
        run([this, frame] { player_.gotoFrame(frame); });
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::CurrentFrame(LONG* frame) noexcept
{
    return entry("IkvFlashPlayer", "CurrentFrame", none, [&]() -> HRESULT {
        if (!frame)
            return E_POINTER;
        EngineScope scope(*this);
        *frame = player_.currentFrame();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::IsPlaying(VARIANT_BOOL* playing) noexcept
{
    return entry("IkvFlashPlayer", "IsPlaying", none, [&]() -> HRESULT {
        if (!playing)
            return E_POINTER;
        EngineScope scope(*this);
        *playing = vb(player_.isPlaying());
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::PercentLoaded(LONG* percent) noexcept
{
    return entry("IkvFlashPlayer", "PercentLoaded", none, [&]() -> HRESULT {
        if (!percent)
            return E_POINTER;
        *percent = player_.hasMovie() ? 100 : 0;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::FrameLoaded(LONG frame, VARIANT_BOOL* loaded) noexcept
{
    return entry("IkvFlashPlayer", "FrameLoaded", [&] { return std::to_string(frame); }, [&]() -> HRESULT {
        if (!loaded)
            return E_POINTER;
        EngineScope scope(*this);
        *loaded = vb(frame >= 0 && frame < player_.totalFrames());
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::FlashVersion(LONG* version) noexcept
{
    return entry("IkvFlashPlayer", "FlashVersion", none, [&]() -> HRESULT {
        if (!version)
            return E_POINTER;
        *version = static_cast<LONG>((static_cast<uint32_t>(config_.versionMajor()) << 16) |
                                     (static_cast<uint32_t>(config_.versionMinor()) & 0xFFFF));
        return S_OK;
    });
}

// ---- timelines by target: only the root timeline is known ---------------------------------------------

HRESULT Control::rootTarget(const char* method, BSTR target)
{
    if (isRootTarget(utf8(target)))
        return S_OK;
    callLog().note(std::string(method) + " refused: only the root timeline is known");
    return E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE Control::TGotoFrame(BSTR target, LONG frame) noexcept
{
    return entry("IkvFlashPlayer", "TGotoFrame", [&] { return quotedText(target) + " " + std::to_string(frame); },
                 [&]() -> HRESULT {
                     if (HRESULT hr = rootTarget("TGotoFrame", target); FAILED(hr))
                         return hr;
                     run([this, frame] { player_.gotoFrame(frame); });
                     return S_OK;
                 });
}

HRESULT STDMETHODCALLTYPE Control::TGotoLabel(BSTR target, BSTR label) noexcept
{
    return entry("IkvFlashPlayer", "TGotoLabel", [&] { return quotedText(target) + " " + quotedText(label); },
                 [] { return E_NOTIMPL; });
}

HRESULT STDMETHODCALLTYPE Control::TCurrentFrame(BSTR target, LONG* frame) noexcept
{
    return entry("IkvFlashPlayer", "TCurrentFrame", [&] { return quotedText(target); }, [&]() -> HRESULT {
        if (!frame)
            return E_POINTER;
        if (HRESULT hr = rootTarget("TCurrentFrame", target); FAILED(hr))
            return hr;
        EngineScope scope(*this);
        *frame = player_.currentFrame();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::TCurrentLabel(BSTR target, BSTR* label) noexcept
{
    return entry("IkvFlashPlayer", "TCurrentLabel", [&] { return quotedText(target); }, [&]() -> HRESULT {
        if (!label)
            return E_POINTER;
        *label = nullptr;
        if (HRESULT hr = rootTarget("TCurrentLabel", target); FAILED(hr))
            return hr;
        return newBstr("", label);
    });
}

HRESULT STDMETHODCALLTYPE Control::TPlay(BSTR target) noexcept
{
    return entry("IkvFlashPlayer", "TPlay", [&] { return quotedText(target); }, [&]() -> HRESULT {
        if (HRESULT hr = rootTarget("TPlay", target); FAILED(hr))
            return hr;
        run([this] { player_.play(); });
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::TStopPlay(BSTR target) noexcept
{
    return entry("IkvFlashPlayer", "TStopPlay", [&] { return quotedText(target); }, [&]() -> HRESULT {
        if (HRESULT hr = rootTarget("TStopPlay", target); FAILED(hr))
            return hr;
        run([this] { player_.stopPlay(); });
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::TSetProperty(BSTR target, int property, BSTR value) noexcept
{
    return entry("IkvFlashPlayer", "TSetProperty",
                 [&] { return quotedText(target) + " " + std::to_string(property) + " " + quotedText(value); },
                 [&]() -> HRESULT {
                     if (property < 0 || property >= int(std::size(kClipProperties)))
                         return E_INVALIDARG;
                     std::string t = utf8(target);
                     std::string path = (isRootTarget(t) ? std::string("_root") : t) + "." + kClipProperties[property];
                     run([this, path, v = utf8(value)] { player_.setVariable(path, v); });
                     return S_OK;
                 });
}

HRESULT STDMETHODCALLTYPE Control::TGetProperty(BSTR target, int property, BSTR* value) noexcept
{
    return entry("IkvFlashPlayer", "TGetProperty", [&] { return quotedText(target) + " " + std::to_string(property); },
                 [&]() -> HRESULT {
                     if (!value)
                         return E_POINTER;
                     *value = nullptr;
                     if (property < 0 || property >= int(std::size(kClipProperties)))
                         return E_INVALIDARG;
                     std::string t = utf8(target);
                     EngineScope scope(*this);
                     if (isRootTarget(t)) {
                         // The root's own facts come from the player, not from script.
                         switch (property) {
                         case 4: return newBstr(std::to_string(player_.currentFrame() + 1), value);
                         case 5:
                         case 12: return newBstr(std::to_string(player_.totalFrames()), value);
                         case 11: return newBstr("/", value);
                         case 13: return newBstr("", value);
                         case 15: return newBstr(movieUrl_, value);
                         default: break;
                         }
                     }
                     std::string path = (isRootTarget(t) ? std::string("_root") : t) + "." + kClipProperties[property];
                     auto v = player_.getVariable(path);
                     if (!v)
                         return E_FAIL;
                     return newBstr(*v, value);
                 });
}

HRESULT STDMETHODCALLTYPE Control::TCallFrame(BSTR, int) noexcept
{
    return entry("IkvFlashPlayer", "TCallFrame", none, [] { return E_NOTIMPL; });
}

HRESULT STDMETHODCALLTYPE Control::TCallLabel(BSTR, BSTR) noexcept
{
    return entry("IkvFlashPlayer", "TCallLabel", none, [] { return E_NOTIMPL; });
}

HRESULT STDMETHODCALLTYPE Control::TSetPropertyNum(BSTR target, int property, double value) noexcept
{
    std::string text = std::isfinite(value) ? refplayer::ei::formatNumber(value) : std::string("NaN");
    Bstr b(wide(text));
    return TSetProperty(target, property, b.get());
}

HRESULT STDMETHODCALLTYPE Control::TGetPropertyNum(BSTR target, int property, double* value) noexcept
{
    if (!value)
        return E_POINTER;
    Bstr text;
    HRESULT hr = TGetProperty(target, property, text.put());
    if (FAILED(hr))
        return hr;
    std::string s = utf8(text.get());
    char* end = nullptr;
    double d = std::strtod(s.c_str(), &end);
    if (s.empty() || !end || *end != '\0')
        return DISP_E_TYPEMISMATCH;
    *value = d;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::TGetPropertyAsNumber(BSTR target, int property, double* value) noexcept
{
    return TGetPropertyNum(target, property, value);
}

// ---- variables and external calls -------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Control::SetVariable(BSTR name, BSTR value) noexcept
{
    return entry("IkvFlashPlayer", "SetVariable", [&] { return quotedText(name) + " " + quotedText(value); },
                 [&]() -> HRESULT {
                     run([this, n = utf8(name), v = utf8(value)] {
                         player_.setVariable(n, v);
                         // A movie that watches its variables answers at once,
                         // before the container's call returns.
                         if (habits_.eventsInCalls) {
                             callLog().note("FSCommand fired inside SetVariable as configured");
                             fsCommand("variableSet", n);
                         }
                     });
                     return S_OK;
                 });
}

HRESULT STDMETHODCALLTYPE Control::GetVariable(BSTR name, BSTR* value) noexcept
{
    return entry("IkvFlashPlayer", "GetVariable", [&] { return quotedText(name); }, [&]() -> HRESULT {
        if (!value)
            return E_POINTER;
        *value = nullptr;
        // Answered now, even from inside an event the movie raised.
        EngineScope scope(*this);
        auto v = player_.getVariable(utf8(name));
        if (v)
            return newBstr(*v, value);
        // The installed control answers an error for a variable the movie
        // does not have, not an empty text.
        if (habits_.undefinedVariableFails) {
            callLog().note("GetVariable " + quotedText(name) + " fails: no such variable");
            return E_FAIL;
        }
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::CallFunction(BSTR request, BSTR* response) noexcept
{
    return entry("IkvFlashPlayer", "CallFunction", [&] { return quotedText(request); }, [&]() -> HRESULT {
        if (!response)
            return E_POINTER;
        *response = nullptr;
        EngineScope scope(*this);
        // The called function may call out to the container before it
        // answers: an external call nested in this one.
        if (habits_.eventsInCalls) {
            callLog().note("FlashCall fired inside CallFunction as configured");
            externalCall("insideCall",
                         "<invoke name=\"insideCall\" returntype=\"xml\"><arguments></arguments></invoke>");
            if (destroyed_)
                return E_UNEXPECTED;
        }
        auto answer = player_.callFunction(utf8(request));
        if (!answer) {
            callLog().note("CallFunction refused: no such callback");
            return E_FAIL;
        }
        return newBstr(*answer, response);
    });
}

HRESULT STDMETHODCALLTYPE Control::SetReturnValue(BSTR value) noexcept
{
    return entry("IkvFlashPlayer", "SetReturnValue", [&] { return quotedText(value); }, [&]() -> HRESULT {
        if (externalDepth_ > 0)
            returnValue_ = utf8(value);
        else
            callLog().note("SetReturnValue outside an external call is ignored");
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::DisableLocalSecurity() noexcept
{
    return entry("IkvFlashPlayer", "DisableLocalSecurity", none, [&]() -> HRESULT {
        localSecurityDisabled_ = true;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::EnforceLocalSecurity() noexcept
{
    return entry("IkvFlashPlayer", "EnforceLocalSecurity", none, [&]() -> HRESULT {
        localSecurityDisabled_ = false;
        return S_OK;
    });
}

void Control::fsCommand(const std::string& command, const std::string& args)
{
    if (destroyed_)
        return;
    fireEvent(dispid::kFSCommand, {wide(command), wide(args)});
}

std::optional<std::string> Control::externalCall(const std::string&, const std::string& invokeXml)
{
    if (destroyed_)
        return std::nullopt;
    if (externalDepth_++ == 0)
        returnValue_.reset();
    try {
        fireEvent(dispid::kFlashCall, {wide(invokeXml)});
    } catch (...) {
        --externalDepth_;
        throw;
    }
    --externalDepth_;
    std::optional<std::string> answer = returnValue_;
    if (externalDepth_ == 0)
        returnValue_.reset();
    callLog().note("external call answered " + (answer ? refplugin::quoted(*answer) : std::string("nothing")));
    return answer;
}

// ---- IPerPropertyBrowsing ----------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Control::GetDisplayString(DISPID id, BSTR* text) noexcept
{
    return entry("IPerPropertyBrowsing", "GetDisplayString", [&] { return std::to_string(id); }, [&]() -> HRESULT {
        if (!text)
            return E_POINTER;
        *text = nullptr;
        auto choices = choicesOf(id);
        if (choices.empty())
            return E_NOTIMPL;
        int32_t value = props_.integer(id, 0);
        for (const Choice& c : choices)
            if (c.value == value) {
                *text = SysAllocString(c.name);
                return *text ? S_OK : E_OUTOFMEMORY;
            }
        return newBstr(std::to_string(value), text);
    });
}

HRESULT STDMETHODCALLTYPE Control::MapPropertyToPage(DISPID, CLSID* page) noexcept
{
    return entry("IPerPropertyBrowsing", "MapPropertyToPage", none, [&]() -> HRESULT {
        if (page)
            *page = CLSID_NULL;
        return PERPROP_E_NOPAGEAVAILABLE;
    });
}

HRESULT STDMETHODCALLTYPE Control::GetPredefinedStrings(DISPID id, CALPOLESTR* strings, CADWORD* cookies) noexcept
{
    return entry("IPerPropertyBrowsing", "GetPredefinedStrings", [&] { return std::to_string(id); }, [&]() -> HRESULT {
        if (!strings || !cookies)
            return E_POINTER;
        strings->cElems = 0;
        strings->pElems = nullptr;
        cookies->cElems = 0;
        cookies->pElems = nullptr;
        auto choices = choicesOf(id);
        if (choices.empty())
            return E_NOTIMPL;
        auto names = static_cast<LPOLESTR*>(CoTaskMemAlloc(sizeof(LPOLESTR) * choices.size()));
        auto values = static_cast<DWORD*>(CoTaskMemAlloc(sizeof(DWORD) * choices.size()));
        bool ok = names && values;
        size_t made = 0;
        for (; ok && made < choices.size(); ++made) {
            size_t bytes = (wcslen(choices[made].name) + 1) * sizeof(wchar_t);
            names[made] = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
            if (!names[made]) {
                ok = false;
                break;
            }
            memcpy(names[made], choices[made].name, bytes);
            values[made] = static_cast<DWORD>(choices[made].value);
        }
        if (!ok) {
            for (size_t i = 0; names && i < made; ++i)
                CoTaskMemFree(names[i]);
            CoTaskMemFree(names);
            CoTaskMemFree(values);
            return E_OUTOFMEMORY;
        }
        strings->cElems = cookies->cElems = static_cast<ULONG>(choices.size());
        strings->pElems = names;
        cookies->pElems = values;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::GetPredefinedValue(DISPID id, DWORD cookie, VARIANT* value) noexcept
{
    return entry("IPerPropertyBrowsing", "GetPredefinedValue",
                 [&] { return std::to_string(id) + " " + std::to_string(cookie); }, [&]() -> HRESULT {
                     if (!value)
                         return E_POINTER;
                     VariantInit(value);
                     auto choices = choicesOf(id);
                     if (choices.empty())
                         return E_NOTIMPL;
                     for (const Choice& c : choices)
                         if (static_cast<DWORD>(c.value) == cookie) {
                             value->vt = VT_I4;
                             value->lVal = c.value;
                             return S_OK;
                         }
                     return E_INVALIDARG;
                 });
}

}  // namespace refcontrol
