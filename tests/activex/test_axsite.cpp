// The ActiveX driver's container side, exercised without a control: what the
// site answers, how URLs the control asks for are served, and a driver whose
// control cannot be created.
#include <gtest/gtest.h>

#include <windows.h>

#include <olectl.h>
#include <urlmon.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/forms.h"
#include "kv_driver_activex.h"
#include "kv_flashstore.h"
#include "kv_package.h"
#include "kv_pendingstreams.h"
#include "kv_urltext.h"

namespace {

class PackageEnvironment : public ::testing::Environment {
public:
    void SetUp() override { KvPackageStart(); }
    void TearDown() override { KvPackageStop(); }
};
[[maybe_unused]] ::testing::Environment* const kEnv = ::testing::AddGlobalTestEnvironment(new PackageEnvironment);

// A driver for a class that is registered nowhere: its control never exists.
class TNoControlDriver : public TkvFlashDriverActiveX {
public:
    void InitControlData() override
    {
        static TkvControlDescription d = [] {
            TkvControlDescription c = ControlDescription;
            c.ClassID = {0x6B1E0A57, 0x3C2D, 0x4E8F, {0x9A, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76}};
            return c;
        }();
        ControlData = &d;
    }
};

std::unique_ptr<TNoControlDriver> NewDriver(int w = 40, int h = 30, std::uint32_t background = 0xFF102030u)
{
    auto d = std::make_unique<TNoControlDriver>();
    d->Construct(w, h, background);
    return d;
}

// Records what a binding delivers.
class TRecordingCallback final : public IBindStatusCallback {
public:
    std::vector<std::string> calls;
    std::string data;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IBindStatusCallback)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override
    {
        calls.push_back("start " + std::to_string(reserved) + (binding ? " binding" : " none"));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG max, ULONG status, LPCWSTR text) override
    {
        calls.push_back("progress " + std::to_string(progress) + "/" + std::to_string(max) + " " +
                        std::to_string(status) + (text ? (*text ? " text" : " empty") : " null"));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT hr, LPCWSTR text) override
    {
        calls.push_back("stop " + std::to_string(hr) + (text ? (*text ? " text" : " empty") : " null"));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override
    {
        calls.push_back("bindinfo");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override
    {
        calls.push_back("data " + std::to_string(flags) + " " + std::to_string(size) + (format ? " format" : ""));
        if (refuseData)
            return E_OUTOFMEMORY;
        if (medium && medium->tymed == TYMED_ISTREAM && medium->pstm) {
            char buf[4096];
            ULONG got = 0;
            while (SUCCEEDED(medium->pstm->Read(buf, sizeof buf, &got)) && got > 0)
                data.append(buf, got);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
    ULONG refs = 1;
    bool refuseData = false;
};

// One URL request the way the control makes it: CreateMoniker, then
// BindToStorage with the callback in the bind context.
HRESULT Request(TkvFlashDriverActiveX& d, const wchar_t* name, TRecordingCallback* callback, HRESULT* created = nullptr)
{
    IServiceProvider* services = nullptr;
    EXPECT_EQ(d.ClientSite()->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services)), S_OK);
    IBindHost* host = nullptr;
    EXPECT_EQ(services->QueryService(IID_IBindHost, IID_IBindHost, reinterpret_cast<void**>(&host)), S_OK);
    services->Release();
    IMoniker* moniker = nullptr;
    const HRESULT c = host->CreateMoniker(const_cast<LPOLESTR>(name), nullptr, &moniker, 0);
    host->Release();
    if (created)
        *created = c;
    if (FAILED(c)) {
        EXPECT_EQ(moniker, nullptr);
        return c;
    }
    IBindCtx* ctx = nullptr;
    EXPECT_EQ(CreateBindCtx(0, &ctx), S_OK);
    if (callback)
        ctx->RegisterObjectParam(const_cast<LPOLESTR>(L"_BSCB_Holder_"), callback);
    void* out = reinterpret_cast<void*>(1);
    const HRESULT hr = moniker->BindToStorage(ctx, nullptr, IID_IStream, &out);
    EXPECT_EQ(out, nullptr) << "the data goes through the callback only";
    ctx->Release();
    moniker->Release();
    return hr;
}

std::string ResourceBytes(const wchar_t* name)
{
    HMODULE m = GetModuleHandleW(nullptr);
    HRSRC r = FindResourceW(m, name, MAKEINTRESOURCEW(10));
    if (!r)
        return {};
    HGLOBAL g = LoadResource(m, r);
    return std::string(static_cast<const char*>(LockResource(g)), SizeofResource(m, r));
}

TEST(ActiveXSite, AnswersExactlyItsInterfacesWithOneIdentity)
{
    auto d = NewDriver();
    IUnknown* unknown = nullptr;
    ASSERT_EQ(d->ClientSite()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    const IID answered[] = {IID_IServiceProvider, IID_IBindHost,      IID_IMoniker,
                            IID_IPropertyNotifySink, IID_IOleInPlaceUIWindow, IID_IDispatch,
                            IID_IOleInPlaceFrame, IID_IOleInPlaceSiteWindowless, IID_IOleInPlaceSite,
                            IID_IOleWindow,       IID_IOleControlSite, IID_IOleClientSite};
    for (const IID& iid : answered) {
        IUnknown* p = nullptr;
        ASSERT_EQ(d->ClientSite()->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK);
        IUnknown* back = nullptr;
        ASSERT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
        EXPECT_EQ(back, unknown) << "every interface leads back to the same object";
        back->Release();
        p->Release();
    }
    const IID refused[] = {IID_IOleInPlaceSiteEx, IID_IOleObject, IID_IOleInPlaceObject, IID_IStream};
    for (const IID& iid : refused) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(d->ClientSite()->QueryInterface(iid, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
    }
    // The counter moves, but never frees the driver.
    const int before = d->RefCount;
    unknown->Release();
    unknown->Release();
    EXPECT_EQ(d->RefCount, before - 2);
    d->ClientSite()->AddRef();
    d->ClientSite()->AddRef();
}

TEST(ActiveXSite, AmbientPropertiesAreReadOnlyAndOnlyThoseOfTheTable)
{
    auto d = NewDriver();
    d->SetName(L"Player1");
    IDispatch* ambient = nullptr;
    ASSERT_EQ(d->ClientSite()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambient)), S_OK);
    auto get = [&](DISPID id, VARIANT& v, WORD flags = DISPATCH_PROPERTYGET) {
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        VariantInit(&v);
        return ambient->Invoke(id, GUID_NULL, 0, flags, &none, &v, nullptr, nullptr);
    };
    VARIANT v;
    for (DISPID id : {-715, -714, -709, -706}) {
        ASSERT_EQ(get(id, v), S_OK) << id;
        EXPECT_EQ(V_VT(&v), VT_BOOL);
        EXPECT_EQ(V_BOOL(&v), VARIANT_TRUE) << id;
    }
    for (DISPID id : {-712, -711, -710}) {
        ASSERT_EQ(get(id, v), S_OK) << id;
        EXPECT_EQ(V_BOOL(&v), VARIANT_FALSE) << id;
    }
    ASSERT_EQ(get(-705, v), S_OK);
    EXPECT_EQ(V_VT(&v), VT_I4);
    EXPECT_EQ(static_cast<LCID>(V_I4(&v)), GetUserDefaultLCID());
    ASSERT_EQ(get(-702, v), S_OK);
    ASSERT_EQ(V_VT(&v), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&v), L"Player1");
    VariantClear(&v);
    for (DISPID id : {-713, -708, -707, -704, -703, -701, 0, 150})
        EXPECT_EQ(get(id, v), DISP_E_MEMBERNOTFOUND) << id;
    EXPECT_EQ(get(-715, v, DISPATCH_METHOD), DISP_E_MEMBERNOTFOUND);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(ambient->Invoke(-715, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    UINT count = 7;
    EXPECT_EQ(ambient->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    ambient->Release();
}

TEST(ActiveXSite, WindowContextAndWindowQueries)
{
    auto d = NewDriver(64, 48);
    IOleInPlaceSiteWindowless* site = nullptr;
    ASSERT_EQ(d->ClientSite()->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&site)), S_OK);
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* doc = reinterpret_cast<IOleInPlaceUIWindow*>(1);
    RECT pos{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = 1234;
    info.fMDIApp = TRUE;
    ASSERT_EQ(site->GetWindowContext(&frame, &doc, &pos, &clip, &info), S_OK);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(doc, nullptr);
    EXPECT_EQ(pos.right, 64);
    EXPECT_EQ(pos.bottom, 48);
    EXPECT_EQ(clip.right, 32767);
    EXPECT_EQ(info.cb, 1234u) << "cb is the caller's";
    EXPECT_FALSE(info.fMDIApp);
    HWND w = reinterpret_cast<HWND>(1);
    EXPECT_EQ(frame->GetWindow(&w), S_OK);
    EXPECT_EQ(w, nullptr);
    // The windowless site names a window only when the driver allowed it for
    // a menu; the plain in-place site never names one.
    w = reinterpret_cast<HWND>(1);
    EXPECT_EQ(site->GetWindow(&w), E_FAIL);
    EXPECT_EQ(w, nullptr);
    IOleInPlaceSite* plain = nullptr;
    ASSERT_EQ(d->ClientSite()->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&plain)), S_OK);
    w = reinterpret_cast<HWND>(1);
    EXPECT_EQ(plain->GetWindow(&w), S_OK);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(plain->CanInPlaceActivate(), S_OK);
    plain->Release();
    // The mouse is the control's from its SetCapture(TRUE) to its
    // SetCapture(FALSE) or its deactivation.
    EXPECT_EQ(site->GetCapture(), S_FALSE);
    EXPECT_EQ(site->SetCapture(TRUE), S_OK);
    EXPECT_EQ(site->GetCapture(), S_OK);
    EXPECT_EQ(site->SetCapture(FALSE), S_OK);
    EXPECT_EQ(site->GetCapture(), S_FALSE);
    EXPECT_EQ(site->SetCapture(TRUE), S_OK);
    EXPECT_EQ(site->OnInPlaceDeactivate(), S_OK);
    EXPECT_EQ(site->GetCapture(), S_FALSE);
    EXPECT_EQ(site->GetFocus(), S_OK);
    HDC dc = nullptr;
    EXPECT_EQ(site->GetDC(nullptr, 0, &dc), S_OK);
    EXPECT_EQ(dc, d->BufferDC);
    frame->Release();
    site->Release();
}

TEST(ActiveXSite, TransformCoordsConvertsBetweenHimetricAndPixels)
{
    auto d = NewDriver();
    IOleControlSite* site = nullptr;
    ASSERT_EQ(d->ClientSite()->QueryInterface(IID_IOleControlSite, reinterpret_cast<void**>(&site)), S_OK);
    HDC screen = GetDC(nullptr);
    const int ppi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    POINTL him{2540, 1270};
    POINTF px{};
    ASSERT_EQ(site->TransformCoords(&him, &px, XFORMCOORDS_HIMETRICTOCONTAINER), S_OK);
    EXPECT_FLOAT_EQ(px.x, static_cast<float>(ppi));
    EXPECT_FLOAT_EQ(px.y, static_cast<float>(MulDiv(1270, ppi, 2540)));
    px = {static_cast<float>(ppi), static_cast<float>(ppi) / 2};
    him = {};
    ASSERT_EQ(site->TransformCoords(&him, &px, XFORMCOORDS_CONTAINERTOHIMETRIC), S_OK);
    EXPECT_EQ(him.x, 2540);
    EXPECT_EQ(him.y, 1270);
    site->Release();
}

TEST(ActiveXBinding, ResourcesStoredMoviesAndStreamsArriveInOnePieceThroughTheCallback)
{
    auto d = NewDriver();
    const std::string res = ResourceBytes(L"RESMOVIE");
    ASSERT_FALSE(res.empty());
    TRecordingCallback cb;
    ASSERT_EQ(Request(*d, L"./resmovie.swf", &cb), S_OK);
    EXPECT_EQ(cb.data, res);
    const std::vector<std::string> expected = {"start 0 none", "progress 100/100 6 empty",
                                               "data 5 " + std::to_string(res.size()), "stop 0 empty"};
    EXPECT_EQ(cb.calls, expected);
    EXPECT_TRUE(d->PendingURL.empty());

    // A stored movie, by the last segment of a longer path, whatever its case.
    auto owner = std::make_unique<TComponent>(nullptr);
    {
        TkvFlashList store(owner.get());
        TkvFlashStream* item = store.Flashs()->Add();
        item->DataStream()->WriteBuffer("stored bytes", 12);
        item->SetFlashStore(L"Intro.swf");
        TRecordingCallback stored;
        ASSERT_EQ(Request(*d, L"http://kvs/sub/INTRO.swf?x=1", &stored), S_OK);
        EXPECT_EQ(stored.data, "stored bytes");
        EXPECT_EQ(item->DataStream()->Size(), 12) << "the item keeps its data";
    }

    // An in-memory copy is served as often as the control asks, while its
    // driver lives; it goes with the driver.
    auto copy = std::make_unique<TMemoryStream>();
    copy->WriteBuffer("", 0);
    const unsigned id = kvpending::Add(std::move(copy), d.get());
    const std::wstring url = L"http://kvs/<stream>" + FormatStreamId(id) + L".swf";
    TRecordingCallback empty;
    ASSERT_EQ(Request(*d, url.c_str(), &empty), S_OK);
    EXPECT_EQ(empty.calls.at(2), "data 5 0") << "an empty stream is delivered with size 0";
    TRecordingCallback again;
    EXPECT_EQ(Request(*d, url.c_str(), &again), S_OK);
    EXPECT_EQ(again.calls, empty.calls);
    d.reset();
    EXPECT_FALSE(kvpending::Contains(id));
}

TEST(ActiveXBinding, LocalFilesAreReadByTheDriverInPiecesWithoutTheDownloadService)
{
    auto d = NewDriver();
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring folder = std::wstring(tmp) + L"kv axsite " + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    auto write = [&](const std::wstring& name, const std::string& bytes) {
        const std::wstring path = folder + L"\\" + name;
        HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(f);
        return path;
    };

    // A small file: one piece, exactly as a stored movie would come.
    const std::wstring small = write(L"small movie.swf", "small bytes");
    TRecordingCallback one;
    ASSERT_EQ(Request(*d, (L"http://kvs/" + small).c_str(), &one), S_OK);
    EXPECT_EQ(one.data, "small bytes");
    const std::vector<std::string> onePiece = {"start 0 none", "progress 100/100 6 empty", "data 5 11",
                                               "stop 0 empty"};
    EXPECT_EQ(one.calls, onePiece);
    // The same file through a file URL with an escaped blank.
    std::wstring url = L"file:///";
    for (wchar_t c : small)
        url += c == L'\\' ? std::wstring(L"/") : c == L' ' ? std::wstring(L"%20") : std::wstring(1, c);
    TRecordingCallback viaUrl;
    ASSERT_EQ(Request(*d, url.c_str(), &viaUrl), S_OK);
    EXPECT_EQ(viaUrl.data, "small bytes");

    // A large file: pieces with running totals, first, intermediate and last.
    std::string big(150000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 23);
    const std::wstring large = write(L"large.swf", big);
    TRecordingCallback pieces;
    ASSERT_EQ(Request(*d, (L"http://kvs/" + large).c_str(), &pieces), S_OK);
    EXPECT_EQ(pieces.data, big);
    const std::vector<std::string> inPieces = {"start 0 none",
                                               "progress 65536/150000 5 empty",
                                               "data 1 65536",
                                               "progress 131072/150000 5 empty",
                                               "data 2 131072",
                                               "progress 150000/150000 6 empty",
                                               "data 4 150000",
                                               "stop 0 empty"};
    EXPECT_EQ(pieces.calls, inPieces);

    // A control that refuses a piece gets no more of them.
    TRecordingCallback refusing;
    refusing.refuseData = true;
    ASSERT_EQ(Request(*d, (L"http://kvs/" + large).c_str(), &refusing), S_OK);
    const std::vector<std::string> stopped = {"start 0 none", "progress 65536/150000 5 empty", "data 1 65536",
                                              "stop " + std::to_string(E_ABORT) + " empty"};
    EXPECT_EQ(refusing.calls, stopped);

    // A file that went away between the two calls fails the binding; so does
    // a local name that matched nothing (the download service is not asked).
    IBindHost* host = nullptr;
    ASSERT_EQ(d->ClientSite()->QueryInterface(IID_IBindHost, reinterpret_cast<void**>(&host)), S_OK);
    IMoniker* moniker = nullptr;
    ASSERT_EQ(host->CreateMoniker(const_cast<LPOLESTR>((L"http://kvs/" + small).c_str()), nullptr, &moniker, 0), S_OK);
    EXPECT_EQ(d->PendingURL.substr(0, 6), L"<file>");
    DeleteFileW(small.c_str());
    IBindCtx* ctx = nullptr;
    CreateBindCtx(0, &ctx);
    TRecordingCallback gone;
    ctx->RegisterObjectParam(const_cast<LPOLESTR>(L"_BSCB_Holder_"), &gone);
    void* out = nullptr;
    EXPECT_EQ(moniker->BindToStorage(ctx, nullptr, IID_IStream, &out), E_FAIL);
    moniker->Release();
    ASSERT_EQ(host->CreateMoniker(const_cast<LPOLESTR>(L"sub/nowhere.xml"), nullptr, &moniker, 0), S_OK);
    EXPECT_EQ(d->PendingURL, L"sub/nowhere.xml");
    EXPECT_EQ(moniker->BindToStorage(ctx, nullptr, IID_IStream, &out), E_FAIL);
    EXPECT_TRUE(gone.calls.empty());
    ctx->Release();
    moniker->Release();
    host->Release();
    DeleteFileW(large.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST(ActiveXBinding, TheBindHostsOwnBindingGoesThroughTheGivenMoniker)
{
    auto d = NewDriver();
    IBindHost* host = nullptr;
    ASSERT_EQ(d->ClientSite()->QueryInterface(IID_IBindHost, reinterpret_cast<void**>(&host)), S_OK);
    IMoniker* moniker = nullptr;
    ASSERT_EQ(host->CreateMoniker(const_cast<LPOLESTR>(L"./resmovie.swf"), nullptr, &moniker, 0), S_OK);

    // Storage: the moniker delivers to the callback given, through a bind
    // context of the host's own; nothing comes back in the out parameter.
    TRecordingCallback cb;
    void* out = reinterpret_cast<void*>(1);
    ASSERT_EQ(host->MonikerBindToStorage(moniker, nullptr, &cb, IID_IStream, &out), S_OK);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(cb.data, ResourceBytes(L"RESMOVIE"));

    // In the caller's bind context, the callback given is used for this
    // binding only; what the context held before is back afterwards.
    ASSERT_EQ(host->CreateMoniker(const_cast<LPOLESTR>(L"./resmovie.swf"), nullptr, &moniker, 0), S_OK);
    moniker->Release();  // the same object: one reference is enough
    IBindCtx* ctx = nullptr;
    CreateBindCtx(0, &ctx);
    TRecordingCallback before, given;
    ctx->RegisterObjectParam(const_cast<LPOLESTR>(L"_BSCB_Holder_"), &before);
    out = reinterpret_cast<void*>(1);
    ASSERT_EQ(host->MonikerBindToStorage(moniker, ctx, &given, IID_IStream, &out), S_OK);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(given.data, cb.data);
    EXPECT_TRUE(before.calls.empty());
    IUnknown* held = nullptr;
    ASSERT_EQ(ctx->GetObjectParam(const_cast<LPOLESTR>(L"_BSCB_Holder_"), &held), S_OK);
    EXPECT_EQ(held, static_cast<IUnknown*>(&before));
    held->Release();
    ctx->Release();

    // Object: the driver's moniker binds to no object, and says so.
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(host->MonikerBindToObject(moniker, nullptr, &cb, IID_IUnknown, &out), E_NOTIMPL);
    EXPECT_EQ(out, nullptr);
    // No moniker, no out pointer.
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(host->MonikerBindToStorage(nullptr, nullptr, &cb, IID_IStream, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(host->MonikerBindToObject(nullptr, nullptr, &cb, IID_IUnknown, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(host->MonikerBindToStorage(moniker, nullptr, &cb, IID_IStream, nullptr), E_POINTER);
    moniker->Release();
    host->Release();
}

TEST(ActiveXSite, InvalidateRgnRepaintsTheBoundingBoxAsInvalidateRectDoes)
{
    auto d = NewDriver(40, 30);
    std::vector<TRect> painted;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) { painted.push_back(r); });
    IOleInPlaceSiteWindowless* site = nullptr;
    ASSERT_EQ(d->ClientSite()->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&site)), S_OK);

    // Two rectangles: their bounding box, cut to the buffer's right and
    // bottom edges like a rectangle.
    HRGN region = CreateRectRgn(5, 6, 10, 12);
    HRGN second = CreateRectRgn(20, 8, 70, 20);
    CombineRgn(region, region, second, RGN_OR);
    ASSERT_EQ(site->InvalidateRgn(region, FALSE), S_OK);
    RECT box{5, 6, 70, 20};
    ASSERT_EQ(site->InvalidateRect(&box, FALSE), S_OK);
    ASSERT_EQ(painted.size(), 2u);
    EXPECT_EQ(painted[0], TRect(5, 6, 40, 20));
    EXPECT_EQ(painted[1], painted[0]);
    // No region: the whole buffer.
    ASSERT_EQ(site->InvalidateRgn(nullptr, TRUE), S_OK);
    ASSERT_EQ(painted.size(), 3u);
    EXPECT_EQ(painted[2], TRect(0, 0, 40, 30));
    DeleteObject(second);
    DeleteObject(region);

    // Default handling of a message: there is none, and the result says so.
    LRESULT result = 77;
    EXPECT_EQ(site->OnDefWindowMessage(WM_CONTEXTMENU, 0, 0, &result), S_FALSE);
    EXPECT_EQ(result, 0);
    site->Release();
}

// The buffer's DC lent to the control comes back with what the control drew
// in it: only then is that area repainted and reported, cut to the buffer,
// once for every rectangle asked for while it was out.
TEST(ActiveXSite, TheAreaDrawnThroughALentDCIsRepaintedWhenItComesBack)
{
    auto d = NewDriver(40, 30);
    std::vector<TRect> painted;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) { painted.push_back(r); });
    IOleInPlaceSiteWindowless* site = nullptr;
    ASSERT_EQ(d->ClientSite()->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&site)), S_OK);

    HDC dc = nullptr;
    const RECT first{-5, 2, 10, 8}, second{30, 20, 90, 90};
    ASSERT_EQ(site->GetDC(&first, OLEDC_PAINTBKGND, &dc), S_OK);
    EXPECT_EQ(dc, d->BufferDC);
    ASSERT_EQ(site->GetDC(&second, 0, &dc), S_OK);
    EXPECT_TRUE(painted.empty()) << "nothing is reported while the control draws";
    ASSERT_EQ(site->ReleaseDC(dc), S_OK);
    ASSERT_EQ(painted.size(), 1u);
    EXPECT_EQ(painted[0], TRect(0, 2, 40, 30));
    ASSERT_EQ(site->ReleaseDC(dc), S_OK);
    EXPECT_EQ(painted.size(), 1u) << "a DC given back twice is repainted once";

    // A rectangle outside the buffer draws nothing there: nothing to repaint.
    const RECT outside{50, 40, 60, 50};
    ASSERT_EQ(site->GetDC(&outside, 0, &dc), S_OK);
    ASSERT_EQ(site->ReleaseDC(dc), S_OK);
    EXPECT_EQ(painted.size(), 1u);
    site->Release();
}

TEST(ActiveXBinding, RefusedAndFailingRequests)
{
    auto d = NewDriver();
    HRESULT created = S_OK;
    // No marker: the control resolves the name itself.
    EXPECT_EQ(Request(*d, L"https://example.org/page", nullptr, &created), E_NOTIMPL);
    EXPECT_EQ(created, E_NOTIMPL);
    // No callback in the bind context.
    EXPECT_EQ(Request(*d, L"./resmovie.swf", nullptr), E_FAIL);
    // A stored movie that went away between the two calls.
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* store = new TkvFlashList(owner.get());
    store->Flashs()->Add()->SetFlashStore(L"gone.swf");
    IBindHost* host = nullptr;
    ASSERT_EQ(d->ClientSite()->QueryInterface(IID_IBindHost, reinterpret_cast<void**>(&host)), S_OK);
    IMoniker* moniker = nullptr;
    ASSERT_EQ(host->CreateMoniker(const_cast<LPOLESTR>(L"gone.swf"), nullptr, &moniker, 0), S_OK);
    EXPECT_EQ(d->PendingURL, L"<list>gone.swf");
    owner.reset();
    IBindCtx* ctx = nullptr;
    CreateBindCtx(0, &ctx);
    TRecordingCallback cb;
    ctx->RegisterObjectParam(const_cast<LPOLESTR>(L"_BSCB_Holder_"), &cb);
    void* out = nullptr;
    EXPECT_EQ(moniker->BindToStorage(ctx, nullptr, IID_IStream, &out), E_FAIL);
    EXPECT_TRUE(cb.calls.empty());
    // A stream identifier that names no copy is never read as an address.
    ASSERT_EQ(host->CreateMoniker(const_cast<LPOLESTR>(L"http://kvs/<stream>00401000.swf"), nullptr, &moniker, 0),
              S_OK);
    EXPECT_EQ(moniker->BindToStorage(ctx, nullptr, IID_IStream, &out), E_FAIL);
    // The moniker's other methods answer without doing anything.
    IMoniker* reduced = reinterpret_cast<IMoniker*>(1);
    EXPECT_EQ(moniker->Reduce(ctx, 0, nullptr, &reduced), E_NOTIMPL);
    EXPECT_EQ(reduced, nullptr);
    EXPECT_EQ(moniker->IsEqual(nullptr), E_NOTIMPL);
    ctx->Release();
    moniker->Release();
    moniker->Release();
    host->Release();
}

TEST(ActiveXDriver, WithoutAControlEveryOperationIsANoOp)
{
    auto d = NewDriver(20, 10);
    EXPECT_TRUE(d->NoControl);
    EXPECT_FALSE(d->GetIsFlashAvailable());
    EXPECT_EQ(d->OleObject, nullptr);
    int paints = 0;
    d->OnPaint = TkvPaintEvent([&](TObject* sender, const TRect&) {
        EXPECT_EQ(sender, d.get());
        ++paints;
    });
    d->LoadMovie(L"movie.swf");
    TMemoryStream s;
    s.WriteBuffer("FLV", 3);
    d->LoadMovieFromStream(&s);
    EXPECT_EQ(kvpending::Count(), 0) << "nothing is kept for a control that will never ask";
    d->Play();
    d->StopPlay();
    d->SetLoop(true);
    d->SetCurrentFrame(3);
    d->SetVariable(L"a", L"b");
    d->SetReturnValue(L"<string>x</string>");
    EXPECT_FALSE(d->GetLoop());
    EXPECT_FALSE(d->GetIsPlaying());
    EXPECT_EQ(d->GetCurrentFrame(), 0);
    EXPECT_EQ(d->GetTotalFrames(), 0);
    EXPECT_EQ(d->GetVariable(L"a"), L"");
    EXPECT_EQ(d->CallFunction(L"<invoke name=\"f\"/>"), L"");
    std::uint16_t key = 'A';
    d->KeyDown(key, {});
    EXPECT_EQ(key, 'A') << "nobody took the key";
    d->MouseDown(mbLeft, {}, 1, 1);
    VARIANT v;
    VariantInit(&v);
    d->GetProperty(0x85, v);
    EXPECT_EQ(V_VT(&v), VT_EMPTY);
    d->SetWideStringProp(0x85, L"Opaque");
    EXPECT_EQ(d->CurrentMovie, L"");
    // A repaint draws nothing but still reports the rectangle.
    static_cast<std::uint32_t*>(d->Bits)[0] = 0xFF102030u;
    d->ForceUpdate();
    EXPECT_EQ(paints, 1);
    EXPECT_EQ(static_cast<std::uint32_t*>(d->Bits)[0], 0xFF102030u) << "the background is untouched";
}

TEST(ActiveXDriver, DescriptionCountsItsLiveDrivers)
{
    const int before = ControlDescription.InstanceCount;
    {
        auto a = std::make_unique<TkvFlashDriverActiveX>();
        a->Construct(4, 4, 0xFF000000u);
        auto b = std::make_unique<TkvFlashDriverActiveX>();
        b->Construct(4, 4, 0xFF000000u);
        EXPECT_EQ(ControlDescription.InstanceCount, before + 2);
        EXPECT_EQ(a->ControlData, b->ControlData);
    }
    EXPECT_EQ(ControlDescription.InstanceCount, before);
    // Where the control exists, both went with their drivers and left
    // nothing of their module alive.
    if (HMODULE m = GetModuleHandleW(L"Flash.ocx")) {
        auto count = [m](const char* name) {
            auto f = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(m, name)));
            return f ? f() : -1;
        };
        EXPECT_EQ(count("RefControl_InstanceCount"), 0);
        EXPECT_EQ(count("RefControl_ObjectCount"), 0);
    }
}

}  // namespace
