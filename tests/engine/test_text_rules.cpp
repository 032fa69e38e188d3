// Text rules: URLs a movie asks for resolved against its own, the
// url-encoded form of variables, and how a text field lays out its text.
#include "display.h"
#include "render.h"
#include "url_text.h"

#include <gtest/gtest.h>

using namespace refplayer::engine;

TEST(UrlText, RelativeReferencesResolveAgainstTheMovieUrl)
{
    struct Case {
        const char* base;
        const char* relative;
        const char* expected;
    } cases[] = {
        {"http://h.test/a/b/main.swf", "skin.swf", "http://h.test/a/b/skin.swf"},
        {"http://h.test/a/b/main.swf?x=1#f", "../c/d.swf?y=2", "http://h.test/a/c/d.swf?y=2"},
        {"http://h.test/a/b/main.swf", "/root.swf", "http://h.test/root.swf"},
        {"http://h.test/a/main.swf", "//other.test/x.swf", "http://other.test/x.swf"},
        {"http://h.test", "x.swf", "http://h.test/x.swf"},
        {"http://h.test/a/main.swf", "../../../up.swf", "http://h.test/up.swf"},
        {"http://h.test/a/main.swf", "https://s.test/abs.swf", "https://s.test/abs.swf"},
        {"http://h.test/a/main.swf", "C:\\movies\\m.swf", "C:\\movies\\m.swf"},
        {"http://h.test/a/main.swf", "FSCommand:quit", "FSCommand:quit"},
        {"file:///C:/dir/main.swf", "sub/v.flv", "file:///C:/dir/sub/v.flv"},
        // Backslashes in hierarchical URLs separate segments; a query keeps its own.
        {"http://kvs/C:\\dir\\main.swf", "second.swf", "http://kvs/C:/dir/second.swf"},
        {"http://kvs/C:\\dir\\sub\\main.swf", "..\\up.swf?p=a\\b", "http://kvs/C:/dir/up.swf?p=a\\b"},
        {"file:///C:\\dir\\main.swf", "v.flv", "file:///C:/dir/v.flv"},
        {"C:\\dir\\main.swf", "skin.swf", "C:\\dir\\skin.swf"},
        {"C:\\dir\\sub\\main.swf", "..\\up.swf", "C:\\dir\\up.swf"},
        {"C:\\dir\\main.swf", "\\top.swf", "C:\\top.swf"},
        {"flvplayback.swf", "ClearOverAll.swf", "ClearOverAll.swf"},
        {"", "a.swf", "a.swf"},
        {"http://h.test/a/main.swf", "", "http://h.test/a/main.swf"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(resolveUrl(c.base, c.relative), c.expected) << c.base << " + " << c.relative;
}

TEST(UrlText, UrlEncodedPairsDecodeAndToleratePoorInput)
{
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(parseUrlEncoded("a=1&b=two+words&c=%41%2b&&flag&d=x=y\r\n"),
              (Pairs{{"a", "1"}, {"b", "two words"}, {"c", "A+"}, {"flag", ""}, {"d", "x=y"}}));
    EXPECT_EQ(urlDecode("%zz%4"), "%zz%4");  // bad escapes stay as they are
    EXPECT_TRUE(parseUrlEncoded("").empty());
    EXPECT_EQ(urlQuery("m.swf?a=1&b=2#frag"), "a=1&b=2");
    EXPECT_EQ(urlQuery("m.swf"), "");
}

TEST(TextLayout, FieldsBreakWrapMaskAndStripAsTheirFlagsSay)
{
    EditTextDef f(1);
    // Device text: 450 twips for text between two 40-twip gutters hold 6827
    // units of the device font's 2048 EM at 135 twips (advances: e 1260,
    // f 721, g 1300, h 1298, i 569, j 569, k 1186, '*' 1024).
    f.fontHeight = 135;
    f.bounds.xMin = 0;
    f.bounds.xMax = 80 + 450;
    using Lines = std::vector<std::string>;

    EXPECT_EQ(layoutText(f, "one\rtwo"), (Lines{"onetwo"}));  // single line: breaks vanish
    f.multiline = true;
    EXPECT_EQ(layoutText(f, "one\r\ntwo\nthree"), (Lines{"one", "two", "three"}));
    f.wordWrap = true;
    EXPECT_EQ(layoutText(f, "ab cd efghijkl"), (Lines{"ab cd", "efghij", "kl"}));
    f.password = true;
    EXPECT_EQ(layoutText(f, "secrets"), (Lines{"******", "*"}));
    f.password = false;
    f.wordWrap = false;
    f.html = true;
    EXPECT_EQ(layoutText(f, "<p><b>bold</b> &amp; &lt;x&gt;</p><p>next</p>"), (Lines{"bold & <x>", "next"}));
    EXPECT_EQ(layoutText(f, "a<br>b\tc"), (Lines{"a", "bc"}));
}

// Field text is UTF-8 in movies of SWF 6 and later and Latin-1 before: "é"
// is one character in the one and two in the other, a password hides it
// under one star, and a byte that starts no UTF-8 sequence stands for itself.
TEST(TextRules, FieldTextIsUtf8FromSwf6AndLatin1Before)
{
    EditTextDef f(1);
    f.fontHeight = 2048;  // one twip a font unit: widths read as the device font's advances
    f.bounds.xMax = 100000;
    MovieDef swf6, swf5;
    swf6.version = 6;
    swf5.version = 5;
    const std::string cafe = "caf\xC3\xA9";                   // café
    const std::string mixed = "\xE2\x80\x94\xD0\x96\xCE\xA9";  // em dash, Zhe, Omega
    using Lines = std::vector<std::string>;
    EXPECT_EQ(layoutText(f, cafe + " " + mixed, &swf6), (Lines{cafe + " " + mixed}));
    // DejaVu Sans: e and é advance 1260, Ã 1401, © 2048, c 1126, a 1255, f 721.
    EXPECT_DOUBLE_EQ(measureText(f, cafe, &swf6).widest, 1126 + 1255 + 721 + 1260);
    EXPECT_DOUBLE_EQ(measureText(f, cafe, &swf5).widest, 1126 + 1255 + 721 + 1401 + 2048);
    EXPECT_EQ(layoutText(f, cafe, &swf5), (Lines{"caf\xC3\x83\xC2\xA9"}));  // two Latin-1 characters
    // Characters past Latin-1 take room: the device face has Cyrillic, Greek and the dashes.
    EXPECT_GT(measureText(f, mixed, &swf6).widest, 3 * 1000);
    f.password = true;
    EXPECT_EQ(layoutText(f, cafe, &swf6), (Lines{"****"}));
    f.password = false;
    // A lone continuation byte and a cut-off sequence stay Latin-1.
    EXPECT_EQ(layoutText(f, "a\xA9" "b\xC3", &swf6), (Lines{"a\xC2\xA9" "b\xC3\x83"}));
}

TEST(TextRules, RestrictPatternsLetInWhatTheyNameAndKeepOutWhatFollowsACaret)
{
    struct Case {
        const char* pattern;
        const char* allowed;
        const char* refused;
    } cases[] = {
        {"", "", "a1 "},                      // an empty pattern lets nothing in
        {"abc", "abc", "dA1"},
        {"a-z", "amz", "A0{"},
        {"A-Z^Q", "AZP", "Qa"},               // a range, then one of it refused
        {"^0-9", "aZ ", "059"},               // a leading caret refuses only what it names
        {"0-9^5^5", "05", "a"},               // the last match wins
        {"\\-\\^\\\\", "-^\\", "a"},          // escaped specials are plain characters
        {"a-", "a-", "b"},                    // a dash at the end is itself
        {"z-a", "", "amz"},                   // a reversed range holds nothing
    };
    for (const Case& c : cases) {
        for (const char* p = c.allowed; *p; ++p)
            EXPECT_TRUE(restrictAllows(c.pattern, static_cast<unsigned char>(*p))) << c.pattern << " " << *p;
        for (const char* p = c.refused; *p; ++p)
            EXPECT_FALSE(restrictAllows(c.pattern, static_cast<unsigned char>(*p))) << c.pattern << " " << *p;
    }
}
