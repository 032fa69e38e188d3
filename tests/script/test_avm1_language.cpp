// The language: arithmetic and conversions, branches, functions and
// registers, objects and classes, exceptions, natives.
#include "script_test_support.h"

namespace scripttest {
namespace {

constexpr uint8_t Add = 0x0A, Subtract = 0x0B, Multiply = 0x0C, Divide = 0x0D, Not = 0x12, StringAdd = 0x21,
                  StringLength = 0x14, StringExtract = 0x15, SetVariable = 0x1D, Pop = 0x17, Trace = 0x26,
                  DefineLocal = 0x3C, Return = 0x3E, Modulo = 0x3F, NewObject = 0x40, InitArray = 0x42,
                  InitObject = 0x43, Add2 = 0x47, Equals2 = 0x49, TypeOf = 0x44, Delete = 0x3A, Delete2 = 0x3B, GetMember = 0x4E, SetMember = 0x4F,
                  Increment = 0x50, CallMethod = 0x52, InstanceOf = 0x54, Enumerate2 = 0x55, BitLShift = 0x63,
                  BitURShift = 0x65, Greater = 0x67, Extends = 0x69, Throw = 0x2A;

TEST_F(ScriptTest, ArithmeticFollowsOperandOrderAndPrintsNumbersAsThePlayer) {
    Asm a;
    a.push({"diff", 7, 2, 3}).op(Multiply).op(Subtract).op(SetVariable);  // 7 - 2*3
    a.push({"quot", 1, 4}).op(Divide).op(SetVariable);
    a.push({"mod", -7, 3}).op(Modulo).op(SetVariable);
    a.push({"concat", "1", 2}).op(Add2).op(SetVariable);  // a string wins in Add2
    a.push({"numeric", "1", 2}).op(Add).op(SetVariable);  // SWF 4 Add is numeric
    a.push({"ushr", -1, 28}).op(BitURShift).op(SetVariable);
    a.push({"shl", 1, 31}).op(BitLShift).op(SetVariable);
    a.push({"big", 1e21}).op(SetVariable);
    a.push({"tiny", 1e-7}).op(SetVariable);
    a.push({"sum", 0.1, 0.2}).op(Add2).op(SetVariable);
    a.push({"inf", -1, 0}).op(Divide).op(SetVariable);
    ASSERT_TRUE(run(a).ok());
    EXPECT_EQ(var("diff"), "1");
    EXPECT_EQ(var("quot"), "0.25");
    EXPECT_EQ(var("mod"), "-1");
    EXPECT_EQ(var("concat"), "12");
    EXPECT_EQ(var("numeric"), "3");
    EXPECT_EQ(var("ushr"), "15");
    EXPECT_EQ(var("shl"), "-2147483648");
    EXPECT_EQ(var("big"), "1e+21");
    EXPECT_EQ(var("tiny"), "1e-7");
    EXPECT_EQ(var("sum"), "0.3");
    EXPECT_EQ(var("inf"), "-Infinity");
}

TEST_F(ScriptTest, ConversionsDependOnTheMoviesVersion) {
    Asm a;
    a.push({"s", Undef{}, "x"}).op(StringAdd).op(SetVariable);
    a.push({"n", Undef{}, 1}).op(Add2).op(SetVariable);
    a.push({"b", "0"}).op(Not).op(Not).op(SetVariable);  // is the text "0" true?
    a.push({"e", ""}).op(Not).op(SetVariable);
    FakeClip& v6 = host.addLevel(1, 6);
    ASSERT_TRUE(run(a).ok());
    ASSERT_TRUE(run(a, &v6).ok());
    // SWF 7 and later: undefined is "undefined" and NaN; non-empty texts are true.
    EXPECT_EQ(var("s"), "undefinedx");
    EXPECT_EQ(var("n"), "NaN");
    EXPECT_EQ(var("b"), "true");
    EXPECT_EQ(var("e"), "true");
    // Before: undefined is "" and 0; texts are true when their number is not 0.
    EXPECT_EQ(var("_level1.s"), "x");
    EXPECT_EQ(var("_level1.n"), "1");
    EXPECT_EQ(var("_level1.b"), "false");
    EXPECT_EQ(var("_level1.e"), "true");
}

TEST_F(ScriptTest, BranchesLoopUntilTheConditionFails) {
    Asm a;
    a.setVar("i", 1).setVar("sum", 0);
    a.label("loop").getVar("i").push({10}).op(Greater).ifTrue("end");
    a.push({"sum"}).getVar("sum").getVar("i").op(Add2).op(SetVariable);
    a.push({"i"}).getVar("i").op(Increment).op(SetVariable);
    a.jump("loop").label("end");
    ASSERT_TRUE(run(a).ok());
    EXPECT_EQ(var("sum"), "55");
}

TEST_F(ScriptTest, PushTypesConstantPoolAndRegisters) {
    Asm a;
    a.pool({"v1", "hello"}).push({Pool{0}, Pool{1}}).op(SetVariable);
    a.push({"v2", F32{1.5f}}).op(SetVariable);
    a.push({"v3", 2.25}).op(SetVariable);  // a double, stored with its halves swapped
    a.push({"v4", -5}).op(SetVariable);
    a.push({7}).storeRegister(1).op(Pop).push({"v5", Reg{1}}).op(SetVariable);
    a.push({"v6", Pool{9}}).op(SetVariable);  // past the pool: undefined
    a.push({"v7", Reg{200}}).op(SetVariable);  // no such register: undefined
    ASSERT_TRUE(run(a).ok());
    EXPECT_EQ(var("v1"), "hello");
    EXPECT_EQ(var("v2"), "1.5");
    EXPECT_EQ(var("v3"), "2.25");
    EXPECT_EQ(var("v4"), "-5");
    EXPECT_EQ(var("v5"), "7");
    EXPECT_EQ(var("v6"), "<undefined>");
    EXPECT_EQ(var("v7"), "<undefined>");
}

// Pools run again and again in a loop, two that differ only in their text
// taking turns: each push reads the pool that ran last, and a function keeps
// the pool it was defined under.
TEST_F(ScriptTest, PoolsRunAgainReadAsTheyDidAndTheLastPoolRules) {
    Asm first;
    first.push({Pool{0}}).op(Return);
    Asm a;
    a.setVar("i", 0).setVar("log", "");
    a.pool({"aa", "x"}).function("fromFirst", {}, first);
    a.label("loop").getVar("i").push({2}).op(Greater).ifTrue("end");
    a.pool({"aa", "x"}).push({"log"}).getVar("log").push({Pool{0}}).op(StringAdd).op(SetVariable);
    a.pool({"bb", "x"}).push({"log"}).getVar("log").push({Pool{0}}).op(StringAdd).op(SetVariable);
    a.push({"i"}).getVar("i").op(Increment).op(SetVariable);
    a.jump("loop").label("end");
    a.push({"kept"}).call("fromFirst", {}).op(SetVariable);
    a.push({"last"}).push({Pool{0}}).op(SetVariable);
    ASSERT_TRUE(run(a).ok());
    EXPECT_EQ(var("log"), "aabbaabbaabb");
    EXPECT_EQ(var("kept"), "aa");
    EXPECT_EQ(var("last"), "bb");
}

TEST_F(ScriptTest, FunctionsParametersReturnRecursionAndClosures) {
    Asm add;
    add.getVar("a").getVar("b").op(Add2).op(Return);
    Asm fact;  // registers: 1 = n
    fact.push({Reg{1}, 1}).op(Greater).ifTrue("recurse").push({1}).op(Return).label("recurse");
    fact.push({Reg{1}, Reg{1}, 1}).op(Subtract).push({1, "fact"}).op(0x3D).op(Multiply).op(Return);
    Asm inner;  // c = c + 1; return c;
    inner.push({"c"}).getVar("c").push({1}).op(Add2).op(SetVariable).getVar("c").op(Return);
    Asm makeCounter;
    makeCounter.push({"c", 0}).op(DefineLocal).function("", {}, inner).op(Return);

    Asm a;
    a.function("add", {"a", "b"}, add);
    a.function2("fact", 2, 0, {{1, "n"}}, fact);
    a.function("makeCounter", {}, makeCounter);
    a.push({"r"}).call("add", {2, 3}).op(SetVariable);
    a.push({"f"}).call("fact", {10}).op(SetVariable);
    a.push({"k"}).call("makeCounter", {}).op(SetVariable);
    a.call("k", {}).op(Pop).call("k", {}).op(Pop);
    a.push({"counted"}).call("k", {}).op(SetVariable);
    a.push({"leak"}).getVar("c").op(SetVariable);  // the closure's local stays inside it
    ASSERT_TRUE(run(a).ok());
    EXPECT_EQ(var("r"), "5");
    EXPECT_EQ(var("f"), "3628800");
    EXPECT_EQ(var("counted"), "3");
    EXPECT_EQ(var("leak"), "<undefined>");
}

TEST_F(ScriptTest, DefineFunction2PreloadsThisAndArgumentsIntoRegisters) {
    using F = uint16_t;
    constexpr F PreloadThis = 0x01, PreloadArguments = 0x04, PreloadRoot = 0x40;
    Asm m;  // return this.name + arguments.length + _root.tag
    m.push({Reg{1}, "name"}).op(GetMember).push({Reg{2}, "length"}).op(GetMember).op(Add2);
    m.push({Reg{3}, "tag"}).op(GetMember).op(Add2).op(Return);
    Asm a;
    a.setVar("tag", "!");
    a.push({"o", "name", "box", 1}).op(InitObject).op(SetVariable);
    a.getVar("o").push({"m"}).function2("", 4, PreloadThis | PreloadArguments | PreloadRoot, {}, m).op(SetMember);
    a.push({"r"}).callMethod("o", "m", {1, 2, 3}).op(SetVariable);
    ASSERT_TRUE(run(a).ok());
    EXPECT_EQ(var("r"), "box3!");
}

TEST_F(ScriptTest, ClassesPrototypesInstanceOfExtendsAndSuper) {
    Asm point;  // function Point(x) { this.x = x; }
    point.getVar("this").push({"x"}).getVar("x").op(SetMember);
    Asm twice;  // function () { return this.x * 2; }
    twice.getVar("this").push({"x"}).op(GetMember).push({2}).op(Multiply).op(Return);

    Asm animal;  // function Animal(n) { this.name = n; }
    animal.getVar("this").push({"name"}).getVar("n").op(SetMember);
    Asm speak;
    speak.getVar("this").push({"name"}).op(GetMember).push({" speaks"}).op(Add2).op(Return);
    Asm dog;  // registers: 1 this, 2 super, 3 n; super(n);
    dog.push({Reg{3}, 1, Reg{2}, Undef{}}).op(CallMethod).op(Pop);
    Asm dogSpeak;  // return super.speak() + " (woof)";
    dogSpeak.push({0, Reg{2}, "speak"}).op(CallMethod).push({" (woof)"}).op(Add2).op(Return);

    Asm a;
    a.function("Point", {"x"}, point);
    a.getVar("Point").push({"prototype"}).op(GetMember).push({"twice"}).function("", {}, twice).op(SetMember);
    a.push({"p", 21, 1, "Point"}).op(NewObject).op(SetVariable);
    a.push({"r"}).callMethod("p", "twice", {}).op(SetVariable);
    a.push({"isPoint"}).getVar("p").getVar("Point").op(InstanceOf).op(SetVariable);
    a.push({"isArray"}).getVar("p").getVar("Array").op(InstanceOf).op(SetVariable);

    a.function("Animal", {"n"}, animal);
    a.getVar("Animal").push({"prototype"}).op(GetMember).push({"speak"}).function("", {}, speak).op(SetMember);
    a.function2("Dog", 4, 0x01 | 0x10, {{3, "n"}}, dog);
    a.getVar("Dog").getVar("Animal").op(Extends);
    a.getVar("Dog").push({"prototype"}).op(GetMember).push({"speak"});
    a.function2("", 3, 0x01 | 0x10, {}, dogSpeak).op(SetMember);
    a.push({"d", "Rex", 1, "Dog"}).op(NewObject).op(SetVariable);
    a.push({"said"}).callMethod("d", "speak", {}).op(SetVariable);
    a.push({"isAnimal"}).getVar("d").getVar("Animal").op(InstanceOf).op(SetVariable);
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("r"), "42");
    EXPECT_EQ(var("isPoint"), "true");
    EXPECT_EQ(var("isArray"), "false");
    EXPECT_EQ(var("said"), "Rex speaks (woof)");
    EXPECT_EQ(var("isAnimal"), "true");
}

TEST_F(ScriptTest, MembersAccessorsDeleteAndTypeOf) {
    Asm get;  // function () { return this._v * 2; }
    get.getVar("this").push({"_v"}).op(GetMember).push({2}).op(Multiply).op(Return);
    Asm set;  // function (v) { this._v = v; }
    set.getVar("this").push({"_v"}).getVar("v").op(SetMember);
    Asm a;
    a.push({"o", 0}).op(InitObject).op(SetVariable);
    a.function("", {"v"}, set).function("", {}, get).push({"p", 3}).getVar("o").push({"addProperty"});
    a.op(CallMethod).op(Pop);
    a.getVar("o").push({"p", 21}).op(SetMember);
    a.push({"pv"}).getVar("o.p").op(SetVariable);
    // An accessor on the prototype runs with the instance as `this`.
    a.push({"child", 0}).op(InitObject).op(SetVariable);
    a.getVar("child").push({"__proto__"}).getVar("o").op(SetMember);
    a.getVar("child").push({"p", 5}).op(SetMember);
    a.push({"childV"}).getVar("child._v").op(SetVariable);
    a.push({"ownV"}).getVar("o._v").op(SetVariable);
    a.push({"t1"}).getVar("o").op(TypeOf).op(SetVariable);
    a.push({"t2"}).getVar("o.p").op(TypeOf).op(SetVariable);
    a.push({"t3"}).getVar("_root").op(TypeOf).op(SetVariable);
    a.push({"t4", Null{}}).op(TypeOf).op(SetVariable);
    a.push({"t5"}).getVar("parseInt").op(TypeOf).op(SetVariable);
    a.push({"t6"}).getVar("nothing").op(TypeOf).op(SetVariable);
    a.push({"del1"}).getVar("o").push({"_v"}).op(Delete).op(SetVariable);
    a.push({"afterDelete"}).getVar("o.p").op(SetVariable);
    a.push({"del2"}).getVar("Math").push({"PI"}).op(Delete).op(SetVariable);  // DontDelete
    a.setVar("x", 1).push({"del3", "x"}).op(Delete2).op(SetVariable);
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("pv"), "42");
    EXPECT_EQ(var("childV"), "5");
    EXPECT_EQ(var("ownV"), "21");
    EXPECT_EQ(var("t1") + var("t2") + var("t3") + var("t4") + var("t5") + var("t6"),
              "objectnumbermovieclipnullfunctionundefined");
    EXPECT_EQ(var("del1"), "true");
    EXPECT_EQ(var("afterDelete"), "NaN");
    EXPECT_EQ(var("del2"), "false");
    EXPECT_EQ(var("del3"), "true");
    EXPECT_EQ(var("x"), "<undefined>");
}

TEST_F(ScriptTest, ExceptionsCatchFinallyAndAcrossFunctions) {
    Asm body;
    body.setVar("log", "a").push({"boom"}).op(Throw).setVar("log", "never");
    Asm handler;
    handler.push({"log"}).getVar("log").getVar("e").op(Add2).op(SetVariable);
    Asm finally;
    finally.push({"log"}).getVar("log").push({"!"}).op(Add2).op(SetVariable);
    Asm thrower;
    thrower.push({"deep"}).op(Throw);
    Asm callThrower;
    callThrower.call("thrower", {}).op(Pop);
    Asm caught;
    caught.push({"caught"}).getVar("err").op(SetVariable);

    Asm a;
    a.tryCatch(body, "e", handler, finally);
    a.function("thrower", {}, thrower);
    a.tryCatch(callThrower, "err", caught);
    a.setVar("after", true);
    ASSERT_TRUE(run(a).ok());
    EXPECT_EQ(var("log"), "aboom!");
    EXPECT_EQ(var("caught"), "deep");
    EXPECT_EQ(var("after"), "true");

    Asm uncaught;
    uncaught.setVar("before", 1).push({"oops"}).op(Throw).setVar("afterThrow", 1);
    const auto r = run(uncaught);
    EXPECT_EQ(r.status, avm1::RunStatus::UncaughtException);
    EXPECT_NE(r.message.find("oops"), std::string::npos);
    EXPECT_EQ(var("before"), "1");
    EXPECT_EQ(var("afterThrow"), "<undefined>");
}

TEST_F(ScriptTest, WithAndForInResolveThroughTheObject) {
    Asm inside;
    inside.push({"r"}).getVar("a").op(SetVariable).setVar("a", 6);
    Asm b;
    b.push({"o", "a", 5, 1}).op(InitObject).op(SetVariable);
    b.getVar("o").with(inside);
    b.push({"oa"}).getVar("o.a").op(SetVariable);
    b.setVar("keys", "");  // for (k in {x:1, y:2}) keys += k;
    b.push({"x", 1, "y", 2, 2}).op(InitObject).op(Enumerate2);
    b.label("next").storeRegister(0).push({Null{}}).op(Equals2).ifTrue("done");
    b.push({"keys"}).getVar("keys").push({Reg{0}}).op(Add2).op(SetVariable).jump("next");
    b.label("done");
    ASSERT_TRUE(run(b).ok());
    EXPECT_EQ(var("r"), "5");
    EXPECT_EQ(var("oa"), "6");
    // The player enumerates the newest member first.
    EXPECT_EQ(var("keys"), "yx");
    EXPECT_EQ(var("a"), "<undefined>");  // nothing leaked onto the timeline
}

TEST_F(ScriptTest, NativesStringsArraysMathAndGlobals) {
    Asm a;
    a.setVar("s", "Hello, World");
    a.push({"up"}).callMethod("s", "toUpperCase", {}).op(SetVariable);
    a.push({"sub"}).callMethod("s", "substr", {7, 5}).op(SetVariable);
    a.push({"swapped"}).callMethod("s", "substring", {5, 0}).op(SetVariable);
    a.push({"at"}).callMethod("s", "indexOf", {"o", 5}).op(SetVariable);
    a.push({"len"}).getVar("s").push({"length"}).op(GetMember).op(SetVariable);
    a.push({"parts"}).callMethod("s", "split", {", "}).op(SetVariable);
    a.push({"joined"}).callMethod("parts", "join", {"|"}).op(SetVariable);
    a.setVar("u", "h\xC3\xA9llo");  // UTF-8 from SWF 6 on: characters, not bytes
    a.push({"ulen"}).getVar("u").op(StringLength).op(SetVariable);
    a.push({"uchar"}).callMethod("u", "charAt", {1}).op(SetVariable);
    a.push({"extract", "abcdef", 2, 3}).op(StringExtract).op(SetVariable);

    a.push({"arr", 3, 1, 2, 3}).op(InitArray).op(SetVariable);  // [2, 1, 3]
    a.callMethod("arr", "push", {10}).op(Pop);
    a.push({"sorted"}).callMethod("arr", "sort", {16}).op(SetVariable);  // Array.NUMERIC
    a.push({"sortedText"}).callMethod("arr", "join", {}).op(SetVariable);
    a.getVar("arr").push({20, "x"}).op(SetMember);
    a.push({"arrLen"}).getVar("arr").push({"length"}).op(GetMember).op(SetVariable);
    a.push({"sparse", 5, 1, "Array"}).op(NewObject).op(SetVariable);
    a.push({"sparseLen"}).getVar("sparse").push({"length"}).op(GetMember).op(SetVariable);

    a.push({"max"}).callMethod("Math", "max", {3, 9, 4}).op(SetVariable);
    a.push({"round"}).callMethod("Math", "round", {-2.5}).op(SetVariable);
    a.push({"int"}).call("parseInt", {"0x1F"}).op(SetVariable);
    a.push({"flt"}).call("parseFloat", {"3.5kg"}).op(SetVariable);
    a.push({"nan"}).call("isNaN", {"abc"}).op(SetVariable);
    a.push({"hex"}).push({16, 1, 255}).push({1, "Number"}).op(NewObject).push({"toString"}).op(CallMethod).op(SetVariable);
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("up"), "HELLO, WORLD");
    EXPECT_EQ(var("sub"), "World");
    EXPECT_EQ(var("swapped"), "Hello");
    EXPECT_EQ(var("at"), "8");
    EXPECT_EQ(var("len"), "12");
    EXPECT_EQ(var("joined"), "Hello|World");
    EXPECT_EQ(var("ulen"), "5");
    EXPECT_EQ(var("uchar"), "\xC3\xA9");
    EXPECT_EQ(var("extract"), "bcd");
    EXPECT_EQ(var("sortedText"), "1,2,3,10");
    EXPECT_EQ(var("arrLen"), "21");
    EXPECT_EQ(var("sparseLen"), "5");
    EXPECT_EQ(var("max"), "9");
    EXPECT_EQ(var("round"), "-2");
    EXPECT_EQ(var("int"), "31");
    EXPECT_EQ(var("flt"), "3.5");
    EXPECT_EQ(var("nan"), "true");
    EXPECT_EQ(var("hex"), "ff");
}

TEST_F(ScriptTest, TraceGoesToTheHostWithUndefinedByName) {
    FakeClip& v6 = host.addLevel(1, 6);
    Asm a;
    a.trace("text").push({Undef{}}).op(Trace).push({2, 3}).op(Add2).op(Trace);
    ASSERT_TRUE(run(a, &v6).ok());
    EXPECT_EQ(host.traces, (std::vector<std::string>{"text", "undefined", "5"}));
}

}  // namespace
}  // namespace scripttest
