// External-call scripts evaluated by the plug-in, turned into requests.
#include "kv_nsscript.h"

#include <gtest/gtest.h>

namespace {

std::wstring Request(const std::wstring& call)
{
    std::wstring r;
    if (!FlashCallScriptToRequest(L"try { __flash__toXML(" + call + L") ; } catch (e) { \"<undefined/>\"; }", r))
        return L"(not a call)";
    return r;
}

TEST(FlashCallScript, ArgumentsBecomeStringElementsInOrder)
{
    EXPECT_EQ(Request(L"sayHello(\"Bob\",42)"),
              L"<invoke name=\"sayHello\" returntype=\"XML\"><arguments><string>Bob</string><string>42</string>"
              L"</arguments></invoke>");
    EXPECT_EQ(Request(L"ping()"), L"<invoke name=\"ping\" returntype=\"XML\"><arguments></arguments></invoke>");
    EXPECT_EQ(Request(L"f( true , null,undefined, -1.5 )"),
              L"<invoke name=\"f\" returntype=\"XML\"><arguments><string>true</string><string>null</string>"
              L"<string>undefined</string><string>-1.5</string></arguments></invoke>");
    EXPECT_EQ(Request(L"f(\"\")"),
              L"<invoke name=\"f\" returntype=\"XML\"><arguments><string></string></arguments></invoke>");
}

TEST(FlashCallScript, QuotedTextKeepsItsCommasParenthesesAndBlanksAndLosesItsEscapes)
{
    std::wstring name;
    std::vector<std::wstring> args;
    ASSERT_TRUE(ParseFlashCallScript(
        L"try { __flash__toXML(f(\"a, b)\", ' x ', \"q\\\"uote\\\\ \\n\\t\\u00e9\\/\")) ; } catch (e) { \"<undefined/>\"; }",
        name, args));
    EXPECT_EQ(name, L"f");
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(args[0], L"a, b)");
    EXPECT_EQ(args[1], L" x ");
    EXPECT_EQ(args[2], L"q\"uote\\ \n\t\u00e9/");

    // Nested literals stay one argument, as written.
    ASSERT_TRUE(ParseFlashCallScript(L"try { __flash__toXML(g([1,2],{a:\"x,y\"})) ; } catch (e) {}", name, args));
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(args[0], L"[1,2]");
    EXPECT_EQ(args[1], L"{a:\"x,y\"}");

    // The closing text of the script inside a string does not end the call.
    ASSERT_TRUE(ParseFlashCallScript(L"try { __flash__toXML(h(\") ; } catch (e)\")) ; } catch (e) {}", name, args));
    ASSERT_EQ(args.size(), 1u);
    EXPECT_EQ(args[0], L") ; } catch (e)");
}

TEST(FlashCallScript, TextIsEscapedForXml)
{
    EXPECT_EQ(Request(L"f(\"<b>&'\\\"</b>\")"),
              L"<invoke name=\"f\" returntype=\"XML\"><arguments><string>&lt;b&gt;&amp;&apos;&quot;&lt;/b&gt;</string>"
              L"</arguments></invoke>");
}

TEST(FlashCallScript, OtherScriptsAreNotCalls)
{
    std::wstring r = L"unchanged";
    EXPECT_FALSE(FlashCallScriptToRequest(L"window.location.href", r));
    EXPECT_FALSE(FlashCallScriptToRequest(L"try { __flash__toXML(", r));
    EXPECT_FALSE(FlashCallScriptToRequest(L"try { __flash__toXML(f(\"unterminated)", r));
    EXPECT_FALSE(FlashCallScriptToRequest(L"try { __flash__toXML(f(1]) ; } catch (e) {}", r));
    EXPECT_FALSE(FlashCallScriptToRequest(L"TRY { __flash__toXML(f()) ; } catch (e) {}", r));
    EXPECT_EQ(r, L"unchanged");
}

TEST(ScriptUrl, OnlyTheJavascriptSchemeCounts)
{
    EXPECT_TRUE(IsScriptUrl("javascript:alert(1)"));
    EXPECT_TRUE(IsScriptUrl("JavaScript:void(0)"));
    EXPECT_TRUE(IsScriptUrl(" \t\r\nJAVASCRIPT:"));
    EXPECT_FALSE(IsScriptUrl("C:\\javaapps\\intro.swf"));
    EXPECT_FALSE(IsScriptUrl("http://host/java/x.swf"));
    EXPECT_FALSE(IsScriptUrl("javascript"));
    EXPECT_FALSE(IsScriptUrl("java:x"));
    EXPECT_FALSE(IsScriptUrl("x javascript:alert(1)"));
    EXPECT_FALSE(IsScriptUrl(""));
}

}  // namespace
