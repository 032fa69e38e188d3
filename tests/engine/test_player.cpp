// The player as its host sees it: mouse and keyboard on buttons and text
// fields, URL requests and their answers, script calls in both directions,
// and the areas it asks to have repainted.
#include "engine_test_support.h"

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

const sw::Rgba kRed = sw::Rgba::rgb(0xFF0000), kGreen = sw::Rgba::rgb(0x00FF00), kBlue = sw::Rgba::rgb(0x0000FF);
constexpr uint32_t kRedPx = 0xFFFF0000u, kGreenPx = 0xFF00FF00u, kBluePx = 0xFF0000FFu, kWhitePx = 0xFFFFFFFFu;
using Command = std::pair<std::string, std::string>;

sw::ButtonAction Fs(uint16_t conditions, const std::string& command, const std::string& args = "")
{
    sw::ButtonAction a;
    a.conditions = conditions;
    a.actions.fscommand(command, args);
    return a;
}

// A 100 x 100 movie with one button at (20,20)-(60,60): red up, green over,
// blue down; the hit area is the left half only.
std::vector<uint8_t> ButtonMovie()
{
    auto m = movie(100, 100);
    uint16_t up = defineRect(m, 20, 20, 40, 40, kRed);
    uint16_t over = defineRect(m, 20, 20, 40, 40, kGreen);
    uint16_t down = defineRect(m, 20, 20, 40, 40, kBlue);
    uint16_t hit = defineRect(m, 20, 20, 20, 40, kRed);
    sw::Button b;
    b.records.push_back(sw::ButtonRecord{.states = sw::button_state::Up, .character = up, .depth = 1});
    b.records.push_back(sw::ButtonRecord{.states = sw::button_state::Over, .character = over, .depth = 2});
    b.records.push_back(sw::ButtonRecord{.states = sw::button_state::Down, .character = down, .depth = 3});
    b.records.push_back(sw::ButtonRecord{.states = sw::button_state::HitTest, .character = hit, .depth = 4});
    b.actions.push_back(Fs(sw::button_cond::RollOver, "over"));
    b.actions.push_back(Fs(sw::button_cond::Press, "press"));
    b.actions.push_back(Fs(sw::button_cond::Release, "release"));
    b.actions.push_back(Fs(sw::button_cond::ReleaseOutside, "outside"));
    b.actions.push_back(Fs(sw::button_cond::keyPress('k'), "key", "k"));
    b.actions.push_back(Fs(sw::button_cond::keyPress(13), "key", "enter"));
    m.place(placeAt(m.defineButton(b), 1)).showFrame();
    return m.build();
}

}  // namespace

TEST(PlayerInput, ButtonsFollowTheMouseThroughTheirStatesAndRunTheirActions)
{
    RecordingHost host;
    Player p(host);
    load(p, ButtonMovie(), 100, 100);
    auto pixel = [&] { return render(p, 100, 100).at(30, 30); };
    EXPECT_EQ(pixel(), kRedPx);

    p.mouseMove(50, 30);  // over the picture but outside the hit area
    EXPECT_EQ(pixel(), kRedPx);
    EXPECT_TRUE(host.commands.empty());

    host.invalidations.clear();
    p.mouseMove(30, 30);
    EXPECT_EQ(pixel(), kGreenPx);
    EXPECT_EQ(host.commands, (std::vector<Command>{{"over", ""}}));
    ASSERT_FALSE(host.invalidations.empty());  // the look changed: repaint asked

    p.mouseDown(refplayer::MouseButton::Left, 30, 30);
    EXPECT_EQ(pixel(), kBluePx);
    p.mouseUp(refplayer::MouseButton::Left, 31, 31);
    EXPECT_EQ(pixel(), kGreenPx);
    EXPECT_EQ(host.commands, (std::vector<Command>{{"over", ""}, {"press", ""}, {"release", ""}}));

    // Pressed, dragged off and released elsewhere.
    host.commands.clear();
    p.mouseDown(refplayer::MouseButton::Left, 30, 30);
    p.mouseMove(90, 90);
    p.mouseUp(refplayer::MouseButton::Left, 90, 90);
    EXPECT_EQ(host.commands, (std::vector<Command>{{"press", ""}, {"outside", ""}}));
    EXPECT_EQ(pixel(), kRedPx);

    // Clicks elsewhere and other mouse buttons do nothing.
    host.commands.clear();
    p.mouseDown(refplayer::MouseButton::Left, 90, 90);
    p.mouseUp(refplayer::MouseButton::Left, 90, 90);
    p.mouseDown(refplayer::MouseButton::Right, 30, 30);
    p.mouseUp(refplayer::MouseButton::Right, 30, 30);
    EXPECT_EQ(host.commands, (std::vector<Command>{{"over", ""}}));  // the right-button visit hovered it

    // Key presses reach buttons anywhere on the stage.
    host.commands.clear();
    p.charInput('k');
    p.charInput('j');
    p.keyDown(0x0D);
    EXPECT_EQ(host.commands, (std::vector<Command>{{"key", "k"}, {"key", "enter"}}));
}

TEST(PlayerInput, AClickedTextFieldTakesBytesIntoItsVariable)
{
    auto m = movie(100, 100);
    sw::EditText t;
    t.bounds = {200, 1800, 200, 800};
    t.variable = "answer";
    t.initialText = "hi";
    t.fontHeight = 240;
    t.maxLength = 6;
    t.border = true;
    m.place(placeAt(m.defineEditText(t), 1)).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    EXPECT_EQ(p.getVariable("answer"), "hi");  // the unset variable took the initial text

    p.charInput('x');  // not focused yet
    EXPECT_EQ(p.getVariable("answer"), "hi");
    p.mouseDown(refplayer::MouseButton::Left, 50, 20);
    p.mouseUp(refplayer::MouseButton::Left, 50, 20);
    View before = render(p, 100, 100);
    for (uint8_t b : {uint8_t('!'), uint8_t(0x82), uint8_t(0xA0)})
        p.charInput(b);
    EXPECT_EQ(p.getVariable("answer"), "hi!\x82\xA0");
    p.charInput(0x08);
    EXPECT_EQ(p.getVariable("answer"), "hi!\x82");
    p.charInput('a');
    p.charInput('b');
    p.charInput('c');   // one past the field's maximum of 6
    p.charInput(0x0D);  // single line: no line break
    EXPECT_EQ(p.getVariable("answer"), "hi!\x82" "ab");
    View after = render(p, 100, 100);
    EXPECT_NE(before.pixels, after.pixels);

    // The field shows what the variable holds, however it was set.
    p.setVariable("answer", "");
    View empty = render(p, 100, 100);
    for (int y = 11; y < 39; ++y)
        for (int x = 11; x < 89; ++x)
            ASSERT_EQ(empty.at(x, y), kWhitePx) << x << "," << y;

    // A click elsewhere takes the focus away.
    p.mouseDown(refplayer::MouseButton::Left, 50, 90);
    p.charInput('z');
    EXPECT_EQ(p.getVariable("answer"), "");
}

// --- loading ---------------------------------------------------------------------------------------

TEST(PlayerLoading, RootMoviesAreRequestedAndOnlyValidAnswersReplaceWhatPlays)
{
    RecordingHost host;
    Player p(host);
    p.setViewSize(40, 40);
    EXPECT_FALSE(p.hasMovie());
    p.loadRootUrl("http://site.test/a/main.swf");
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.requests[0].kind, RequestKind::Movie);
    EXPECT_EQ(host.requests[0].url, "http://site.test/a/main.swf");
    EXPECT_FALSE(p.deliverUrl(host.requests[0].id + 100, std::vector<uint8_t>{1, 2, 3}));

    const std::vector<uint8_t> junk = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
    EXPECT_FALSE(p.deliverUrl(host.requests[0].id, junk));
    EXPECT_NE(p.lastError().find("signature"), std::string::npos) << p.lastError();
    EXPECT_FALSE(p.hasMovie());
    EXPECT_FALSE(p.deliverUrl(host.requests[0].id, junk));  // answered once only

    auto red = movie(40, 40);
    red.place(placeAt(defineRect(red, 0, 0, 40, 40, kRed), 1)).showFrame();
    auto redBytes = red.build(sw::Compression::Zlib);
    // Hosts may answer from inside the request.
    host.onRequest = [&](const RecordingHost::Request& r) { EXPECT_TRUE(p.deliverUrl(r.id, redBytes)); };
    host.invalidations.clear();
    p.loadRootUrl("http://site.test/a/main.swf");
    ASSERT_TRUE(p.hasMovie());
    EXPECT_EQ(render(p, 40, 40).at(5, 5), kRedPx);
    ASSERT_FALSE(host.invalidations.empty());
    EXPECT_EQ(host.invalidations.back().right, 40);  // a new movie repaints the whole view

    // A refused movie leaves the one playing alone.
    host.onRequest = nullptr;
    p.loadRootUrl("http://site.test/a/other.swf");
    auto truncated = redBytes;
    truncated.resize(truncated.size() / 2);
    EXPECT_FALSE(p.deliverUrl(host.requests.back().id, truncated));
    EXPECT_TRUE(p.hasMovie());
    EXPECT_EQ(render(p, 40, 40).at(5, 5), kRedPx);
    p.failUrl(host.requests.back().id);
}

TEST(PlayerLoading, ScriptLoadsResolveAgainstTheMovieAndFillLevelsAndVariables)
{
    auto m = movie(40, 40);
    m.place(placeAt(defineRect(m, 0, 0, 20, 40, kRed), 1));
    sw::ActionAssembler a;
    a.getUrl("sub/over.swf", "_level1");
    a.push({"../vars.txt", "_root"}).getUrl2(sw::SendVars::None, true, true);
    m.doAction(a).showFrame();
    RecordingHost host;
    Player p(host);
    p.setViewSize(40, 40);
    ASSERT_TRUE(p.loadRootBytes(m.build(), "http://site.test/a/b/main.swf?mode=test")) << p.lastError();
    EXPECT_EQ(p.getVariable("mode"), "test");  // the movie's own query string
    ASSERT_EQ(host.requests.size(), 2u) << p.lastError();
    EXPECT_EQ(host.requests[0].kind, RequestKind::Movie);
    EXPECT_EQ(host.requests[0].url, "http://site.test/a/b/sub/over.swf");
    EXPECT_EQ(host.requests[1].kind, RequestKind::Variables);
    EXPECT_EQ(host.requests[1].url, "http://site.test/a/vars.txt");

    auto over = movie(40, 40);
    over.place(placeAt(defineRect(over, 10, 0, 20, 40, kGreen), 1)).showFrame();
    EXPECT_TRUE(p.deliverUrl(host.requests[0].id, over.build()));
    View v = render(p, 40, 40);
    EXPECT_EQ(v.at(5, 5), kRedPx);
    EXPECT_EQ(v.at(15, 5), kGreenPx);  // level 1 above level 0
    EXPECT_EQ(v.at(35, 5), kWhitePx);

    const std::string body = "greeting=hello+there&n=%34%32&empty=\r\n";
    EXPECT_TRUE(p.deliverUrl(host.requests[1].id, std::vector<uint8_t>(body.begin(), body.end())));
    EXPECT_EQ(p.getVariable("greeting"), "hello there");
    EXPECT_EQ(p.getVariable("n"), "42");
    EXPECT_EQ(p.getVariable("_level0.empty"), "");
}

// --- script bridges ----------------------------------------------------------------------------------

TEST(PlayerScripting, CallsCrossBetweenTheMovieAndItsHostBothWays)
{
    auto m = movie(40, 40);
    sw::ActionAssembler a;
    a.fscommand("hello", "world");
    a.traceValue(sw::PushValue("traced"));
    a.setPath("reply", sw::Emitter([](sw::ActionAssembler& e) {
        e.externalCall("askHost", {sw::PushValue(7)}, true);
    }));
    sw::ActionAssembler body;
    body.push({"x"}).getVariable().push("!").add2().return_();
    a.addCallback("shout", sw::PushValue(sw::Null{}),
                  sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {"x"}, body); }));
    m.doAction(a).showFrame();

    RecordingHost host;
    host.externalAnswer = "<string>fine</string>";
    Player p(host);
    load(p, m.build(), 40, 40);
    EXPECT_EQ(host.commands, (std::vector<Command>{{"hello", "world"}}));
    EXPECT_EQ(host.traces, (std::vector<std::string>{"traced"}));
    ASSERT_EQ(host.externalCalls.size(), 1u) << p.lastError();
    EXPECT_EQ(host.externalCalls[0].first, "askHost");
    EXPECT_NE(host.externalCalls[0].second.find("<number>7</number>"), std::string::npos);
    EXPECT_EQ(p.getVariable("reply"), "fine");

    EXPECT_EQ(p.callFunction("<invoke name=\"shout\" returntype=\"xml\"><arguments><string>hey</string></arguments></invoke>"),
              "<string>hey!</string>");
    EXPECT_FALSE(p.callFunction("<invoke name=\"nobody\" returntype=\"xml\"></invoke>"));
    p.setVariable("_root.some.deep", "x");  // leads nowhere: ignored
    p.setVariable("top", "value");
    EXPECT_EQ(p.getVariable("_level0.top"), "value");
}

// --- repaint areas -------------------------------------------------------------------------------------

TEST(PlayerInvalidation, OnlyTheAreaThatChangedIsInvalidated)
{
    auto m = movie(200, 200);
    m.place(placeAt(defineRect(m, 150, 150, 40, 40, kBlue), 1));  // never changes
    uint16_t dot = defineRect(m, 0, 0, 10, 10, kRed);
    m.place(placeAt(dot, 2, 10, 10)).showFrame();
    sw::PlaceObject move;
    move.depth = 2;
    move.move = true;
    move.matrix = sw::Matrix::translate(sw::pxToTwips(30), sw::pxToTwips(10));
    m.place(move).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 200, 200);
    host.invalidations.clear();
    p.tick();
    ASSERT_EQ(host.invalidations.size(), 1u);
    IRect r = host.invalidations[0];
    // Covers where the dot was and where it is now, and not the still square.
    EXPECT_LE(r.left, 10);
    EXPECT_LE(r.top, 10);
    EXPECT_GE(r.right, 40);
    EXPECT_GE(r.bottom, 20);
    EXPECT_LT(r.right, 150);
    EXPECT_LT(r.bottom, 150);

    p.stopPlay();
    host.invalidations.clear();
    p.tick();
    EXPECT_TRUE(host.invalidations.empty());

    p.setViewSize(100, 100);
    ASSERT_EQ(host.invalidations.size(), 1u);
    EXPECT_EQ(host.invalidations[0].right, 100);
    EXPECT_EQ(host.invalidations[0].bottom, 100);
}

TEST(PlayerScripting, ClipsWithMouseHandlersActLikeButtonsAndDuplicatesFollowScript)
{
    auto m = movie(100, 100);
    uint16_t red = defineRect(m, 0, 0, 20, 20, kRed);
    sw::Timeline inner;
    inner.place(placeAt(red, 1)).showFrame();
    uint16_t sprite = m.defineSprite(inner);
    sw::PlaceObject box = placeAt(sprite, 1, 10, 10);
    box.name = "box";
    sw::ActionAssembler release;
    release.fscommand("clip", "released");
    sw::ActionAssembler a;
    a.setPath("box.onRelease", sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {}, release); }));
    a.push({"box", "copy", 16384 + 5}).cloneSprite();
    a.setPath("copy._x", 60.0);
    m.place(box).doAction(a).showFrame(2);
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    View v = render(p, 100, 100);
    EXPECT_EQ(v.at(15, 15), kRedPx);
    EXPECT_EQ(v.at(65, 15), kRedPx);  // the duplicate, moved by script

    p.mouseDown(refplayer::MouseButton::Left, 15, 15);
    p.mouseUp(refplayer::MouseButton::Left, 15, 15);
    EXPECT_EQ(host.commands, (std::vector<Command>{{"clip", "released"}}));
    // The duplicate did not copy the handler; a click there does nothing.
    p.mouseDown(refplayer::MouseButton::Left, 65, 15);
    p.mouseUp(refplayer::MouseButton::Left, 65, 15);
    EXPECT_EQ(host.commands.size(), 1u);

    // The timeline does not take away what script made.
    p.tick();
    p.tick();
    EXPECT_EQ(render(p, 100, 100).at(65, 15), kRedPx);
}
