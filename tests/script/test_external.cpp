// ExternalInterface: the XML texts, the script literals of the plug-in, and
// the interpreter's call/addCallback natives on top of them.
#include <limits>

#include "eixml.h"
#include "script_test_support.h"

namespace scripttest {
namespace {

constexpr uint8_t SetVariable = 0x1D, InitArray = 0x42, InitObject = 0x43, CallMethod = 0x52, GetMember = 0x4E,
                  Return = 0x3E, Add2 = 0x47, Pop = 0x17;
using ei::Value;

TEST(EiXml, EncodeWritesThePlayersTexts) {
    EXPECT_EQ(ei::encodeValue(Value::of("a&b<c>\"d'")), "<string>a&amp;b&lt;c&gt;&quot;d&apos;</string>");
    EXPECT_EQ(ei::encodeValue(Value::of(0.5)), "<number>0.5</number>");
    EXPECT_EQ(ei::encodeValue(Value::of(-std::numeric_limits<double>::infinity())), "<number>-Infinity</number>");
    EXPECT_EQ(ei::encodeValue(Value::array({Value::of(true), Value::null()})),
              "<array><property id=\"0\"><true/></property><property id=\"1\"><null/></property></array>");
    EXPECT_EQ(ei::encodeValue(Value::object({{"k\"", Value::undefined()}})),
              "<object><property id=\"k&quot;\"><undefined/></property></object>");
    EXPECT_EQ(ei::encodeInvoke("f", {Value::of(false), Value::of("x")}),
              "<invoke name=\"f\" returntype=\"xml\"><arguments><false/><string>x</string></arguments></invoke>");
    EXPECT_EQ(ei::encodeInvoke("ping", {}), "<invoke name=\"ping\" returntype=\"xml\"><arguments></arguments></invoke>");
}

TEST(EiXml, DecodeReadsWhatEitherSideWrites) {
    const Value nested = Value::array(
        {Value::of("caf\xC3\xA9 <&>"), Value::of(-1.25), Value::object({{"inner", Value::array({Value::of(false)})}}),
         Value::undefined()});
    const auto back = ei::decodeValue(ei::encodeValue(nested));
    ASSERT_TRUE(back) << back.error;
    EXPECT_EQ(*back.value, nested);

    const auto spaced = ei::decodeValue(" <array>\n <property id='0'> <string/> </property>\r\n</array> ");
    ASSERT_TRUE(spaced) << spaced.error;
    EXPECT_EQ(*spaced.value, Value::array({Value::of("")}));

    // The package's own request: upper-case return type, and none without arguments.
    const auto withArgs = ei::decodeInvoke(
        "<invoke name=\"sayHello\" returntype=\"XML\"><arguments><string>Bob</string><string>42</string></arguments></invoke>");
    ASSERT_TRUE(withArgs) << withArgs.error;
    EXPECT_EQ(withArgs.value->name, "sayHello");
    EXPECT_EQ(withArgs.value->returnType, "XML");
    EXPECT_EQ(withArgs.value->arguments, (std::vector<Value>{Value::of("Bob"), Value::of("42")}));
    const auto bare = ei::decodeInvoke("<invoke name=\"stopflv\" returntype=\"xml\"></invoke>");
    ASSERT_TRUE(bare) << bare.error;
    EXPECT_EQ(bare.value->name, "stopflv");
    EXPECT_TRUE(bare.value->arguments.empty());

    EXPECT_EQ(ei::unescapeXml("&#233;&#xE9;&#x1F600;&amp;lt;"), "\xC3\xA9\xC3\xA9\xF0\x9F\x98\x80&lt;");
    for (const char* bad : {"&", "a & b", "&bogus;", "&#0;", "&#xD800;", "&#x110000;", "&#12a;", "&#;"})
        EXPECT_EQ(ei::unescapeXml(bad), std::nullopt) << bad;
}

TEST(EiXml, DecodeRefusesMalformedInputWithAReason) {
    std::string deep;
    for (int i = 0; i < 100; ++i) deep += "<array><property id=\"0\">";
    const char* values[] = {"",
                            "<string>",
                            "<string>a</strin>",
                            "<string>a<b</string>",
                            "<number>abc</number>",
                            "<number/>",
                            "<array><property><null/></property></array>",
                            "<array><item id=\"0\"><null/></item></array>",
                            "<bogus/>",
                            "<null/>junk",
                            "<true",
                            "<string>&nope;</string>",
                            "<object><property id=\"k\"/></object>",
                            "<array><property id=\"0\" <null/></property></array>"};
    for (const char* text : values) {
        const auto d = ei::decodeValue(text);
        EXPECT_FALSE(d) << text;
        EXPECT_FALSE(d.error.empty()) << text;
    }
    EXPECT_FALSE(ei::decodeValue(deep));
    for (const char* text : {"<invoke returntype=\"xml\"></invoke>", "<invoke name=\"f\"><arguments><null/></invoke>",
                             "<call name=\"f\"/>", "<invoke name=\"f\"><args/></invoke>"})
        EXPECT_FALSE(ei::decodeInvoke(text)) << text;
}

TEST(EiXml, ScriptTextIsWhatThePluginEvaluates) {
    EXPECT_EQ(ei::evaluateScript("sayHello", {Value::of("Bob"), Value::of(42.0)}),
              "try { __flash__toXML(sayHello(\"Bob\",42)) ; } catch (e) { \"<undefined/>\"; }");
    EXPECT_EQ(ei::evaluateScript("ping", {}), "try { __flash__toXML(ping()) ; } catch (e) { \"<undefined/>\"; }");
    EXPECT_EQ(ei::scriptLiteral(Value::of("q\" b\\ n\n r\r t\t")), "\"q\\\" b\\\\ n\\n r\\r t\\t\"");
    EXPECT_EQ(ei::scriptLiteral(Value::array({Value::of(true), Value::null(), Value::undefined(), Value::of(1.5)})),
              "[true,null,undefined,1.5]");
    EXPECT_EQ(ei::scriptLiteral(Value::object({{"a", Value::of("x")}, {"b", Value::of(false)}})), "{\"a\":\"x\",\"b\":false}");
}

TEST_F(ScriptTest, ExternalCallSendsTheRequestAndDecodesTheAnswer) {
    host.externalAnswer = "<string>hi &amp; bye</string>";
    Asm a;
    a.push({"r"});
    a.push({"a", 1, 2}).op(InitArray);  // [1, "a"]
    a.push({Null{}, true, 42, "Bob", "sayHello", 6}).getVar("flash.external.ExternalInterface");
    a.push({"call"}).op(CallMethod).op(SetVariable);
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    ASSERT_EQ(host.externalCalls.size(), 1u);
    EXPECT_EQ(host.externalCalls[0].first, "sayHello");
    EXPECT_EQ(host.externalCalls[0].second,
              "<invoke name=\"sayHello\" returntype=\"xml\"><arguments><string>Bob</string><number>42</number>"
              "<true/><null/><array><property id=\"0\"><number>1</number></property><property id=\"1\">"
              "<string>a</string></property></array></arguments></invoke>");
    EXPECT_EQ(var("r"), "hi & bye");

    auto answer = [&](std::optional<std::string> xml) {
        host.externalAnswer = std::move(xml);
        Asm call;
        call.push({"r"}).callMethod("flash.external.ExternalInterface", "call", {"f"}).op(SetVariable);
        EXPECT_TRUE(run(call).ok());
    };
    answer("<array><property id=\"0\"><number>5</number></property></array>");
    EXPECT_EQ(var("r.0"), "5");
    EXPECT_EQ(var("r.length"), "1");
    answer("<object><property id=\"k\"><true/></property></object>");
    EXPECT_EQ(var("r.k"), "true");
    answer(std::nullopt);  // the container said nothing
    EXPECT_EQ(var("r"), "null");
    answer("<string>unterminated");
    EXPECT_EQ(var("r"), "null");
    answer("");  // a handler that set no return value
    EXPECT_EQ(var("r"), "<undefined>");

    host.available = false;
    answer("<string>unused</string>");
    EXPECT_EQ(var("r"), "null");
    EXPECT_EQ(host.externalCalls.size(), 6u);  // not asked while unavailable
    Asm avail;
    avail.push({"avail"}).getVar("flash.external.ExternalInterface").push({"available"}).op(GetMember).op(SetVariable);
    ASSERT_TRUE(run(avail).ok());
    EXPECT_EQ(var("avail"), "false");
}

TEST_F(ScriptTest, AddCallbackRegistersAndAnswersInvokeRequests) {
    Asm greet;  // function (a, b) { return this.prefix + a + b; }
    greet.getVar("this").push({"prefix"}).op(GetMember).getVar("a").op(Add2).getVar("b").op(Add2).op(Return);
    Asm ping;  // function () { pinged = arguments.length; }
    ping.push({"_root.pinged"}).getVar("arguments").push({"length"}).op(GetMember).op(SetVariable);
    Asm pair;  // function () { return [1, "two"]; }
    pair.push({"two", 1, 2}).op(InitArray).op(Return);

    Asm a;
    a.push({"o", "prefix", ">", 1}).op(InitObject).op(SetVariable);
    a.push({"registered"}).function("", {"a", "b"}, greet).getVar("o").push({"greet", 3});
    a.getVar("flash.external.ExternalInterface").push({"addCallback"}).op(CallMethod).op(SetVariable);
    a.function("", {}, ping).push({Null{}, "ping", 3});
    a.getVar("flash.external.ExternalInterface").push({"addCallback"}).op(CallMethod).op(Pop);
    a.function("", {}, pair).push({Null{}, "pair", 3});
    a.getVar("flash.external.ExternalInterface").push({"addCallback"}).op(CallMethod).op(Pop);
    a.push({"notAFunction"}).callMethod("flash.external.ExternalInterface", "addCallback", {"bad", Null{}, 5}).op(SetVariable);
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("registered"), "true");
    EXPECT_EQ(var("notAFunction"), "false");
    EXPECT_EQ(host.log, (std::vector<std::string>{"addCallback greet", "addCallback ping", "addCallback pair"}));
    vm.collectGarbage();  // the callbacks are kept alive by their registration

    EXPECT_EQ(vm.callExternalCallback("<invoke name=\"greet\" returntype=\"xml\"><arguments><string>a&lt;</string>"
                                      "<number>1</number></arguments></invoke>"),
              "<string>&gt;a&lt;1</string>");
    EXPECT_EQ(vm.callExternalCallback("<invoke name=\"ping\" returntype=\"xml\"></invoke>"), "<undefined/>");
    EXPECT_EQ(var("pinged"), "0");
    EXPECT_EQ(vm.callExternalCallback("<invoke name=\"pair\" returntype=\"xml\"><arguments/></invoke>"),
              "<array><property id=\"0\"><number>1</number></property><property id=\"1\"><string>two</string>"
              "</property></array>");
    EXPECT_TRUE(vm.hasExternalCallback("greet"));
    EXPECT_FALSE(vm.hasExternalCallback("bad"));
    EXPECT_EQ(vm.callExternalCallback("<invoke name=\"missing\" returntype=\"xml\"></invoke>"), std::nullopt);
    EXPECT_NE(vm.lastError().find("missing"), std::string::npos);
    EXPECT_EQ(vm.callExternalCallback("<invoke name=\"greet\"><arguments><string>x</arguments></invoke>"), std::nullopt);
    EXPECT_NE(vm.lastError().find("malformed"), std::string::npos);
}

}  // namespace
}  // namespace scripttest
