// The standard objects movies read on start: System, Stage, Key, Mouse, XML,
// LoadVars and AsBroadcaster, with the results the published player documents.
#include "script_test_support.h"

namespace scripttest {
namespace {

constexpr uint8_t SetVariable = 0x1D, Add2 = 0x47, NewObject = 0x40, InitObject = 0x43, GetMember = 0x4E,
                  SetMember = 0x4F, CallMethod = 0x52, Pop = 0x17;

std::vector<std::string> split(const std::string& dotted) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t dot; (dot = dotted.find('.', start)) != std::string::npos; start = dot + 1)
        parts.push_back(dotted.substr(start, dot - start));
    parts.push_back(dotted.substr(start));
    return parts;
}

// Pushes what a dotted path names: a variable, then members of it.
Asm& value(Asm& a, const std::string& dotted) {
    const std::vector<std::string> parts = split(dotted);
    a.getVar(parts[0]);
    for (size_t i = 1; i < parts.size(); ++i) a.push({parts[i]}).op(GetMember);
    return a;
}

// object.method(args), leaving the result.
Asm& invoke(Asm& a, const std::string& object, const std::string& method, std::initializer_list<PushItem> args) {
    std::vector<PushItem> reversed(args.begin(), args.end());
    for (auto it = reversed.rbegin(); it != reversed.rend(); ++it) a.push({*it});
    a.push({static_cast<int>(args.size())});
    value(a, object);
    return a.push({method}).op(CallMethod);
}

// var = what the code in `produce` leaves.
template <typename F>
Asm& store(Asm& a, const std::string& var, F produce) {
    a.push({var});
    produce(a);
    return a.op(SetVariable);
}
Asm& storePath(Asm& a, const std::string& var, const std::string& dotted) {
    return store(a, var, [&](Asm& x) { value(x, dotted); });
}

// object.member = v
Asm& assign(Asm& a, const std::string& object, const std::string& member, PushItem v) {
    value(a, object);
    return a.push({member, v}).op(SetMember);
}

// var = new Class(args)
Asm& construct(Asm& a, const std::string& var, const std::string& cls, std::initializer_list<PushItem> args) {
    a.push({var});
    std::vector<PushItem> reversed(args.begin(), args.end());
    for (auto it = reversed.rbegin(); it != reversed.rend(); ++it) a.push({*it});
    a.push({static_cast<int>(args.size()), cls}).op(NewObject);
    return a.op(SetVariable);
}

// var = {} ; var.event = function () { body }
Asm& listener(Asm& a, const std::string& var, const std::string& event, const Asm& body) {
    a.push({var, 0}).op(InitObject).op(SetVariable);
    value(a, var).push({event});
    a.function("", {}, body);
    return a.op(SetMember);
}

// _root.log += text + ";"  (inside a handler)
Asm appendLog(std::initializer_list<std::string> paths) {
    Asm b;
    b.push({"_root.log"});
    b.getVar("_root.log");
    for (const std::string& p : paths) {
        value(b, p).op(Add2);
        b.push({","}).op(Add2);
    }
    b.push({";"}).op(Add2).op(SetVariable);
    return b;
}

TEST_F(ScriptTest, SystemDescribesATrustedLocalMovieAndThisPlayer) {
    Asm a;
    storePath(a, "sandbox", "System.security.sandboxType");
    store(a, "allow", [](Asm& x) { invoke(x, "System.security", "allowDomain", {"*"}); });
    store(a, "policy", [](Asm& x) { invoke(x, "System.security", "loadPolicyFile", {"http://a/crossdomain.xml"}); });
    storePath(a, "version", "System.capabilities.version");
    storePath(a, "os", "System.capabilities.os");
    storePath(a, "type", "System.capabilities.playerType");
    storePath(a, "screenX", "System.capabilities.screenResolutionX");
    storePath(a, "audio", "System.capabilities.hasAudio");
    storePath(a, "video", "System.capabilities.hasEmbeddedVideo");
    storePath(a, "server", "System.capabilities.serverString");
    storePath(a, "codepage", "System.useCodepage");
    // The capabilities are facts: assignments do not change them.
    assign(a, "System.capabilities", "version", "MAC 9,0,0,0");
    assign(a, "System.security", "sandboxType", "remote");
    storePath(a, "versionAfter", "System.capabilities.version");
    storePath(a, "sandboxAfter", "System.security.sandboxType");
    assign(a, "System", "useCodepage", true);
    storePath(a, "codepageAfter", "System.useCodepage");
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("sandbox"), "localTrusted");
    EXPECT_EQ(var("sandboxAfter"), "localTrusted");
    EXPECT_EQ(var("allow"), "<undefined>");
    EXPECT_EQ(var("policy"), "<undefined>");
    EXPECT_EQ(var("version"), "WIN 8,0,0,0");
    EXPECT_EQ(var("versionAfter"), "WIN 8,0,0,0");
    EXPECT_EQ(var("os"), "Windows XP");
    EXPECT_EQ(var("type"), "PlugIn");
    EXPECT_EQ(var("screenX"), "1024");
    EXPECT_EQ(var("audio"), "false");
    EXPECT_EQ(var("video"), "true");
    const std::string server = var("server");
    EXPECT_NE(server.find("A=f&"), std::string::npos) << server;
    EXPECT_NE(server.find("&V=WIN%208%2C0%2C0%2C0&"), std::string::npos) << server;
    EXPECT_NE(server.find("&R=1024x768&"), std::string::npos) << server;
    EXPECT_NE(server.find("&PT=PlugIn"), std::string::npos) << server;
    EXPECT_EQ(var("codepage"), "false");
    EXPECT_EQ(var("codepageAfter"), "true");
}

TEST_F(ScriptTest, StageReportsTheMovieSizeUnlessUnscaledAndKeepsItsLayout) {
    host.view = {800, 600};
    Asm a;
    storePath(a, "w1", "Stage.width");
    storePath(a, "mode1", "Stage.scaleMode");
    assign(a, "Stage", "scaleMode", "NOSCALE");  // any case, stored as the player spells it
    storePath(a, "mode2", "Stage.scaleMode");
    storePath(a, "w2", "Stage.width");
    storePath(a, "h2", "Stage.height");
    assign(a, "Stage", "scaleMode", "fitEverything");  // unknown: nothing changes
    storePath(a, "mode3", "Stage.scaleMode");
    storePath(a, "align1", "Stage.align");
    assign(a, "Stage", "align", "rt");
    storePath(a, "align2", "Stage.align");
    assign(a, "Stage", "align", "BLTR");  // top wins over bottom, left over right
    storePath(a, "align3", "Stage.align");
    storePath(a, "menu1", "Stage.showMenu");
    assign(a, "Stage", "showMenu", false);
    storePath(a, "menu2", "Stage.showMenu");
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("w1"), "550");
    EXPECT_EQ(var("mode1"), "showAll");
    EXPECT_EQ(var("mode2"), "noScale");
    EXPECT_EQ(var("w2"), "800");
    EXPECT_EQ(var("h2"), "600");
    EXPECT_EQ(var("mode3"), "noScale");
    EXPECT_EQ(var("align1"), "");
    EXPECT_EQ(var("align2"), "TR");
    EXPECT_EQ(var("align3"), "TL");
    EXPECT_EQ(var("menu1"), "true");
    EXPECT_EQ(var("menu2"), "false");
    // The host hears of each change of layout once.
    EXPECT_EQ(host.log, (std::vector<std::string>{"stageLayout noScale ", "stageLayout noScale TR",
                                                   "stageLayout noScale TL"}));
}

TEST_F(ScriptTest, StageListenersHearOfResizesOnlyWhenTheStageIsUnscaled) {
    Asm a;
    a.setVar("log", "");
    listener(a, "l", "onResize", appendLog({"Stage.width"}));
    // addListener(l), twice: a listener is told once.
    a.push({"l"}).op(0x1C).push({1}).getVar("Stage").push({"addListener"}).op(CallMethod).op(Pop);
    a.push({"l"}).op(0x1C).push({1}).getVar("Stage").push({"addListener"}).op(CallMethod).op(Pop);
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    host.view = {640, 480};
    vm.stageResized();
    EXPECT_EQ(var("log"), "");  // scaled: the movie does not see the view
    Asm unscale;
    assign(unscale, "Stage", "scaleMode", "noScale");
    ASSERT_TRUE(run(unscale).ok());
    vm.stageResized();
    EXPECT_EQ(var("log"), "640,;");
    Asm remove;
    store(remove, "removed", [](Asm& x) { x.getVar("l").push({1}).getVar("Stage").push({"removeListener"}).op(CallMethod); });
    store(remove, "again", [](Asm& x) { x.getVar("l").push({1}).getVar("Stage").push({"removeListener"}).op(CallMethod); });
    ASSERT_TRUE(run(remove).ok());
    vm.stageResized();
    EXPECT_EQ(var("log"), "640,;");
    EXPECT_EQ(var("removed"), "true");
    EXPECT_EQ(var("again"), "false");
}

TEST_F(ScriptTest, KeyKeepsTheKeyboardsStateAndTellsItsListeners) {
    ASSERT_TRUE(run(Asm().setVar("log", "").push({"l", 0}).op(InitObject).op(SetVariable)).ok());
    // Each handler logs "code,ascii,isDown(65);".
    Asm handler;
    handler.push({"_root.log"}).getVar("_root.log");
    invoke(handler, "Key", "getCode", {}).op(Add2).push({","}).op(Add2);
    invoke(handler, "Key", "getAscii", {}).op(Add2).push({","}).op(Add2);
    handler.push({65, 1}).getVar("Key").push({"isDown"}).op(CallMethod).op(Add2).push({";"}).op(Add2).op(SetVariable);
    Asm b;
    value(b, "l").push({"onKeyDown"});
    b.function("", {}, handler).op(SetMember);
    value(b, "l").push({"onKeyUp"});
    b.function("", {}, handler).op(SetMember);
    b.getVar("l").push({1}).getVar("Key").push({"addListener"}).op(CallMethod).op(Pop);
    storePath(b, "enter", "Key.ENTER");
    storePath(b, "deleteKey", "Key.DELETEKEY");
    assign(b, "Key", "ENTER", 99);
    storePath(b, "enterAfter", "Key.ENTER");
    ASSERT_TRUE(run(b).ok()) << vm.lastError();
    EXPECT_EQ(var("enter"), "13");
    EXPECT_EQ(var("deleteKey"), "46");
    EXPECT_EQ(var("enterAfter"), "13");

    vm.keyDown(65, 'a');
    vm.keyUp(65, 'a');
    EXPECT_EQ(var("log"), "65,97,true;65,97,false;");

    // The lock keys toggle on each press.
    auto toggled = [&] {
        Asm t;
        store(t, "caps", [](Asm& x) { invoke(x, "Key", "isToggled", {20}); });
        EXPECT_TRUE(run(t).ok());
        return var("caps");
    };
    EXPECT_EQ(toggled(), "false");
    vm.keyDown(20, 0);
    vm.keyDown(20, 0);  // auto-repeat while held: still one toggle
    vm.keyUp(20, 0);
    EXPECT_EQ(toggled(), "true");
    vm.keyDown(20, 0);
    vm.keyUp(20, 0);
    EXPECT_EQ(toggled(), "false");

    // A character typed after its key changes what getAscii answers.
    vm.keyDown(49, '1');
    vm.keyChar('!');
    Asm c;
    store(c, "ascii", [](Asm& x) { invoke(x, "Key", "getAscii", {}); });
    ASSERT_TRUE(run(c).ok());
    EXPECT_EQ(var("ascii"), "33");
}

TEST_F(ScriptTest, MouseListenersHearThePlayersPointerAndHideAndShowAnswerWhatWasBefore) {
    Asm a;
    a.setVar("log", "");
    Asm down;
    down.push({"_root.log"}).getVar("_root.log").push({"down;"}).op(Add2).op(SetVariable);
    Asm wheel;
    wheel.push({"_root.log"}).getVar("_root.log").push({"wheel"}).op(Add2).getVar("delta").op(Add2).push({";"}).op(Add2).op(SetVariable);
    a.push({"l", 0}).op(InitObject).op(SetVariable);
    value(a, "l").push({"onMouseDown"});
    a.function("", {}, down).op(SetMember);
    value(a, "l").push({"onMouseWheel"});
    a.function("", {"delta"}, wheel).op(SetMember);
    a.getVar("l").push({1}).getVar("Mouse").push({"addListener"}).op(CallMethod).op(Pop);
    store(a, "hide1", [](Asm& x) { invoke(x, "Mouse", "hide", {}); });
    store(a, "hide2", [](Asm& x) { invoke(x, "Mouse", "hide", {}); });
    store(a, "show1", [](Asm& x) { invoke(x, "Mouse", "show", {}); });
    store(a, "show2", [](Asm& x) { invoke(x, "Mouse", "show", {}); });
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("hide1"), "1");
    EXPECT_EQ(var("hide2"), "0");
    EXPECT_EQ(var("show1"), "0");
    EXPECT_EQ(var("show2"), "1");
    EXPECT_EQ(host.log, (std::vector<std::string>{"mouse hidden", "mouse shown"}));

    vm.mouseEvent(avm1::Vm::MouseEvent::Down);
    vm.mouseEvent(avm1::Vm::MouseEvent::Move);  // no handler: nothing
    vm.mouseEvent(avm1::Vm::MouseEvent::Wheel, -3);
    EXPECT_EQ(var("log"), "down;wheel-3;");

    // A listener that throws stops its own event only; the next is heard.
    Asm thrower;
    value(thrower, "l").push({"onMouseDown"});
    thrower.function("", {}, Asm().push({"boom"}).op(0x2A)).op(SetMember);
    ASSERT_TRUE(run(thrower).ok());
    vm.mouseEvent(avm1::Vm::MouseEvent::Down);
    vm.mouseEvent(avm1::Vm::MouseEvent::Wheel, 2);
    EXPECT_EQ(var("log"), "down;wheel-3;wheel2;");
}

TEST_F(ScriptTest, AsBroadcasterMakesAnyObjectBroadcast) {
    Asm a;
    a.setVar("log", "");
    a.push({"b", 0}).op(InitObject).op(SetVariable);
    a.getVar("b").push({1}).getVar("AsBroadcaster").push({"initialize"}).op(CallMethod).op(Pop);
    Asm handler;
    handler.push({"_root.log"}).getVar("_root.log").getVar("x").op(Add2).push({";"}).op(Add2).op(SetVariable);
    a.push({"l", 0}).op(InitObject).op(SetVariable);
    value(a, "l").push({"onPing"});
    a.function("", {"x"}, handler).op(SetMember);
    a.getVar("l").push({1}).getVar("b").push({"addListener"}).op(CallMethod).op(Pop);
    invoke(a, "b", "broadcastMessage", {"onPing", "hello"}).op(Pop);
    storePath(a, "count", "b._listeners.length");
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("log"), "hello;");
    EXPECT_EQ(var("count"), "1");
}

// --- XML --------------------------------------------------------------------------------

TEST_F(ScriptTest, XmlParsesIntoNodesAndSerialisesBackAsThePlayerWritesIt) {
    Asm a;
    construct(a, "x", "XML", {"<?xml version=\"1.0\"?><!DOCTYPE a><a k=\"1&amp;2\" j='q'><b>t&lt;&#65;</b><c/><!-- gone --><![CDATA[<raw>]]></a>"});
    storePath(a, "status", "x.status");
    storePath(a, "decl", "x.xmlDecl");
    storePath(a, "doctype", "x.docTypeDecl");
    storePath(a, "root", "x.firstChild.nodeName");
    storePath(a, "type", "x.firstChild.nodeType");
    storePath(a, "k", "x.firstChild.attributes.k");
    storePath(a, "text", "x.firstChild.firstChild.firstChild.nodeValue");
    storePath(a, "textType", "x.firstChild.firstChild.firstChild.nodeType");
    storePath(a, "textName", "x.firstChild.firstChild.firstChild.nodeName");
    storePath(a, "children", "x.firstChild.childNodes.length");
    storePath(a, "cdata", "x.firstChild.lastChild.nodeValue");
    storePath(a, "next", "x.firstChild.firstChild.nextSibling.nodeName");
    storePath(a, "prev", "x.firstChild.firstChild.previousSibling");
    storePath(a, "parent", "x.firstChild.firstChild.parentNode.nodeName");
    store(a, "out", [](Asm& x) { invoke(x, "x", "toString", {}); });
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("status"), "0");
    EXPECT_EQ(var("decl"), "<?xml version=\"1.0\"?>");
    EXPECT_EQ(var("doctype"), "<!DOCTYPE a>");
    EXPECT_EQ(var("root"), "a");
    EXPECT_EQ(var("type"), "1");
    EXPECT_EQ(var("k"), "1&2");
    EXPECT_EQ(var("text"), "t<A");
    EXPECT_EQ(var("textType"), "3");
    EXPECT_EQ(var("textName"), "null");
    EXPECT_EQ(var("children"), "3");
    EXPECT_EQ(var("cdata"), "<raw>");
    EXPECT_EQ(var("next"), "c");
    EXPECT_EQ(var("prev"), "null");
    EXPECT_EQ(var("parent"), "a");
    EXPECT_EQ(var("out"), "<?xml version=\"1.0\"?><!DOCTYPE a><a k=\"1&amp;2\" j=\"q\"><b>t&lt;A</b><c />&lt;raw&gt;</a>");
}

TEST_F(ScriptTest, XmlStatusNamesWhatIsWrongAndIgnoreWhiteDropsBlankText) {
    const std::pair<const char*, const char*> cases[] = {
        {"<a>", "-9"},          {"</a>", "-10"},       {"<a><b></a>", "-9"},   {"<a x='1></a>", "-8"},
        {"<a x=1/>", "-6"},     {"<!-- open", "-5"},   {"<![CDATA[x", "-2"},   {"<?xml ", "-3"},
        {"<!DOCTYPE", "-4"},    {"plain text", "0"},
    };
    for (const auto& [text, status] : cases) {
        Asm a;
        construct(a, "x", "XML", {text});
        storePath(a, "status", "x.status");
        ASSERT_TRUE(run(a).ok()) << vm.lastError();
        EXPECT_EQ(var("status"), status) << text;
    }
    Asm w;
    construct(w, "x", "XML", {});
    assign(w, "x", "ignoreWhite", true);
    invoke(w, "x", "parseXML", {"<a>\n  <b> c </b>\n</a>"}).op(Pop);
    storePath(w, "count", "x.firstChild.childNodes.length");
    storePath(w, "inner", "x.firstChild.firstChild.firstChild.nodeValue");
    construct(w, "y", "XML", {"<a>\n  <b/>\n</a>"});
    storePath(w, "kept", "y.firstChild.childNodes.length");
    ASSERT_TRUE(run(w).ok()) << vm.lastError();
    EXPECT_EQ(var("count"), "1");
    EXPECT_EQ(var("inner"), " c ");  // text with more than blanks stays whole
    EXPECT_EQ(var("kept"), "3");
}

TEST_F(ScriptTest, XmlNodesMoveBetweenParentsAndNeverFormACycle) {
    Asm a;
    construct(a, "x", "XML", {"<r><a/><b/></r>"});
    storePath(a, "r", "x.firstChild");
    store(a, "c", [](Asm& x) { invoke(x, "x", "createElement", {"c"}); });
    store(a, "t", [](Asm& x) { invoke(x, "x", "createTextNode", {"a&b"}); });
    // r.insertBefore(c, r.lastChild); c.appendChild(t)
    value(a, "r.lastChild");
    a.getVar("c").push({2}).getVar("r").push({"insertBefore"}).op(CallMethod).op(Pop);
    a.getVar("t").push({1}).getVar("c").push({"appendChild"}).op(CallMethod).op(Pop);
    store(a, "s1", [](Asm& x) { invoke(x, "r", "toString", {}); });
    // A node appended to its own descendant is refused.
    a.getVar("r").push({1}).getVar("c").push({"appendChild"}).op(CallMethod).op(Pop);
    store(a, "s2", [](Asm& x) { invoke(x, "x", "toString", {}); });
    // Moving c under a takes it out of r.
    value(a, "c");
    a.push({1});
    value(a, "r.firstChild").push({"appendChild"}).op(CallMethod).op(Pop);
    store(a, "s3", [](Asm& x) { invoke(x, "x", "toString", {}); });
    store(a, "copy", [](Asm& x) { invoke(x, "r", "cloneNode", {true}); });
    store(a, "shallow", [](Asm& x) { invoke(x, "r", "cloneNode", {false}); });
    invoke(a, "r.firstChild", "removeNode", {}).op(Pop);
    store(a, "s4", [](Asm& x) { invoke(x, "x", "toString", {}); });
    store(a, "copyText", [](Asm& x) { invoke(x, "copy", "toString", {}); });
    store(a, "shallowText", [](Asm& x) { invoke(x, "shallow", "toString", {}); });
    storePath(a, "copyParent", "copy.parentNode");
    store(a, "has", [](Asm& x) { invoke(x, "c", "hasChildNodes", {}); });
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("s1"), "<r><a /><c>a&amp;b</c><b /></r>");
    EXPECT_EQ(var("s2"), "<r><a /><c>a&amp;b</c><b /></r>");
    EXPECT_EQ(var("s3"), "<r><a><c>a&amp;b</c></a><b /></r>");
    EXPECT_EQ(var("s4"), "<r><b /></r>");
    EXPECT_EQ(var("copyText"), "<r><a><c>a&amp;b</c></a><b /></r>");
    EXPECT_EQ(var("shallowText"), "<r />");
    EXPECT_EQ(var("copyParent"), "null");
    EXPECT_EQ(var("has"), "true");
    // The detached nodes stay reachable only from script variables; a
    // collection must keep them (and their text) intact.
    vm.collectGarbage();
    Asm after;
    store(after, "again", [](Asm& x) { invoke(x, "c", "toString", {}); });
    ASSERT_TRUE(run(after).ok());
    EXPECT_EQ(var("again"), "<c>a&amp;b</c>");
}

TEST_F(ScriptTest, XmlLoadsThroughTheHostAndReportsThroughOnLoad) {
    Asm a;
    a.setVar("log", "");
    construct(a, "x", "XML", {});
    Asm onLoad;
    onLoad.push({"_root.log"}).getVar("_root.log").getVar("ok").op(Add2).push({","}).op(Add2);
    value(onLoad, "this.loaded").op(Add2).push({","}).op(Add2);
    value(onLoad, "this.firstChild.nodeName").op(Add2).push({";"}).op(Add2).op(SetVariable);
    value(a, "x").push({"onLoad"});
    a.function("", {"ok"}, onLoad).op(SetMember);
    store(a, "started", [](Asm& x) { invoke(x, "x", "load", {"data.xml"}); });
    storePath(a, "loaded0", "x.loaded");
    store(a, "bytes0", [](Asm& x) { invoke(x, "x", "getBytesTotal", {}); });
    store(a, "noUrl", [](Asm& x) { invoke(x, "x", "load", {}); });
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("started"), "true");
    EXPECT_EQ(var("loaded0"), "false");
    EXPECT_EQ(var("bytes0"), "<undefined>");
    EXPECT_EQ(var("noUrl"), "false");
    ASSERT_EQ(host.log, (std::vector<std::string>{"loadData 1 data.xml NONE"}));

    vm.collectGarbage();  // the waiting object must survive until its answer
    vm.dataArrived(1, std::string_view("<doc/>"));
    vm.dataArrived(1, std::string_view("<again/>"));  // answered already: ignored
    vm.dataArrived(77, std::nullopt);                  // never asked
    EXPECT_EQ(var("log"), "true,true,doc;");
    Asm bytes;
    store(bytes, "total", [](Asm& x) { invoke(x, "x", "getBytesTotal", {}); });
    store(bytes, "loadedBytes", [](Asm& x) { invoke(x, "x", "getBytesLoaded", {}); });
    // sendAndLoad posts the document and loads the answer into another.
    construct(bytes, "reply", "XML", {});
    invoke(bytes, "reply", "toString", {}).op(Pop);
    bytes.getVar("reply").push({"send.php", 2}).getVar("x").push({"sendAndLoad"}).op(CallMethod).op(Pop);
    ASSERT_TRUE(run(bytes).ok()) << vm.lastError();
    EXPECT_EQ(var("total"), "6");
    EXPECT_EQ(var("loadedBytes"), "6");
    EXPECT_EQ(host.log.back(), "loadData 2 send.php POST post=<doc />");

    // A failed load: onLoad(false), loaded false.
    Asm again;
    invoke(again, "x", "load", {"missing.xml"}).op(Pop);
    ASSERT_TRUE(run(again).ok());
    vm.dataArrived(3, std::nullopt);
    EXPECT_EQ(var("log"), "true,true,doc;false,false,doc;");

    // A host that refuses the request at once: the failure comes at once too.
    host.refuseLoads = true;
    ASSERT_TRUE(run(again).ok());
    EXPECT_EQ(var("log"), "true,true,doc;false,false,doc;false,false,doc;");
}

// --- LoadVars ----------------------------------------------------------------------------

TEST_F(ScriptTest, LoadVarsEncodesItsMembersAndDecodesAnswersIntoThem) {
    Asm a;
    a.setVar("log", "");
    construct(a, "v", "LoadVars", {});
    assign(a, "v", "name", "a b&c");
    assign(a, "v", "n", 5);
    store(a, "text", [](Asm& x) { invoke(x, "v", "toString", {}); });
    invoke(a, "v", "decode", {"x=1%2B1&y=two+words&=skipped&z"}).op(Pop);
    storePath(a, "x", "v.x");
    storePath(a, "y", "v.y");
    storePath(a, "z", "v.z");
    invoke(a, "v", "send", {"go.php", "_blank", "GET"}).op(Pop);
    Asm onLoad;
    onLoad.push({"_root.log"}).getVar("_root.log").getVar("ok").op(Add2).push({","}).op(Add2);
    value(onLoad, "this.answer").op(Add2).push({";"}).op(Add2).op(SetVariable);
    construct(a, "reply", "LoadVars", {});
    value(a, "reply").push({"onLoad"});
    a.function("", {"ok"}, onLoad).op(SetMember);
    construct(a, "small", "LoadVars", {});
    assign(a, "small", "q", "1");
    a.push({"GET"}).getVar("reply").push({"ask.php", 3}).getVar("small").push({"sendAndLoad"}).op(CallMethod).op(Pop);
    store(a, "badTarget", [](Asm& x) { x.push({0}).op(InitObject).push({"ask.php", 2}).getVar("small").push({"sendAndLoad"}).op(CallMethod); });
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    // for..in order: the newest member first.
    EXPECT_EQ(var("text"), "n=5&name=a%20b%26c");
    EXPECT_EQ(var("x"), "1+1");
    EXPECT_EQ(var("y"), "two words");
    EXPECT_EQ(var("z"), "");
    EXPECT_EQ(var("badTarget"), "false");
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.log[0].rfind("getUrl go.php?", 0), 0u) << host.log[0];
    EXPECT_NE(host.log[0].find("window=_blank GET"), std::string::npos) << host.log[0];
    EXPECT_EQ(host.log[1], "loadData 1 ask.php?q=1 GET");
    vm.dataArrived(1, std::string_view("answer=42"));
    EXPECT_EQ(var("log"), "true,42;");
}

}  // namespace
}  // namespace scripttest

namespace scripttest {
namespace {

constexpr uint8_t SetVariable2 = 0x1D, Pop2 = 0x17, InitObject2 = 0x43;

TEST_F(ScriptTest, ColorReadsAndWritesTheClipsColourTransform) {
    FakeClip& box = root->addChild("box");
    box.color.aa = 50;  // the clip's own alpha stays through setRGB
    Asm a;
    construct(a, "c", "Color", {"box"});  // a path text names the clip as well as the clip itself
    invoke(a, "c", "setRGB", {0x336699}).op(Pop2);
    store(a, "rgb", [](Asm& x) { invoke(x, "c", "getRGB", {}); });
    // setTransform changes only the terms it is given; fractions are dropped.
    a.push({"t"}).push({"ra", 50.7, "bb", -20, 2}).op(InitObject2).op(SetVariable2);
    a.getVar("t").push({1}).getVar("c").push({"setTransform"}).op(0x52).op(Pop2);
    store(a, "tr", [](Asm& x) { invoke(x, "c", "getTransform", {}); });
    storePath(a, "ra", "tr.ra");
    storePath(a, "rb", "tr.rb");
    storePath(a, "bb", "tr.bb");
    storePath(a, "aa", "tr.aa");
    construct(a, "lost", "Color", {"nothing.here"});
    store(a, "lostRgb", [](Asm& x) { invoke(x, "lost", "getRGB", {}); });
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("rgb"), std::to_string(0x336699));
    EXPECT_EQ(var("ra"), "50");
    EXPECT_EQ(var("rb"), "51");   // 0x33 from setRGB
    EXPECT_EQ(var("bb"), "-20");
    EXPECT_EQ(var("aa"), "50");
    EXPECT_EQ(var("lostRgb"), "<undefined>");
    EXPECT_EQ(box.color.ga, 0);
    EXPECT_EQ(box.color.gb, 0x66);
    EXPECT_EQ(box.color.ra, 50);
    EXPECT_EQ(box.color.bb, -20);
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "_level0.box setClipColor"), 2);
}

TEST_F(ScriptTest, SoundsOfOneClipShareTheirMixAndTheMovieHasItsOwn) {
    root->addChild("music");
    Asm a;
    a.push({"m1", "music", 1, "Sound"}).op(NewObject).op(SetVariable2);
    a.push({"m2", "music", 1, "Sound"}).op(NewObject).op(SetVariable2);
    construct(a, "all", "Sound", {});
    invoke(a, "m1", "setVolume", {40}).op(Pop2);
    invoke(a, "m1", "setPan", {-30}).op(Pop2);
    invoke(a, "m1", "setVolume", {"loud"}).op(Pop2);  // not a number: ignored
    store(a, "v2", [](Asm& x) { invoke(x, "m2", "getVolume", {}); });
    store(a, "p2", [](Asm& x) { invoke(x, "m2", "getPan", {}); });
    store(a, "vAll", [](Asm& x) { invoke(x, "all", "getVolume", {}); });
    a.push({"t"}).push({"lr", 100, 1}).op(InitObject2).op(SetVariable2);
    a.getVar("t").push({1}).getVar("m1").push({"setTransform"}).op(0x52).op(Pop2);
    store(a, "tr", [](Asm& x) { invoke(x, "m2", "getTransform", {}); });
    storePath(a, "ll", "tr.ll");
    storePath(a, "lr", "tr.lr");
    invoke(a, "m1", "start", {}).op(Pop2);
    storePath(a, "position", "m1.position");
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("v2"), "40");
    EXPECT_EQ(var("p2"), "-30");
    EXPECT_EQ(var("vAll"), "100");
    EXPECT_EQ(var("ll"), "100");
    EXPECT_EQ(var("lr"), "100");
    EXPECT_EQ(var("position"), "0");
}

}  // namespace
}  // namespace scripttest

namespace scripttest {
namespace {

TEST_F(ScriptTest, SharedObjectsAreKeptByNameForThePlayersLife) {
    Asm a;
    store(a, "so", [](Asm& x) { invoke(x, "SharedObject", "getLocal", {"prefs"}); });
    assign(a, "so.data", "volume", 7);
    store(a, "flushed", [](Asm& x) { invoke(x, "so", "flush", {}); });
    store(a, "size", [](Asm& x) { invoke(x, "so", "getSize", {}); });
    store(a, "bad", [](Asm& x) { invoke(x, "SharedObject", "getLocal", {"a b"}); });
    store(a, "other", [](Asm& x) { invoke(x, "SharedObject", "getLocal", {"prefs", "/elsewhere"}); });
    storePath(a, "otherVolume", "other.data.volume");
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("flushed"), "true");
    EXPECT_NE(var("size"), "0");
    EXPECT_EQ(var("bad"), "null");
    EXPECT_EQ(var("otherVolume"), "<undefined>");

    // Later (after a collection), the same name answers the same object.
    vm.collectGarbage();
    Asm b;
    store(b, "again", [](Asm& x) { invoke(x, "SharedObject", "getLocal", {"prefs"}); });
    storePath(b, "volume", "again.data.volume");
    invoke(b, "again", "clear", {}).op(Pop);
    storePath(b, "cleared", "again.data.volume");
    store(b, "emptySize", [](Asm& x) { invoke(x, "again", "getSize", {}); });
    ASSERT_TRUE(run(b).ok()) << vm.lastError();
    EXPECT_EQ(var("volume"), "7");
    EXPECT_EQ(var("cleared"), "<undefined>");
    EXPECT_EQ(var("emptySize"), "0");
}

TEST_F(ScriptTest, LocalConnectionsReachOnlyThisPlayersConnectionsAndReportWhenTheFrameEnds) {
    Asm a;
    a.setVar("log", "");
    construct(a, "rx", "LocalConnection", {});
    construct(a, "tx", "LocalConnection", {});
    Asm got;
    got.push({"_root.log"}).getVar("_root.log").push({"got "}).op(Add2).getVar("v").op(Add2).push({";"}).op(Add2).op(SetVariable);
    value(a, "rx").push({"hello"});
    a.function("", {"v"}, got).op(SetMember);
    Asm status;
    status.push({"_root.log"}).getVar("_root.log");
    value(status, "info.level").op(Add2).push({";"}).op(Add2).op(SetVariable);
    value(a, "tx").push({"onStatus"});
    a.function("", {"info"}, status).op(SetMember);
    store(a, "c1", [](Asm& x) { invoke(x, "rx", "connect", {"Chat"}); });
    store(a, "c2", [](Asm& x) { invoke(x, "tx", "connect", {"chat"}); });  // taken, whatever the case
    store(a, "s1", [](Asm& x) { invoke(x, "tx", "send", {"CHAT", "hello", "there"}); });
    store(a, "s2", [](Asm& x) { invoke(x, "tx", "send", {"nobody", "hello"}); });
    store(a, "s3", [](Asm& x) { invoke(x, "tx", "send", {"chat", "connect"}); });  // a reserved name
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("c1"), "true");
    EXPECT_EQ(var("c2"), "false");
    EXPECT_EQ(var("s1"), "true");
    EXPECT_EQ(var("s2"), "true");
    EXPECT_EQ(var("s3"), "false");
    EXPECT_EQ(var("log"), "");  // nothing arrives while the sender's script runs
    vm.frameEnded();
    EXPECT_EQ(var("log"), "got there;status;error;");
    ASSERT_TRUE(run(Asm().callMethod("rx", "close", {}).op(Pop).callMethod("tx", "send", {"chat", "hello", "again"}).op(Pop)).ok());
    vm.frameEnded();
    EXPECT_EQ(var("log"), "got there;status;error;error;");
}

}  // namespace
}  // namespace scripttest

namespace scripttest {
namespace {

TEST_F(ScriptTest, MovieClipLoaderTellsItselfAndItsListenersOfEachStep) {
    root->addChild("holder");
    Asm a;
    a.setVar("log", "");
    construct(a, "mcl", "MovieClipLoader", {});
    // Handlers on the loader itself and on a listener both hear.
    auto handler = [](const std::string& tag, std::vector<std::string> params) {
        Asm b;
        b.push({"_root.log"}).getVar("_root.log").push({tag}).op(Add2);
        for (const std::string& p : params) b.push({" "}).op(Add2).getVar(p).op(Add2);
        b.push({";"}).op(Add2).op(SetVariable);
        return b;
    };
    value(a, "mcl").push({"onLoadStart"});
    a.function("", {"t"}, handler("start", {"t"})).op(SetMember);
    value(a, "mcl").push({"onLoadProgress"});
    a.function("", {"t", "l", "n"}, handler("progress", {"l", "n"})).op(SetMember);
    a.push({"l", 0}).op(InitObject).op(SetVariable);
    value(a, "l").push({"onLoadInit"});
    a.function("", {"t"}, handler("init", {"t"})).op(SetMember);
    value(a, "l").push({"onLoadError"});
    a.function("", {"t", "e"}, handler("error", {"t", "e"})).op(SetMember);
    a.getVar("l").push({1}).getVar("mcl").push({"addListener"}).op(CallMethod).op(Pop);
    store(a, "ok", [](Asm& x) { invoke(x, "mcl", "loadClip", {"child.swf", "holder"}); });
    store(a, "level", [](Asm& x) { invoke(x, "mcl", "loadClip", {"other.swf", 3}); });
    store(a, "nowhere", [](Asm& x) { invoke(x, "mcl", "loadClip", {"x.swf", "no.such.clip"}); });
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("ok"), "true");
    EXPECT_EQ(var("level"), "true");
    EXPECT_EQ(var("nowhere"), "false");
    EXPECT_EQ(host.log, (std::vector<std::string>{"loadClip 1 _level0.holder child.swf", "loadClip 2 _level3 other.swf"}));
    EXPECT_EQ(var("log"), "start _level0.holder;start _level3;");

    vm.collectGarbage();  // the loader waits pinned for its answers
    vm.clipLoaded(1, avm1::Vm::ClipLoad::Arrived, 300);
    Asm progress;
    store(progress, "p", [](Asm& x) { invoke(x, "mcl", "getProgress", {"holder"}); });
    storePath(progress, "loaded", "p.bytesLoaded");
    ASSERT_TRUE(run(progress).ok());
    EXPECT_EQ(var("loaded"), "300");
    vm.clipLoaded(1, avm1::Vm::ClipLoad::Initialized);
    vm.clipLoaded(1, avm1::Vm::ClipLoad::Initialized);  // over: nothing more
    vm.clipLoaded(2, avm1::Vm::ClipLoad::Failed);
    EXPECT_EQ(var("log"), "start _level0.holder;start _level3;progress 300 300;init _level0.holder;"
                          "error _level3 URLNotFound;");

    Asm unload;
    store(unload, "unloaded", [](Asm& x) { invoke(x, "mcl", "unloadClip", {"holder"}); });
    ASSERT_TRUE(run(unload).ok());
    EXPECT_EQ(var("unloaded"), "true");
    EXPECT_EQ(host.log.back(), "loadMovie _level0.holder  NONE");
}

}  // namespace
}  // namespace scripttest

namespace scripttest {
namespace {

// Constructors called as plain functions on the player's own objects must not
// turn them into something else (Stage would lose its settings, Key its state).
TEST_F(ScriptTest, ConstructorsCalledOnOtherNativeObjectsLeaveThemAsTheyWere) {
    Asm a;
    for (const char* cls : {"XML", "XMLNode", "LoadVars", "Color", "Sound", "MovieClipLoader"}) {
        for (const char* target : {"Stage", "Key", "Mouse"}) {
            a.getVar(target).push({1}).getVar(cls).push({"call"}).op(CallMethod).op(Pop);
        }
    }
    storePath(a, "mode", "Stage.scaleMode");
    store(a, "down", [](Asm& x) { invoke(x, "Key", "isDown", {65}); });
    store(a, "hidden", [](Asm& x) { invoke(x, "Mouse", "hide", {}); });
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("mode"), "showAll");
    EXPECT_EQ(var("down"), "false");
    EXPECT_EQ(var("hidden"), "1");
    vm.keyDown(65, 'a');
    vm.stageResized();
    vm.mouseEvent(avm1::Vm::MouseEvent::Down);
}

}  // namespace
}  // namespace scripttest
