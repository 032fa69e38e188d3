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

    // An in-memory copy is handed out once; afterwards its identifier names nothing.
    auto copy = std::make_unique<TMemoryStream>();
    copy->WriteBuffer("", 0);
    const unsigned id = kvpending::Add(std::move(copy), d.get());
    const std::wstring url = L"http://kvs/<stream>" + FormatStreamId(id) + L".swf";
    TRecordingCallback empty;
    ASSERT_EQ(Request(*d, url.c_str(), &empty), S_OK);
    EXPECT_EQ(empty.calls.at(2), "data 5 0") << "an empty stream is delivered with size 0";
    TRecordingCallback again;
    EXPECT_EQ(Request(*d, url.c_str(), &again), E_FAIL);
    EXPECT_TRUE(again.calls.empty());
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
}

}  // namespace
