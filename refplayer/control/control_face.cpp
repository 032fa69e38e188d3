// The main interface of a control configured as Flash Player 7: the same
// methods as the control's own, but a table that ends where version 7's did.
#include <algorithm>
#include <cstring>

#include "control_internal.h"

namespace refcontrol {
namespace {

// Where version 8 began in the main interface: the slot of CallFunction, and
// the ids of every member from there on. Read from the type library, the same
// description a container builds its calls from.
// The first member version 8 appended.
constexpr MEMBERID kCallFunction = 0xc6;

struct Cut {
    size_t slots = 0;
    std::vector<MEMBERID> hidden;
};

const Cut& cut()
{
    static const Cut c = [] {
        Cut out;
        ComPtr<ITypeLib> lib;
        ComPtr<ITypeInfo> info;
        if (FAILED(loadOwnTypeLib(lib.put())) || FAILED(lib->GetTypeInfoOfGuid(IID_IkvFlashPlayer, info.put())))
            return out;
        // The dispinterface half of a dual interface numbers no slots: ask
        // for the interface half.
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> vtable;
        if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, vtable.put())))
            info = vtable;
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr)))
            return out;
        const UINT functions = attr->cFuncs;
        info->ReleaseTypeAttr(attr);
        std::vector<std::pair<SHORT, MEMBERID>> members;
        for (UINT i = 0; i < functions; ++i) {
            FUNCDESC* f = nullptr;
            if (FAILED(info->GetFuncDesc(i, &f)))
                continue;
            members.emplace_back(f->oVft, f->memid);
            info->ReleaseFuncDesc(f);
        }
        auto first = std::find_if(members.begin(), members.end(), [](auto& m) { return m.second == kCallFunction; });
        if (first == members.end())
            return out;
        out.slots = static_cast<size_t>(first->first) / sizeof(void*);
        for (auto& [offset, id] : members)
            if (offset >= first->first)
                out.hidden.push_back(id);
        return out;
    }();
    return c;
}

bool isHidden(MEMBERID id)
{
    const auto& hidden = cut().hidden;
    return std::find(hidden.begin(), hidden.end(), id) != hidden.end();
}

// The first `slots` entries of `full`, ending exactly at a page that cannot
// be read. Made once per process and never freed: faces of later controls
// use it too.
const void* const* guardedTable(const void* const* full, size_t slots)
{
    static const void* const* table = [&]() -> const void* const* {
        SYSTEM_INFO si{};
        GetSystemInfo(&si);
        const size_t page = si.dwPageSize, bytes = slots * sizeof(void*);
        const size_t pages = (bytes + page - 1) / page;
        auto base =
            static_cast<BYTE*>(VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!base)
            return nullptr;
        BYTE* start = base + pages * page - bytes;
        std::memcpy(start, full, bytes);
        DWORD old = 0;
        if (!VirtualProtect(base, pages * page, PAGE_READONLY, &old) ||
            !VirtualProtect(base + pages * page, page, PAGE_NOACCESS, &old)) {
            VirtualFree(base, 0, MEM_RELEASE);
            return nullptr;
        }
        return reinterpret_cast<const void* const*>(start);
    }();
    return table;
}

}  // namespace

bool VersionSevenFace::shorten()
{
    const size_t slots = cut().slots;
    if (slots == 0)
        return false;
    // An interface pointer points at its table pointer (the binary layout of
    // every COM object): this object keeps its methods and gets a shorter table.
    auto self = reinterpret_cast<const void* const**>(static_cast<IkvFlashPlayer*>(this));
    const void* const* table = guardedTable(*self, slots);
    if (!table)
        return false;
    *self = table;
    return true;
}

HRESULT STDMETHODCALLTYPE VersionSevenFace::QueryInterface(REFIID riid, void** ppv) noexcept
{
    return owner_.QueryInterface(riid, ppv);
}
ULONG STDMETHODCALLTYPE VersionSevenFace::AddRef() noexcept { return owner_.AddRef(); }
ULONG STDMETHODCALLTYPE VersionSevenFace::Release() noexcept { return owner_.Release(); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::GetTypeInfoCount(UINT* count) noexcept
{
    return owner_.GetTypeInfoCount(count);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** ti) noexcept
{
    return owner_.GetTypeInfo(index, lcid, ti);
}

HRESULT STDMETHODCALLTYPE VersionSevenFace::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                                          DISPID* ids) noexcept
{
    HRESULT hr = owner_.GetIDsOfNames(riid, names, count, lcid, ids);
    if (SUCCEEDED(hr) && ids && count > 0 && isHidden(ids[0])) {
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE VersionSevenFace::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                                   VARIANT* result, EXCEPINFO* excep, UINT* argErr) noexcept
{
    if (isHidden(id)) {
        guarded([&] {
            callLog().note("IDispatch.Invoke dispid=" + std::to_string(id) + " refused: not a member in version 7");
            return S_OK;
        });
        return DISP_E_MEMBERNOTFOUND;
    }
    return owner_.Invoke(id, riid, lcid, flags, params, result, excep, argErr);
}

HRESULT STDMETHODCALLTYPE VersionSevenFace::get_ReadyState(LONG* v) noexcept { return owner_.get_ReadyState(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_TotalFrames(LONG* v) noexcept { return owner_.get_TotalFrames(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_Playing(VARIANT_BOOL* v) noexcept { return owner_.get_Playing(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_Playing(VARIANT_BOOL v) noexcept { return owner_.put_Playing(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_Quality(int* v) noexcept { return owner_.get_Quality(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_Quality(int v) noexcept { return owner_.put_Quality(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_ScaleMode(int* v) noexcept { return owner_.get_ScaleMode(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_ScaleMode(int v) noexcept { return owner_.put_ScaleMode(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_AlignMode(int* v) noexcept { return owner_.get_AlignMode(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_AlignMode(int v) noexcept { return owner_.put_AlignMode(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_BackgroundColor(LONG* v) noexcept
{
    return owner_.get_BackgroundColor(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_BackgroundColor(LONG v) noexcept
{
    return owner_.put_BackgroundColor(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_Loop(VARIANT_BOOL* v) noexcept { return owner_.get_Loop(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_Loop(VARIANT_BOOL v) noexcept { return owner_.put_Loop(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_Movie(BSTR* v) noexcept { return owner_.get_Movie(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_Movie(BSTR v) noexcept { return owner_.put_Movie(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_FrameNum(LONG* v) noexcept { return owner_.get_FrameNum(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_FrameNum(LONG v) noexcept { return owner_.put_FrameNum(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::SetZoomRect(LONG left, LONG top, LONG right, LONG bottom) noexcept
{
    return owner_.SetZoomRect(left, top, right, bottom);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::Zoom(int factor) noexcept { return owner_.Zoom(factor); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::Pan(LONG x, LONG y, int mode) noexcept { return owner_.Pan(x, y, mode); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::Play() noexcept { return owner_.Play(); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::Stop() noexcept { return owner_.Stop(); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::Back() noexcept { return owner_.Back(); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::Forward() noexcept { return owner_.Forward(); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::Rewind() noexcept { return owner_.Rewind(); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::StopPlay() noexcept { return owner_.StopPlay(); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::GotoFrame(LONG frame) noexcept { return owner_.GotoFrame(frame); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::CurrentFrame(LONG* frame) noexcept { return owner_.CurrentFrame(frame); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::IsPlaying(VARIANT_BOOL* playing) noexcept
{
    return owner_.IsPlaying(playing);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::PercentLoaded(LONG* percent) noexcept
{
    return owner_.PercentLoaded(percent);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::FrameLoaded(LONG frame, VARIANT_BOOL* loaded) noexcept
{
    return owner_.FrameLoaded(frame, loaded);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::FlashVersion(LONG* version) noexcept
{
    return owner_.FlashVersion(version);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_WMode(BSTR* v) noexcept { return owner_.get_WMode(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_WMode(BSTR v) noexcept { return owner_.put_WMode(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_SAlign(BSTR* v) noexcept { return owner_.get_SAlign(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_SAlign(BSTR v) noexcept { return owner_.put_SAlign(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_Menu(VARIANT_BOOL* v) noexcept { return owner_.get_Menu(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_Menu(VARIANT_BOOL v) noexcept { return owner_.put_Menu(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_Base(BSTR* v) noexcept { return owner_.get_Base(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_Base(BSTR v) noexcept { return owner_.put_Base(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_Scale(BSTR* v) noexcept { return owner_.get_Scale(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_Scale(BSTR v) noexcept { return owner_.put_Scale(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_DeviceFont(VARIANT_BOOL* v) noexcept
{
    return owner_.get_DeviceFont(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_DeviceFont(VARIANT_BOOL v) noexcept { return owner_.put_DeviceFont(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_EmbedMovie(VARIANT_BOOL* v) noexcept
{
    return owner_.get_EmbedMovie(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_EmbedMovie(VARIANT_BOOL v) noexcept { return owner_.put_EmbedMovie(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_BGColor(BSTR* v) noexcept { return owner_.get_BGColor(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_BGColor(BSTR v) noexcept { return owner_.put_BGColor(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_Quality2(BSTR* v) noexcept { return owner_.get_Quality2(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_Quality2(BSTR v) noexcept { return owner_.put_Quality2(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::LoadMovie(int layer, BSTR url) noexcept
{
    return owner_.LoadMovie(layer, url);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TGotoFrame(BSTR target, LONG frame) noexcept
{
    return owner_.TGotoFrame(target, frame);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TGotoLabel(BSTR target, BSTR label) noexcept
{
    return owner_.TGotoLabel(target, label);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TCurrentFrame(BSTR target, LONG* frame) noexcept
{
    return owner_.TCurrentFrame(target, frame);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TCurrentLabel(BSTR target, BSTR* label) noexcept
{
    return owner_.TCurrentLabel(target, label);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TPlay(BSTR target) noexcept { return owner_.TPlay(target); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::TStopPlay(BSTR target) noexcept { return owner_.TStopPlay(target); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::SetVariable(BSTR name, BSTR value) noexcept
{
    return owner_.SetVariable(name, value);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::GetVariable(BSTR name, BSTR* value) noexcept
{
    return owner_.GetVariable(name, value);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TSetProperty(BSTR target, int property, BSTR value) noexcept
{
    return owner_.TSetProperty(target, property, value);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TGetProperty(BSTR target, int property, BSTR* value) noexcept
{
    return owner_.TGetProperty(target, property, value);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TCallFrame(BSTR target, int frame) noexcept
{
    return owner_.TCallFrame(target, frame);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TCallLabel(BSTR target, BSTR label) noexcept
{
    return owner_.TCallLabel(target, label);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TSetPropertyNum(BSTR target, int property, double value) noexcept
{
    return owner_.TSetPropertyNum(target, property, value);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TGetPropertyNum(BSTR target, int property, double* value) noexcept
{
    return owner_.TGetPropertyNum(target, property, value);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::TGetPropertyAsNumber(BSTR target, int property, double* value) noexcept
{
    return owner_.TGetPropertyAsNumber(target, property, value);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_SWRemote(BSTR* v) noexcept { return owner_.get_SWRemote(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_SWRemote(BSTR v) noexcept { return owner_.put_SWRemote(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_FlashVars(BSTR* v) noexcept { return owner_.get_FlashVars(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_FlashVars(BSTR v) noexcept { return owner_.put_FlashVars(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_AllowScriptAccess(BSTR* v) noexcept
{
    return owner_.get_AllowScriptAccess(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_AllowScriptAccess(BSTR v) noexcept
{
    return owner_.put_AllowScriptAccess(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_MovieData(BSTR* v) noexcept { return owner_.get_MovieData(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_MovieData(BSTR v) noexcept { return owner_.put_MovieData(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_InlineData(IUnknown** v) noexcept { return owner_.get_InlineData(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_InlineData(IUnknown* v) noexcept { return owner_.put_InlineData(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_SeamlessTabbing(VARIANT_BOOL* v) noexcept
{
    return owner_.get_SeamlessTabbing(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_SeamlessTabbing(VARIANT_BOOL v) noexcept
{
    return owner_.put_SeamlessTabbing(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::EnforceLocalSecurity() noexcept { return owner_.EnforceLocalSecurity(); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_Profile(VARIANT_BOOL* v) noexcept { return owner_.get_Profile(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_Profile(VARIANT_BOOL v) noexcept { return owner_.put_Profile(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_ProfileAddress(BSTR* v) noexcept
{
    return owner_.get_ProfileAddress(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_ProfileAddress(BSTR v) noexcept { return owner_.put_ProfileAddress(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_ProfilePort(LONG* v) noexcept { return owner_.get_ProfilePort(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_ProfilePort(LONG v) noexcept { return owner_.put_ProfilePort(v); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::CallFunction(BSTR request, BSTR* response) noexcept
{
    return owner_.CallFunction(request, response);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::SetReturnValue(BSTR value) noexcept { return owner_.SetReturnValue(value); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::DisableLocalSecurity() noexcept { return owner_.DisableLocalSecurity(); }
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_AllowNetworking(BSTR* v) noexcept
{
    return owner_.get_AllowNetworking(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_AllowNetworking(BSTR v) noexcept
{
    return owner_.put_AllowNetworking(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::get_AllowFullScreen(BSTR* v) noexcept
{
    return owner_.get_AllowFullScreen(v);
}
HRESULT STDMETHODCALLTYPE VersionSevenFace::put_AllowFullScreen(BSTR v) noexcept
{
    return owner_.put_AllowFullScreen(v);
}

}  // namespace refcontrol
