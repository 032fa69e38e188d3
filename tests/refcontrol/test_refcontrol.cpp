// The reference ActiveX control hosted by a small generic container: created
// by class id from its registration, activated windowless, fed movies through
// the container's bind host, drawn into DIB sections, driven through its
// main interface and IDispatch, and torn down without leaks.
#include <gtest/gtest.h>

#include "container.h"
#include "movies.h"

using namespace controltest;

namespace {

constexpr uint32_t kBlue = 0xFF0000FF, kRed = 0xFFFF0000;
constexpr uint32_t kGreenOverBlue = 0xFF00807F;  // 0x80008000 premultiplied over opaque blue
constexpr uint32_t kStageColor = 0xFF336699;
constexpr LONG kMiscDefault = 0x20191;

struct BstrArg {
    explicit BstrArg(const wchar_t* s) : b(SysAllocString(s)) {}
    ~BstrArg() { SysFreeString(b); }
    operator BSTR() const { return b; }
    BSTR b;
};

class RefControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        c = std::make_unique<Container>();
    }
    void TearDown() override
    {
        c.reset();
        if (seams.instanceCount) {
            EXPECT_EQ(seams.instanceCount(), 0) << "a control outlived its container";
            EXPECT_EQ(seams.objectCount(), 0) << "an object of the control's module leaked";
            seams.enableLog(0);
            seams.clearLog();
        }
        OleUninitialize();
    }
    // Creates and activates the control at 40x30 (or as given), with the manual clock.
    void activate(int width = plugintest::kBoxesWidth, int height = plugintest::kBoxesHeight, int x = 0, int y = 0)
    {
        ASSERT_EQ(c->createAndActivate(width, height, x, y), S_OK);
        ASSERT_TRUE(seams.resolve());
        seams.setManualClock(1);
    }
    void setWMode(const wchar_t* mode) { ASSERT_EQ(c->player()->put_WMode(BstrArg(mode)), S_OK); }
    std::wstring variable(const wchar_t* name)
    {
        BSTR v = nullptr;
        EXPECT_EQ(c->player()->GetVariable(BstrArg(name), &v), S_OK);
        std::wstring out = bstrText(v);
        SysFreeString(v);
        return out;
    }
    LONG currentFrame()
    {
        LONG f = -1;
        EXPECT_EQ(c->player()->CurrentFrame(&f), S_OK);
        return f;
    }

    std::unique_ptr<Container> c;
    Seams seams;
};

TEST_F(RefControl, ActivationIsWindowlessAndRepaintsAreAskedOfTheSite)
{
    ASSERT_EQ(c->create(), S_OK);
    ASSERT_TRUE(seams.resolve());
    DWORD misc = 0;
    ASSERT_EQ(c->object()->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
    EXPECT_EQ(misc, DWORD(kMiscDefault)) << "set client site first, activate when visible, inside-out...";
    c->destroy();

    seams.enableLog(1);
    seams.clearLog();
    activate(40, 30, 100, 50);
    EXPECT_TRUE(c->windowlessActivated);
    // Every in-place interface a windowless container asks for is there.
    for (const IID* iid : {&IID_IOleInPlaceObject, &IID_IOleInPlaceObjectWindowless, &IID_IOleInPlaceActiveObject,
                           &IID_IViewObject, &IID_IViewObject2, &IID_IOleWindow, &IID_IOleControl,
                           &IID_IPersistStreamInit, &IID_IProvideClassInfo2, &IID_IDispatch})
        EXPECT_TRUE(c->query<IUnknown>(*iid)) << "interface missing";
    EXPECT_FALSE(c->query<IUnknown>(IID_IOleInPlaceSiteWindowless)) << "a site interface is not the control's";

    // The handshake, in the order a control makes it.
    auto made = lines(seams.log(), "> IOleInPlaceSiteWindowless.");
    ASSERT_GE(made.size(), 5u);
    EXPECT_EQ(made[0].substr(0, 46), "> IOleInPlaceSiteWindowless.CanInPlaceActivate");
    EXPECT_EQ(made[1].substr(0, 49), "> IOleInPlaceSiteWindowless.CanWindowlessActivate");
    EXPECT_EQ(made[2].substr(0, 46), "> IOleInPlaceSiteWindowless.OnInPlaceActivateE");
    EXPECT_EQ(made[3].substr(0, 37), "> IOleInPlaceSiteWindowless.GetWindow");
    EXPECT_EQ(made[4].substr(0, 44), "> IOleInPlaceSiteWindowless.GetWindowContext");

    // Windowless: no window of its own.
    HWND hwnd = reinterpret_cast<HWND>(1);
    EXPECT_EQ(c->query<IOleWindow>(IID_IOleWindow)->GetWindow(&hwnd), E_FAIL);
    EXPECT_EQ(hwnd, nullptr);

    // A movie asks for the whole view, in the container's coordinates.
    c->invalidations.clear();
    ASSERT_EQ(c->loadMovie(L"boxes.swf", plugintest::boxesMovie()), S_OK);
    ASSERT_FALSE(c->invalidations.empty());
    EXPECT_EQ(c->invalidations[0].left, 100);
    EXPECT_EQ(c->invalidations[0].top, 50);
    EXPECT_EQ(c->invalidations[0].right, 140);
    EXPECT_EQ(c->invalidations[0].bottom, 80);

    // A frame that moves the red box asks only for the part that changed.
    c->invalidations.clear();
    ASSERT_EQ(seams.stepFrames(c->object(), 1), 1);
    ASSERT_FALSE(c->invalidations.empty());
    for (const RECT& r : c->invalidations) {
        EXPECT_GE(r.left, 100);
        EXPECT_LT(r.right, 130) << "the green box did not change";
    }

    // Deactivation is reported to the site.
    ASSERT_EQ(c->query<IOleInPlaceObject>(IID_IOleInPlaceObject)->InPlaceDeactivate(), S_OK);
    EXPECT_TRUE(c->deactivated);
}

TEST_F(RefControl, DrawingBlendsIntoTheDibExactlyHonouringClipAndWindowMode)
{
    activate();
    ASSERT_EQ(c->loadMovie(L"boxes.swf", plugintest::boxesMovie()), S_OK);
    EXPECT_EQ(c->monikerNames, std::vector<std::wstring>{L"http://movies/boxes.swf"});
    EXPECT_TRUE(c->bscbHolderWasOurs);

    Surface s(40, 30);
    s.fill(kBlue);
    ASSERT_EQ(c->draw(s.dc(), {0, 0, 40, 30}), S_OK);
    EXPECT_EQ(s.pixel(5, 5), kRed);
    EXPECT_EQ(s.pixel(5, 20), kStageColor) << "window mode draws the stage background";

    setWMode(L"Transparent");
    s.fill(kBlue);
    ASSERT_EQ(c->draw(s.dc(), {0, 0, 40, 30}, DVASPECT_OPAQUE), S_OK);
    EXPECT_EQ(s.pixel(5, 5), kRed);
    EXPECT_EQ(s.pixel(30, 5), kGreenOverBlue);
    EXPECT_EQ(s.pixel(5, 20), kBlue) << "transparent: no stage background";

    // Only the clip changes, and the bounds given only say which part: the
    // control stays where it was placed.
    s.fill(kBlue);
    SaveDC(s.dc());
    IntersectClipRect(s.dc(), 10, 0, 30, 10);
    ASSERT_EQ(c->draw(s.dc(), {0, 0, 30, 10}), S_OK);
    RestoreDC(s.dc(), -1);
    EXPECT_EQ(s.pixel(5, 5), kBlue);
    EXPECT_EQ(s.pixel(15, 5), kRed);
    EXPECT_EQ(s.pixel(25, 5), kGreenOverBlue);
    EXPECT_EQ(s.pixel(35, 5), kBlue);

    // A container colour replaces the stage background.
    setWMode(L"Opaque");
    ASSERT_EQ(c->player()->put_BackgroundColor(0x00FF00), S_OK);
    ASSERT_EQ(c->draw(s.dc(), {0, 0, 40, 30}), S_OK);
    EXPECT_EQ(s.pixel(5, 20), 0xFF00FF00u);

    // A device bitmap goes through AlphaBlend: close, not exact.
    Surface device(40, 30, false);
    device.fill(kBlue);
    ASSERT_EQ(c->draw(device.dc(), {0, 0, 40, 30}), S_OK);
    EXPECT_EQ(device.pixel(5, 5) & 0xFFFFFF, kRed & 0xFFFFFF);

    EXPECT_EQ(c->draw(s.dc(), {0, 0, 40, 30}, DVASPECT_ICON), DV_E_DVASPECT);
    EXPECT_EQ(c->draw(nullptr, {0, 0, 40, 30}), E_INVALIDARG);
}

TEST_F(RefControl, PlaybackFollowsTheMethodsAndTheTypeLibraryDispatch)
{
    activate();
    ASSERT_EQ(c->loadMovie(L"five.swf", plugintest::fiveFramesMovie()), S_OK);
    IkvFlashPlayer* p = c->player();
    LONG total = 0;
    ASSERT_EQ(p->get_TotalFrames(&total), S_OK);
    EXPECT_EQ(total, 5);
    EXPECT_EQ(currentFrame(), 0);
    seams.stepFrames(c->object(), 2);
    EXPECT_EQ(currentFrame(), 2);

    VARIANT_BOOL playing = VARIANT_FALSE;
    ASSERT_EQ(p->StopPlay(), S_OK);
    ASSERT_EQ(p->IsPlaying(&playing), S_OK);
    EXPECT_EQ(playing, VARIANT_FALSE);
    seams.stepFrames(c->object(), 1);
    EXPECT_EQ(currentFrame(), 2) << "stopped";
    ASSERT_EQ(p->Forward(), S_OK);
    EXPECT_EQ(currentFrame(), 3);
    ASSERT_EQ(p->Back(), S_OK);
    EXPECT_EQ(currentFrame(), 2);
    ASSERT_EQ(p->put_FrameNum(4), S_OK);
    EXPECT_EQ(currentFrame(), 4);
    ASSERT_EQ(p->Rewind(), S_OK);
    EXPECT_EQ(currentFrame(), 0);
    ASSERT_EQ(p->Play(), S_OK);
    ASSERT_EQ(p->IsPlaying(&playing), S_OK);
    EXPECT_EQ(playing, VARIANT_TRUE);

    // Loop off: the movie stops at its last frame.
    ASSERT_EQ(p->put_Loop(VARIANT_FALSE), S_OK);
    VARIANT_BOOL loop = VARIANT_TRUE;
    ASSERT_EQ(p->get_Loop(&loop), S_OK);
    EXPECT_EQ(loop, VARIANT_FALSE);
    seams.stepFrames(c->object(), 10);
    EXPECT_EQ(currentFrame(), 4);

    LONG version = 0;
    ASSERT_EQ(p->FlashVersion(&version), S_OK);
    EXPECT_EQ(version >> 16, 10);

    // The same calls late-bound, by name, through the type library.
    IDispatch* disp = p;
    LPOLESTR name = const_cast<LPOLESTR>(L"GotoFrame");
    DISPID id = 0;
    ASSERT_EQ(disp->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 0x7f);
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = 1;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    ASSERT_EQ(disp->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(currentFrame(), 1);

    // The WMode property written as a container writes it: DISPID 133, put.
    VARIANT mode;
    VariantInit(&mode);
    mode.vt = VT_BSTR;
    mode.bstrVal = SysAllocString(L"Transparent");
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS putParams{&mode, &put, 1, 1};
    ASSERT_EQ(disp->Invoke(133, IID_NULL, 0, DISPATCH_PROPERTYPUT, &putParams, nullptr, nullptr, nullptr), S_OK);
    VariantClear(&mode);
    VARIANT back;
    VariantInit(&back);
    DISPPARAMS none{};
    ASSERT_EQ(disp->Invoke(133, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &back, nullptr, nullptr), S_OK);
    ASSERT_EQ(back.vt, VT_BSTR);
    EXPECT_EQ(bstrText(back.bstrVal), L"Transparent");
    VariantClear(&back);
    EXPECT_FALSE(c->changedProperties().empty()) << "property changes are announced";

    // Stored properties answer what they were given.
    BSTR vars = nullptr;
    ASSERT_EQ(p->put_FlashVars(BstrArg(L"a=1&b=2")), S_OK);
    ASSERT_EQ(p->get_FlashVars(&vars), S_OK);
    EXPECT_EQ(bstrText(vars), L"a=1&b=2");
    SysFreeString(vars);
    EXPECT_EQ(p->LoadMovie(1, BstrArg(L"http://movies/five.swf")), E_INVALIDARG) << "only layer 0";
}

TEST_F(RefControl, ScriptingRaisesFSCommandAndFlashCallAndAnswersCallFunction)
{
    activate();
    // The container answers the movie's external call while the event runs.
    c->onFlashCall = [&](const std::wstring& request) {
        EXPECT_NE(request.find(L"<invoke name=\"sayHello\""), std::wstring::npos) << std::string(request.begin(), request.end());
        EXPECT_NE(request.find(L"<string>Bob</string>"), std::wstring::npos);
        EXPECT_EQ(c->player()->SetReturnValue(BstrArg(L"<string>Hi Bob</string>")), S_OK);
    };
    // And may read the movie from inside an event: the answer comes at once,
    // and a variable the movie has not set yet fails, as with the installed
    // control.
    HRESULT seenInside = S_OK;
    c->onFSCommand = [&](const std::wstring&, const std::wstring&) {
        BSTR v = nullptr;
        seenInside = c->player()->GetVariable(BstrArg(L"answer"), &v);
        EXPECT_EQ(v, nullptr);
        SysFreeString(v);
    };
    ASSERT_EQ(c->loadMovie(L"script.swf", plugintest::scriptMovie()), S_OK);
    seams.stepFrames(c->object(), 1);

    std::vector<EventRecord> calls;
    for (auto& e : c->events)
        if (e.id == 150 || e.id == 197)
            calls.push_back(e);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].id, 150);
    EXPECT_EQ(calls[0].strings, (std::vector<std::wstring>{L"hello", L"world"}));
    EXPECT_EQ(calls[1].id, 197);
    EXPECT_EQ(variable(L"answer"), L"Hi Bob");
    EXPECT_EQ(seenInside, E_FAIL);

    BSTR answer = nullptr;
    ASSERT_EQ(c->player()->CallFunction(
                  BstrArg(L"<invoke name=\"twice\" returntype=\"xml\"><arguments><number>21</number></arguments></invoke>"),
                  &answer),
              S_OK);
    EXPECT_EQ(bstrText(answer), L"<number>42</number>");
    SysFreeString(answer);
    answer = nullptr;
    EXPECT_EQ(c->player()->CallFunction(BstrArg(L"<invoke name=\"nothere\"><arguments/></invoke>"), &answer), E_FAIL);
    EXPECT_EQ(answer, nullptr);

    // SetReturnValue outside an external call changes nothing.
    EXPECT_EQ(c->player()->SetReturnValue(BstrArg(L"<string>late</string>")), S_OK);
    EXPECT_EQ(variable(L"answer"), L"Hi Bob");

    // The ready state is announced once the movie is in.
    bool ready = false;
    for (auto& e : c->events)
        ready |= e.id == -609 && e.numbers == std::vector<LONG>{4};
    EXPECT_TRUE(ready);
}

TEST_F(RefControl, InputButtonsGetMouseMessagesInTheContainersSpace)
{
    activate(40, 30, 100, 50);
    ASSERT_EQ(c->loadMovie(L"button.swf", plugintest::buttonMovie()), S_OK);
    auto at = [](int x, int y) { return static_cast<LPARAM>(MAKELONG(x, y)); };
    // The button covers (10,5)-(30,25) of the movie: (120,60) in the container.
    EXPECT_EQ(c->message(WM_MOUSEMOVE, 0, at(120, 60)), S_OK);
    EXPECT_EQ(c->message(WM_LBUTTONDOWN, MK_LBUTTON, at(120, 60)), S_OK);
    EXPECT_EQ(c->message(WM_LBUTTONUP, 0, at(120, 60)), S_OK);
    seams.stepFrames(c->object(), 1);
    int presses = 0;
    for (auto& e : c->events)
        presses += e.id == 150 && e.strings == std::vector<std::wstring>{L"pressed", L"yes"};
    EXPECT_EQ(presses, 1);

    // Outside the button (inside the control) nothing is pressed.
    EXPECT_EQ(c->message(WM_LBUTTONDOWN, MK_LBUTTON, at(102, 52)), S_OK);
    EXPECT_EQ(c->message(WM_LBUTTONUP, 0, at(102, 52)), S_OK);
    seams.stepFrames(c->object(), 1);
    presses = 0;
    for (auto& e : c->events)
        presses += e.id == 150;
    EXPECT_EQ(presses, 1);

    LRESULT result = 0;
    EXPECT_EQ(c->message(WM_SETCURSOR, 0, MAKELONG(HTCLIENT, WM_MOUSEMOVE), &result), S_OK);
    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(c->message(WM_NULL, 0, 0), S_FALSE);

    // The right button asks the site for its window, for the menu.
    seams.enableLog(1);
    c->siteWindow = GetDesktopWindow();
    EXPECT_EQ(c->message(WM_RBUTTONDOWN, MK_RBUTTON, at(110, 55)), S_OK);
    EXPECT_EQ(lines(seams.log(), "> IOleInPlaceSiteWindowless.GetWindow").size(), 1u);
    EXPECT_EQ(lines(seams.log(), "# context menu at (110,55) over the container's window").size(), 1u);
}

TEST_F(RefControl, BindingTakesPiecesLaterDataAndFailures)
{
    activate();
    // In pieces, at growing sizes.
    ASSERT_EQ(c->loadMovie(L"a.swf", plugintest::boxesMovie(), Delivery::InPieces), S_OK);
    Surface s(40, 30);
    s.fill(kBlue);
    ASSERT_EQ(c->draw(s.dc(), {0, 0, 40, 30}), S_OK);
    EXPECT_EQ(s.pixel(5, 5), kRed);

    // Later, from the message loop: nothing plays until it comes.
    ASSERT_EQ(c->loadMovie(L"b.swf", plugintest::fiveFramesMovie(), Delivery::Later), S_OK);
    LONG total = 0;
    c->player()->get_TotalFrames(&total);
    EXPECT_NE(total, 5);
    c->deliverPending();
    c->player()->get_TotalFrames(&total);
    EXPECT_EQ(total, 5);

    // A failed binding and a refused moniker leave the movie as it was.
    ASSERT_EQ(c->loadMovie(L"missing.swf", {}, Delivery::Fail), S_OK);
    c->createMonikerAnswer = E_NOTIMPL;
    ASSERT_EQ(c->loadMovie(L"refused.swf", plugintest::boxesMovie()), S_OK);
    c->player()->get_TotalFrames(&total);
    EXPECT_EQ(total, 5);
    c->createMonikerAnswer = S_OK;

    // Data that is no movie is refused whole.
    ASSERT_EQ(c->loadMovie(L"junk.swf", {'F', 'W', 'S', 8, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3}), S_OK);
    c->player()->get_TotalFrames(&total);
    EXPECT_EQ(total, 5);

    // A movie that loads another: the request goes through the bind host too.
    c->serve(L"http://movies/child.swf", plugintest::fiveFramesMovie());
    ASSERT_EQ(c->loadMovie(L"loader.swf", plugintest::loaderMovie()), S_OK);
    seams.stepFrames(c->object(), 2);
    EXPECT_EQ(c->monikerNames.back(), L"http://movies/child.swf");

    // A control released while a download is still out drops it quietly.
    ASSERT_EQ(c->loadMovie(L"c.swf", plugintest::boxesMovie(), Delivery::Later), S_OK);
    c->destroy();
    c->deliverPending();
}

TEST_F(RefControl, PersistenceRoundTripsPropertiesAndRefusesForeignState)
{
    activate();
    IkvFlashPlayer* p = c->player();
    ASSERT_EQ(p->put_Quality(3), S_OK);
    ASSERT_EQ(p->put_WMode(BstrArg(L"Transparent")), S_OK);
    ASSERT_EQ(p->put_Base(BstrArg(L"http://base/")), S_OK);
    auto persist = c->query<IPersistStreamInit>(IID_IPersistStreamInit);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    Ptr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
    ASSERT_EQ(persist->Save(stream.get(), TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);

    Container other;
    ASSERT_EQ(other.create(), S_OK);
    auto otherPersist = other.query<IPersistStreamInit>(IID_IPersistStreamInit);
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(otherPersist->Load(stream.get()), S_OK);
    auto otherPlayer = other.query<IkvFlashPlayer>(IID_IkvFlashPlayer);
    int quality = 0;
    BSTR mode = nullptr, base = nullptr;
    otherPlayer->get_Quality(&quality);
    otherPlayer->get_WMode(&mode);
    otherPlayer->get_Base(&base);
    EXPECT_EQ(quality, 3);
    EXPECT_EQ(bstrText(mode), L"Transparent");
    EXPECT_EQ(bstrText(base), L"http://base/");
    SysFreeString(mode);
    SysFreeString(base);

    // Foreign bytes: refused, and nothing changes.
    Ptr<IStream> junk;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, junk.put()), S_OK);
    const char text[] = "KVFC\x01\x05\x00 not really";
    junk->Write(text, sizeof text, nullptr);
    junk->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(otherPersist->Load(junk.get()), E_FAIL);
    otherPlayer->get_Quality(&quality);
    EXPECT_EQ(quality, 3);
}

TEST_F(RefControl, BrowsingOffersQualityAndScaleModeChoicesAndTheTypeLibrary)
{
    activate();
    auto browse = c->query<IPerPropertyBrowsing>(IID_IPerPropertyBrowsing);
    ASSERT_TRUE(browse);
    CALPOLESTR names{};
    CADWORD cookies{};
    ASSERT_EQ(browse->GetPredefinedStrings(0x69, &names, &cookies), S_OK);
    ASSERT_EQ(names.cElems, 4u);
    EXPECT_STREQ(names.pElems[1], L"High");
    for (ULONG i = 0; i < names.cElems; ++i)
        CoTaskMemFree(names.pElems[i]);
    CoTaskMemFree(names.pElems);
    CoTaskMemFree(cookies.pElems);

    VARIANT v;
    ASSERT_EQ(browse->GetPredefinedValue(0x78, 2, &v), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 2);
    ASSERT_EQ(c->player()->put_ScaleMode(v.lVal), S_OK);
    BSTR shown = nullptr;
    ASSERT_EQ(browse->GetDisplayString(0x78, &shown), S_OK);
    EXPECT_EQ(bstrText(shown), L"ExactFit");
    SysFreeString(shown);
    EXPECT_EQ(browse->GetDisplayString(0x85, &shown), E_NOTIMPL) << "other properties fall back to their value";
    EXPECT_EQ(browse->GetPredefinedValue(0x78, 99, &v), E_INVALIDARG);

    // The type information is the dual interface of the embedded library.
    Ptr<ITypeInfo> ti;
    ASSERT_EQ(c->player()->GetTypeInfo(0, 0, ti.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(ti->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IkvFlashPlayer));
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    ti->ReleaseTypeAttr(attr);
    GUID events{};
    ASSERT_EQ(c->query<IProvideClassInfo2>(IID_IProvideClassInfo2)->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    EXPECT_TRUE(IsEqualGUID(events, DIID__IkvFlashPlayerEvents));

    // Two connection points, and no others.
    auto points = c->query<IConnectionPointContainer>(IID_IConnectionPointContainer);
    Ptr<IEnumConnectionPoints> e;
    ASSERT_EQ(points->EnumConnectionPoints(e.put()), S_OK);
    IConnectionPoint* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(3, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    for (ULONG i = 0; i < fetched; ++i)
        got[i]->Release();
    Ptr<IConnectionPoint> cp;
    EXPECT_EQ(points->FindConnectionPoint(IID_IAdviseSink, cp.put()), CONNECT_E_NOCONNECTION);
}

TEST_F(RefControl, TeardownReleasesEverySiteReference)
{
    activate();
    ASSERT_EQ(c->loadMovie(L"script.swf", plugintest::scriptMovie()), S_OK);
    seams.stepFrames(c->object(), 2);
    EXPECT_GT(c->siteReferences(), 0);
    EXPECT_EQ(seams.instanceCount(), 1);
    c->destroy();
    EXPECT_EQ(c->siteReferences(), 0) << "the control still holds the site or the event sink";
    EXPECT_EQ(seams.instanceCount(), 0);
    EXPECT_EQ(seams.objectCount(), 0);
}

// Cases that change the control's settings key.
class RefControlConfig : public RefControl {
protected:
    void SetUp() override
    {
        clearConfig();
        RefControl::SetUp();
    }
    void TearDown() override
    {
        RefControl::TearDown();
        clearConfig();
    }
};

TEST_F(RefControlConfig, SettingsSetVersionMiscStatusAndInjectedFailures)
{
    setConfigString(L"Version", L"8,0,22,0");
    setConfigDword(L"MiscStatus", 0x400);  // invisible at run time
    setFailure("put_WMode", E_ACCESSDENIED);
    setFailure("QueryInterface:IPerPropertyBrowsing", E_NOINTERFACE);
    setFailure("CallFunction", DISP_E_EXCEPTION);
    ASSERT_EQ(c->create(), S_OK);
    ASSERT_TRUE(seams.resolve());
    DWORD misc = 0;
    ASSERT_EQ(c->object()->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
    EXPECT_EQ(misc, 0x400u);
    EXPECT_FALSE(c->query<IPerPropertyBrowsing>(IID_IPerPropertyBrowsing));
    auto p = c->query<IkvFlashPlayer>(IID_IkvFlashPlayer);
    LONG version = 0;
    ASSERT_EQ(p->FlashVersion(&version), S_OK);
    EXPECT_EQ(version, 8 << 16);
    EXPECT_EQ(p->put_WMode(BstrArg(L"Transparent")), E_ACCESSDENIED);
    // Through IDispatch the same setter fails the same way.
    VARIANT mode;
    VariantInit(&mode);
    mode.vt = VT_BSTR;
    mode.bstrVal = SysAllocString(L"Transparent");
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS putParams{&mode, &put, 1, 1};
    EXPECT_TRUE(FAILED(p->Invoke(133, IID_NULL, 0, DISPATCH_PROPERTYPUT, &putParams, nullptr, nullptr, nullptr)));
    VariantClear(&mode);
    BSTR answer = nullptr;
    EXPECT_EQ(p->CallFunction(BstrArg(L"<invoke name=\"x\"/>"), &answer), DISP_E_EXCEPTION);
    c->destroy();

    // The class object itself can be made to fail.
    setFailure("CreateInstance", E_OUTOFMEMORY);
    EXPECT_EQ(c->create(), E_OUTOFMEMORY);
}

TEST_F(RefControlConfig, SettingsLogRecordsCallsFromTheStart)
{
    setConfigDword(L"Log", 1);
    ASSERT_EQ(c->createAndActivate(40, 30), S_OK);
    ASSERT_TRUE(seams.resolve());
    auto received = lines(seams.log(), "< ");
    ASSERT_GE(received.size(), 3u);
    EXPECT_EQ(received[0].rfind("< IClassFactory.CreateInstance", 0), 0u);
    bool sawMisc = false, sawDoVerb = false;
    for (auto& l : received) {
        sawMisc |= l.rfind("< IOleObject.GetMiscStatus", 0) == 0;
        sawDoVerb |= l.rfind("< IOleObject.DoVerb verb=-5", 0) == 0;
    }
    EXPECT_TRUE(sawMisc);
    EXPECT_TRUE(sawDoVerb);
}

}  // namespace
