// Hostile and broken input: budgets, depth limits, malformed blocks, sizes a
// script asks for, and the collector.
#include "script_test_support.h"

namespace scripttest {
namespace {

constexpr uint8_t SetVariable = 0x1D, GetMember = 0x4E, SetMember = 0x4F, NewObject = 0x40, InitArray = 0x42,
                  InitObject = 0x43, Add2 = 0x47, Pop = 0x17;
using avm1::RunStatus;

TEST_F(ScriptTest, BudgetStopsAnEndlessLoopAndTheNextEntryRunsAgain) {
    Asm spin;
    spin.setVar("before", 1).label("top").jump("top");
    const auto r = run(spin);
    EXPECT_EQ(r.status, RunStatus::BudgetExceeded);
    EXPECT_FALSE(r.message.empty());
    EXPECT_EQ(vm.lastError(), r.message);
    EXPECT_EQ(var("before"), "1");

    // An endless loop in a callback is stopped the same way.
    Asm loop;
    loop.label("top").jump("top");
    Asm reg;
    reg.function("", {}, loop).push({Null{}, "spin", 3});
    reg.getVar("flash.external.ExternalInterface").push({"addCallback"}).op(0x52).op(Pop);
    ASSERT_TRUE(run(reg).ok());
    EXPECT_EQ(vm.callExternalCallback("<invoke name=\"spin\" returntype=\"xml\"></invoke>"), "<undefined/>");

    Asm fine;
    fine.setVar("after", 2);
    EXPECT_TRUE(run(fine).ok());
    EXPECT_EQ(var("after"), "2");
}

TEST_F(ScriptTest, RecursionIsCutAtTheCallDepthLimit) {
    Asm self;  // function f(n) { f(n + 1); depth = n; }
    self.push({"n"}).op(0x1C).push({1}).op(Add2).push({1, "f"}).op(0x3D).op(Pop);
    self.push({"_root.depth"}).getVar("n").op(SetVariable);
    Asm a;
    a.function("f", {"n"}, self).call("f", {1}).op(Pop);
    EXPECT_EQ(run(a).status, RunStatus::TooDeep);
    EXPECT_EQ(var("depth"), "<undefined>");  // the entry was abandoned as a whole

    Asm bounded;  // 200 nested calls are fine
    Asm down;     // function g(n) { if (n > 0) g(n - 1); }
    down.push({"n"}).op(0x1C).push({0}).op(0x67).op(0x12).ifTrue("out");
    down.push({"n"}).op(0x1C).push({1}).op(0x0B).push({1, "g"}).op(0x3D).op(Pop).label("out");
    bounded.function("g", {"n"}, down).call("g", {200}).op(Pop).setVar("done", true);
    ASSERT_TRUE(run(bounded).ok()) << vm.lastError();
    EXPECT_EQ(var("done"), "true");

    // Nested with blocks recurse too.
    Asm nested;
    nested.setVar("deepest", 1);
    for (int i = 0; i < 200; ++i) nested = Asm().push({"o", 0}).op(InitObject).with(nested);
    EXPECT_EQ(run(nested).status, RunStatus::TooDeep);

    // A frame that calls itself through the host: each nested run counts.
    root->frameScripts[0] = Asm().push({1}).record(0x9E, {}).bytes();
    EXPECT_TRUE(vm.run(root->frameScripts[0], *root).ok());
    EXPECT_GT(host.log.size(), 100u);
    EXPECT_LE(host.log.size(), 256u);
}

TEST_F(ScriptTest, MalformedBlocksStopWhereTheyBreakAndKeepWhatRan) {
    auto block = [](std::vector<uint8_t> tail) {
        std::vector<uint8_t> code = Asm().setVar("ran", 1).body();
        code.insert(code.end(), tail.begin(), tail.end());
        return code;
    };
    const std::vector<std::vector<uint8_t>> broken = {
        block({0x96, 0xFF, 0x00, 0x00}),                   // length past the end
        block({0x96, 0x05}),                               // header cut short
        block({0x96, 0x03, 0x00, 0x00, 'a', 'b'}),         // string without its terminator
        block({0x96, 0x02, 0x00, 0x06, 0x01}),             // double cut short
        block({0x96, 0x01, 0x00, 0x0A}),                   // unknown push type
        block({0x9B, 0x05, 0x00, 0x00, 0x00, 0x00, 0x50, 0x00}),  // function body past the end
        block({0x8F, 0x08, 0x00, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}),  // try blocks past the end
    };
    for (size_t i = 0; i < broken.size(); ++i) {
        host.traces.clear();
        vm.setVariable("ran", "0");
        const auto r = vm.run(broken[i], *root);
        EXPECT_EQ(r.status, RunStatus::Malformed) << "block " << i;
        EXPECT_EQ(var("ran"), "1") << "block " << i;
    }

    // Unknown actions are skipped by their length; a jump past the end ends the block.
    Asm skipping;
    skipping.op(0x70).record(0xF0, {1, 2, 3}).setVar("skipped", 1);
    skipping.record(0x99, {0xFF, 0x7F}).setVar("unreached", 1);
    ASSERT_TRUE(run(skipping).ok());
    EXPECT_EQ(var("skipped"), "1");
    EXPECT_EQ(var("unreached"), "<undefined>");
    EXPECT_TRUE(vm.run({}, *root).ok());
}

TEST_F(ScriptTest, HostileSizesCostBudgetNotMemory) {
    // new Array(4294967294).join() walks the whole length: stopped by the budget.
    Asm a;
    a.push({"big", 4294967294.0, 1, "Array"}).op(NewObject).op(SetVariable);
    a.push({"blen"}).getVar("big").push({"length"}).op(GetMember).op(SetVariable);
    ASSERT_TRUE(run(a).ok());
    EXPECT_EQ(var("blen"), "4294967294");
    Asm joinBig;
    joinBig.push({"j"}).callMethod("big", "join", {}).op(SetVariable);
    EXPECT_EQ(run(joinBig).status, RunStatus::BudgetExceeded);

    // A far index is stored by name, not by growing the elements.
    Asm far;
    far.push({"arr", 0}).op(InitArray).op(SetVariable);
    far.getVar("arr").push({4000000000.0, "x"}).op(SetMember);
    far.push({"len"}).getVar("arr").push({"length"}).op(GetMember).op(SetVariable);
    far.push({"back"}).getVar("arr").push({4000000000.0}).op(GetMember).op(SetVariable);
    ASSERT_TRUE(run(far).ok());
    EXPECT_EQ(var("len"), "4000000001");
    EXPECT_EQ(var("back"), "x");

    // Doubling a string: stopped when it would pass the string limit.
    Asm grow;
    grow.setVar("s", "0123456789abcdef").label("top");
    grow.push({"s"}).getVar("s").getVar("s").op(Add2).op(SetVariable).jump("top");
    const auto r = run(grow);
    EXPECT_EQ(r.status, RunStatus::OutOfMemory);

    // Work on long texts is charged by length: comparing two equal 1 MB texts
    // in a loop stops after about a thousand rounds, not a million.
    Asm compare;
    compare.setVar("s", "0123456789abcdef");
    for (int i = 0; i < 16; ++i) compare.push({"s"}).getVar("s").getVar("s").op(Add2).op(SetVariable);
    compare.push({"t"}).getVar("s").push({""}).op(Add2).op(SetVariable);  // equal text, another string
    compare.setVar("rounds", 0).label("top");
    compare.push({"rounds"}).getVar("rounds").op(0x50).op(SetVariable);
    compare.getVar("s").getVar("t").op(0x49).op(Pop).jump("top");
    EXPECT_EQ(run(compare).status, RunStatus::BudgetExceeded);
    EXPECT_LT(std::stoi(var("rounds")), 5000);

    // Counts larger than the stack take only what is there.
    Asm counts;
    counts.push({"a", "b", 1000000000}).op(InitArray).storeRegister(1).op(Pop);
    counts.push({"few", Reg{1}}).op(SetVariable);
    counts.push({"k", 1, 1000000000}).op(InitObject).storeRegister(2).op(Pop);
    counts.push({"obj", Reg{2}}).op(SetVariable);
    ASSERT_TRUE(run(counts).ok());
    EXPECT_EQ(var("few.length"), "2");
    EXPECT_EQ(var("few.0"), "b");
    EXPECT_EQ(var("obj.k"), "1");
}

TEST_F(ScriptTest, CollectorFreesWhatNoLongerMattersAndKeepsWhatDoes) {
    FakeClip& menu = root->addChild("menu");
    Asm churn;  // 5000 throwaway objects, one kept on a clip
    churn.setVar("i", 0).label("top");
    churn.push({"tmp", "k", 1, 1}).op(InitObject).op(SetVariable);
    churn.push({"i"}).getVar("i").op(0x50).op(SetVariable);
    churn.getVar("i").push({5000}).op(0x48).ifTrue("top");
    churn.push({"menu.kept", "v", "alive", 1}).op(InitObject).op(SetVariable);
    ASSERT_TRUE(run(churn).ok()) << vm.lastError();
    const size_t before = vm.liveObjects();
    vm.collectGarbage();
    EXPECT_LT(vm.liveObjects() + 4000, before);
    EXPECT_EQ(var("menu.kept.v"), "alive");
    (void)menu;
}

}  // namespace
}  // namespace scripttest
