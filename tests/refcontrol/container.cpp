#include "container.h"

#include "host_config.h"

#include <algorithm>
#include <cstring>

namespace controltest {
namespace {

const wchar_t kConfigKey[] = L"Software\\KorvelRef\\Control";

std::vector<uint8_t> concat(const std::vector<uint8_t>& a) { return a; }

// IMoniker with everything but BindToStorage refused: what a bind host hands out.
class Moniker final : public IMoniker {
public:
    Moniker(Container& c, std::wstring url) : c_(c), url_(std::move(url)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMoniker) || IsEqualIID(riid, IID_IPersist) ||
            IsEqualIID(riid, IID_IPersistStream)) {
            *ppv = static_cast<IMoniker*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx* ctx, IMoniker*, REFIID, void** ppv) override;
    HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, BOOL, IMoniker** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsEqual(IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Hash(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Inverse(IMoniker** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD*) override { return E_NOTIMPL; }

private:
    ~Moniker() = default;
    Container& c_;
    std::wstring url_;
    ULONG refs_ = 1;
};

// Delivers `bytes` to `cb` as the package's bind host does: a memory stream,
// one or several notifications, then the end.
void deliverTo(IBindStatusCallback* cb, const std::vector<uint8_t>& bytes, bool inPieces)
{
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    cb->OnStartBinding(0, nullptr);
    cb->OnProgress(100, 100, BINDSTATUS_ENDDOWNLOADDATA, L"");
    size_t pieces = inPieces ? 3 : 1;
    size_t sent = 0;
    ULARGE_INTEGER readPos{};
    for (size_t i = 0; i < pieces; ++i) {
        size_t end = i + 1 == pieces ? bytes.size() : bytes.size() * (i + 1) / pieces;
        LARGE_INTEGER zero{};
        stream->Seek(zero, STREAM_SEEK_END, nullptr);
        ULONG written = 0;
        if (end > sent)
            stream->Write(bytes.data() + sent, static_cast<ULONG>(end - sent), &written);
        sent = end;
        LARGE_INTEGER back{};
        back.QuadPart = static_cast<LONGLONG>(readPos.QuadPart);
        stream->Seek(back, STREAM_SEEK_SET, nullptr);
        STGMEDIUM medium{};
        medium.tymed = TYMED_ISTREAM;
        medium.pstm = stream;
        DWORD flags = (i == 0 ? BSCF_FIRSTDATANOTIFICATION : BSCF_INTERMEDIATEDATANOTIFICATION) |
                      (i + 1 == pieces ? BSCF_LASTDATANOTIFICATION : 0);
        cb->OnDataAvailable(flags, static_cast<DWORD>(sent), nullptr, &medium);
        stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &readPos);
    }
    cb->OnStopBinding(S_OK, L"");
    stream->Release();
}

class EventSink final : public IDispatch {
public:
    explicit EventSink(Container& c) : c_(c) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, DIID__IkvFlashPlayerEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ti) override
    {
        *ti = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        EventRecord r{id, {}, {}};
        for (UINT i = p ? p->cArgs : 0; i-- > 0;) {  // last-first
            const VARIANT& v = p->rgvarg[i];
            if (v.vt == VT_BSTR)
                r.strings.push_back(bstrText(v.bstrVal));
            else if (v.vt == VT_I4)
                r.numbers.push_back(v.lVal);
        }
        c_.events.push_back(r);
        if (id == 197 && c_.onFlashCall && !r.strings.empty())
            c_.onFlashCall(r.strings[0]);
        if (id == 150 && c_.onFSCommand && r.strings.size() == 2)
            c_.onFSCommand(r.strings[0], r.strings[1]);
        return S_OK;
    }
    ULONG refs = 1;

private:
    Container& c_;
};

}  // namespace

struct Container::Site final : public IOleClientSite,
                                public IOleInPlaceSiteWindowless,
                                public IOleInPlaceFrame,
                                public IServiceProvider,
                                public IBindHost,
                                public IDispatch,
                                public IPropertyNotifySink {
    explicit Site(Container& c) : c(c), sink(c) {}
    Container& c;
    ULONG refs = 1;
    EventSink sink;
    std::map<std::wstring, std::pair<std::vector<uint8_t>, Delivery>> served;
    std::vector<std::pair<Ptr<IBindStatusCallback>, std::vector<uint8_t>>> pending;
    std::vector<DISPID> changed;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite))
            *ppv = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite) ||
                 IsEqualIID(riid, IID_IOleInPlaceSiteEx) || IsEqualIID(riid, IID_IOleInPlaceSiteWindowless))
            *ppv = static_cast<IOleInPlaceSiteWindowless*>(this);
        else if (IsEqualIID(riid, IID_IOleInPlaceUIWindow) || IsEqualIID(riid, IID_IOleInPlaceFrame))
            *ppv = static_cast<IOleInPlaceFrame*>(this);
        else if (IsEqualIID(riid, IID_IServiceProvider))
            *ppv = static_cast<IServiceProvider*>(this);
        else if (IsEqualIID(riid, IID_IBindHost))
            *ppv = static_cast<IBindHost*>(this);
        else if (IsEqualIID(riid, IID_IDispatch))
            *ppv = static_cast<IDispatch*>(this);
        else if (IsEqualIID(riid, IID_IPropertyNotifySink))
            *ppv = static_cast<IPropertyNotifySink*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** mk) override
    {
        *mk = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** oc) override
    {
        *oc = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return S_OK; }

    // IOleWindow (site and frame)
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override
    {
        *hwnd = c.siteWindow;
        return c.siteWindow ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return S_OK; }

    // IOleInPlaceSite / Ex / Windowless
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                               LPRECT clip, LPOLEINPLACEFRAMEINFO info) override
    {
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *doc = nullptr;
        SetRect(pos, 0, 0, 0, 0);
        SetRect(clip, 0, 0, 32767, 32767);
        info->fMDIApp = FALSE;
        info->hwndFrame = nullptr;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override
    {
        c.deactivated = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivateEx(BOOL*, DWORD flags) override
    {
        c.windowlessActivated = (flags & ACTIVATE_WINDOWLESS) != 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivateEx(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CanWindowlessActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCapture() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetCapture(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetFocus() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetFocus(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetDC(LPCRECT, DWORD, HDC* dc) override
    {
        *dc = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReleaseDC(HDC) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InvalidateRect(LPCRECT rect, BOOL) override
    {
        RECT r = rect ? *rect : RECT{-1, -1, -1, -1};
        c.invalidations.push_back(r);
        if (c.onInvalidate)
            c.onInvalidate(r);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InvalidateRgn(HRGN, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ScrollRect(INT, INT, LPCRECT, LPCRECT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AdjustRect(LPRECT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) override { return S_OK; }

    // IOleInPlaceUIWindow / IOleInPlaceFrame
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IServiceProvider: every service is one of the site's interfaces.
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID, REFIID riid, void** ppv) override { return QueryInterface(riid, ppv); }

    // IBindHost
    HRESULT STDMETHODCALLTYPE CreateMoniker(LPOLESTR name, IBindCtx*, IMoniker** mk, DWORD) override
    {
        *mk = nullptr;
        c.monikerNames.push_back(name ? name : L"");
        if (FAILED(c.createMonikerAnswer))
            return c.createMonikerAnswer;
        *mk = new Moniker(c, name ? name : L"");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MonikerBindToStorage(IMoniker*, IBindCtx*, IBindStatusCallback*, REFIID, void**) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MonikerBindToObject(IMoniker*, IBindCtx*, IBindStatusCallback*, REFIID, void**) override
    {
        return S_OK;
    }

    // IDispatch: the ambient properties, read only.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ti) override
    {
        *ti = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override
    {
        if (!(flags & DISPATCH_PROPERTYGET) || !result)
            return DISP_E_MEMBERNOTFOUND;
        if (id != DISPID_AMBIENT_USERMODE)
            return DISP_E_MEMBERNOTFOUND;
        result->vt = VT_BOOL;
        result->boolVal = VARIANT_TRUE;
        return S_OK;
    }

    // IPropertyNotifySink
    HRESULT STDMETHODCALLTYPE OnChanged(DISPID id) override
    {
        changed.push_back(id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID) override { return S_OK; }
};

HRESULT Moniker::BindToStorage(IBindCtx* ctx, IMoniker*, REFIID, void** ppv)
{
    if (ppv)
        *ppv = nullptr;
    if (!ctx)
        return E_FAIL;
    Ptr<IUnknown> holder;
    if (FAILED(ctx->GetObjectParam(const_cast<LPOLESTR>(L"_BSCB_Holder_"), holder.put())) || !holder)
        return E_FAIL;
    Ptr<IBindStatusCallback> cb;
    holder->QueryInterface(IID_IBindStatusCallback, cb.putVoid());
    c_.bscbHolderWasOurs = static_cast<bool>(cb);
    if (!cb)
        return E_FAIL;
    auto& served = c_.site()->served;
    auto it = served.find(url_);
    Delivery how = it == served.end() ? Delivery::Fail : it->second.second;
    switch (how) {
    case Delivery::AtOnce:
    case Delivery::InPieces:
        deliverTo(cb.get(), it->second.first, how == Delivery::InPieces);
        return S_OK;
    case Delivery::Later:
        c_.site()->pending.emplace_back(cb, concat(it->second.first));
        return S_OK;
    case Delivery::Fail:
        cb->OnStartBinding(0, nullptr);
        cb->OnStopBinding(INET_E_RESOURCE_NOT_FOUND, L"not found");
        return S_OK;
    }
    return E_FAIL;
}

// ---- Surface ----------------------------------------------------------------------------------

Surface::Surface(int width, int height, bool dib) : width_(width), height_(height)
{
    dc_ = CreateCompatibleDC(nullptr);
    if (dib) {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = width;
        bi.bmiHeader.biHeight = -height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<uint32_t*>(bits);
    } else {
        HDC screen = ::GetDC(nullptr);
        bitmap_ = CreateCompatibleBitmap(screen, width, height);
        ::ReleaseDC(nullptr, screen);
    }
    old_ = SelectObject(dc_, bitmap_);
}

Surface::~Surface()
{
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
}

void Surface::fill(uint32_t argb)
{
    if (bits_) {
        GdiFlush();
        std::fill_n(bits_, size_t(width_) * height_, argb);
        return;
    }
    HBRUSH b = CreateSolidBrush(RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF));
    RECT r{0, 0, width_, height_};
    FillRect(dc_, &r, b);
    DeleteObject(b);
}

uint32_t Surface::pixel(int x, int y) const
{
    GdiFlush();
    if (bits_)
        return bits_[size_t(y) * width_ + x];
    COLORREF c = GetPixel(dc_, x, y);
    return 0xFF000000u | (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

// ---- Container -------------------------------------------------------------------------------

Container::Container() : site_(new Site(*this)) {}

Container::~Container()
{
    destroy();
    delete site_;
}

int Container::siteReferences() const { return static_cast<int>(site_->refs) - 1 + static_cast<int>(site_->sink.refs) - 1; }

std::vector<DISPID> Container::changedProperties() const { return site_->changed; }

void Container::serve(const std::wstring& url, std::vector<uint8_t> bytes, Delivery how)
{
    site_->served[url] = {std::move(bytes), how};
}

void Container::deliverPending()
{
    auto pending = std::move(site_->pending);
    site_->pending.clear();
    for (auto& [cb, bytes] : pending)
        deliverTo(cb.get(), bytes, false);
}

HRESULT Container::create()
{
    return CoCreateInstance(CLSID_kvFlashPlayer, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, object_.putVoid());
}

HRESULT Container::createAndActivate(int width, int height, int x, int y)
{
    HRESULT hr = create();
    if (FAILED(hr))
        return hr;
    DWORD misc = 0;
    hr = object_->GetMiscStatus(DVASPECT_CONTENT, &misc);
    if (FAILED(hr))
        return hr;
    IOleClientSite* site = static_cast<IOleClientSite*>(site_);
    bool siteFirst = (misc & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (siteFirst && FAILED(hr = object_->SetClientSite(site)))
        return hr;
    auto persist = query<IPersistStreamInit>(IID_IPersistStreamInit);
    if (!persist)
        return E_NOINTERFACE;
    if (FAILED(hr = persist->InitNew()))
        return hr;
    if (!siteFirst && FAILED(hr = object_->SetClientSite(site)))
        return hr;
    if (FAILED(hr = object_->QueryInterface(IID_IkvFlashPlayer, player_.putVoid())))
        return hr;
    auto points = query<IConnectionPointContainer>(IID_IConnectionPointContainer);
    if (!points)
        return E_NOINTERFACE;
    if (FAILED(hr = points->FindConnectionPoint(DIID__IkvFlashPlayerEvents, eventPoint_.put())) ||
        FAILED(hr = eventPoint_->Advise(static_cast<IDispatch*>(&site_->sink), &eventCookie_)))
        return hr;
    if (FAILED(hr = points->FindConnectionPoint(IID_IPropertyNotifySink, notifyPoint_.put())) ||
        FAILED(hr = notifyPoint_->Advise(static_cast<IPropertyNotifySink*>(site_), &notifyCookie_)))
        return hr;
    if (auto control = query<IOleControl>(IID_IOleControl))
        control->OnAmbientPropertyChange(DISPID_UNKNOWN);
    RECT rect{x, y, x + width, y + height};
    if (FAILED(hr = object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, nullptr, &rect)))
        return hr;
    auto windowless = query<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless);
    if (!windowless)
        return E_NOINTERFACE;
    return windowless->SetObjectRects(&rect, &rect);
}

void Container::destroy()
{
    if (!object_)
        return;
    object_->Close(OLECLOSE_NOSAVE);
    if (eventPoint_)
        eventPoint_->Unadvise(eventCookie_);
    if (notifyPoint_)
        notifyPoint_->Unadvise(notifyCookie_);
    eventPoint_.reset();
    notifyPoint_.reset();
    object_->SetClientSite(nullptr);
    player_.reset();
    object_.reset();
    site_->pending.clear();
}

HRESULT Container::draw(HDC dc, RECT bounds, DWORD aspect)
{
    auto view = query<IViewObject>(IID_IViewObject);
    if (!view)
        return E_NOINTERFACE;
    RECTL b{bounds.left, bounds.top, bounds.right, bounds.bottom};
    return view->Draw(aspect, -1, nullptr, nullptr, nullptr, dc, &b, nullptr, nullptr, 0);
}

HRESULT Container::message(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result)
{
    auto windowless = query<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless);
    if (!windowless)
        return E_NOINTERFACE;
    LRESULT ignored = 0;
    return windowless->OnWindowMessage(msg, wp, lp, result ? result : &ignored);
}

HRESULT Container::loadMovie(const std::wstring& name, std::vector<uint8_t> bytes, Delivery how)
{
    std::wstring url = L"http://movies/" + name;
    serve(url, std::move(bytes), how);
    BSTR b = SysAllocString(url.c_str());
    HRESULT hr = player_->LoadMovie(0, b);
    SysFreeString(b);
    return hr;
}

// ---- seams and settings ------------------------------------------------------------------------

bool Seams::resolve()
{
    HMODULE m = GetModuleHandleW(L"Flash.ocx");
    if (!m)
        return false;
    auto get = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(m, name)); };
    stepFrames = reinterpret_cast<RefControl_StepFramesFunc>(get("RefControl_StepFrames"));
    setManualClock = reinterpret_cast<RefControl_SetManualClockFunc>(get("RefControl_SetManualClock"));
    enableLog = reinterpret_cast<RefControl_EnableLogFunc>(get("RefControl_EnableLog"));
    clearLog = reinterpret_cast<RefControl_ClearLogFunc>(get("RefControl_ClearLog"));
    readLog = reinterpret_cast<RefControl_ReadLogFunc>(get("RefControl_ReadLog"));
    instanceCount = reinterpret_cast<RefControl_InstanceCountFunc>(get("RefControl_InstanceCount"));
    objectCount = reinterpret_cast<RefControl_ObjectCountFunc>(get("RefControl_ObjectCount"));
    return stepFrames && setManualClock && enableLog && clearLog && readLog && instanceCount && objectCount;
}

std::string Seams::log() const
{
    int n = readLog(nullptr, 0);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    readLog(text.data(), n + 1);
    text.resize(static_cast<size_t>(n));
    return text;
}

// Settings are this program's alone: others loading the control meanwhile
// keep its defaults.
void setConfigDword(const wchar_t* name, DWORD value)
{
    RegSetKeyValueW(HKEY_CURRENT_USER, kConfigKey, name, REG_DWORD, &value, sizeof value);
    refhost::claimConfig(kConfigKey);
}

void setConfigString(const wchar_t* name, const wchar_t* value)
{
    RegSetKeyValueW(HKEY_CURRENT_USER, kConfigKey, name, REG_SZ, value,
                    static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    refhost::claimConfig(kConfigKey);
}

void setFailure(const char* method, HRESULT hr)
{
    std::wstring key = std::wstring(kConfigKey) + L"\\Fail";
    std::wstring name(method, method + strlen(method));
    DWORD value = static_cast<DWORD>(hr);
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), REG_DWORD, &value, sizeof value);
    refhost::claimConfig(kConfigKey);
}

void clearConfig() { RegDeleteTreeW(HKEY_CURRENT_USER, kConfigKey); }

std::wstring bstrText(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

std::vector<std::string> lines(const std::string& log, const std::string& prefix)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        std::string line = log.substr(start, end - start);
        if (line.rfind(prefix, 0) == 0)
            out.push_back(line);
        start = end + 1;
    }
    return out;
}

}  // namespace controltest
