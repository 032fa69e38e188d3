// Movies played end to end through a real TkvFlashPlayer, the ActiveX
// back-end and the reference player's control.
#include <gtest/gtest.h>

#include "../plugin/movies.h"
#include "ax_support.h"
#include "kv_flashstore.h"
#include "host_config.h"
#include "kv_pendingstreams.h"
#include "kv_urltext.h"

using namespace axtest;
using namespace nstest;

namespace {

constexpr std::uint32_t kPlayerColour = 0x404040;

class ActiveXPlayer : public BackEndCase {
protected:
    void SetUp() override
    {
        BackEndCase::SetUp();
        form = NewActiveXForm();
        ASSERT_TRUE(Control().Loaded()) << "the reference control is not registered in this prefix";
        ASSERT_STREQ(player()->Driver->DriverClass().ClassName(), L"TkvFlashDriverActiveX");
        ASSERT_TRUE(driver()->GetIsFlashAvailable());
        Control().ClearLog();
    }
    void TearDown() override
    {
        form.reset();
        BackEndCase::TearDown();
    }
    TkvFlashPlayer* player() { return form->Player; }
    TkvFlashDriverActiveX* driver() { return static_cast<TkvFlashDriverActiveX*>(form->Player->Driver); }
    void LoadBytes(const std::vector<std::uint8_t>& bytes)
    {
        TMemoryStream s;
        s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        player()->LoadMovieFromStream(&s);
        StepControls(1);
    }
    std::unique_ptr<TPlayerForm, FormDeleter> form;
};

TEST_F(ActiveXPlayer, AMovieFromAStreamDrawsIntoTheBufferOverThePlayersColour)
{
    LoadBytes(RectMovie(0xC02010));
    EXPECT_EQ(Pixel(driver(), 50, 50) & 0xFFFFFF, 0xC02010u) << ControlLog();
    // The control draws windowless and transparent: the stage is not painted,
    // the player's colour shows around the shape.
    EXPECT_EQ(Pixel(driver(), 5, 5) & 0xFFFFFF, kPlayerColour);
    EXPECT_EQ(player()->GetMovie(), L"");
    EXPECT_NE(ControlLog().find("<stream>"), std::string::npos) << "served through the stream pseudo-URL";
    EXPECT_EQ(kvpending::Count(), 1) << "the copy stays for the control while the driver lives";
}

TEST_F(ActiveXPlayer, AStreamCopyIsServedAgainUntilTheNextLoadOrTheDriversEnd)
{
    LoadBytes(RectMovie(0xC02010));
    const std::string log = ControlLog();
    const size_t at = log.find("<stream>");
    ASSERT_NE(at, std::string::npos) << log;
    const std::string name = log.substr(at, 8 + 8 + 4);  // marker, identifier, ".swf"
    unsigned id = 0;
    ASSERT_TRUE(ParseStreamId(std::wstring(name.begin() + 8, name.begin() + 16), id)) << name;
    ASSERT_TRUE(kvpending::Contains(id));

    // The control loads the same URL again by itself, as after a reload.
    Control().ClearLog();
    const std::wstring url = L"http://kvs/" + std::wstring(name.begin(), name.end());
    BSTR text = SysAllocString(url.c_str());
    ASSERT_EQ(driver()->ControlInterface->LoadMovie(0, text), S_OK);
    SysFreeString(text);
    StepControls(1);
    EXPECT_GE(LineOf(ControlLog(), {"delivered", name}), 0) << ControlLog();
    EXPECT_EQ(Pixel(driver(), 50, 50) & 0xFFFFFF, 0xC02010u);

    // The next movie replaces the copy; the driver's end takes the last one.
    LoadBytes(RectMovie(0x10C040));
    EXPECT_FALSE(kvpending::Contains(id));
    EXPECT_EQ(kvpending::Count(), 1);
    player()->LoadMovie(L"resmovie.swf");
    StepControls(1);
    EXPECT_EQ(kvpending::Count(), 0) << "a movie by name replaces it too";
    LoadBytes(RectMovie(0x10C040));
    EXPECT_EQ(kvpending::Count(), 1);
    player()->SetPlugin(kvNetscape);
    Pump();
    EXPECT_EQ(kvpending::Count(), 0);
}

// A control of Flash Player 7: its main interface's table ends before
// CallFunction, against memory that cannot be read, and its IDispatch knows
// nothing past it either. The package asks the version and calls nothing
// past the table, at construction or for the external-call operations.
TEST_F(ActiveXPlayer, AControlBeforeVersion8IsNeverCalledPastItsTable)
{
    player()->SetPlugin(kvNetscape);
    Pump();
    const wchar_t* key = L"Software\\KorvelRef\\Control";
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    const wchar_t version[] = L"7,0,19,0";
    RegSetValueExW(h, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof version);
    RegCloseKey(h);
    refhost::claimConfig(key);  // for this program only
    Control().ClearLog();
    player()->SetPlugin(kvActiveX);
    Pump();
    RegDeleteTreeW(HKEY_CURRENT_USER, key);
    const std::string made = ControlLog();
    EXPECT_GE(LineOf(made, {"# main interface of version 7: its table ends before CallFunction"}), 0) << made;
    ExpectSequence(made,
                   {"< IClassFactory.CreateInstance {00000112-",
                    "< IOleObject.GetMiscStatus aspect=1",
                    "< IOleObject.SetClientSite site",
                    "< IOleObject.GetClientSite",
                    "< IPersistStreamInit.InitNew",
                    "< IConnectionPointContainer.FindConnectionPoint {9BFBBC02-",
                    "< IPropertyNotifySink connection point.Advise",
                    "< IConnectionPointContainer.FindConnectionPoint {D27CDB6D-",
                    "< _IkvFlashPlayerEvents connection point.Advise",
                    "< IOleControl.OnAmbientPropertyChange dispid=-1",
                    "> ambient USERMODE true = 0x00000000",
                    "< IDispatch.Invoke dispid=133 flags=4",
                    "< IkvFlashPlayer.put_WMode \"Transparent\"",
                    "> IPropertyNotifySink.OnChanged 133 = 0x00000000",
                    "< IOleObject.DoVerb verb=-5 lindex=0 rect=(0,0,100,100)",
                    "> IOleClientSite.QueryInterface IOleInPlaceSiteWindowless = 0x00000000",
                    "> IOleInPlaceSiteWindowless.CanInPlaceActivate = 0x00000000",
                    "> IOleInPlaceSiteWindowless.CanWindowlessActivate = 0x00000000",
                    "> IOleInPlaceSiteWindowless.OnInPlaceActivateEx flags=ACTIVATE_WINDOWLESS = 0x00000000",
                    "> IOleInPlaceSiteWindowless.GetWindow",
                    "> IOleInPlaceSiteWindowless.GetWindowContext",
                    "< IOleInPlaceObject.SetObjectRects pos=(0,0,100,100) clip=(0,0,100,100)",
                    "< IOleObject.GetClientSite",
                    "< IOleControl.OnAmbientPropertyChange dispid=-1",
                    "> ambient USERMODE true = 0x00000000",
                    "< IkvFlashPlayer.FlashVersion"},
                   {"< QueryInterface", "< IViewObject.Draw", "> IOleInPlaceSiteWindowless.InvalidateRect",
                    "> IOleInPlaceSiteWindowless.GetDC", "> IOleInPlaceSiteWindowless.ReleaseDC",
                    "< RefControl_StepFrames"});

    // The table the package holds ends right before CallFunction's slot.
    ITypeLib* lib = nullptr;
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(GetModuleHandleW(L"Flash.ocx"), path, MAX_PATH), 0u);
    ASSERT_EQ(LoadTypeLibEx(path, REGKIND_NONE, &lib), S_OK);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IkvFlashPlayer, &info), S_OK);
    HREFTYPE ref = 0;
    ITypeInfo* vtable = nullptr;
    if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, &vtable))) {
        info->Release();
        info = vtable;
    }
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    SHORT callFunctionSlot = -1;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        if (SUCCEEDED(info->GetFuncDesc(i, &f))) {
            if (f->memid == 0xc6)
                callFunctionSlot = f->oVft;
            info->ReleaseFuncDesc(f);
        }
    }
    info->ReleaseTypeAttr(attr);
    info->Release();
    lib->Release();
    ASSERT_GT(callFunctionSlot, 0);
    IkvFlashPlayer* intf = driver()->ControlInterface;
    ASSERT_NE(intf, nullptr);
    const auto table = *reinterpret_cast<const BYTE* const*>(intf);
    MEMORY_BASIC_INFORMATION past{}, last{};
    ASSERT_NE(VirtualQuery(table + callFunctionSlot, &past, sizeof past), 0u);
    ASSERT_NE(VirtualQuery(table + callFunctionSlot - sizeof(void*), &last, sizeof last), 0u);
    EXPECT_EQ(past.Protect, static_cast<DWORD>(PAGE_NOACCESS)) << "CallFunction's slot cannot be read";
    EXPECT_NE(last.Protect & (PAGE_READONLY | PAGE_READWRITE), 0u) << "the last slot of version 7 can";

    // Late binding does not reach them either.
    IDispatch* disp = driver()->ControlDispatch;
    ASSERT_NE(disp, nullptr);
    LPOLESTR name = const_cast<LPOLESTR>(L"CallFunction");
    DISPID id = 0;
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), DISP_E_UNKNOWNNAME);
    DISPPARAMS none{};
    EXPECT_EQ(disp->Invoke(0xc8, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    LPOLESTR play = const_cast<LPOLESTR>(L"Play");
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, &play, 1, 0, &id), S_OK) << "older members are there";

    // The external-call operations ask the version and stop there.
    LoadBytes(plugintest::scriptMovie());
    Control().ClearLog();
    EXPECT_EQ(player()->CallFunction(L"<invoke name=\"twice\" returntype=\"xml\"><arguments><number>21</number>"
                                     L"</arguments></invoke>"),
              L"");
    driver()->SetReturnValue(L"<string>x</string>");
    ExpectSequence(ControlLog(), {"< IkvFlashPlayer.FlashVersion", "< IkvFlashPlayer.FlashVersion"},
                   {"< QueryInterface"});
}

TEST_F(ActiveXPlayer, StoredMoviesAndPackageResourcesAreServedByTheDriver)
{
    TkvFlashList store(form.get());
    TkvFlashStream* item = store.Flashs()->Add();
    const auto bytes = RectMovie(0x8020A0);
    item->DataStream()->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    item->SetFlashStore(L"Intro.swf");
    player()->LoadMovie(L"movies/sub/intro.swf");  // no such file anywhere
    StepControls(1);
    EXPECT_EQ(Pixel(driver(), 50, 50) & 0xFFFFFF, 0x8020A0u) << ControlLog();
    EXPECT_EQ(player()->GetMovie(), L"movies/sub/intro.swf");

    // The test program carries RESMOVIE (a blue rectangle movie).
    player()->LoadMovie(L"resmovie.swf");
    StepControls(1);
    EXPECT_EQ(Pixel(driver(), 50, 50) & 0xFFFFFF, 0x0000FFu) << ControlLog();
}

TEST_F(ActiveXPlayer, FSCommandAndExternalCallsRoundTrip)
{
    std::wstring commands;
    std::vector<std::wstring> requests;
    player()->OnFSCommand = TkvFSCommandEvent([&](TObject* sender, const WideString& c, const WideString& a) {
        EXPECT_EQ(sender, driver());
        commands += c + L"|" + a + L";";
    });
    player()->OnFlashCall = TkvFlashCallEvent([&](TObject* sender, const WideString& request) {
        requests.push_back(request);
        static_cast<TkvFlashDriver*>(sender)->SetReturnValue(L"<string>Hi Bob</string>");
    });
    player()->SetPlugin(kvNetscape);
    player()->SetPlugin(kvActiveX);  // the handlers now sit in the new driver
    LoadBytes(plugintest::scriptMovie());
    EXPECT_EQ(commands, L"hello|world;") << ControlLog();
    ASSERT_EQ(requests.size(), 1u) << ControlLog();
    EXPECT_NE(requests[0].find(L"<invoke name=\"sayHello\""), std::wstring::npos) << requests[0];
    EXPECT_EQ(player()->GetVariable(L"answer"), L"Hi Bob");
    EXPECT_EQ(player()->CallFunction(L"<invoke name=\"twice\" returntype=\"xml\"><arguments><number>21</number>"
                                     L"</arguments></invoke>"),
              L"<number>42</number>");
}

TEST_F(ActiveXPlayer, PlayControlFramesLoopAndVariablesReachTheMovie)
{
    LoadBytes(plugintest::fiveFramesMovie());
    EXPECT_EQ(player()->GetTotalFrames(), 5);
    player()->StopPlay();
    EXPECT_FALSE(player()->GetIsPlaying());
    player()->SetCurrentFrame(3);
    EXPECT_EQ(player()->GetCurrentFrame(), 3);
    player()->Rewind();
    EXPECT_EQ(player()->GetCurrentFrame(), 0);
    player()->Forward();
    EXPECT_EQ(player()->GetCurrentFrame(), 1);
    player()->Back();
    EXPECT_EQ(player()->GetCurrentFrame(), 0);
    player()->Play();
    EXPECT_TRUE(player()->GetIsPlaying());
    // The control's boolean is VARIANT_BOOL: true arrives as -1, not 1.
    Control().ClearLog();
    player()->SetLoop(false);
    EXPECT_FALSE(player()->GetLoop());
    player()->SetLoop(true);
    EXPECT_TRUE(player()->GetLoop());
    ExpectSequence(ControlLog(), {"< IkvFlashPlayer.put_Loop 0", "< IkvFlashPlayer.get_Loop",
                                  "< IkvFlashPlayer.put_Loop -1", "< IkvFlashPlayer.get_Loop"},
                   {"< QueryInterface", "< IkvFlashPlayer.FlashVersion", "> IPropertyNotifySink.OnChanged",
                    "< IViewObject.Draw", "> IOleInPlaceSiteWindowless.InvalidateRect"});
    player()->SetVariable(L"greeting", L"hello there");
    EXPECT_EQ(player()->GetVariable(L"greeting"), L"hello there");
}

TEST_F(ActiveXPlayer, ATransparentDriverHoldsPremultipliedPixelsWithTheMoviesAlpha)
{
    // A driver of its own with a transparent background, as the off-screen
    // and layered components make them.
    std::unique_ptr<TkvFlashDriver> d(ActiveXDriverClass->Create(100, 100, 0x00000000u));
    ASSERT_NE(d->WhiteBits, nullptr);
    TMemoryStream s;
    const auto bytes = RectMovie(0xFF0000, 128);
    s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    d->LoadMovieFromStream(&s);
    StepControls(1);
    const std::uint32_t p = Pixel(d.get(), 50, 50);
    const std::uint32_t a = p >> 24;
    EXPECT_NEAR(static_cast<int>(a), 128, 1) << std::hex << p;
    EXPECT_LE((p >> 16) & 0xFF, a) << "premultiplied: no channel above alpha";
    EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 128, 2) << std::hex << p;
    EXPECT_EQ(p & 0xFFFF, 0u);
    EXPECT_EQ(Pixel(d.get(), 5, 5), 0u) << "nothing drawn: fully transparent";
}

// A control that asks for a repaint from inside its own drawing (the real one
// does) is never drawn inside that drawing: the running paint draws the area
// too, over black and over white, and reports once for everything. A control
// that asks again in every paint is drawn a bounded number of times per paint.
TEST_F(ActiveXPlayer, ARepaintAskedForInsideAPaintIsDrawnByThatPaintBeforeItReports)
{
    const wchar_t* key = L"Software\\KorvelRef\\Control";
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    const DWORD always = 1000;
    RegSetValueExW(h, L"RepaintInPaint", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&always), sizeof always);
    RegCloseKey(h);
    refhost::claimConfig(key);
    std::unique_ptr<TkvFlashDriver> d(ActiveXDriverClass->Create(100, 100, 0x00000000u));
    RegDeleteTreeW(HKEY_CURRENT_USER, key);
    TMemoryStream s;
    const auto bytes = RectMovie(0xFF0000, 128);
    s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    d->LoadMovieFromStream(&s);
    StepControls(1);

    std::vector<TRect> painted;
    bool reportedInsideAPaint = false;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) {
        painted.push_back(r);
        reportedInsideAPaint = reportedInsideAPaint || d->IsPainting();
    });
    Control().ClearLog();
    static_cast<TkvFlashDriverActiveX*>(d.get())->Repaint(RECT{10, 10, 20, 20});
    const std::string log = ControlLog();
    ASSERT_EQ(painted.size(), 1u) << log;
    EXPECT_EQ(painted[0], TRect(0, 0, 100, 100)) << "the area asked for inside the paint is in its report";
    EXPECT_FALSE(reportedInsideAPaint);
    // The control logs the site's answer when the call returns: each request
    // returns before the next drawing starts.
    std::vector<char> order;  // D: a drawing, I: a request returned
    for (size_t at = 0; at < log.size();) {
        const size_t end = std::min(log.find('\n', at), log.size());
        const std::string line = log.substr(at, end - at);
        if (line.find("< IViewObject.Draw") != std::string::npos)
            order.push_back('D');
        else if (line.find("> IOleInPlaceSiteWindowless.InvalidateRect") != std::string::npos)
            order.push_back('I');
        at = end + 1;
    }
    EXPECT_EQ(std::string(order.begin(), order.end()), "DIDIDIDIDIDIDIDI") << "four passes over black and white\n"
                                                                          << log;
    const std::uint32_t p = Pixel(d.get(), 50, 50);
    EXPECT_NEAR(static_cast<int>(p >> 24), 128, 1) << std::hex << p;
    EXPECT_EQ(Pixel(d.get(), 5, 5), 0u);
}

TEST_F(ActiveXPlayer, AClickPressesTheMoviesButtonAndAMenuPressIsMovedToTheParent)
{
    std::wstring commands;
    player()->OnFSCommand = TkvFSCommandEvent(
        [&](TObject*, const WideString& c, const WideString& a) { commands += c + L"|" + a + L";"; });
    player()->SetPlugin(kvNetscape);
    player()->SetPlugin(kvActiveX);
    LoadBytes(plugintest::buttonMovie());
    // A real click on the form, where the player shows the button (the 40 x 30
    // stage is scaled to fit the 100 x 100 player): the form
    // routes it to the graphic control, which hands it to its driver.
    HWND wnd = form->Handle();
    SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(10 + 50, 10 + 50));
    SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10 + 50, 10 + 50));
    SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(10 + 50, 10 + 50));
    StepControls(1);
    EXPECT_EQ(commands, L"pressed|yes;") << ControlLog();
    EXPECT_NE(ControlLog().find("WM_SETCURSOR"), std::string::npos) << "the cursor message follows";

    // With the Flash menu on, a right press reaches the control in the
    // parent window's client space; the release does not move.
    driver()->DisableFlashMenu = false;
    Control().ClearLog();
    driver()->MouseDown(mbRight, {ssRight}, 5, 6);
    driver()->MouseUp(mbRight, {}, 5, 6);
    const std::string log = ControlLog();
    // The player sits at (10, 10) on its form.
    EXPECT_GE(LineOf(log, {"WM_RBUTTONDOWN", "lParam=0x0010000F"}), 0) << log;
    EXPECT_GE(LineOf(log, {"WM_RBUTTONUP", "lParam=0x00060005"}), 0) << log;
    EXPECT_FALSE(driver()->ReportParentWindow);
}

TEST_F(ActiveXPlayer, AHandlerThatReplacesTheDriverDuringAnEventDoesNotPullItAway)
{
    bool changed = false;
    player()->OnFSCommand = TkvFSCommandEvent([&](TObject*, const WideString& c, const WideString&) {
        if (c == L"hello" && !changed) {
            changed = true;
            player()->SetPlugin(kvNetscape);  // frees the driver whose control is calling
        }
    });
    player()->SetPlugin(kvNetscape);
    player()->SetPlugin(kvActiveX);
    TkvFlashDriver* before = player()->Driver;
    LoadBytes(plugintest::scriptMovie());
    EXPECT_TRUE(changed) << ControlLog();
    EXPECT_NE(player()->Driver, before);
    EXPECT_STREQ(player()->Driver->DriverClass().ClassName(), L"TkvFlashDriverNS");
    Pump();  // the old driver goes from the message loop, once its control has returned
    EXPECT_EQ(ControlDescription.InstanceCount, 0);
}

// Calls whose order the handshakes below do not fix: queries, painting and
// the tests' own clock.
const std::vector<std::string_view> kBesideTheHandshake = {
    "< QueryInterface", "< IViewObject.Draw", "> IOleInPlaceSiteWindowless.InvalidateRect",
    "> IOleInPlaceSiteWindowless.GetDC", "> IOleInPlaceSiteWindowless.ReleaseDC", "< RefControl_StepFrames"};

TEST_F(ActiveXPlayer, ActivationLoadingAndTeardownCallTheControlInTheirOrder)
{
    player()->SetPlugin(kvNetscape);
    Pump();
    Control().ClearLog();
    player()->SetPlugin(kvActiveX);
    Pump();
    ExpectSequence(ControlLog(),
                   {"< IClassFactory.CreateInstance {00000112-",  // IOleObject
                    "< IOleObject.GetMiscStatus aspect=1",
                    "< IOleObject.SetClientSite site",
                    "< IOleObject.GetClientSite",
                    "< IPersistStreamInit.InitNew",
                    "< IConnectionPointContainer.FindConnectionPoint {9BFBBC02-",  // IPropertyNotifySink
                    "< IPropertyNotifySink connection point.Advise",
                    "< IConnectionPointContainer.FindConnectionPoint {D27CDB6D-",  // the events
                    "< _IkvFlashPlayerEvents connection point.Advise",
                    "< IOleControl.OnAmbientPropertyChange dispid=-1",
                    "> ambient USERMODE true = 0x00000000",
                    "< IDispatch.Invoke dispid=133 flags=4",
                    "< IkvFlashPlayer.put_WMode \"Transparent\"",
                    "> IPropertyNotifySink.OnChanged 133 = 0x00000000",
                    "< IOleObject.DoVerb verb=-5 lindex=0 rect=(0,0,100,100)",
                    "> IOleClientSite.QueryInterface IOleInPlaceSiteWindowless = 0x00000000",
                    "> IOleInPlaceSiteWindowless.CanInPlaceActivate = 0x00000000",
                    "> IOleInPlaceSiteWindowless.CanWindowlessActivate = 0x00000000",
                    "> IOleInPlaceSiteWindowless.OnInPlaceActivateEx flags=ACTIVATE_WINDOWLESS = 0x00000000",
                    "> IOleInPlaceSiteWindowless.GetWindow",
                    "> IOleInPlaceSiteWindowless.GetWindowContext pos=(0,0,100,100) clip=(0,0,32767,32767) = 0x00000000",
                    "< IOleInPlaceObject.SetObjectRects pos=(0,0,100,100) clip=(0,0,100,100)",
                    "< IOleObject.GetClientSite",
                    "< IOleControl.OnAmbientPropertyChange dispid=-1",
                    "> ambient USERMODE true = 0x00000000",
                    "< IkvFlashPlayer.FlashVersion",
                    "< IkvFlashPlayer.DisableLocalSecurity"},
                   kBesideTheHandshake);

    // A movie from a stream: one binding through the driver's bind host,
    // delivered whole inside it, then the control's progress events.
    Control().ClearLog();
    LoadBytes(RectMovie(0x00A000));
    ExpectSequence(ControlLog(),
                   {"< IkvFlashPlayer.LoadMovie 0 \"http://kvs/<stream>",
                    "> IServiceProvider.QueryService IBindHost = 0x00000000",
                    "> IBindHost.CreateMoniker \"http://kvs/<stream>",
                    "< IBindStatusCallback.OnStartBinding",
                    "< IBindStatusCallback.OnProgress",
                    "< IBindStatusCallback.OnDataAvailable",
                    "< IBindStatusCallback.OnStopBinding 0x00000000",
                    "> IMoniker.BindToStorage \"http://kvs/<stream>",
                    "> _IkvFlashPlayerEvents.Invoke 1958 100 = 0x00000000",
                    "> _IkvFlashPlayerEvents.Invoke -609 4 = 0x00000000"},
                   kBesideTheHandshake);

    // The control is closed once, then disconnected; the site goes before
    // the last reference.
    Control().ClearLog();
    form.reset();
    Pump();
    ExpectSequence(ControlLog(),
                   {"< IOleObject.Close option=1",
                    "> IOleInPlaceSite.OnInPlaceDeactivate = 0x00000000",
                    "< IConnectionPointContainer.FindConnectionPoint {D27CDB6D-",
                    "< _IkvFlashPlayerEvents connection point.Unadvise",
                    "< IConnectionPointContainer.FindConnectionPoint {9BFBBC02-",
                    "< IPropertyNotifySink connection point.Unadvise",
                    "< IOleObject.SetClientSite null",
                    "< IUnknown.Release last reference"},
                   kBesideTheHandshake);
}

TEST_F(ActiveXPlayer, ChangingThePluginDestroysTheControlCleanly)
{
    LoadBytes(RectMovie(0x00A000));
    const int before = Control().InstanceCount();
    player()->SetPlugin(kvNetscape);
    Pump();
    EXPECT_EQ(Control().InstanceCount(), before - 1);
    EXPECT_EQ(ControlDescription.InstanceCount, 0);
}

}  // namespace
