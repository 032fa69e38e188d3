// The standard objects as the player feeds them: the stage's size and layout
// following the view, the host's keyboard, mouse and wheel reaching Key and
// Mouse listeners, and XML and LoadVars loading through the host's requests.
#include "engine_test_support.h"

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

constexpr uint32_t kRedPx = 0xFFFF0000u, kWhitePx = 0xFFFFFFFFu;

sw::Emitter path(const std::string& dotted)
{
    return [dotted](sw::ActionAssembler& e) { e.getPath(dotted); };
}

// name = {}; name[event] = function (params) { body }
void listener(sw::ActionAssembler& a, const std::string& name, const std::string& event,
              const std::vector<std::string>& params, const sw::ActionAssembler& body)
{
    a.setPath(name, sw::Emitter([](sw::ActionAssembler& e) { e.push({0}).initObject(); }));
    a.setPath(name + "." + event, sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", params, body); }));
}

// _root.var = _root.var + <what `append` leaves> + ","
sw::ActionAssembler appendTo(const std::string& var, const std::function<void(sw::ActionAssembler&)>& append)
{
    sw::ActionAssembler b;
    b.setPath("_root." + var, sw::Emitter([&](sw::ActionAssembler& e) {
        e.getPath("_root." + var);
        append(e);
        e.add2().push({","}).add2();
    }));
    return b;
}

std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

TEST(PlayerStandardObjects, AnUnscaledStageFollowsTheViewAndSitsWhereAligned)
{
    auto m = movie(100, 100);
    m.place(placeAt(defineRect(m, 0, 0, 10, 10, sw::Rgba::rgb(0xFF0000)), 1));
    sw::ActionAssembler a;
    a.setPath("type", path("System.capabilities.playerType"));
    a.setPath("sandbox", path("System.security.sandboxType"));
    a.setPath("sizes", sw::PushValue(""));
    listener(a, "l", "onResize", {}, appendTo("sizes", [](sw::ActionAssembler& e) {
        e.getPath("Stage.width").push({"x"}).add2().getPath("Stage.height").add2();
    }));
    a.callMethod("Stage", "addListener", {path("l")});
    m.doAction(a).showFrame();

    RecordingHost host;
    Player p(host);
    load(p, m.build(), 200, 100);
    EXPECT_EQ(p.getVariable("type"), "StandAlone");
    EXPECT_EQ(p.getVariable("sandbox"), "localTrusted");
    // Scaled (the default), the stage is centred and resizes go unheard.
    EXPECT_EQ(render(p, 200, 100).at(55, 5), kRedPx);
    EXPECT_EQ(render(p, 200, 100).at(5, 5), kWhitePx);
    p.setViewSize(300, 100);
    EXPECT_EQ(p.getVariable("sizes"), "");

    sw::ActionAssembler unscale;
    unscale.setPath("Stage.scaleMode", sw::PushValue("noScale"));
    unscale.setPath("Stage.align", sw::PushValue("TL"));
    unscale.setPath("w", path("Stage.width"));
    auto again = movie(100, 100);
    again.place(placeAt(defineRect(again, 0, 0, 10, 10, sw::Rgba::rgb(0xFF0000)), 1));
    again.doAction(a).doAction(unscale).showFrame();
    load(p, again.build(), 200, 100);
    EXPECT_EQ(p.getVariable("w"), "200");
    View v = render(p, 200, 100);
    EXPECT_EQ(v.at(5, 5), kRedPx);      // at the top left, one pixel per pixel
    EXPECT_EQ(v.at(12, 5), kWhitePx);
    p.setViewSize(320, 240);
    EXPECT_EQ(p.getVariable("sizes"), "320x240,");
    // A new movie starts scaled again.
    load(p, m.build(), 200, 100);
    EXPECT_EQ(render(p, 200, 100).at(5, 5), kWhitePx);
}

TEST(PlayerStandardObjects, KeyAndMouseListenersHearTheHostsInput)
{
    auto m = movie(100, 100);
    sw::ActionAssembler a;
    a.setPath("keys", sw::PushValue(""));
    a.setPath("mouse", sw::PushValue(""));
    listener(a, "k", "onKeyDown", {}, appendTo("keys", [](sw::ActionAssembler& e) {
        e.callMethod("Key", "getCode", {}, true).push({":"}).add2();
        e.callMethod("Key", "getAscii", {}, true).add2().push({":"}).add2();
        e.callMethod("Key", "isDown", {sw::PushValue(0x10)}, true).add2();
    }));
    a.callMethod("Key", "addListener", {path("k")});
    listener(a, "w", "onMouseWheel", {"delta"}, appendTo("mouse", [](sw::ActionAssembler& e) {
        e.push({"wheel"}).push({"delta"}).getVariable().add2();
    }));
    a.setPath("w.onMouseDown", sw::Emitter([](sw::ActionAssembler& e) {
        e.defineFunction("", {}, appendTo("mouse", [](sw::ActionAssembler& x) { x.push({"down"}); }));
    }));
    a.setPath("w.onMouseUp", sw::Emitter([](sw::ActionAssembler& e) {
        e.defineFunction("", {}, appendTo("mouse", [](sw::ActionAssembler& x) { x.push({"up"}); }));
    }));
    a.callMethod("Mouse", "addListener", {path("w")});
    a.callMethod("Mouse", "hide", {});
    m.doAction(a).showFrame();

    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    EXPECT_TRUE(p.pointerHidden());
    p.keyDown(0x10);
    p.keyDown('A');
    p.keyUp('A');
    p.keyUp(0x10);
    p.keyDown('A');
    p.keyDown(0xBF);  // "/" on a US keyboard
    EXPECT_EQ(p.getVariable("keys"), "16:0:true,65:65:true,65:97:false,191:47:false,");
    p.mouseDown(refplayer::MouseButton::Left, 5, 5);
    p.mouseDown(refplayer::MouseButton::Right, 5, 5);  // only the left button counts
    p.mouseUp(refplayer::MouseButton::Left, 5, 5);
    p.mouseWheel(-240);
    p.mouseWheel(40);  // a fine wheel's part of a notch still counts as one
    EXPECT_EQ(p.getVariable("mouse"), "down,up,wheel-2,wheel1,");
}

TEST(PlayerStandardObjects, XmlAndLoadVarsLoadThroughTheHostsRequests)
{
    auto m = movie(100, 100);
    sw::ActionAssembler a;
    a.setPath("x", sw::Emitter([](sw::ActionAssembler& e) { e.push({0, "XML"}).newObject(); }));
    sw::ActionAssembler onLoad;
    onLoad.setPath("_root.xmlResult", sw::Emitter([](sw::ActionAssembler& e) {
        e.push({"ok"}).getVariable().push({":"}).add2().getPath("this.firstChild.attributes.v").add2();
    }));
    a.setPath("x.onLoad", sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {"ok"}, onLoad); }));
    a.callMethod("x", "load", {sw::PushValue("data/doc.xml")});
    a.setPath("v", sw::Emitter([](sw::ActionAssembler& e) { e.push({0, "LoadVars"}).newObject(); }));
    sw::ActionAssembler varsLoaded;
    varsLoaded.setPath("_root.varsResult", sw::Emitter([](sw::ActionAssembler& e) {
        e.push({"ok"}).getVariable().push({":"}).add2().getPath("this.answer").add2();
    }));
    a.setPath("v.onLoad", sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {"ok"}, varsLoaded); }));
    a.callMethod("v", "load", {sw::PushValue("vars.txt")});
    a.setPath("afterLoad", path("v.answer"));  // read before any answer can have arrived
    m.doAction(a).showFrame();

    RecordingHost host;
    // The variables are answered from inside the request, as some hosts do.
    Player* player = nullptr;
    host.onRequest = [&](const RecordingHost::Request& r) {
        if (r.url.ends_with("vars.txt"))
            player->deliverUrl(r.id, bytes("answer=42"));
    };
    Player p(host);
    player = &p;
    load(p, m.build(), 100, 100);
    ASSERT_EQ(host.requests.size(), 2u) << p.lastError();
    EXPECT_EQ(host.requests[0].kind, RequestKind::Variables);
    EXPECT_EQ(host.requests[0].url, "http://example.test/movies/data/doc.xml");
    EXPECT_EQ(p.getVariable("afterLoad"), std::nullopt);
    EXPECT_EQ(p.getVariable("varsResult"), "true:42");

    EXPECT_TRUE(p.deliverUrl(host.requests[0].id, bytes("<doc v=\"7\"/>")));
    EXPECT_EQ(p.getVariable("xmlResult"), "true:7");

    // A failed load reports false.
    sw::ActionAssembler retry;
    retry.callMethod("x", "load", {sw::PushValue("gone.xml")});
    p.setVariable("xmlResult", "");
    auto again = movie(100, 100);
    again.doAction(a).doAction(retry).showFrame();
    RecordingHost quiet;
    Player q(quiet);
    load(q, again.build(), 100, 100);
    ASSERT_EQ(quiet.requests.size(), 3u);
    q.failUrl(quiet.requests[2].id);
    EXPECT_EQ(q.getVariable("xmlResult"), "false:undefined");
    // A new movie: answers to the old one's loads go nowhere.
    load(q, m.build(), 100, 100);
    EXPECT_FALSE(q.deliverUrl(quiet.requests[0].id, bytes("<doc v=\"1\"/>")));
    EXPECT_EQ(q.getVariable("xmlResult"), std::nullopt);
}

TEST(PlayerStandardObjects, AMovieClipLoaderHearsTheMovieArriveThenItsFirstFrameRun)
{
    auto m = movie(100, 100);
    sw::ActionAssembler a;
    a.setPath("steps", sw::PushValue(""));
    a.setPath("mcl", sw::Emitter([](sw::ActionAssembler& e) { e.push({0, "MovieClipLoader"}).newObject(); }));
    const std::pair<const char*, const char*> events[] = {
        {"onLoadStart", "start"}, {"onLoadComplete", "complete"}, {"onLoadError", "error"}};
    for (const auto& [event, tag] : events) {
        a.setPath(std::string("mcl.") + event, sw::Emitter([tag = std::string(tag)](sw::ActionAssembler& e) {
            e.defineFunction("", {"t"}, appendTo("steps", [&](sw::ActionAssembler& x) { x.push({tag}); }));
        }));
    }
    // onLoadInit sees what the loaded movie's first frame set.
    a.setPath("mcl.onLoadInit", sw::Emitter([](sw::ActionAssembler& e) {
        e.defineFunction("", {"t"}, appendTo("steps", [](sw::ActionAssembler& x) {
            x.push({"init "}).getPath("_level1.ready").add2();
        }));
    }));
    a.callMethod("mcl", "loadClip", {sw::PushValue("child.swf"), sw::PushValue(1)});
    a.callMethod("mcl", "loadClip", {sw::PushValue("broken.swf"), sw::PushValue(2)});
    m.doAction(a).showFrame();

    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    ASSERT_EQ(host.requests.size(), 2u) << p.lastError();
    EXPECT_EQ(host.requests[0].kind, RequestKind::Movie);
    EXPECT_EQ(p.getVariable("steps"), "start,start,");

    auto child = movie(50, 50);
    sw::ActionAssembler first;
    first.setPath("ready", sw::PushValue("yes"));
    child.doAction(first).showFrame();
    EXPECT_TRUE(p.deliverUrl(host.requests[0].id, child.build()));
    EXPECT_FALSE(p.deliverUrl(host.requests[1].id, bytes("not a movie")));
    EXPECT_EQ(p.getVariable("steps"), "start,start,complete,init yes,error,");
}
