// Clips and the host: timeline actions, target paths, properties, URLs and
// fscommand, the host's own variable access.
#include "script_test_support.h"

namespace scripttest {
namespace {

constexpr uint8_t Play = 0x06, Stop = 0x07, NextFrame = 0x04, PrevFrame = 0x05, SetVariable = 0x1D,
                  GetProperty = 0x22, SetProperty = 0x23, TargetPath = 0x45, GetMember = 0x4E, SetMember = 0x4F,
                  Add2 = 0x47, Call = 0x9E, Pop = 0x17;

using Log = std::vector<std::string>;

TEST_F(ScriptTest, TimelineActionsReachTheTargetedClip) {
    FakeClip& menu = root->addChild("menu");
    root->labels["intro"] = 4;
    menu.labels["open"] = 2;
    root->frameScripts[2] = Asm().setVar("called", "yes").bytes();

    Asm a;
    a.op(Play).op(Stop).gotoFrame(3).gotoLabel("intro").gotoLabel("missing").op(NextFrame).op(PrevFrame);
    a.setTarget("menu").op(Play).setTarget("");
    a.setTarget("nowhere").op(Stop).setTarget("");  // a missing target swallows the action
    a.push({"menu:open"}).gotoFrame2(true);
    a.push({5}).gotoFrame2(false);
    a.callMethod("menu", "gotoAndStop", {"open"}).op(Pop);
    a.callMethod("_root.menu", "gotoAndPlay", {3}).op(Pop);
    a.callMethod("menu", "stop", {}).op(Pop);
    a.push({3}).record(Call, {});  // runs frame 3's actions without moving
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(host.log, (Log{"_level0 play", "_level0 stop", "_level0 goto 3 stop", "_level0 goto 4 stop",
                             "_level0 nextFrame", "_level0 prevFrame", "_level0.menu play",
                             "_level0.menu goto 2 play", "_level0 goto 4 stop", "_level0.menu goto 2 stop",
                             "_level0.menu goto 2 play", "_level0.menu stop", "_level0 call 2"}));
    EXPECT_EQ(var("called"), "yes");
}

TEST_F(ScriptTest, TargetPathsEverySyntaxReachesTheClipsVariables) {
    FakeClip& menu = root->addChild("menu");
    menu.addChild("item");
    Asm a;
    a.setVar("/menu/item:a", 1);
    a.setVar("_root.menu.item.b", 2);
    a.setVar("_level0.menu.c", 3);
    a.setTarget("menu/item").setVar("d", 4).setVar("../e", 5).setVar("_parent.f", 6).setTarget("");
    a.push({"g"}).getVar("/menu/item:a").getVar("_root.menu.item.b").op(Add2).op(SetVariable);
    a.push({"dot"}).getVar("menu.item").op(TargetPath).op(SetVariable);
    a.push({"slash", "menu/item", 11}).op(GetProperty).op(SetVariable);
    a.push({"rootTarget", "", 11}).op(GetProperty).op(SetVariable);
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("menu.item.a"), "1");
    EXPECT_EQ(var("/menu/item:b"), "2");
    EXPECT_EQ(var("_level0.menu:c"), "3");
    EXPECT_EQ(var("menu.item.d"), "4");
    EXPECT_EQ(var("menu.e"), "5");
    EXPECT_EQ(var("menu.f"), "6");
    EXPECT_EQ(var("g"), "3");
    EXPECT_EQ(var("dot"), "_level0.menu.item");
    EXPECT_EQ(var("slash"), "/menu/item");
    EXPECT_EQ(var("rootTarget"), "/");
    EXPECT_EQ(var("menu.a"), "<undefined>");  // nothing landed on the wrong clip
}

TEST_F(ScriptTest, PropertiesComeFromAndGoToTheHost) {
    FakeClip& menu = root->addChild("menu");
    menu.props[avm1::ClipProperty::X] = 12.5;
    menu.frame = 2;
    menu.total = 7;
    Asm a;
    a.push({"x", "menu", 0}).op(GetProperty).op(SetVariable);
    a.push({"current", "menu", 4}).op(GetProperty).op(SetVariable);  // 1-based for scripts
    a.push({"total"}).getVar("menu").push({"_totalframes"}).op(GetMember).op(SetVariable);
    a.push({"name"}).getVar("menu._name").op(SetVariable);
    a.push({"url"}).getVar("menu._url").op(SetVariable);  // the host does not know it
    a.push({"menu", 6, 50}).op(SetProperty);
    a.getVar("menu").push({"_visible", false}).op(SetMember);
    a.push({"menu", 0, "abc"}).op(SetProperty);  // NaN: dropped
    a.push({"menu", 4, 9}).op(SetProperty);      // read-only: ignored
    a.push({"menu", 99, 1}).op(SetProperty);     // no such property
    ASSERT_TRUE(run(a).ok());
    EXPECT_EQ(var("x"), "12.5");
    EXPECT_EQ(var("current"), "3");
    EXPECT_EQ(var("total"), "7");
    EXPECT_EQ(var("name"), "menu");
    EXPECT_EQ(var("url"), "<undefined>");
    EXPECT_EQ(host.log, (Log{"_level0.menu set _alpha=50", "_level0.menu set _visible=false"}));
}

TEST_F(ScriptTest, GetUrlSplitsWindowsFsCommandsAndLoads) {
    root->addChild("menu");
    Asm a;
    a.setVar("score", 7);
    a.getUrl("http://x/page", "_blank");
    a.getUrl("FSCommand:quit", "now");
    a.push({"fscommand:show", "yes"}).getUrl2(0);  // the prefix ignores case
    a.getUrl("movie.swf", "_level2");              // loadMovieNum
    a.push({"vars.txt", "_level0.menu"}).getUrl2(0x80 | 0x40 | 1);
    a.push({"send.php", "_level0"}).getUrl2(0x80 | 2);
    a.push({"page.php", "_self"}).getUrl2(1);
    a.push({"child.swf", "menu"}).getUrl2(0x40);
    a.push({"x.swf", "nowhere"}).getUrl2(0x40);  // into nothing: ignored
    a.callMethod("menu", "getURL", {"FSCommand:fromMethod", "arg"}).op(Pop);
    a.callMethod("menu", "loadMovie", {"m.swf"}).op(Pop);
    ASSERT_TRUE(run(a).ok());
    EXPECT_EQ(host.log, (Log{"getUrl http://x/page window=_blank NONE", "fscommand quit now",
                             "fscommand show yes", "loadMovie _level2 movie.swf NONE",
                             "loadVariables _level0.menu vars.txt?score=7 GET", "loadVariables _level0 send.php POST post=score=7",
                             "getUrl page.php?score=7 window=_self GET", "loadMovie _level0.menu child.swf NONE",
                             "fscommand fromMethod arg", "loadMovie _level0.menu m.swf NONE"}));
}

TEST_F(ScriptTest, ClipReferencesFollowThePathSoRemovedClipsReadAsUndefined) {
    root->addChild("menu");
    Asm keep;
    keep.push({"ref"}).getVar("menu").op(SetVariable).getVar("menu").push({"v", 1}).op(SetMember);
    ASSERT_TRUE(run(keep).ok());
    EXPECT_EQ(var("ref"), "_level0.menu");
    EXPECT_EQ(var("ref.v"), "1");

    root->removeChild("menu");
    Asm use;
    use.push({"v2"}).getVar("ref").push({"v"}).op(GetMember).op(SetVariable);
    use.push({"t"}).getVar("ref").op(TargetPath).op(SetVariable);
    use.getVar("ref").push({"w", 2}).op(SetMember);
    use.callMethod("ref", "play", {}).op(Pop);
    use.push({"ref", 0, 5}).op(SetProperty);
    ASSERT_TRUE(run(use).ok());
    EXPECT_EQ(var("v2"), "<undefined>");
    EXPECT_EQ(var("t"), "<undefined>");
    EXPECT_TRUE(host.log.empty());

    // A new clip at the same path is what the reference now denotes, with its own variables.
    root->addChild("menu");
    EXPECT_EQ(var("ref.v"), "<undefined>");
    Asm again;
    again.callMethod("ref", "play", {}).op(Pop);
    ASSERT_TRUE(run(again).ok());
    EXPECT_EQ(host.log, (Log{"_level0.menu play"}));
}

TEST_F(ScriptTest, HostVariableAccessByPathAndFromLoadedVariables) {
    FakeClip& menu = root->addChild("menu");
    EXPECT_TRUE(vm.setVariable("greeting", "hi"));
    EXPECT_TRUE(vm.setVariable("/menu:count", "3"));
    EXPECT_TRUE(vm.setVariable("_level0.menu.deep", "x"));
    EXPECT_FALSE(vm.setVariable("nowhere.x", "1"));
    EXPECT_EQ(var("greeting"), "hi");
    EXPECT_EQ(var("menu.count"), "3");
    EXPECT_EQ(var("_root.menu.deep"), "x");
    EXPECT_EQ(vm.getVariable("missing"), std::nullopt);
    EXPECT_EQ(vm.getVariable("_level5.x"), std::nullopt);

    vm.loadVariablesInto(menu, "a=1&b=hello+world&c=%26%3D&=skipped&flag");
    EXPECT_EQ(var("menu.a"), "1");
    EXPECT_EQ(var("menu.b"), "hello world");
    EXPECT_EQ(var("menu.c"), "&=");
    EXPECT_EQ(var("menu.flag"), "");
}

TEST_F(ScriptTest, NameCaseIgnoredBeforeSwf7) {
    FakeClip& old = host.addLevel(1, 6);
    old.addChild("Menu");
    Asm a;
    a.setVar("Score", 5).push({"r"}).getVar("score").op(SetVariable);
    a.push({"clip"}).getVar("menu").op(TargetPath).op(SetVariable);
    ASSERT_TRUE(run(a, &old).ok());
    ASSERT_TRUE(run(a).ok());
    EXPECT_EQ(var("_level1.r"), "5");
    EXPECT_EQ(var("_level1.clip"), "_level1.Menu");
    EXPECT_EQ(var("r"), "<undefined>");  // SWF 8: Score and score differ
}

}  // namespace
}  // namespace scripttest
