// The installed control's harder habits, played by the reference control:
// each case checks from the control's call log that the habit ran, then what
// the package made of it. The habits are switched through the control's
// settings key, so every case also knows what the polite control does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "../plugin/movies.h"
#include "ax_support.h"
#include "host_config.h"
#include "kv_driver_netscape.h"
#include "swfwriter/swf_writer.h"

using namespace axtest;
using namespace nstest;
namespace sw = refplayer::swfwriter;

namespace {

const wchar_t kKey[] = L"Software\\KorvelRef\\Control";

// Writes the control's settings for the controls this program makes next.
void Configure(const std::map<std::wstring, DWORD>& numbers, const wchar_t* version = nullptr)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    // Frames advance only when a case steps them, and the log records.
    std::map<std::wstring, DWORD> all{{L"ManualClock", 1}, {L"Log", 1}};
    for (const auto& [name, value] : numbers)
        all[name] = value;
    for (const auto& [name, value] : all)
        RegSetValueExW(h, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    if (version)
        RegSetValueExW(h, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    refhost::claimConfig(kKey);  // for this program only
}

void Unconfigure() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }

// Calls that happen beside the steps the cases below look at.
const std::vector<std::string_view> kBeside = {
    "< QueryInterface", "< IViewObject.Draw", "> IOleInPlaceSiteWindowless.InvalidateRect",
    "> IOleInPlaceSiteWindowless.GetDC", "> IOleInPlaceSiteWindowless.ReleaseDC", "< RefControl_StepFrames",
    "< IBindStatusCallback", "> IServiceProvider", "> _IkvFlashPlayerEvents.Invoke -609",
    "> _IkvFlashPlayerEvents.Invoke 1958"};

// A movie whose first frame loads `url` into level 0 and stops.
std::vector<std::uint8_t> LoaderOf(const std::string& url)
{
    sw::Movie m(8, 100, 100, 10);
    sw::ActionAssembler a;
    a.push({url}).push({"_level0"}).getUrl2(sw::SendVars::None, false, false);
    a.stop();
    m.doAction(a);
    m.showFrame();
    return m.build();
}

// A 50 x 50 stage filled with one opaque colour.
std::vector<std::uint8_t> SmallStageMovie(std::uint32_t colour)
{
    sw::Movie movie(8, 50, 50, 12.0);
    sw::ShapeBuilder shape(3);
    const std::uint32_t f = shape.addFill(sw::Rgba::rgb(colour));
    shape.rectangle(0, 0, 50 * 20, 50 * 20, f, 0);
    sw::PlaceObject place;
    place.depth = 1;
    place.character = movie.defineShape(shape);
    movie.place(place);
    movie.showFrame();
    return movie.build();
}

struct HttpRoot {
    int port = 0;
    std::wstring folder;
};

// The local http server of the test session (its state file is named by
// KV_HTTP_STATE): its port and the folder it serves.
const HttpRoot& Http()
{
    static const HttpRoot root = [] {
        HttpRoot out;
        const char* state = std::getenv("KV_HTTP_STATE");
        if (!state)
            return out;
        std::ifstream in(state);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("port=", 0) == 0)
                out.port = std::atoi(line.c_str() + 5);
            else if (line.rfind("root=", 0) == 0) {
                out.folder = L"Z:";
                for (char c : line.substr(5))
                    out.folder += c == '/' ? L'\\' : static_cast<wchar_t>(c);
                out.folder += L"\\";
            }
        }
        return out;
    }();
    return root;
}

void WriteFile(const std::wstring& path, const std::vector<std::uint8_t>& bytes)
{
    TFileStream f(path, fmCreate);
    f.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

class ActiveXHabits : public BackEndCase {
protected:
    void TearDown() override
    {
        form.reset();
        Unconfigure();
        BackEndCase::TearDown();
    }
    // A player form whose control is made under `numbers` (and `version`).
    void MakeForm(const std::map<std::wstring, DWORD>& numbers = {}, const wchar_t* version = nullptr)
    {
        Configure(numbers, version);
        form = NewActiveXForm();
        Unconfigure();
        ASSERT_TRUE(Control().Loaded()) << "the reference control is not registered in this prefix";
        ASSERT_STREQ(form->Player->Driver->DriverClass().ClassName(), L"TkvFlashDriverActiveX");
        Control().ClearLog();
    }
    // A driver of its own with a transparent background, made under `numbers`.
    std::unique_ptr<TkvFlashDriver> TransparentDriver(const std::map<std::wstring, DWORD>& numbers)
    {
        Configure(numbers);
        std::unique_ptr<TkvFlashDriver> d(ActiveXDriverClass->Create(100, 100, 0x00000000u));
        Unconfigure();
        return d;
    }
    TkvFlashPlayer* player() { return form->Player; }
    TkvFlashDriverActiveX* driver() { return static_cast<TkvFlashDriverActiveX*>(form->Player->Driver); }
    static void Load(TkvFlashDriver* d, const std::vector<std::uint8_t>& bytes)
    {
        TMemoryStream s;
        s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        d->LoadMovieFromStream(&s);
        StepControls(1);
    }
    void Load(const std::vector<std::uint8_t>& bytes) { Load(driver(), bytes); }

    std::unique_ptr<TPlayerForm, FormDeleter> form;
};

// The installed control fails GetVariable of a variable the movie does not
// have; the ActiveX back-end raises that as the framework's OLE error, while
// the Netscape back-end answers empty text. A defined variable reads the same
// on both.
TEST_F(ActiveXHabits, GetVariableOfAnUndefinedVariable_RaisesOnActiveX_AnswersEmptyOnNetscape)
{
    MakeForm();
    Load(plugintest::fiveFramesMovie());
    player()->SetVariable(L"defined", L"here");
    EXPECT_EQ(player()->GetVariable(L"defined"), L"here");
    Control().ClearLog();
    try {
        player()->GetVariable(L"nowhere");
        ADD_FAILURE() << "no error raised\n" << ControlLog();
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.ErrorCode, static_cast<std::int32_t>(E_FAIL));
    }
    EXPECT_GE(LineOf(ControlLog(), {"# GetVariable \"nowhere\" fails"}), 0) << ControlLog();

    player()->SetPlugin(kvNetscape);
    ASSERT_STREQ(player()->Driver->DriverClass().ClassName(), L"TkvFlashDriverNS");
    ASSERT_TRUE(static_cast<TkvFlashDriverNS*>(player()->Driver)->InstanceAlive())
        << "the plug-in sits beside this program";
    TMemoryStream s;
    const auto bytes = RectMovie(0x30A050);
    s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    s.SetPosition(0);  // this back-end copies from the stream's position on
    player()->LoadMovieFromStream(&s);
    for (int i = 0; i < 50 && (Pixel(player()->Driver, 50, 50) & 0xFFFFFF) != 0x30A050u; ++i)
        Step(1);
    ASSERT_EQ(Pixel(player()->Driver, 50, 50) & 0xFFFFFF, 0x30A050u) << "the movie is in";
    player()->SetVariable(L"defined", L"here");
    EXPECT_EQ(player()->GetVariable(L"defined"), L"here");
    EXPECT_EQ(player()->GetVariable(L"nowhere"), L"") << PlayerLog();

    // A control without the habit answers empty text, as the plug-in does.
    MakeForm({{L"UndefinedVariableFails", 0}});
    Load(plugintest::fiveFramesMovie());
    EXPECT_EQ(player()->GetVariable(L"nowhere"), L"");
    EXPECT_LT(LineOf(ControlLog(), {"fails: no such variable"}), 0) << ControlLog();
}

// A name the package's bind host leaves to the control (no known marker:
// E_NOTIMPL) is loaded by the control itself: a file URL from the file
// system, an http URL with its own request.
TEST_F(ActiveXHabits, NamesTheBindHostLeavesToTheControl_AreLoadedByTheControlItself)
{
    const std::wstring child = TempFolder() + L"habits-child-" + std::to_wstring(GetCurrentProcessId()) + L".bin";
    WriteFile(child, RectMovie(0x20B040));
    std::string fileUrl = "file:///" + Narrow(child);
    for (char& c : fileUrl)
        if (c == '\\')
            c = '/';

    MakeForm();
    Load(LoaderOf(fileUrl));
    StepControls(1);
    std::string log = ControlLog();
    EXPECT_GE(LineOf(log, {"> IBindHost.CreateMoniker", ".bin", "= 0x80004001"}), 0) << log;
    EXPECT_GE(LineOf(log, {"# loading", "from the file system"}), 0) << log;
    EXPECT_GE(LineOf(log, {"# delivered", ".bin"}), 0) << log;
    EXPECT_EQ(Pixel(driver(), 50, 50) & 0xFFFFFF, 0x20B040u) << log;

    // Over http, through the session's local server. An upper-case scheme is
    // not the bind host's http route, and the name has no marker either.
    if (Http().port == 0) {
        ADD_FAILURE() << "no http server (KV_HTTP_STATE)";
    } else {
        const std::wstring name = L"habits-" + std::to_wstring(GetCurrentProcessId()) + L"-served";
        WriteFile(Http().folder + name, RectMovie(0x3050C0));
        const std::string url = "HTTP://127.0.0.1:" + std::to_string(Http().port) + "/" + Narrow(name);
        Control().ClearLog();
        Load(LoaderOf(url));
        StepControls(1);
        log = ControlLog();
        EXPECT_GE(LineOf(log, {"> IBindHost.CreateMoniker", "= 0x80004001"}), 0) << log;
        EXPECT_GE(LineOf(log, {"# loading", "with a request of the control's own"}), 0) << log;
        EXPECT_EQ(Pixel(driver(), 50, 50) & 0xFFFFFF, 0x3050C0u) << log;
        DeleteFileW((Http().folder + name).c_str());
    }

    // A polite control fails what the bind host leaves to it: the loader stays.
    MakeForm({{L"OwnLoading", 0}});
    Load(LoaderOf(fileUrl));
    StepControls(1);
    log = ControlLog();
    EXPECT_LT(LineOf(log, {"# loading"}), 0) << log;
    EXPECT_GE(LineOf(log, {"# request", ".bin", "failed"}), 0) << log;
    EXPECT_NE(Pixel(driver(), 50, 50) & 0xFFFFFF, 0x20B040u);
    DeleteFileW(child.c_str());
}

// A control that draws a change itself through the site's DC lands it in the
// primary buffer only, over the last frame. The package repaints that area
// when the DC comes back, so on a transparent driver the old frame is gone
// and the alpha comes from both drawings again.
TEST_F(ActiveXHabits, DrawingThroughTheSitesDC_IsRepaintedWithItsAlphaWhenTheDCComesBack)
{
    auto d = TransparentDriver({});  // the default: every change
    std::vector<TRect> painted;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) { painted.push_back(r); });
    Load(d.get(), plugintest::boxesMovie());
    // Boxes scaled to the 100 x 100 buffer: the red one at (0..50, 0..37) in
    // frame 0 and at (0..50, 37..75) in frames 1 and 2; the half-transparent
    // green one at (50..100, 0..37) throughout.
    int throughDC = 0;
    for (int frame = 0; frame < 4; ++frame) {
        Control().ClearLog();
        painted.clear();
        StepControls(1);
        const std::string log = ControlLog();
        if (LineOf(log, {"> IOleInPlaceSiteWindowless.GetDC"}) < 0)
            continue;  // no change in this frame
        ++throughDC;
        SCOPED_TRACE("frame step " + std::to_string(frame));
        EXPECT_GE(LineOf(log, {"> IOleInPlaceSiteWindowless.ReleaseDC = 0x00000000"}), 0) << log;
        EXPECT_LT(LineOf(log, {"> IOleInPlaceSiteWindowless.InvalidateRect"}), 0) << "drawn, not asked for\n" << log;
        EXPECT_FALSE(painted.empty()) << "the drawn area is reported";
        const std::uint32_t top = Pixel(d.get(), 25, 20), bottom = Pixel(d.get(), 25, 55);
        EXPECT_TRUE((top == 0xFFFF0000u && bottom == 0u) || (top == 0u && bottom == 0xFFFF0000u))
            << std::hex << "the red box is in one place: " << top << " " << bottom << "\n" << log;
        const std::uint32_t green = Pixel(d.get(), 75, 20);
        EXPECT_NEAR(static_cast<int>(green >> 24), 128, 1) << std::hex << green << " alpha of the half-transparent box";
    }
    EXPECT_GE(throughDC, 2) << "the red box moved at least twice";
    d.reset();
    Pump();

    // The polite control asks for every change instead.
    auto polite = TransparentDriver({{L"DrawThroughDC", 0}});
    Control().ClearLog();
    Load(polite.get(), plugintest::boxesMovie());
    StepControls(2);
    EXPECT_LT(LineOf(ControlLog(), {"GetDC"}), 0) << ControlLog();
    EXPECT_GE(LineOf(ControlLog(), {"> IOleInPlaceSiteWindowless.InvalidateRect"}), 0) << ControlLog();
}

// During a drag the control holds the mouse and the focus, checks that it
// still holds the mouse and reports what it changed as a region; the keys
// the movie has no use for go back to the site's default handling, and the
// host keeps them.
TEST_F(ActiveXHabits, DragAndTyping_CallTheWindowlessSiteAndThePackageAnswersSoundly)
{
    MakeForm();
    std::wstring commands;
    std::vector<TRect> painted;
    player()->OnFSCommand = TkvFSCommandEvent(
        [&](TObject*, const WideString& c, const WideString& a) { commands += c + L"|" + a + L";"; });
    Load(plugintest::buttonMovie());
    driver()->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) { painted.push_back(r); });
    Control().ClearLog();
    driver()->MouseDown(mbLeft, {ssLeft}, 50, 50);
    driver()->MouseMove({ssLeft}, 52, 51);
    driver()->MouseUp(mbLeft, {}, 52, 51);
    StepControls(1);
    EXPECT_EQ(commands, L"pressed|yes;") << ControlLog();
    ExpectSequence(ControlLog(),
                   {"< IOleInPlaceObjectWindowless.OnWindowMessage WM_LBUTTONDOWN",
                    "> IOleInPlaceSiteWindowless.GetCapture = 0x00000001",
                    "> IOleInPlaceSiteWindowless.SetCapture TRUE = 0x00000000",
                    "> IOleInPlaceSiteWindowless.SetFocus TRUE = 0x00000000",
                    "< IOleInPlaceObjectWindowless.OnWindowMessage WM_SETCURSOR",
                    "< IOleInPlaceObjectWindowless.OnWindowMessage WM_MOUSEMOVE",
                    // The package remembers that the control holds the mouse.
                    "> IOleInPlaceSiteWindowless.GetCapture = 0x00000000",
                    "> IOleInPlaceSiteWindowless.InvalidateRgn (0,0,100,100) = 0x00000000",
                    "< IOleInPlaceObjectWindowless.OnWindowMessage WM_SETCURSOR",
                    "< IOleInPlaceObjectWindowless.OnWindowMessage WM_LBUTTONUP",
                    "> IOleInPlaceSiteWindowless.SetCapture FALSE = 0x00000000",
                    "< IOleInPlaceObjectWindowless.OnWindowMessage WM_SETCURSOR"},
                   {"< QueryInterface", "< IViewObject.Draw", "> IOleInPlaceSiteWindowless.InvalidateRect",
                    "> IOleInPlaceSiteWindowless.GetDC", "> IOleInPlaceSiteWindowless.ReleaseDC",
                    "< RefControl_StepFrames", "> _IkvFlashPlayerEvents"});
    EXPECT_NE(std::find(painted.begin(), painted.end(), TRect(0, 0, 100, 100)), painted.end())
        << "the region's box was repainted";
    EXPECT_EQ(driver()->GetCapture(), S_FALSE) << "released with the button";

    // A second press starts a new drag: the mouse is free again.
    Control().ClearLog();
    driver()->MouseDown(mbLeft, {ssLeft}, 50, 50);
    EXPECT_GE(LineOf(ControlLog(), {"> IOleInPlaceSiteWindowless.SetCapture TRUE"}), 0) << ControlLog();
    driver()->MouseUp(mbLeft, {}, 50, 50);

    Control().ClearLog();
    std::uint16_t tab = VK_TAB, f5 = VK_F5, letter = 'A';
    driver()->KeyDown(tab, {});
    driver()->KeyUp(f5, {});
    driver()->KeyDown(letter, {});
    EXPECT_EQ(tab, VK_TAB) << "the host handles Tab";
    EXPECT_EQ(f5, VK_F5);
    EXPECT_EQ(letter, 0) << "the movie took the letter";
    const std::string keys = ControlLog();
    EXPECT_GE(LineOf(keys, {"> IOleInPlaceSiteWindowless.OnDefWindowMessage WM_KEYDOWN wParam=9 = 0x00000001"}), 0)
        << keys;
    EXPECT_GE(LineOf(keys, {"> IOleInPlaceSiteWindowless.OnDefWindowMessage WM_KEYUP wParam=116 = 0x00000001"}), 0)
        << keys;
    EXPECT_LT(LineOf(keys, {"OnDefWindowMessage WM_KEYDOWN wParam=65"}), 0) << keys;

    // The polite control takes every key and never asks for the mouse.
    MakeForm({{L"SiteInput", 0}});
    tab = VK_TAB;
    driver()->KeyDown(tab, {});
    driver()->MouseDown(mbLeft, {ssLeft}, 50, 50);
    driver()->MouseUp(mbLeft, {}, 50, 50);
    EXPECT_EQ(tab, 0);
    EXPECT_LT(LineOf(ControlLog(), {"Capture"}), 0) << ControlLog();
}

// A control whose movie has a stage of its own size asks its site for that
// size; the component decides the control's size, so the package grants the
// buffer's rectangle again and the movie keeps filling the player.
TEST_F(ActiveXHabits, AControlAskingForItsStagesSize_KeepsTheComponentsRectangle)
{
    MakeForm({{L"PosRectChange", 1}});
    Load(SmallStageMovie(0x2080F0));
    const std::string log = ControlLog();
    ExpectSequence(log,
                   {"< IkvFlashPlayer.LoadMovie 0 \"http://kvs/<stream>",
                    "> IBindHost.CreateMoniker",
                    "> IMoniker.BindToStorage",
                    "< IOleInPlaceObject.SetObjectRects pos=(0,0,100,100) clip=(0,0,32767,32767)",
                    "> IOleInPlaceSite.OnPosRectChange (0,0,50,50) = 0x00000000"},
                   kBeside);
    EXPECT_EQ(Pixel(driver(), 75, 75) & 0xFFFFFF, 0x2080F0u) << "the 50 x 50 stage is scaled to the player";
    EXPECT_EQ(Pixel(driver(), 5, 5) & 0xFFFFFF, 0x2080F0u);

    MakeForm();
    Load(SmallStageMovie(0x2080F0));
    EXPECT_LT(LineOf(ControlLog(), {"OnPosRectChange"}), 0) << ControlLog();
}

// The control raises the movie's events from inside the package's own calls:
// FSCommand while SetVariable runs, FlashCall while CallFunction runs. The
// handlers run there, may call the driver again, and the answer they give a
// nested external call reaches the control.
TEST_F(ActiveXHabits, EventsRaisedInsideThePackagesCalls_ArriveAndTheDriverSurvives)
{
    MakeForm({{L"EventsInCalls", 1}});
    bool inSetVariable = false, inCallFunction = false;
    std::vector<std::wstring> commands, requests;
    std::wstring seenInside;
    player()->OnFSCommand = TkvFSCommandEvent([&](TObject* sender, const WideString& c, const WideString& a) {
        commands.push_back(c + L"|" + a + (inSetVariable ? L" inside" : L" outside"));
        if (c == L"variableSet" && inSetVariable)
            seenInside = static_cast<TkvFlashDriver*>(sender)->GetVariable(a);
    });
    player()->OnFlashCall = TkvFlashCallEvent([&](TObject* sender, const WideString& request) {
        requests.push_back(request + (inCallFunction ? L" inside" : L" outside"));
        if (request.find(L"insideCall") != std::wstring::npos)
            static_cast<TkvFlashDriver*>(sender)->SetReturnValue(L"<string>inner</string>");
        else
            static_cast<TkvFlashDriver*>(sender)->SetReturnValue(L"<string>Hi Bob</string>");
    });
    Load(plugintest::scriptMovie());
    commands.clear();
    requests.clear();
    Control().ClearLog();

    inSetVariable = true;
    player()->SetVariable(L"level", L"7");
    inSetVariable = false;
    ASSERT_EQ(commands.size(), 1u) << ControlLog();
    EXPECT_EQ(commands[0], L"variableSet|level inside");
    EXPECT_EQ(seenInside, L"7") << "the handler read the driver again from inside the call";
    ExpectSequence(ControlLog(),
                   {"< IkvFlashPlayer.SetVariable \"level\" \"7\"",
                    "< IkvFlashPlayer.GetVariable \"level\"",
                    "> _IkvFlashPlayerEvents.Invoke 150 \"variableSet\" \"level\" = 0x00000000"},
                   {"< QueryInterface", "< IkvFlashPlayer.FlashVersion", "< IViewObject.Draw",
                    "> IOleInPlaceSiteWindowless.InvalidateRect",
                    "> IOleInPlaceSiteWindowless.GetDC", "> IOleInPlaceSiteWindowless.ReleaseDC"});
    EXPECT_GE(LineOf(ControlLog(), {"# FSCommand fired inside SetVariable as configured"}), 0);

    Control().ClearLog();
    inCallFunction = true;
    const WideString answer = player()->CallFunction(
        L"<invoke name=\"twice\" returntype=\"xml\"><arguments><number>21</number></arguments></invoke>");
    inCallFunction = false;
    EXPECT_EQ(answer, L"<number>42</number>");
    ASSERT_EQ(requests.size(), 1u) << ControlLog();
    EXPECT_NE(requests[0].find(L"<invoke name=\"insideCall\""), std::wstring::npos) << requests[0];
    EXPECT_NE(requests[0].find(L" inside"), std::wstring::npos);
    const std::string log = ControlLog();
    ExpectSequence(log,
                   {"< IkvFlashPlayer.FlashVersion",
                    "< IkvFlashPlayer.CallFunction",
                    "< IkvFlashPlayer.FlashVersion",
                    "< IkvFlashPlayer.SetReturnValue \"<string>inner</string>\"",
                    "> _IkvFlashPlayerEvents.Invoke 197"},
                   {"< QueryInterface", "< IViewObject.Draw", "> IOleInPlaceSiteWindowless.InvalidateRect",
                    "> IOleInPlaceSiteWindowless.GetDC", "> IOleInPlaceSiteWindowless.ReleaseDC"});
    EXPECT_GE(LineOf(log, {"# external call answered \"<string>inner</string>\""}), 0) << log;

    // A handler that replaces the driver from inside SetVariable: the call
    // returns into a driver that is released only afterwards.
    player()->OnFSCommand = TkvFSCommandEvent([&](TObject*, const WideString& c, const WideString&) {
        if (c == L"variableSet")
            player()->SetPlugin(kvNetscape);
    });
    player()->SetVariable(L"last", L"1");
    EXPECT_STREQ(player()->Driver->DriverClass().ClassName(), L"TkvFlashDriverNS");
    Pump();
    EXPECT_EQ(ControlDescription.InstanceCount, 0);

    // The polite control raises nothing inside the calls.
    MakeForm();
    commands.clear();
    player()->OnFSCommand = TkvFSCommandEvent(
        [&](TObject*, const WideString& c, const WideString& a) { commands.push_back(c + L"|" + a); });
    Load(plugintest::fiveFramesMovie());
    player()->SetVariable(L"level", L"7");
    EXPECT_TRUE(commands.empty());
    EXPECT_LT(LineOf(ControlLog(), {"fired inside"}), 0) << ControlLog();
}

}  // namespace
