// The reference player's ActiveX control: a windowless OLE control around
// one engine session. It draws only when its container asks (IViewObject
// Draw), asks for repaints through the windowless site's InvalidateRect,
// takes input through OnWindowMessage, gets every URL it needs from the
// container's IBindHost, and reports the movie's FSCommand and
// ExternalInterface calls as events through its connection points.
//
// The container may call back into the control from inside any call the
// control makes (paint inside InvalidateRect, deliver a download inside
// BindToStorage, release the control inside an event); the engine session
// queues changes meanwhile, and the control holds a reference on itself
// around every call it makes out.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>
#include <urlmon.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "com_util.h"
#include "engine_session.h"
#include "host_config.h"
#include "kv_flashocx.h"
#include "property_store.h"

namespace refcontrol {

class Control;
class BindCallback;

// Habits of the installed player that the reference control shares, each
// switched by a number of its settings key (docs/refplayer-control.md).
struct Habits {
    bool undefinedVariableFails = true;  // UndefinedVariableFails
    bool ownLoading = true;              // OwnLoading
    bool siteInput = true;               // SiteInput
    int drawThroughDC = -1;              // DrawThroughDC: changes drawn through the site's DC (-1: all)
    bool eventsInCalls = false;          // EventsInCalls
    bool posRectChange = false;          // PosRectChange: a new movie asks for its stage's size

    static Habits from(const refhost::Config& config);
};

inline constexpr const wchar_t* kConfigKey = L"Software\\KorvelRef\\Control";
// Recompose on resize, can't link inside, inside-out, activate when visible,
// set client site first: what the installed player reports.
inline constexpr DWORD kDefaultMiscStatus = 0x00020191;

// One connection point, part of the control: its references are the control's.
class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(Control& owner, const IID& iid, const char* name) : owner_(owner), iid_(iid), name_(name) {}
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) noexcept override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** cpc) noexcept override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) noexcept override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) noexcept override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** e) noexcept override;

    const IID& iid() const { return iid_; }
    // The connected sinks, each held for the caller (sinks may unadvise while
    // being called).
    std::vector<ComPtr<IUnknown>> sinks() const;
    void disconnectAll() { sinks_.clear(); }

private:
    Control& owner_;
    IID iid_;
    const char* name_;
    std::vector<std::pair<DWORD, ComPtr<IUnknown>>> sinks_;
    DWORD nextCookie_ = 1;
};

// The main interface as a control of Flash Player 7 answers it: the methods
// that version 8 appended (CallFunction, SetReturnValue, DisableLocalSecurity
// and what follows them) are not in its table. The table this object is
// handed out with is cut right before them and sits against a page that
// cannot be read, so a container that calls past its end faults at once
// instead of running whatever lies behind it; its IDispatch does not know
// their names or ids either.
class VersionSevenFace final : public IkvFlashPlayer {
public:
    explicit VersionSevenFace(Control& owner) : owner_(owner) {}
    VersionSevenFace(const VersionSevenFace&) = delete;
    VersionSevenFace& operator=(const VersionSevenFace&) = delete;

    // Points this object at the cut table; false when it cannot be made.
    bool shorten();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** ti) noexcept override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) noexcept override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) noexcept override;
    HRESULT STDMETHODCALLTYPE get_ReadyState(LONG* v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_TotalFrames(LONG* v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Playing(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Playing(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Quality(int* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Quality(int v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_ScaleMode(int* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_ScaleMode(int v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_AlignMode(int* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_AlignMode(int v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_BackgroundColor(LONG* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_BackgroundColor(LONG v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Loop(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Loop(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Movie(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Movie(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_FrameNum(LONG* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_FrameNum(LONG v) noexcept override;
    HRESULT STDMETHODCALLTYPE SetZoomRect(LONG left, LONG top, LONG right, LONG bottom) noexcept override;
    HRESULT STDMETHODCALLTYPE Zoom(int factor) noexcept override;
    HRESULT STDMETHODCALLTYPE Pan(LONG x, LONG y, int mode) noexcept override;
    HRESULT STDMETHODCALLTYPE Play() noexcept override;
    HRESULT STDMETHODCALLTYPE Stop() noexcept override;
    HRESULT STDMETHODCALLTYPE Back() noexcept override;
    HRESULT STDMETHODCALLTYPE Forward() noexcept override;
    HRESULT STDMETHODCALLTYPE Rewind() noexcept override;
    HRESULT STDMETHODCALLTYPE StopPlay() noexcept override;
    HRESULT STDMETHODCALLTYPE GotoFrame(LONG frame) noexcept override;
    HRESULT STDMETHODCALLTYPE CurrentFrame(LONG* frame) noexcept override;
    HRESULT STDMETHODCALLTYPE IsPlaying(VARIANT_BOOL* playing) noexcept override;
    HRESULT STDMETHODCALLTYPE PercentLoaded(LONG* percent) noexcept override;
    HRESULT STDMETHODCALLTYPE FrameLoaded(LONG frame, VARIANT_BOOL* loaded) noexcept override;
    HRESULT STDMETHODCALLTYPE FlashVersion(LONG* version) noexcept override;
    HRESULT STDMETHODCALLTYPE get_WMode(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_WMode(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_SAlign(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_SAlign(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Menu(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Menu(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Base(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Base(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Scale(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Scale(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_DeviceFont(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_DeviceFont(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_EmbedMovie(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_EmbedMovie(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_BGColor(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_BGColor(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Quality2(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Quality2(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE LoadMovie(int layer, BSTR url) noexcept override;
    HRESULT STDMETHODCALLTYPE TGotoFrame(BSTR target, LONG frame) noexcept override;
    HRESULT STDMETHODCALLTYPE TGotoLabel(BSTR target, BSTR label) noexcept override;
    HRESULT STDMETHODCALLTYPE TCurrentFrame(BSTR target, LONG* frame) noexcept override;
    HRESULT STDMETHODCALLTYPE TCurrentLabel(BSTR target, BSTR* label) noexcept override;
    HRESULT STDMETHODCALLTYPE TPlay(BSTR target) noexcept override;
    HRESULT STDMETHODCALLTYPE TStopPlay(BSTR target) noexcept override;
    HRESULT STDMETHODCALLTYPE SetVariable(BSTR name, BSTR value) noexcept override;
    HRESULT STDMETHODCALLTYPE GetVariable(BSTR name, BSTR* value) noexcept override;
    HRESULT STDMETHODCALLTYPE TSetProperty(BSTR target, int property, BSTR value) noexcept override;
    HRESULT STDMETHODCALLTYPE TGetProperty(BSTR target, int property, BSTR* value) noexcept override;
    HRESULT STDMETHODCALLTYPE TCallFrame(BSTR target, int frame) noexcept override;
    HRESULT STDMETHODCALLTYPE TCallLabel(BSTR target, BSTR label) noexcept override;
    HRESULT STDMETHODCALLTYPE TSetPropertyNum(BSTR target, int property, double value) noexcept override;
    HRESULT STDMETHODCALLTYPE TGetPropertyNum(BSTR target, int property, double* value) noexcept override;
    HRESULT STDMETHODCALLTYPE TGetPropertyAsNumber(BSTR target, int property, double* value) noexcept override;
    HRESULT STDMETHODCALLTYPE get_SWRemote(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_SWRemote(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_FlashVars(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_FlashVars(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_AllowScriptAccess(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_AllowScriptAccess(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_MovieData(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_MovieData(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_InlineData(IUnknown** v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_InlineData(IUnknown* v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_SeamlessTabbing(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_SeamlessTabbing(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE EnforceLocalSecurity() noexcept override;
    HRESULT STDMETHODCALLTYPE get_Profile(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Profile(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_ProfileAddress(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_ProfileAddress(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_ProfilePort(LONG* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_ProfilePort(LONG v) noexcept override;
    HRESULT STDMETHODCALLTYPE CallFunction(BSTR request, BSTR* response) noexcept override;
    HRESULT STDMETHODCALLTYPE SetReturnValue(BSTR value) noexcept override;
    HRESULT STDMETHODCALLTYPE DisableLocalSecurity() noexcept override;
    HRESULT STDMETHODCALLTYPE get_AllowNetworking(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_AllowNetworking(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_AllowFullScreen(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_AllowFullScreen(BSTR v) noexcept override;

private:
    Control& owner_;
};

class Control final : public IkvFlashPlayer,
                      public IOleObject,
                      public IOleInPlaceObjectWindowless,
                      public IOleInPlaceActiveObject,
                      public IViewObject2,
                      public IPersistStreamInit,
                      public IOleControl,
                      public IConnectionPointContainer,
                      public IProvideClassInfo2,
                      public IPerPropertyBrowsing,
                      public refhost::EngineSession {
public:
    explicit Control(refhost::Config config);
    ~Control() override;

    static std::vector<Control*> live();
    static Control* fromUnknown(IUnknown* unk);
    IUnknown* identity() { return static_cast<IOleObject*>(this); }

    // ---- IUnknown ----
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;

    // ---- IDispatch (through the type library) ----
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** ti) noexcept override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) noexcept override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) noexcept override;

    // ---- IkvFlashPlayer ----
    HRESULT STDMETHODCALLTYPE get_ReadyState(LONG* v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_TotalFrames(LONG* v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Playing(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Playing(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Quality(int* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Quality(int v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_ScaleMode(int* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_ScaleMode(int v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_AlignMode(int* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_AlignMode(int v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_BackgroundColor(LONG* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_BackgroundColor(LONG v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Loop(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Loop(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Movie(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Movie(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_FrameNum(LONG* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_FrameNum(LONG v) noexcept override;
    HRESULT STDMETHODCALLTYPE SetZoomRect(LONG left, LONG top, LONG right, LONG bottom) noexcept override;
    HRESULT STDMETHODCALLTYPE Zoom(int factor) noexcept override;
    HRESULT STDMETHODCALLTYPE Pan(LONG x, LONG y, int mode) noexcept override;
    HRESULT STDMETHODCALLTYPE Play() noexcept override;
    HRESULT STDMETHODCALLTYPE Stop() noexcept override;
    HRESULT STDMETHODCALLTYPE Back() noexcept override;
    HRESULT STDMETHODCALLTYPE Forward() noexcept override;
    HRESULT STDMETHODCALLTYPE Rewind() noexcept override;
    HRESULT STDMETHODCALLTYPE StopPlay() noexcept override;
    HRESULT STDMETHODCALLTYPE GotoFrame(LONG frame) noexcept override;
    HRESULT STDMETHODCALLTYPE CurrentFrame(LONG* frame) noexcept override;
    HRESULT STDMETHODCALLTYPE IsPlaying(VARIANT_BOOL* playing) noexcept override;
    HRESULT STDMETHODCALLTYPE PercentLoaded(LONG* percent) noexcept override;
    HRESULT STDMETHODCALLTYPE FrameLoaded(LONG frame, VARIANT_BOOL* loaded) noexcept override;
    HRESULT STDMETHODCALLTYPE FlashVersion(LONG* version) noexcept override;
    HRESULT STDMETHODCALLTYPE get_WMode(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_WMode(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_SAlign(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_SAlign(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Menu(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Menu(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Base(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Base(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Scale(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Scale(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_DeviceFont(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_DeviceFont(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_EmbedMovie(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_EmbedMovie(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_BGColor(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_BGColor(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Quality2(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Quality2(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE LoadMovie(int layer, BSTR url) noexcept override;
    HRESULT STDMETHODCALLTYPE TGotoFrame(BSTR target, LONG frame) noexcept override;
    HRESULT STDMETHODCALLTYPE TGotoLabel(BSTR target, BSTR label) noexcept override;
    HRESULT STDMETHODCALLTYPE TCurrentFrame(BSTR target, LONG* frame) noexcept override;
    HRESULT STDMETHODCALLTYPE TCurrentLabel(BSTR target, BSTR* label) noexcept override;
    HRESULT STDMETHODCALLTYPE TPlay(BSTR target) noexcept override;
    HRESULT STDMETHODCALLTYPE TStopPlay(BSTR target) noexcept override;
    HRESULT STDMETHODCALLTYPE SetVariable(BSTR name, BSTR value) noexcept override;
    HRESULT STDMETHODCALLTYPE GetVariable(BSTR name, BSTR* value) noexcept override;
    HRESULT STDMETHODCALLTYPE TSetProperty(BSTR target, int property, BSTR value) noexcept override;
    HRESULT STDMETHODCALLTYPE TGetProperty(BSTR target, int property, BSTR* value) noexcept override;
    HRESULT STDMETHODCALLTYPE TCallFrame(BSTR target, int frame) noexcept override;
    HRESULT STDMETHODCALLTYPE TCallLabel(BSTR target, BSTR label) noexcept override;
    HRESULT STDMETHODCALLTYPE TSetPropertyNum(BSTR target, int property, double value) noexcept override;
    HRESULT STDMETHODCALLTYPE TGetPropertyNum(BSTR target, int property, double* value) noexcept override;
    HRESULT STDMETHODCALLTYPE TGetPropertyAsNumber(BSTR target, int property, double* value) noexcept override;
    HRESULT STDMETHODCALLTYPE get_SWRemote(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_SWRemote(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_FlashVars(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_FlashVars(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_AllowScriptAccess(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_AllowScriptAccess(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_MovieData(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_MovieData(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_InlineData(IUnknown** v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_InlineData(IUnknown* v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_SeamlessTabbing(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_SeamlessTabbing(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE EnforceLocalSecurity() noexcept override;
    HRESULT STDMETHODCALLTYPE get_Profile(VARIANT_BOOL* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Profile(VARIANT_BOOL v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_ProfileAddress(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_ProfileAddress(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_ProfilePort(LONG* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_ProfilePort(LONG v) noexcept override;
    HRESULT STDMETHODCALLTYPE CallFunction(BSTR request, BSTR* response) noexcept override;
    HRESULT STDMETHODCALLTYPE SetReturnValue(BSTR value) noexcept override;
    HRESULT STDMETHODCALLTYPE DisableLocalSecurity() noexcept override;
    HRESULT STDMETHODCALLTYPE get_AllowNetworking(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_AllowNetworking(BSTR v) noexcept override;
    HRESULT STDMETHODCALLTYPE get_AllowFullScreen(BSTR* v) noexcept override;
    HRESULT STDMETHODCALLTYPE put_AllowFullScreen(BSTR v) noexcept override;

    // ---- IOleObject ----
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) noexcept override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) noexcept override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR app, LPCOLESTR obj) noexcept override;
    HRESULT STDMETHODCALLTYPE Close(DWORD saveOption) noexcept override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, IMoniker* mk) noexcept override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** mk) noexcept override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* data, BOOL creation, DWORD reserved) noexcept override;
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD reserved, IDataObject** data) noexcept override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG msg, IOleClientSite* activeSite, LONG lindex, HWND parent,
                                     LPCRECT posRect) noexcept override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** e) noexcept override;
    HRESULT STDMETHODCALLTYPE Update() noexcept override;
    HRESULT STDMETHODCALLTYPE IsUpToDate() noexcept override;
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) noexcept override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* type) noexcept override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) noexcept override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) noexcept override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* cookie) noexcept override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) noexcept override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** e) noexcept override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) noexcept override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* pal) noexcept override;

    // ---- IOleWindow (both in-place interfaces) ----
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) noexcept override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) noexcept override;

    // ---- IOleInPlaceObject / IOleInPlaceObjectWindowless ----
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() noexcept override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() noexcept override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() noexcept override;
    HRESULT STDMETHODCALLTYPE OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) noexcept override;
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget** target) noexcept override;

    // ---- IOleInPlaceActiveObject ----
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) noexcept override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) noexcept override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) noexcept override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) noexcept override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) noexcept override;

    // ---- IViewObject2 ----
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG lindex, void* aspectInfo, DVTARGETDEVICE* target,
                                   HDC targetDC, HDC dc, LPCRECTL bounds, LPCRECTL wbounds,
                                   BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR), ULONG_PTR contArg) noexcept override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG lindex, void* aspectInfo, DVTARGETDEVICE* target,
                                          HDC targetDC, LOGPALETTE** colors) noexcept override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG lindex, void* aspectInfo, DWORD* cookie) noexcept override;
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD cookie) noexcept override;
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) noexcept override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) noexcept override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG lindex, DVTARGETDEVICE* target, LPSIZEL size) noexcept override;

    // ---- IPersistStreamInit ----
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) noexcept override;
    HRESULT STDMETHODCALLTYPE IsDirty() noexcept override;
    HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) noexcept override;
    HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clearDirty) noexcept override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) noexcept override;
    HRESULT STDMETHODCALLTYPE InitNew() noexcept override;

    // ---- IOleControl ----
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) noexcept override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* msg) noexcept override;
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) noexcept override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) noexcept override;

    // ---- IConnectionPointContainer ----
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** e) noexcept override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** cp) noexcept override;

    // ---- IProvideClassInfo2 ----
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** ti) noexcept override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) noexcept override;

    // ---- IPerPropertyBrowsing ----
    HRESULT STDMETHODCALLTYPE GetDisplayString(DISPID id, BSTR* text) noexcept override;
    HRESULT STDMETHODCALLTYPE MapPropertyToPage(DISPID id, CLSID* page) noexcept override;
    HRESULT STDMETHODCALLTYPE GetPredefinedStrings(DISPID id, CALPOLESTR* strings, CADWORD* cookies) noexcept override;
    HRESULT STDMETHODCALLTYPE GetPredefinedValue(DISPID id, DWORD cookie, VARIANT* value) noexcept override;

    // ---- from binding callbacks ----
    void bindingFinished(BindCallback* callback, refplayer::RequestId id, const std::string& url, bool delivered,
                         std::vector<uint8_t> data, const std::string& why);
    void bindingGone(BindCallback* callback);
    void abandonBindings();

    // The error code a configured failure makes `method` answer, or S_OK.
    HRESULT injected(const char* method);
    // Whether `method` is configured to answer success without doing anything
    // or handing anything back (its out-parameters keep what the caller put).
    bool answersNothing(const char* method);

private:
    // Runs one COM entry: logs the call, applies a configured failure, and
    // turns any exception into an error code.
    template <typename Args, typename Body>
    HRESULT entry(const char* iface, const char* method, Args&& args, Body&& body) noexcept;
    void made(const std::string& call, HRESULT hr);

    // EngineSession
    void requestRepaint(const refplayer::IRect& viewRect) override;
    bool manualClockConfigured() const override;
    int repaintInPaintConfigured() const override { return config_.repaintInPaint; }
    void timerFired() override;
    // PlayerHost
    void requestUrl(refplayer::RequestId id, refplayer::RequestKind kind, const std::string& url,
                    const std::string& target, const std::string& postData) override;
    void fsCommand(const std::string& command, const std::string& args) override;
    std::optional<std::string> externalCall(const std::string& functionName, const std::string& invokeXml) override;
    std::string playerType() const override { return "ActiveX"; }

    HRESULT activateInPlace(IOleClientSite* activeSite, HWND parent, LPCRECT posRect);
    void deactivateInPlace();
    void setPosition(const RECT& pos);
    void fireEvent(DISPID id, std::vector<std::wstring> args, std::vector<LONG> numbers = {});
    void notifyChanged(DISPID id);
    void applyWindowMode();
    void repaintAll();
    HRESULT loadMovieUrl(const std::string& url);
    HRESULT typeInfo(ITypeInfo** ti);
    void readAmbients();
    std::optional<POINT> viewPoint(LPARAM lp) const;
    static bool movieTakesKey(int key);
    HRESULT defaultHandling(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
    void beginDrag();
    void dragMoved();
    void endDrag();
    void loadItself(refplayer::RequestId id, const std::string& url);
    bool drawThroughSite(const RECT& rect);
    void askStageSize();
    std::optional<uint32_t> underlayColour() const;

    HRESULT getText(DISPID id, const char* name, BSTR* out);
    HRESULT putText(DISPID id, const char* name, BSTR in);
    HRESULT getTruth(DISPID id, const char* name, bool fallback, VARIANT_BOOL* out);
    HRESULT putTruth(DISPID id, const char* name, VARIANT_BOOL in);
    HRESULT getNumber(DISPID id, const char* name, int32_t fallback, LONG* out);
    HRESULT putNumber(DISPID id, const char* name, int32_t in);
    HRESULT command(const char* name, std::function<void()> action);
    HRESULT rootTarget(const char* method, BSTR target);

    LONG refs_ = 1;
    refhost::Config config_;
    Habits habits_;
    // The main interface of a control configured as version 7 (and its
    // IDispatch); null for later versions, which answer with this object.
    VersionSevenFace face7_{*this};
    bool face7Active_ = false;

    ComPtr<IOleClientSite> site_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;
    ComPtr<IOleInPlaceSiteWindowless> windowlessSite_;
    ComPtr<IOleInPlaceFrame> frame_;
    ComPtr<IOleInPlaceUIWindow> document_;
    bool inPlaceActive_ = false;
    bool closed_ = false;
    bool dragging_ = false;
    int drawsThroughDCLeft_ = 0;
    bool drawing_ = false;
    RECT pos_{0, 0, 0, 0};
    RECT clip_{0, 0, 0, 0};
    SIZEL extent_{0, 0};  // HIMETRIC

    ComPtr<IOleAdviseHolder> adviseHolder_;
    ComPtr<IAdviseSink> viewSink_;
    DWORD viewSinkAspects_ = 0, viewSinkFlags_ = 0;

    PropertyStore props_;
    bool initialized_ = false;
    bool dirtyState_ = false;
    int frozenEvents_ = 0;
    bool localSecurityDisabled_ = false;
    std::string movieUrl_;
    bool userMode_ = true;

    ConnectionPoint events_;
    ConnectionPoint propertyNotify_;
    std::vector<BindCallback*> bindings_;
    ComPtr<ITypeInfo> typeInfo_;
};

// Whether text names the root timeline ("", "/", "_root", "_level0").
bool isRootTarget(const std::string& target);

}  // namespace refcontrol
