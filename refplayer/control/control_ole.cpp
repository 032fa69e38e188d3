// The control as an OLE object: identity, the client site, windowless in-place
// activation, drawing, persistence, ambient properties and connection points.
#include <algorithm>
#include <cstdio>

#include "control_internal.h"

namespace refcontrol {
namespace {

std::vector<Control*>& registry()
{
    static std::vector<Control*> r;
    return r;
}

bool sameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

struct InterfaceName {
    const IID* iid;
    const char* name;
};

const InterfaceName kInterfaceNames[] = {
    {&IID_IUnknown, "IUnknown"},
    {&IID_IDispatch, "IDispatch"},
    {&IID_IkvFlashPlayer, "IkvFlashPlayer"},
    {&IID_IOleObject, "IOleObject"},
    {&IID_IOleWindow, "IOleWindow"},
    {&IID_IOleInPlaceObject, "IOleInPlaceObject"},
    {&IID_IOleInPlaceObjectWindowless, "IOleInPlaceObjectWindowless"},
    {&IID_IOleInPlaceActiveObject, "IOleInPlaceActiveObject"},
    {&IID_IViewObject, "IViewObject"},
    {&IID_IViewObject2, "IViewObject2"},
    {&IID_IPersist, "IPersist"},
    {&IID_IPersistStreamInit, "IPersistStreamInit"},
    {&IID_IOleControl, "IOleControl"},
    {&IID_IConnectionPointContainer, "IConnectionPointContainer"},
    {&IID_IProvideClassInfo, "IProvideClassInfo"},
    {&IID_IProvideClassInfo2, "IProvideClassInfo2"},
    {&IID_IPerPropertyBrowsing, "IPerPropertyBrowsing"},
};

const char* interfaceName(REFIID riid)
{
    for (const auto& n : kInterfaceNames)
        if (IsEqualIID(riid, *n.iid))
            return n.name;
    return nullptr;
}

}  // namespace

// ---- module-wide bookkeeping -------------------------------------------------------

namespace {
LONG objectCount = 0;
LONG lockCount = 0;
}  // namespace

void objectCreated() { InterlockedIncrement(&objectCount); }
void objectDestroyed() { InterlockedDecrement(&objectCount); }
int liveObjects() { return static_cast<int>(objectCount); }
void lockModule(bool lock) { lock ? InterlockedIncrement(&lockCount) : InterlockedDecrement(&lockCount); }
int moduleLocks() { return static_cast<int>(lockCount); }

std::string hresultText(HRESULT hr)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

std::string guidText(REFGUID g)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::string rectText(const RECT* r)
{
    if (!r)
        return "null";
    return "(" + std::to_string(r->left) + "," + std::to_string(r->top) + "," + std::to_string(r->right) + "," +
           std::to_string(r->bottom) + ")";
}

HRESULT loadOwnTypeLib(ITypeLib** lib)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(refhost::thisModule(), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return E_FAIL;
    return LoadTypeLibEx(path, REGKIND_NONE, lib);
}

bool isRootTarget(const std::string& target)
{
    return target.empty() || target == "/" || target == "_root" || target == "_level0";
}

// ---- lifetime -------------------------------------------------------------------------

Habits Habits::from(const refhost::Config& config)
{
    Habits h;
    h.undefinedVariableFails = config.setting("UndefinedVariableFails", 1) != 0;
    h.ownLoading = config.setting("OwnLoading", 1) != 0;
    h.siteInput = config.setting("SiteInput", 1) != 0;
    // Absent: every change; n: the first n changes; 0: none.
    const auto throughDC = config.numbers.find("DrawThroughDC");
    h.drawThroughDC =
        throughDC == config.numbers.end() ? -1 : static_cast<int>(std::min<uint32_t>(throughDC->second, 1000000));
    h.eventsInCalls = config.setting("EventsInCalls", 0) != 0;
    h.posRectChange = config.setting("PosRectChange", 0) != 0;
    return h;
}

Control::Control(refhost::Config config)
    : config_(std::move(config)),
      habits_(Habits::from(config_)),
      drawsThroughDCLeft_(habits_.drawThroughDC),
      events_(*this, DIID__IkvFlashPlayerEvents, "_IkvFlashPlayerEvents"),
      propertyNotify_(*this, IID_IPropertyNotifySink, "IPropertyNotifySink")
{
    registry().push_back(this);
    objectCreated();
    // Before version 8 the main interface ended before CallFunction.
    if (config_.versionMajor() < 8) {
        face7Active_ = face7_.shorten();
        callLog().note(face7Active_ ? "main interface of version 7: its table ends before CallFunction"
                                    : "main interface of version 7 could not be cut; the whole one is answered");
    }
    // A fresh control plays nothing and has the player's defaults.
    props_.set(dispid::kQuality, int32_t(1));
    props_.set(dispid::kScaleMode, int32_t(0));
    props_.set(dispid::kAlignMode, int32_t(0));
    props_.set(dispid::kBackgroundColor, int32_t(-1));
    props_.set(dispid::kLoop, true);
    props_.set(dispid::kMenu, true);
    props_.set(dispid::kWMode, std::string("Window"));
    props_.set(dispid::kQuality2, std::string("High"));
    props_.set(dispid::kAllowScriptAccess, std::string("sameDomain"));
    props_.set(dispid::kAllowNetworking, std::string("all"));
    props_.set(dispid::kAllowFullScreen, std::string("false"));
    props_.set(dispid::kEmbedMovie, false);
    props_.set(dispid::kDeviceFont, false);
    props_.set(dispid::kSeamlessTabbing, true);
    props_.set(dispid::kProfile, false);
    props_.set(dispid::kProfilePort, int32_t(0));
}

Control::~Control()
{
    endSession();
    abandonBindings();
    auto& r = registry();
    r.erase(std::remove(r.begin(), r.end(), this), r.end());
    objectDestroyed();
}

std::vector<Control*> Control::live() { return registry(); }

Control* Control::fromUnknown(IUnknown* unk)
{
    if (!unk)
        return nullptr;
    ComPtr<IUnknown> id;
    if (FAILED(unk->QueryInterface(IID_IUnknown, id.putVoid())))
        return nullptr;
    for (Control* c : registry())
        if (c->identity() == id.get())
            return c;
    return nullptr;
}

HRESULT Control::injected(const char* method)
{
    auto f = config_.failure(method);
    if (!f || *f == 0)
        return S_OK;
    callLog().note(std::string(method) + " fails as configured: " + hresultText(*f));
    return static_cast<HRESULT>(*f);
}

bool Control::answersNothing(const char* method)
{
    if (!config_.nullOut(method))
        return false;
    callLog().note(std::string(method) + " answers success without a result as configured");
    return true;
}

void Control::made(const std::string& call, HRESULT hr)
{
    if (callLog().enabled())
        callLog().made(call + " = " + hresultText(hr));
}

bool Control::manualClockConfigured() const { return config_.manualClock || closed_; }

void Control::timerFired()
{
    ComPtr<IUnknown> self(identity());
    tick();
}

// ---- IUnknown ----------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Control::QueryInterface(REFIID riid, void** ppv) noexcept
{
    return guarded([&]() -> HRESULT {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        const char* name = interfaceName(riid);
        if (callLog().enabled())
            callLog().received(std::string("QueryInterface ") + (name ? name : guidText(riid).c_str()));
        if (name) {
            std::string failName = std::string("QueryInterface:") + name;
            if (HRESULT f = injected(failName.c_str()); f != S_OK)
                return f;
            // *ppv is already null.
            if (answersNothing(failName.c_str()))
                return S_OK;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleObject))
            *ppv = static_cast<IOleObject*>(this);
        else if ((IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IkvFlashPlayer)) && face7Active_)
            *ppv = static_cast<IkvFlashPlayer*>(&face7_);
        else if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IkvFlashPlayer))
            *ppv = static_cast<IkvFlashPlayer*>(this);
        else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceObject) ||
                 IsEqualIID(riid, IID_IOleInPlaceObjectWindowless))
            *ppv = static_cast<IOleInPlaceObjectWindowless*>(this);
        else if (IsEqualIID(riid, IID_IOleInPlaceActiveObject))
            *ppv = static_cast<IOleInPlaceActiveObject*>(this);
        else if (IsEqualIID(riid, IID_IViewObject) || IsEqualIID(riid, IID_IViewObject2))
            *ppv = static_cast<IViewObject2*>(this);
        else if (IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IPersistStreamInit))
            *ppv = static_cast<IPersistStreamInit*>(this);
        else if (IsEqualIID(riid, IID_IOleControl))
            *ppv = static_cast<IOleControl*>(this);
        else if (IsEqualIID(riid, IID_IConnectionPointContainer))
            *ppv = static_cast<IConnectionPointContainer*>(this);
        else if (IsEqualIID(riid, IID_IProvideClassInfo) || IsEqualIID(riid, IID_IProvideClassInfo2))
            *ppv = static_cast<IProvideClassInfo2*>(this);
        else if (IsEqualIID(riid, IID_IPerPropertyBrowsing))
            *ppv = static_cast<IPerPropertyBrowsing*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    });
}

ULONG STDMETHODCALLTYPE Control::AddRef() noexcept { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE Control::Release() noexcept
{
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) {
        // The last reference is the one call of a teardown the log cannot
        // otherwise show: tests check that it comes after everything else.
        if (callLog().enabled()) {
            try {
                callLog().received("IUnknown.Release last reference");
            } catch (...) {
            }
        }
        delete this;
    }
    return static_cast<ULONG>(n);
}

// ---- IOleObject --------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Control::SetClientSite(IOleClientSite* site) noexcept
{
    return entry("IOleObject", "SetClientSite", [&] { return std::string(site ? "site" : "null"); }, [&]() -> HRESULT {
        if (!site) {
            deactivateInPlace();
            site_.reset();
            return S_OK;
        }
        site_ = ComPtr<IOleClientSite>(site);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::GetClientSite(IOleClientSite** site) noexcept
{
    return entry("IOleObject", "GetClientSite", none, [&]() -> HRESULT {
        if (!site)
            return E_POINTER;
        *site = site_.get();
        if (*site)
            (*site)->AddRef();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::SetHostNames(LPCOLESTR, LPCOLESTR) noexcept
{
    return entry("IOleObject", "SetHostNames", none, [] { return S_OK; });
}

HRESULT STDMETHODCALLTYPE Control::Close(DWORD saveOption) noexcept
{
    return entry("IOleObject", "Close", [&] { return "option=" + std::to_string(saveOption); }, [&]() -> HRESULT {
        deactivateInPlace();
        closed_ = true;
        stopTimer();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::SetMoniker(DWORD, IMoniker*) noexcept
{
    return entry("IOleObject", "SetMoniker", none, [] { return E_NOTIMPL; });
}

HRESULT STDMETHODCALLTYPE Control::GetMoniker(DWORD, DWORD, IMoniker** mk) noexcept
{
    return entry("IOleObject", "GetMoniker", none, [&]() -> HRESULT {
        if (mk)
            *mk = nullptr;
        return E_NOTIMPL;
    });
}

HRESULT STDMETHODCALLTYPE Control::InitFromData(IDataObject*, BOOL, DWORD) noexcept
{
    return entry("IOleObject", "InitFromData", none, [] { return E_NOTIMPL; });
}

HRESULT STDMETHODCALLTYPE Control::GetClipboardData(DWORD, IDataObject** data) noexcept
{
    return entry("IOleObject", "GetClipboardData", none, [&]() -> HRESULT {
        if (data)
            *data = nullptr;
        return E_NOTIMPL;
    });
}

HRESULT STDMETHODCALLTYPE Control::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG lindex, HWND parent,
                                          LPCRECT posRect) noexcept
{
    return entry(
        "IOleObject", "DoVerb",
        [&] { return "verb=" + std::to_string(verb) + " lindex=" + std::to_string(lindex) + " rect=" + rectText(posRect); },
        [&]() -> HRESULT {
            switch (verb) {
            case OLEIVERB_PRIMARY:
            case OLEIVERB_SHOW:
            case OLEIVERB_INPLACEACTIVATE:
            case OLEIVERB_UIACTIVATE:
                return activateInPlace(activeSite, parent, posRect);
            case OLEIVERB_HIDE:
                deactivateInPlace();
                return S_OK;
            case OLEIVERB_OPEN:
            case OLEIVERB_DISCARDUNDOSTATE:
                return E_NOTIMPL;
            default:
                return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
            }
        });
}

// The windowless handshake a control makes with its in-place site: may it
// activate in place, and windowless; tell it so; learn the frame, the window
// the container draws into and the position.
HRESULT Control::activateInPlace(IOleClientSite* activeSite, HWND, LPCRECT posRect)
{
    if (inPlaceActive_)
        return S_OK;
    IOleClientSite* site = activeSite ? activeSite : site_.get();
    if (!site) {
        callLog().note("in-place activation without a client site");
        return E_UNEXPECTED;
    }
    ComPtr<IOleInPlaceSiteWindowless> windowless;
    HRESULT hr = site->QueryInterface(IID_IOleInPlaceSiteWindowless, windowless.putVoid());
    made("IOleClientSite.QueryInterface IOleInPlaceSiteWindowless", hr);
    if (!windowless) {
        callLog().note("the site cannot host a windowless control");
        return E_FAIL;
    }
    hr = windowless->CanInPlaceActivate();
    made("IOleInPlaceSiteWindowless.CanInPlaceActivate", hr);
    if (hr != S_OK)
        return hr == S_FALSE ? OLEOBJ_S_CANNOT_DOVERB_NOW : hr;
    hr = windowless->CanWindowlessActivate();
    made("IOleInPlaceSiteWindowless.CanWindowlessActivate", hr);
    if (hr != S_OK) {
        callLog().note("windowless activation refused by the site");
        return E_FAIL;
    }
    BOOL noRedraw = FALSE;
    hr = windowless->OnInPlaceActivateEx(&noRedraw, ACTIVATE_WINDOWLESS);
    made("IOleInPlaceSiteWindowless.OnInPlaceActivateEx flags=ACTIVATE_WINDOWLESS", hr);
    if (FAILED(hr))
        return hr;
    inPlaceSite_ = ComPtr<IOleInPlaceSite>(windowless.get());
    windowlessSite_ = windowless;
    inPlaceActive_ = true;
    closed_ = false;

    HWND container = nullptr;
    hr = windowless->GetWindow(&container);
    made("IOleInPlaceSiteWindowless.GetWindow", hr);

    RECT pos{}, clip{};
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof frameInfo;
    hr = windowless->GetWindowContext(frame_.put(), document_.put(), &pos, &clip, &frameInfo);
    made("IOleInPlaceSiteWindowless.GetWindowContext pos=" + rectText(&pos) + " clip=" + rectText(&clip), hr);
    if (FAILED(hr)) {
        pos = posRect ? *posRect : pos_;
        clip = pos;
    }
    if (posRect)
        pos = *posRect;
    clip_ = clip;
    // A new size repaints everything by itself; the same size needs asking.
    bool sameSize = pos.right - pos.left == viewWidth() && pos.bottom - pos.top == viewHeight();
    setPosition(pos);
    restartTimer();
    if (sameSize)
        repaintAll();
    return S_OK;
}

void Control::deactivateInPlace()
{
    if (!inPlaceActive_)
        return;
    inPlaceActive_ = false;
    dragging_ = false;
    auto site = std::move(inPlaceSite_);
    windowlessSite_.reset();
    frame_.reset();
    document_.reset();
    if (site) {
        HRESULT hr = site->OnInPlaceDeactivate();
        made("IOleInPlaceSite.OnInPlaceDeactivate", hr);
    }
}

void Control::setPosition(const RECT& pos)
{
    pos_ = pos;
    int width = std::max<LONG>(0, pos.right - pos.left), height = std::max<LONG>(0, pos.bottom - pos.top);
    // The extent follows the position at the screen's resolution.
    HDC screen = ::GetDC(nullptr);
    int dpiX = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96, dpiY = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ::ReleaseDC(nullptr, screen);
    extent_ = {MulDiv(width, 2540, dpiX > 0 ? dpiX : 96), MulDiv(height, 2540, dpiY > 0 ? dpiY : 96)};
    run([this, width, height] { resizeView(width, height); });
}

HRESULT STDMETHODCALLTYPE Control::EnumVerbs(IEnumOLEVERB** e) noexcept
{
    return entry("IOleObject", "EnumVerbs", none, [&]() -> HRESULT {
        if (!e)
            return E_POINTER;
        return OleRegEnumVerbs(CLSID_kvFlashPlayer, e);
    });
}

HRESULT STDMETHODCALLTYPE Control::Update() noexcept { return entry("IOleObject", "Update", none, [] { return S_OK; }); }

HRESULT STDMETHODCALLTYPE Control::IsUpToDate() noexcept
{
    return entry("IOleObject", "IsUpToDate", none, [] { return S_OK; });
}

HRESULT STDMETHODCALLTYPE Control::GetUserClassID(CLSID* clsid) noexcept
{
    return entry("IOleObject", "GetUserClassID", none, [&]() -> HRESULT {
        if (!clsid)
            return E_POINTER;
        *clsid = CLSID_kvFlashPlayer;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::GetUserType(DWORD form, LPOLESTR* type) noexcept
{
    return entry("IOleObject", "GetUserType", none, [&]() -> HRESULT {
        if (!type)
            return E_POINTER;
        return OleRegGetUserType(CLSID_kvFlashPlayer, form, type);
    });
}

HRESULT STDMETHODCALLTYPE Control::SetExtent(DWORD aspect, SIZEL* size) noexcept
{
    return entry("IOleObject", "SetExtent", none, [&]() -> HRESULT {
        if (!size)
            return E_POINTER;
        if (aspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        extent_ = *size;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::GetExtent(DWORD aspect, SIZEL* size) noexcept
{
    return entry("IOleObject", "GetExtent", none, [&]() -> HRESULT {
        if (!size)
            return E_POINTER;
        if (aspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        *size = extent_;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::Advise(IAdviseSink* sink, DWORD* cookie) noexcept
{
    return entry("IOleObject", "Advise", none, [&]() -> HRESULT {
        if (!adviseHolder_) {
            HRESULT hr = CreateOleAdviseHolder(adviseHolder_.put());
            if (FAILED(hr))
                return hr;
        }
        return adviseHolder_->Advise(sink, cookie);
    });
}

HRESULT STDMETHODCALLTYPE Control::Unadvise(DWORD cookie) noexcept
{
    return entry("IOleObject", "Unadvise", none, [&]() -> HRESULT {
        return adviseHolder_ ? adviseHolder_->Unadvise(cookie) : OLE_E_NOCONNECTION;
    });
}

HRESULT STDMETHODCALLTYPE Control::EnumAdvise(IEnumSTATDATA** e) noexcept
{
    return entry("IOleObject", "EnumAdvise", none, [&]() -> HRESULT {
        if (!e)
            return E_POINTER;
        *e = nullptr;
        return adviseHolder_ ? adviseHolder_->EnumAdvise(e) : S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::GetMiscStatus(DWORD aspect, DWORD* status) noexcept
{
    return entry("IOleObject", "GetMiscStatus", [&] { return "aspect=" + std::to_string(aspect); }, [&]() -> HRESULT {
        if (!status)
            return E_POINTER;
        *status = config_.miscStatus.value_or(kDefaultMiscStatus);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::SetColorScheme(LOGPALETTE*) noexcept
{
    return entry("IOleObject", "SetColorScheme", none, [] { return E_NOTIMPL; });
}

// ---- IOleWindow, IOleInPlaceObject(Windowless), IOleInPlaceActiveObject -----------------------

HRESULT STDMETHODCALLTYPE Control::GetWindow(HWND* hwnd) noexcept
{
    return entry("IOleWindow", "GetWindow", none, [&]() -> HRESULT {
        if (!hwnd)
            return E_POINTER;
        *hwnd = nullptr;
        return E_FAIL;  // windowless: there is none
    });
}

HRESULT STDMETHODCALLTYPE Control::ContextSensitiveHelp(BOOL) noexcept
{
    return entry("IOleWindow", "ContextSensitiveHelp", none, [] { return E_NOTIMPL; });
}

HRESULT STDMETHODCALLTYPE Control::InPlaceDeactivate() noexcept
{
    return entry("IOleInPlaceObject", "InPlaceDeactivate", none, [&]() -> HRESULT {
        deactivateInPlace();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::UIDeactivate() noexcept
{
    return entry("IOleInPlaceObject", "UIDeactivate", none, [] { return S_OK; });
}

HRESULT STDMETHODCALLTYPE Control::SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept
{
    return entry("IOleInPlaceObject", "SetObjectRects", [&] { return "pos=" + rectText(pos) + " clip=" + rectText(clip); },
                 [&]() -> HRESULT {
                     if (!pos)
                         return E_POINTER;
                     if (pos->right < pos->left || pos->bottom < pos->top)
                         return E_INVALIDARG;
                     clip_ = clip ? *clip : *pos;
                     if (!sameRect(*pos, pos_) || viewWidth() != pos->right - pos->left ||
                         viewHeight() != pos->bottom - pos->top)
                         setPosition(*pos);
                     return S_OK;
                 });
}

HRESULT STDMETHODCALLTYPE Control::ReactivateAndUndo() noexcept
{
    return entry("IOleInPlaceObject", "ReactivateAndUndo", none, [] { return E_NOTIMPL; });
}

HRESULT STDMETHODCALLTYPE Control::GetDropTarget(IDropTarget** target) noexcept
{
    return entry("IOleInPlaceObjectWindowless", "GetDropTarget", none, [&]() -> HRESULT {
        if (target)
            *target = nullptr;
        return E_NOTIMPL;
    });
}

HRESULT STDMETHODCALLTYPE Control::TranslateAccelerator(LPMSG) noexcept
{
    return entry("IOleInPlaceActiveObject", "TranslateAccelerator", none, [] { return S_FALSE; });
}

HRESULT STDMETHODCALLTYPE Control::OnFrameWindowActivate(BOOL) noexcept
{
    return entry("IOleInPlaceActiveObject", "OnFrameWindowActivate", none, [] { return S_OK; });
}

HRESULT STDMETHODCALLTYPE Control::OnDocWindowActivate(BOOL) noexcept
{
    return entry("IOleInPlaceActiveObject", "OnDocWindowActivate", none, [] { return S_OK; });
}

HRESULT STDMETHODCALLTYPE Control::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) noexcept
{
    return entry("IOleInPlaceActiveObject", "ResizeBorder", none, [] { return S_OK; });
}

HRESULT STDMETHODCALLTYPE Control::EnableModeless(BOOL) noexcept
{
    return entry("IOleInPlaceActiveObject", "EnableModeless", none, [] { return S_OK; });
}

// ---- drawing ---------------------------------------------------------------------------

void Control::requestRepaint(const refplayer::IRect& r)
{
    if (inPlaceActive_ && windowlessSite_) {
        // The site may change the rectangle it is given, and may paint (and so
        // call Draw) before it returns.
        RECT rect{r.left + pos_.left, r.top + pos_.top, r.right + pos_.left, r.bottom + pos_.top};
        if (drawsThroughDCLeft_ != 0 && !drawing_) {
            if (drawsThroughDCLeft_ > 0)
                --drawsThroughDCLeft_;
            if (drawThroughSite(rect))
                return;
        }
        std::string text = rectText(&rect);
        auto site = windowlessSite_;
        ComPtr<IUnknown> self(identity());
        HRESULT hr = site->InvalidateRect(&rect, FALSE);
        made("IOleInPlaceSiteWindowless.InvalidateRect " + text, hr);
        return;
    }
    if (viewSink_ && (viewSinkAspects_ & DVASPECT_CONTENT)) {
        auto sink = viewSink_;
        sink->OnViewChange(DVASPECT_CONTENT, -1);
        made("IAdviseSink.OnViewChange", S_OK);
    }
}

// A colour of the container's choosing under the movie, unless the window
// mode leaves the movie transparent.
std::optional<uint32_t> Control::underlayColour() const
{
    LONG bg = props_.integer(dispid::kBackgroundColor, -1);
    bool transparent = _stricmp(props_.text(dispid::kWMode).c_str(), "transparent") == 0;
    if (bg >= 0 && !transparent)
        return 0xFF000000u | (static_cast<uint32_t>(bg) & 0xFFFFFFu);
    return std::nullopt;
}

// Between the container's paints the control may draw a change itself,
// through a DC the windowless site lends it, instead of asking for a repaint.
// Answers false when the site lends none (the change is then asked for).
bool Control::drawThroughSite(const RECT& rect)
{
    auto site = windowlessSite_;
    const bool transparent = _stricmp(props_.text(dispid::kWMode).c_str(), "transparent") == 0;
    const DWORD flags = transparent ? OLEDC_PAINTBKGND : 0;
    HDC dc = nullptr;
    ComPtr<IUnknown> self(identity());
    HRESULT hr = site->GetDC(&rect, flags, &dc);
    made("IOleInPlaceSiteWindowless.GetDC " + rectText(&rect) + " flags=" + std::to_string(flags), hr);
    if (FAILED(hr) || !dc)
        return false;
    if (!destroyed_ && inPlaceActive_) {
        const bool outer = !drawing_;
        drawing_ = true;
        {
            EngineScope scope(*this);
            paint(dc, pos_.left, pos_.top, &rect, underlayColour());
        }
        drawing_ = !outer;
    }
    // The site may repaint (and so call Draw) before this returns.
    hr = site->ReleaseDC(dc);
    made("IOleInPlaceSiteWindowless.ReleaseDC", hr);
    return true;
}

// A control whose movie has a size of its own asks its site to make room for
// it; the site answers with the rectangles it grants (SetObjectRects).
void Control::askStageSize()
{
    auto site = inPlaceSite_;
    if (!inPlaceActive_ || !site)
        return;
    const int w = player_.stageWidthPx(), h = player_.stageHeightPx();
    if (w <= 0 || h <= 0)
        return;
    RECT wanted{pos_.left, pos_.top, pos_.left + w, pos_.top + h};
    ComPtr<IUnknown> self(identity());
    HRESULT hr = site->OnPosRectChange(&wanted);
    made("IOleInPlaceSite.OnPosRectChange " + rectText(&wanted), hr);
}

void Control::repaintAll()
{
    if (viewWidth() > 0 && viewHeight() > 0)
        invalidate({0, 0, viewWidth(), viewHeight()});
}

HRESULT STDMETHODCALLTYPE Control::Draw(DWORD aspect, LONG lindex, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                                        LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) noexcept
{
    return entry(
        "IViewObject", "Draw",
        [&] {
            return "aspect=" + std::to_string(aspect) + " lindex=" + std::to_string(lindex) +
                   " bounds=" + (bounds ? rectText(reinterpret_cast<const RECT*>(bounds)) : std::string("null"));
        },
        [&]() -> HRESULT {
            if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_OPAQUE && aspect != DVASPECT_TRANSPARENT)
                return DV_E_DVASPECT;
            if (lindex != -1)
                return DV_E_LINDEX;
            if (!dc)
                return E_INVALIDARG;
            RECT target{};
            if (inPlaceActive_) {
                // In place, the control sits where SetObjectRects put it; the
                // bounds only say which part the container wants.
                target = pos_;
            } else {
                if (!bounds)
                    return E_INVALIDARG;
                target = {bounds->left, bounds->top, bounds->right, bounds->bottom};
                int w = target.right - target.left, h = target.bottom - target.top;
                if (w <= 0 || h <= 0)
                    return S_OK;
                if (w != viewWidth() || h != viewHeight()) {
                    EngineScope scope(*this);
                    resizeView(w, h);
                }
            }
            RECT box{};
            int kind = GetClipBox(dc, &box);
            RECT dirty = target;
            if (kind == SIMPLEREGION || kind == COMPLEXREGION)
                IntersectRect(&dirty, &dirty, &box);
            if (IsRectEmpty(&dirty))
                return S_OK;
            const bool outer = !drawing_;
            drawing_ = true;
            struct Restore {
                bool& flag;
                bool value;
                ~Restore() { flag = value; }
            } restore{drawing_, !outer};
            EngineScope scope(*this);
            paint(dc, target.left, target.top, &dirty, underlayColour());
            return S_OK;
        });
}

HRESULT STDMETHODCALLTYPE Control::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) noexcept
{
    return entry("IViewObject", "GetColorSet", none, [&]() -> HRESULT {
        if (colors)
            *colors = nullptr;
        return S_FALSE;
    });
}

HRESULT STDMETHODCALLTYPE Control::Freeze(DWORD, LONG, void*, DWORD*) noexcept
{
    return entry("IViewObject", "Freeze", none, [] { return E_NOTIMPL; });
}

HRESULT STDMETHODCALLTYPE Control::Unfreeze(DWORD) noexcept
{
    return entry("IViewObject", "Unfreeze", none, [] { return E_NOTIMPL; });
}

HRESULT STDMETHODCALLTYPE Control::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) noexcept
{
    return entry("IViewObject", "SetAdvise", none, [&]() -> HRESULT {
        viewSink_ = ComPtr<IAdviseSink>(sink);
        viewSinkAspects_ = aspects;
        viewSinkFlags_ = flags;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) noexcept
{
    return entry("IViewObject", "GetAdvise", none, [&]() -> HRESULT {
        if (aspects)
            *aspects = viewSinkAspects_;
        if (flags)
            *flags = viewSinkFlags_;
        if (sink) {
            *sink = viewSink_.get();
            if (*sink)
                (*sink)->AddRef();
        }
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) noexcept
{
    return entry("IViewObject2", "GetExtent", none, [&]() -> HRESULT {
        if (!size)
            return E_POINTER;
        if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_OPAQUE && aspect != DVASPECT_TRANSPARENT)
            return DV_E_DVASPECT;
        *size = extent_;
        return S_OK;
    });
}

// ---- IPersistStreamInit ---------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE Control::GetClassID(CLSID* clsid) noexcept
{
    return entry("IPersist", "GetClassID", none, [&]() -> HRESULT {
        if (!clsid)
            return E_POINTER;
        *clsid = CLSID_kvFlashPlayer;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::IsDirty() noexcept
{
    return entry("IPersistStreamInit", "IsDirty", none, [&] { return dirtyState_ ? S_OK : S_FALSE; });
}

HRESULT STDMETHODCALLTYPE Control::Load(LPSTREAM stream) noexcept
{
    return entry("IPersistStreamInit", "Load", none, [&]() -> HRESULT {
        if (!stream)
            return E_POINTER;
        // Read no more than the largest valid state; decoding checks the rest.
        std::vector<uint8_t> bytes;
        uint8_t chunk[4096];
        while (bytes.size() < kMaxEncodedBytes) {
            ULONG got = 0;
            ULONG want = static_cast<ULONG>(std::min(sizeof chunk, kMaxEncodedBytes - bytes.size()));
            HRESULT hr = stream->Read(chunk, want, &got);
            if (FAILED(hr))
                return hr;
            bytes.insert(bytes.end(), chunk, chunk + std::min(got, want));
            if (got < want)
                break;
        }
        auto decoded = decode(bytes);
        if (!decoded.ok) {
            callLog().note("saved state refused: " + decoded.error);
            return E_FAIL;
        }
        // Stored values replace the defaults; the stream stays positioned
        // right after the state for whatever the container keeps behind it.
        LARGE_INTEGER back{};
        back.QuadPart = -static_cast<LONGLONG>(bytes.size() - decoded.used);
        stream->Seek(back, STREAM_SEEK_CUR, nullptr);
        for (auto& [id, value] : decoded.store.values)
            props_.values[id] = value;
        initialized_ = true;
        dirtyState_ = false;
        applyWindowMode();
        std::string movie = props_.text(dispid::kMovie);
        if (!movie.empty())
            return loadMovieUrl(movie);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::Save(LPSTREAM stream, BOOL clearDirty) noexcept
{
    return entry("IPersistStreamInit", "Save", none, [&]() -> HRESULT {
        if (!stream)
            return E_POINTER;
        auto bytes = encode(props_);
        ULONG written = 0;
        HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
        if (FAILED(hr))
            return hr;
        if (written != bytes.size())
            return STG_E_MEDIUMFULL;
        if (clearDirty)
            dirtyState_ = false;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::GetSizeMax(ULARGE_INTEGER* size) noexcept
{
    return entry("IPersistStreamInit", "GetSizeMax", none, [&]() -> HRESULT {
        if (!size)
            return E_POINTER;
        size->QuadPart = encode(props_).size();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::InitNew() noexcept
{
    return entry("IPersistStreamInit", "InitNew", none, [&]() -> HRESULT {
        // A container that reconnects a control calls this again: the
        // control keeps what it has.
        initialized_ = true;
        return S_OK;
    });
}

// ---- IOleControl and ambient properties ---------------------------------------------------

HRESULT STDMETHODCALLTYPE Control::GetControlInfo(CONTROLINFO* info) noexcept
{
    return entry("IOleControl", "GetControlInfo", none, [&]() -> HRESULT {
        if (!info)
            return E_POINTER;
        if (info->cb < sizeof(CONTROLINFO))
            return E_INVALIDARG;
        info->hAccel = nullptr;
        info->cAccel = 0;
        info->dwFlags = 0;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::OnMnemonic(MSG*) noexcept
{
    return entry("IOleControl", "OnMnemonic", none, [] { return E_NOTIMPL; });
}

HRESULT STDMETHODCALLTYPE Control::OnAmbientPropertyChange(DISPID id) noexcept
{
    return entry("IOleControl", "OnAmbientPropertyChange", [&] { return "dispid=" + std::to_string(id); },
                 [&]() -> HRESULT {
                     if (id == DISPID_UNKNOWN || id == DISPID_AMBIENT_USERMODE)
                         readAmbients();
                     return S_OK;
                 });
}

void Control::readAmbients()
{
    auto ambient = site_.query<IDispatch>(IID_IDispatch);
    if (!ambient)
        return;
    VARIANT v;
    VariantInit(&v);
    DISPPARAMS none{};
    HRESULT hr = ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr);
    if (SUCCEEDED(hr) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BOOL)))
        userMode_ = v.boolVal != VARIANT_FALSE;
    made("ambient USERMODE" + std::string(SUCCEEDED(hr) ? (userMode_ ? " true" : " false") : ""), hr);
    VariantClear(&v);
}

HRESULT STDMETHODCALLTYPE Control::FreezeEvents(BOOL freeze) noexcept
{
    return entry("IOleControl", "FreezeEvents", [&] { return std::string(freeze ? "true" : "false"); }, [&]() -> HRESULT {
        frozenEvents_ = std::max(0, frozenEvents_ + (freeze ? 1 : -1));
        return S_OK;
    });
}

// ---- IConnectionPointContainer and IProvideClassInfo2 ------------------------------------------

HRESULT STDMETHODCALLTYPE Control::EnumConnectionPoints(IEnumConnectionPoints** e) noexcept
{
    return entry("IConnectionPointContainer", "EnumConnectionPoints", none, [&]() -> HRESULT {
        if (!e)
            return E_POINTER;
        return createConnectionPointEnum(identity(), {&events_, &propertyNotify_}, e);
    });
}

HRESULT STDMETHODCALLTYPE Control::FindConnectionPoint(REFIID riid, IConnectionPoint** cp) noexcept
{
    return entry("IConnectionPointContainer", "FindConnectionPoint", [&] { return guidText(riid); }, [&]() -> HRESULT {
        if (!cp)
            return E_POINTER;
        *cp = nullptr;
        if (IsEqualIID(riid, DIID__IkvFlashPlayerEvents))
            *cp = &events_;
        else if (IsEqualIID(riid, IID_IPropertyNotifySink))
            *cp = &propertyNotify_;
        else
            return CONNECT_E_NOCONNECTION;
        (*cp)->AddRef();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE Control::GetClassInfo(ITypeInfo** ti) noexcept
{
    return entry("IProvideClassInfo", "GetClassInfo", none, [&]() -> HRESULT {
        if (!ti)
            return E_POINTER;
        *ti = nullptr;
        ComPtr<ITypeLib> lib;
        HRESULT hr = loadOwnTypeLib(lib.put());
        if (FAILED(hr))
            return hr;
        return lib->GetTypeInfoOfGuid(CLSID_kvFlashPlayer, ti);
    });
}

HRESULT STDMETHODCALLTYPE Control::GetGUID(DWORD kind, GUID* guid) noexcept
{
    return entry("IProvideClassInfo2", "GetGUID", none, [&]() -> HRESULT {
        if (!guid)
            return E_POINTER;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
            *guid = GUID_NULL;
            return E_INVALIDARG;
        }
        *guid = DIID__IkvFlashPlayerEvents;
        return S_OK;
    });
}

// ---- events ---------------------------------------------------------------------------

void Control::fireEvent(DISPID id, std::vector<std::wstring> args, std::vector<LONG> numbers)
{
    if (frozenEvents_ > 0) {
        callLog().note("event " + std::to_string(id) + " dropped: events are frozen");
        return;
    }
    // Arguments travel last-first.
    std::vector<VARIANT> argv;
    for (auto it = numbers.rbegin(); it != numbers.rend(); ++it) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = *it;
        argv.push_back(v);
    }
    std::vector<Bstr> strings;
    strings.reserve(args.size());
    for (auto& a : args)
        strings.emplace_back(a);
    for (auto it = strings.rbegin(); it != strings.rend(); ++it) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = it->get();
        argv.push_back(v);
    }
    DISPPARAMS params{argv.data(), nullptr, static_cast<UINT>(argv.size()), 0};
    ComPtr<IUnknown> self(identity());
    for (auto& sink : events_.sinks()) {
        auto disp = static_cast<IDispatch*>(sink.get());
        HRESULT hr = disp->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        if (callLog().enabled()) {
            std::string line = "_IkvFlashPlayerEvents.Invoke " + std::to_string(id);
            for (auto& a : args)
                line += " " + refplugin::quoted(utf8(a));
            for (LONG n : numbers)
                line += " " + std::to_string(n);
            made(line, hr);
        }
    }
}

void Control::notifyChanged(DISPID id)
{
    dirtyState_ = true;
    for (auto& sink : propertyNotify_.sinks()) {
        HRESULT hr = static_cast<IPropertyNotifySink*>(sink.get())->OnChanged(id);
        made("IPropertyNotifySink.OnChanged " + std::to_string(id), hr);
    }
}

// ---- connection points ---------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ConnectionPoint::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint))
        return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE ConnectionPoint::AddRef() noexcept { return owner_.AddRef(); }
ULONG STDMETHODCALLTYPE ConnectionPoint::Release() noexcept { return owner_.Release(); }

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionInterface(IID* iid) noexcept
{
    if (!iid)
        return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** cpc) noexcept
{
    if (!cpc)
        return E_POINTER;
    *cpc = static_cast<IConnectionPointContainer*>(&owner_);
    (*cpc)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) noexcept
{
    return guarded([&]() -> HRESULT {
        callLog().received(std::string(name_) + " connection point.Advise");
        if (HRESULT f = owner_.injected("Advise"); f != S_OK)
            return f;
        if (!sink || !cookie)
            return E_POINTER;
        *cookie = 0;
        // Success with no cookie and no connection.
        if (owner_.answersNothing("Advise"))
            return S_OK;
        ComPtr<IUnknown> typed;
        sink->QueryInterface(iid_, typed.putVoid());
        // An event sink may answer only IDispatch for the event interface.
        if (!typed && IsEqualIID(iid_, DIID__IkvFlashPlayerEvents))
            sink->QueryInterface(IID_IDispatch, typed.putVoid());
        if (!typed)
            return CONNECT_E_CANNOTCONNECT;
        *cookie = nextCookie_++;
        sinks_.emplace_back(*cookie, std::move(typed));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Unadvise(DWORD cookie) noexcept
{
    return guarded([&]() -> HRESULT {
        callLog().received(std::string(name_) + " connection point.Unadvise");
        if (HRESULT f = owner_.injected("Unadvise"); f != S_OK)
            return f;
        auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](auto& s) { return s.first == cookie; });
        if (it == sinks_.end())
            return CONNECT_E_NOCONNECTION;
        auto held = std::move(it->second);  // released after the list is consistent
        sinks_.erase(it);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::EnumConnections(IEnumConnections** e) noexcept
{
    return guarded([&]() -> HRESULT {
        if (!e)
            return E_POINTER;
        std::vector<CONNECTDATA> items;
        for (auto& [cookie, sink] : sinks_)
            items.push_back(CONNECTDATA{sink.get(), cookie});
        return createConnectionsEnum(items, e);
    });
}

std::vector<ComPtr<IUnknown>> ConnectionPoint::sinks() const
{
    std::vector<ComPtr<IUnknown>> out;
    for (auto& s : sinks_)
        out.push_back(s.second);
    return out;
}

}  // namespace refcontrol
