// Text fields as scripts use them: createTextField and the field's members,
// what the drawn field shows of them, fields the timeline placed, and the
// user's typing reaching onChanged and the focus handlers.
#include "device_font.h"
#include "engine_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <utility>

using namespace enginetest;

namespace {

constexpr uint32_t kRedPx = 0xFFFF0000u, kGreenPx = 0xFF00FF00u, kWhitePx = 0xFFFFFFFFu;

sw::Emitter path(const std::string& dotted)
{
    return [dotted](sw::ActionAssembler& e) { e.getPath(dotted); };
}

// _root.createTextField(name, depth, x, y, w, h)
void createField(sw::ActionAssembler& a, const std::string& name, int depth, int x, int y, int w, int h)
{
    a.callMethod("_root", "createTextField",
                 {sw::PushValue(name), sw::PushValue(depth), sw::PushValue(x), sw::PushValue(y), sw::PushValue(w),
                  sw::PushValue(h)});
}

// name = typeof(dotted)
void typeOf(sw::ActionAssembler& a, const std::string& name, const std::string& dotted)
{
    a.setPath(name, sw::Emitter([dotted](sw::ActionAssembler& e) { e.getPath(dotted).typeOf(); }));
}

// name = name + <value of dotted> + ","
void append(sw::ActionAssembler& a, const std::string& name, const std::string& dotted)
{
    a.setPath(name, sw::Emitter([name, dotted](sw::ActionAssembler& e) {
        e.getPath(name).getPath(dotted).add2().push({","}).add2();
    }));
}

struct Loaded {
    RecordingHost host;
    Player player{host};
    explicit Loaded(sw::Movie& m, int w = 100, int h = 100) { load(player, m.build(), w, h); }
    std::string var(const std::string& name) { return player.getVariable(name).value_or("<none>"); }
};

namespace eng = refplayer::engine;

// The advances of `text` in a device face, in pixels at `px`.
double deviceWidth(const std::string& text, double px, bool bold = false, bool italic = false,
                   eng::DeviceFace face = eng::DeviceFace::Sans)
{
    const eng::FontDef* font = eng::deviceFont(bold, italic, face);
    double units = 0;
    for (char c : text)
        units += font->advance(*font->glyphFor(static_cast<uint8_t>(c)));
    return units * px / font->emSquare;
}

bool dark(const View& v, int x, int y) { return (v.at(x, y) & 0xFF) < 96; }

// The leftmost dark pixel of row y between x0 and x1, or -1.
int leftmostDark(const View& v, int y, int x0, int x1)
{
    for (int x = x0; x < x1; ++x)
        if (dark(v, x, y))
            return x;
    return -1;
}

// The first and last rows between y0 and y1 with dark pixels left of x1.
std::pair<int, int> darkRows(const View& v, int y0, int y1, int x1)
{
    int top = -1, bottom = -1;
    for (int y = y0; y < y1; ++y)
        if (leftmostDark(v, y, 0, x1) >= 0) {
            top = top < 0 ? y : top;
            bottom = y;
        }
    return {top, bottom};
}

// A 400-unit square standing on the baseline, in font units.
sw::Path box()
{
    return sw::Path().moveTo(0, -400).lineTo(400, -400).lineTo(400, 0).lineTo(0, 0).close();
}

// A 120 x 60 px field named "t" at depth 1 showing `text` in black, in font
// `font` at `height` twips: its outlines, or device text.
void placeField(sw::Movie& m, uint16_t font, uint16_t height, bool outlines, const std::string& text)
{
    sw::EditText field;
    field.bounds = {0, 2400, 0, 1200};
    field.font = font;
    field.fontHeight = height;
    field.useOutlines = outlines;
    field.readOnly = true;
    field.color = sw::Rgba{0, 0, 0, 255};
    field.initialText = text;
    sw::PlaceObject place = placeAt(m.defineEditText(field), 1);
    place.name = "t";
    m.place(place);
}

int countPixels(const View& v, uint32_t px, int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += v.at(x, y) == px;
    return n;
}

// Pixels mostly covered by text in ink `px` (every channel within 95 of it):
// anti-aliased outlines leave few pixels of the exact colour.
int inkPixels(const View& v, uint32_t px, int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            bool near = true;
            for (int shift = 0; shift < 24; shift += 8)
                near = near && std::abs(int(v.at(x, y) >> shift & 0xFF) - int(px >> shift & 0xFF)) < 96;
            n += near;
        }
    return n;
}

}  // namespace

TEST(TextField, CreateTextField_MakesAFieldWhoseMembersReadBackAndDraw)
{
    auto m = movie(100, 100);
    sw::ActionAssembler a;
    createField(a, "t", 5, 10, 20, 60, 30);
    typeOf(a, "kind", "t");
    a.setPath("t.text", sw::PushValue("hi"));
    a.setPath("len", path("t.length"));
    a.setPath("x", path("t._x"));
    a.setPath("w", path("t._width"));
    a.setPath("type", path("t.type"));
    a.setPath("max", path("t.maxChars"));
    a.setPath("sel", path("t.selectable"));
    a.setPath("size", path("t.autoSize"));
    // Settings that take only what they know keep their value otherwise.
    a.setPath("t.type", sw::PushValue("input"));
    a.setPath("t.type", sw::PushValue("bogus"));
    a.setPath("type2", path("t.type"));
    a.setPath("t.autoSize", sw::PushValue("sideways"));
    a.setPath("size2", path("t.autoSize"));
    a.setPath("t.maxChars", sw::PushValue(3));
    a.setPath("max2", path("t.maxChars"));
    a.setPath("t.background", sw::PushValue(true));
    a.setPath("t.backgroundColor", sw::PushValue(0x1000FF00));  // only the low 24 bits count
    a.setPath("bg", path("t.backgroundColor"));
    a.setPath("t.border", sw::PushValue(true));
    a.setPath("t.borderColor", sw::PushValue(0xFF0000));
    m.doAction(a).showFrame();

    Loaded l(m);
    EXPECT_EQ(l.var("kind"), "object");
    EXPECT_EQ(l.var("len"), "2");
    EXPECT_EQ(l.var("x"), "10");
    EXPECT_EQ(l.var("w"), "60");
    EXPECT_EQ(l.var("type"), "dynamic");
    EXPECT_EQ(l.var("max"), "null");
    EXPECT_EQ(l.var("sel"), "true");
    EXPECT_EQ(l.var("size"), "none");
    EXPECT_EQ(l.var("type2"), "input");
    EXPECT_EQ(l.var("size2"), "none");
    EXPECT_EQ(l.var("max2"), "3");
    EXPECT_EQ(l.var("bg"), std::to_string(0x00FF00));

    // Green inside the 60 x 30 box at (10, 20), a red outline, white outside.
    View v = render(l.player, 100, 100);
    EXPECT_EQ(v.at(50, 45), kGreenPx);
    EXPECT_EQ(v.at(68, 48), kGreenPx);
    EXPECT_EQ(v.at(5, 5), kWhitePx);
    EXPECT_EQ(v.at(75, 35), kWhitePx);
    // The hairline outline half covers the pixels on either side of the edge.
    int reddish = 0;
    for (int x = 0; x < 100; ++x)
        for (int y = 18; y < 22; ++y)
            reddish += (v.at(x, y) >> 16 & 0xFF) > (v.at(x, y) >> 8 & 0xFF);
    EXPECT_GT(reddish, 60);  // along the top edge
    // The text itself in the default black.
    EXPECT_GT(inkPixels(v, 0xFF000000u, 10, 20, 30, 40), 5);
}

TEST(TextField, TextColorAndAlignmentShowOnTheDrawnText)
{
    auto m = movie(100, 100);
    sw::ActionAssembler a;
    createField(a, "t", 1, 0, 0, 100, 20);
    a.setPath("t.textColor", sw::PushValue(0xFF0000));
    a.setPath("t.text", sw::PushValue("MMMM"));
    m.doAction(a).showFrame();
    Loaded l(m);
    View v = render(l.player, 100, 100);
    EXPECT_GT(inkPixels(v, kRedPx, 0, 0, 40, 20), 10);
    EXPECT_EQ(inkPixels(v, 0xFF000000u, 0, 0, 100, 100), 0);
}

TEST(TextField, AutoSizeScrollAndMetricsFollowTheText)
{
    auto m = movie(200, 100);
    sw::ActionAssembler a;
    createField(a, "t", 1, 50, 0, 10, 10);
    a.setPath("tw0", path("t.textWidth"));
    a.setPath("t.autoSize", sw::PushValue("right"));
    a.setPath("t.text", sw::PushValue("abcdef"));
    a.setPath("tw", path("t.textWidth"));
    a.setPath("th", path("t.textHeight"));
    a.setPath("w", path("t._width"));
    a.setPath("h", path("t._height"));
    a.setPath("x", path("t._x"));
    a.setPath("t.background", sw::PushValue(true));
    a.setPath("t.backgroundColor", sw::PushValue(0x00FF00));
    createField(a, "s", 2, 0, 50, 100, 30);
    a.setPath("s.multiline", sw::PushValue(true));
    a.setPath("s.text", sw::PushValue("a\rb\rc\rd\re"));
    a.setPath("max", path("s.maxscroll"));
    a.setPath("s.scroll", sw::PushValue(10));
    a.setPath("scroll", path("s.scroll"));
    a.setPath("bottom", path("s.bottomScroll"));
    a.setPath("s.scroll", sw::PushValue(-3));
    a.setPath("scroll2", path("s.scroll"));
    // A bound field sizes itself to what its variable brings.
    createField(a, "b", 3, 0, 80, 10, 10);
    a.setPath("b.autoSize", sw::PushValue(true));
    a.setPath("b.variable", sw::PushValue("bound"));
    m.doAction(a).showFrame();

    Loaded l(m, 200, 100);
    EXPECT_EQ(l.var("tw0"), "0");
    const double tw = std::stod(l.var("tw")), th = std::stod(l.var("th"));
    EXPECT_GT(tw, 30);
    EXPECT_GT(th, 8);
    // Two pixels of gutter on each side of the text.
    EXPECT_DOUBLE_EQ(std::stod(l.var("w")), tw + 4);
    EXPECT_DOUBLE_EQ(std::stod(l.var("h")), th + 4);
    // Right-aligned, the box grew to the left: its right edge stayed at 60.
    View v = render(l.player, 200, 100);
    const int below = static_cast<int>(th + 3);  // the gutter under the text
    EXPECT_EQ(v.at(59, below), kGreenPx);
    EXPECT_EQ(v.at(61, below), kWhitePx);
    EXPECT_EQ(v.at(static_cast<int>(std::floor(57 - tw)), 5), kGreenPx);  // the gutter left of the text
    // Five lines of 12 pixels in 30: two show, so scrolling stops at line 4.
    EXPECT_EQ(l.var("max"), "4");
    EXPECT_EQ(l.var("scroll"), "4");
    EXPECT_EQ(l.var("bottom"), "5");
    EXPECT_EQ(l.var("scroll2"), "1");
    l.player.setVariable("bound", "ab");
    const double narrow = std::stod(l.var("b._width"));
    l.player.setVariable("bound", "abcdefgh");
    EXPECT_EQ(l.var("b.text"), "abcdefgh");
    // A new field's text is in 12-point "Times New Roman": the serif device face's advances.
    EXPECT_NEAR(narrow, deviceWidth("ab", 12, false, false, eng::DeviceFace::Serif) + 4, 1e-9);
    EXPECT_NEAR(std::stod(l.var("b._width")), deviceWidth("abcdefgh", 12, false, false, eng::DeviceFace::Serif) + 4,
                1e-9);
}

TEST(TextField, HtmlTextKeepsMarkupAndTextReadsItPlain)
{
    auto m = movie(100, 100);
    sw::ActionAssembler a;
    createField(a, "t", 1, 0, 0, 100, 40);
    a.setPath("t.html", sw::PushValue(true));
    a.setPath("t.htmlText", sw::PushValue("<b>Hi</b> &amp; <a href=\"http://x.test/\">you</a><br>there"));
    a.setPath("plain", path("t.text"));
    a.setPath("markup", path("t.htmlText"));
    a.setPath("len", path("t.length"));
    // Plain text given to an HTML field is kept as text, not as markup.
    a.setPath("t.text", sw::PushValue("a<b & c"));
    a.setPath("escaped", path("t.htmlText"));
    a.setPath("back", path("t.text"));
    // A plain field takes markup literally.
    createField(a, "p", 2, 0, 50, 100, 40);
    a.setPath("p.htmlText", sw::PushValue("<b>x</b>"));
    a.setPath("literal", path("p.text"));
    m.doAction(a).showFrame();

    Loaded l(m);
    EXPECT_EQ(l.var("plain"), "Hi & you\rthere");
    EXPECT_EQ(l.var("markup"), "<b>Hi</b> &amp; <a href=\"http://x.test/\">you</a><br>there");
    EXPECT_EQ(l.var("len"), "14");
    EXPECT_EQ(l.var("escaped"), "a&lt;b &amp; c");
    EXPECT_EQ(l.var("back"), "a<b & c");
    EXPECT_EQ(l.var("literal"), "<b>x</b>");
}

TEST(TextField, RemovedFieldsReadUndefinedAndTimelineFieldsStay)
{
    auto m = movie(100, 100);
    sw::EditText placed;
    placed.bounds = {0, 2000, 0, 400};
    placed.initialText = "placed";
    placed.fontHeight = 240;
    auto where = placeAt(m.defineEditText(placed), 1);
    where.name = "tl";
    m.place(where);
    sw::ActionAssembler a;
    createField(a, "t", 3, 0, 50, 50, 20);
    a.setPath("keep", path("t"));
    a.callMethod("t", "removeTextField", {});
    typeOf(a, "gone", "t");
    typeOf(a, "husk", "keep.text");
    a.setPath("keep.text", sw::PushValue("ignored"));
    // A field the timeline placed is there by name, and script cannot remove it.
    a.setPath("placedText", path("tl.text"));
    a.setPath("placedName", path("tl._name"));
    a.setPath("placedTarget", path("tl._target"));
    a.callMethod("tl", "removeTextField", {});
    typeOf(a, "still", "tl");
    // A new field at a taken depth replaces what lay there.
    createField(a, "u", 7, 0, 0, 10, 10);
    createField(a, "v", 7, 0, 0, 10, 10);
    typeOf(a, "replaced", "u");
    sw::ActionAssembler second;
    typeOf(second, "after", "v");
    second.stop();
    m.doAction(a).showFrame().doAction(second).showFrame();

    Loaded l(m);
    EXPECT_EQ(l.var("gone"), "undefined");
    EXPECT_EQ(l.var("husk"), "undefined");
    EXPECT_EQ(l.var("placedText"), "placed");
    EXPECT_EQ(l.var("placedName"), "tl");
    EXPECT_EQ(l.var("placedTarget"), "/tl");
    EXPECT_EQ(l.var("still"), "object");
    EXPECT_EQ(l.var("replaced"), "undefined");
    // A created field survives the timeline moving on.
    l.player.tick();
    EXPECT_EQ(l.var("after"), "object");
}

TEST(TextField, TypingHonoursRestrictAndMaxCharsAndReachesHandlers)
{
    auto m = movie(100, 100);
    sw::ActionAssembler a;
    createField(a, "t", 1, 0, 0, 100, 30);
    a.setPath("t.type", sw::PushValue("input"));
    a.setPath("t.restrict", sw::PushValue("a-z^q"));
    a.setPath("t.maxChars", sw::PushValue(4));
    a.setPath("log", sw::PushValue(""));
    sw::ActionAssembler changed;
    append(changed, "_root.log", "_root.t.text");
    a.setPath("t.onChanged", sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {"f"}, changed); }));
    sw::ActionAssembler focused;
    focused.setPath("_root.log", sw::Emitter([](sw::ActionAssembler& e) {
        e.getPath("_root.log").push({"focus,"}).add2();
    }));
    a.setPath("t.onSetFocus", sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {"old"}, focused); }));
    sw::ActionAssembler blurred;
    blurred.setPath("_root.log", sw::Emitter([](sw::ActionAssembler& e) {
        e.getPath("_root.log").push({"blur,"}).add2();
    }));
    a.setPath("t.onKillFocus", sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {"next"}, blurred); }));
    m.doAction(a).showFrame();

    Loaded l(m);
    l.player.mouseDown(refplayer::MouseButton::Left, 20, 10);
    l.player.mouseUp(refplayer::MouseButton::Left, 20, 10);
    for (char c : std::string("aQqb1cde"))
        l.player.charInput(static_cast<uint8_t>(c));
    // 'Q' and '1' are outside a-z, 'q' is refused by name, 'e' is one too many.
    EXPECT_EQ(l.var("t.text"), "abcd");
    l.player.mouseDown(refplayer::MouseButton::Left, 50, 90);
    l.player.mouseUp(refplayer::MouseButton::Left, 50, 90);
    EXPECT_EQ(l.var("log"), "focus,a,ab,abc,abcd,blur,");
}

namespace {

// name = new className(args...)
void newObject(sw::ActionAssembler& a, const std::string& name, const std::string& className,
               const std::vector<sw::PushValue>& args)
{
    a.setPath(name, sw::Emitter([className, args](sw::ActionAssembler& e) {
        for (auto it = args.rbegin(); it != args.rend(); ++it)
            e.push(*it);
        e.push(sw::PushValue(static_cast<int32_t>(args.size()))).push(sw::PushValue(className)).newObject();
    }));
}

// name = object.method(args...)
void callInto(sw::ActionAssembler& a, const std::string& name, const std::string& object, const std::string& method,
              const std::vector<sw::Operand>& args)
{
    a.setPath(name, sw::Emitter([=](sw::ActionAssembler& e) { e.callMethod(object, method, args, true); }));
}

}  // namespace

TEST(TextFormat, ConstructorArgumentsFillTheMembersAndTheRestAreNull)
{
    auto m = movie(100, 100);
    sw::ActionAssembler a;
    newObject(a, "f", "TextFormat", {"Arial", 20, 0xFF0000, true, sw::Null{}, false, "http://x.test/", "_blank", "center"});
    for (const char* member : {"font", "size", "color", "bold", "italic", "underline", "url", "target", "align",
                               "leftMargin", "leading", "bullet", "tabStops", "display"})
        a.setPath(std::string("r_") + member, path(std::string("f.") + member));
    newObject(a, "e", "TextFormat", {});
    a.setPath("empty", sw::Emitter([](sw::ActionAssembler& e) {
        e.getPath("e.font").typeOf().getPath("e.size").typeOf().add2().getPath("e.bold").typeOf().add2();
    }));
    m.doAction(a).showFrame();
    Loaded l(m);
    EXPECT_EQ(l.var("r_font"), "Arial");
    EXPECT_EQ(l.var("r_size"), "20");
    EXPECT_EQ(l.var("r_color"), std::to_string(0xFF0000));
    EXPECT_EQ(l.var("r_bold"), "true");
    EXPECT_EQ(l.var("r_italic"), "null");
    EXPECT_EQ(l.var("r_underline"), "false");
    EXPECT_EQ(l.var("r_url"), "http://x.test/");
    EXPECT_EQ(l.var("r_target"), "_blank");
    EXPECT_EQ(l.var("r_align"), "center");
    EXPECT_EQ(l.var("r_leftMargin"), "null");
    EXPECT_EQ(l.var("r_leading"), "null");
    EXPECT_EQ(l.var("r_bullet"), "null");
    EXPECT_EQ(l.var("r_tabStops"), "null");
    EXPECT_EQ(l.var("r_display"), "block");
    EXPECT_EQ(l.var("empty"), "nullnullnull");
}

TEST(TextFormat, SetTextFormatAppliesToTheWholeTextOneIndexOrARange)
{
    auto m = movie(100, 100);
    sw::ActionAssembler a;
    createField(a, "t", 1, 0, 0, 100, 20);
    a.setPath("t.text", sw::PushValue("abcdef"));
    newObject(a, "red", "TextFormat", {sw::Null{}, sw::Null{}, 0xFF0000});
    a.callMethod("t", "setTextFormat", {sw::PushValue(2), sw::PushValue(4), path("red")});
    newObject(a, "under", "TextFormat", {sw::Null{}, sw::Null{}, sw::Null{}, sw::Null{}, sw::Null{}, true});
    a.callMethod("t", "setTextFormat", {sw::PushValue(5), path("under")});
    callInto(a, "fmtRange", "t", "getTextFormat", {sw::PushValue(2), sw::PushValue(4)});
    a.setPath("inRange", path("fmtRange.color"));
    callInto(a, "fmtAll", "t", "getTextFormat", {});
    a.setPath("mixed", path("fmtAll.color"));
    a.setPath("font", path("fmtAll.font"));
    a.setPath("size", path("fmtAll.size"));
    callInto(a, "fmt0", "t", "getTextFormat", {sw::PushValue(0)});
    a.setPath("first", path("fmt0.color"));
    callInto(a, "fmt5", "t", "getTextFormat", {sw::PushValue(5)});
    a.setPath("underlined", path("fmt5.underline"));
    callInto(a, "fmt4", "t", "getTextFormat", {sw::PushValue(4)});
    a.setPath("notUnderlined", path("fmt4.underline"));
    m.doAction(a).showFrame();

    Loaded l(m);
    EXPECT_EQ(l.var("inRange"), std::to_string(0xFF0000));
    EXPECT_EQ(l.var("mixed"), "null");
    EXPECT_EQ(l.var("font"), "Times New Roman");
    EXPECT_EQ(l.var("size"), "12");
    EXPECT_EQ(l.var("first"), "0");
    EXPECT_EQ(l.var("underlined"), "true");
    EXPECT_EQ(l.var("notUnderlined"), "false");
    // After a 2-pixel gutter "ab" takes 2555 units of the device font's 2048
    // EM (15 px at 12 px): "cd" lies at 17-32 and is red, "ab" black.
    View v = render(l.player, 100, 100);
    EXPECT_GT(inkPixels(v, kRedPx, 17, 0, 34, 20), 5);
    EXPECT_EQ(inkPixels(v, kRedPx, 0, 0, 17, 20), 0);
    EXPECT_GT(inkPixels(v, 0xFF000000u, 0, 0, 17, 20), 5);
}

TEST(TextFormat, NewTextFormatGoesToNewTextAndTheLeadFormatLaysTheFieldOut)
{
    auto m = movie(100, 100);
    sw::ActionAssembler a;
    createField(a, "t", 1, 0, 0, 100, 40);
    a.setPath("t.text", sw::PushValue("ab"));
    a.setPath("h12", path("t.textHeight"));
    newObject(a, "big", "TextFormat", {sw::Null{}, 24, 0x00FF00});
    a.callMethod("t", "setNewTextFormat", {path("big")});
    callInto(a, "nf", "t", "getNewTextFormat", {});
    a.setPath("newSize", path("nf.size"));
    callInto(a, "old", "t", "getTextFormat", {});
    a.setPath("oldSize", path("old.size"));  // what is there keeps its format
    a.setPath("t.text", sw::PushValue("ab"));
    a.setPath("h24", path("t.textHeight"));
    newObject(a, "right", "TextFormat", {});
    a.setPath("right.align", sw::PushValue("right"));
    a.callMethod("t", "setTextFormat", {path("right")});
    callInto(a, "now", "t", "getTextFormat", {});
    a.setPath("align", path("now.align"));
    a.setPath("color", path("now.color"));
    m.doAction(a).showFrame();

    Loaded l(m);
    EXPECT_EQ(l.var("newSize"), "24");
    EXPECT_EQ(l.var("oldSize"), "12");
    EXPECT_DOUBLE_EQ(std::stod(l.var("h24")), 2 * std::stod(l.var("h12")));
    EXPECT_EQ(l.var("align"), "right");
    EXPECT_EQ(l.var("color"), std::to_string(0x00FF00));
    // Green, large and against the right edge.
    View v = render(l.player, 100, 100);
    EXPECT_GT(countPixels(v, kGreenPx, 70, 0, 100, 40), 20);
    EXPECT_EQ(countPixels(v, kGreenPx, 0, 0, 50, 40), 0);
}

TEST(Selection, FocusFollowsScriptAndClicksAndListenersHearIt)
{
    auto m = movie(100, 100);
    sw::ActionAssembler a;
    createField(a, "t", 1, 0, 0, 100, 30);
    a.setPath("t.type", sw::PushValue("input"));
    a.setPath("t.text", sw::PushValue("hello"));
    createField(a, "u", 2, 0, 50, 100, 30);
    a.setPath("u.type", sw::PushValue("input"));
    a.setPath("log", sw::PushValue(""));
    sw::ActionAssembler heard;
    heard.setPath("_root.log", sw::Emitter([](sw::ActionAssembler& e) {
        e.getPath("_root.log").push({"old"}).getVariable().add2().push({">"}).add2();
        e.push({"now"}).getVariable().add2().push({","}).add2();
    }));
    a.setPath("l", sw::Emitter([](sw::ActionAssembler& e) { e.push({0}).initObject(); }));
    a.setPath("l.onSetFocus", sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {"old", "now"}, heard); }));
    a.callMethod("Selection", "addListener", {path("l")});
    callInto(a, "none", "Selection", "getFocus", {});
    callInto(a, "noCaret", "Selection", "getCaretIndex", {});
    callInto(a, "went", "Selection", "setFocus", {sw::PushValue("_root.t")});
    callInto(a, "focus", "Selection", "getFocus", {});
    callInto(a, "caret", "Selection", "getCaretIndex", {});
    a.callMethod("Selection", "setSelection", {sw::PushValue(1), sw::PushValue(3)});
    callInto(a, "begin", "Selection", "getBeginIndex", {});
    callInto(a, "end", "Selection", "getEndIndex", {});
    a.callMethod("Selection", "setSelection", {sw::PushValue(2), sw::PushValue(99)});
    callInto(a, "clampedEnd", "Selection", "getEndIndex", {});
    callInto(a, "toObject", "Selection", "setFocus", {path("u")});
    callInto(a, "focus2", "Selection", "getFocus", {});
    callInto(a, "nowhere", "Selection", "setFocus", {sw::PushValue("_root.missing")});
    callInto(a, "focus3", "Selection", "getFocus", {});
    m.doAction(a).showFrame();

    Loaded l(m);
    EXPECT_EQ(l.var("none"), "null");
    EXPECT_EQ(l.var("noCaret"), "-1");
    EXPECT_EQ(l.var("went"), "true");
    EXPECT_EQ(l.var("focus"), "_level0.t");
    EXPECT_EQ(l.var("caret"), "5");
    EXPECT_EQ(l.var("begin"), "1");
    EXPECT_EQ(l.var("end"), "3");
    EXPECT_EQ(l.var("clampedEnd"), "5");
    EXPECT_EQ(l.var("toObject"), "true");
    EXPECT_EQ(l.var("focus2"), "_level0.u");
    EXPECT_EQ(l.var("nowhere"), "false");
    EXPECT_EQ(l.var("focus3"), "_level0.u");
    // Typing goes to the field script focused; a click elsewhere takes the focus away.
    l.player.charInput('x');
    EXPECT_EQ(l.var("u.text"), "x");
    l.player.mouseDown(refplayer::MouseButton::Left, 50, 95);
    l.player.mouseUp(refplayer::MouseButton::Left, 50, 95);
    EXPECT_EQ(l.var("log"), "null>_level0.t,_level0.t>_level0.u,_level0.u>null,");
}

// --- faces: bold, italic and kerning as the text format asks ------------------------------------

TEST(TextFormat, BoldAndItalicSetDeviceTextInTheBoldFaceAndSlanted)
{
    // Three fields of "Il" at 40 px: plain, bold and italic, 50 px apart.
    auto m = movie(200, 150);
    sw::ActionAssembler a;
    const std::vector<std::pair<std::string, std::vector<sw::PushValue>>> fields = {
        {"plain", {"_sans", 40}},
        {"bold", {"_sans", 40, sw::Null{}, true}},
        {"italic", {"_sans", 40, sw::Null{}, sw::Null{}, true}}};
    int depth = 1;
    for (const auto& [name, args] : fields) {
        createField(a, name, depth, 0, (depth - 1) * 50, 200, 50);
        ++depth;
        a.setPath(name + ".text", sw::PushValue("Il"));
        newObject(a, "f", "TextFormat", args);
        a.callMethod(name, "setTextFormat", {path("f")});
        a.setPath(name + "Width", path(name + ".textWidth"));
        callInto(a, "read", name, "getTextFormat", {});
        a.setPath(name + "Bold", path("read.bold"));
        a.setPath(name + "Italic", path("read.italic"));
    }
    m.doAction(a).showFrame();

    Loaded l(m, 200, 150);
    EXPECT_EQ(l.var("boldBold"), "true");
    EXPECT_EQ(l.var("boldItalic"), "false");
    EXPECT_EQ(l.var("italicItalic"), "true");
    EXPECT_EQ(l.var("plainBold"), "false");
    // Each measures with its face's advances; the slant leaves them as they were.
    EXPECT_NEAR(std::stod(l.var("plainWidth")), deviceWidth("Il", 40, false, false), 1e-9);
    EXPECT_NEAR(std::stod(l.var("boldWidth")), deviceWidth("Il", 40, true, false), 1e-9);
    EXPECT_GT(deviceWidth("Il", 40, true, false), deviceWidth("Il", 40, false, false) + 2);
    EXPECT_NEAR(std::stod(l.var("italicWidth")), deviceWidth("Il", 40, false, false), 1e-9);

    View v = render(l.player, 200, 150);
    auto inkOf = [&](int y0) {
        int n = 0;
        for (int y = y0; y < y0 + 50; ++y)
            for (int x = 0; x < 200; ++x)
                n += dark(v, x, y);
        return n;
    };
    // The bold stems are half as wide again.
    EXPECT_GT(inkOf(50), inkOf(0) * 3 / 2);
    // The I's stem stands upright in the plain field and leans right as it
    // rises in the italic one: 11 degrees over its ~29 px.
    auto lean = [&](int y0) {
        const auto [top, bottom] = darkRows(v, y0, y0 + 50, 14);
        EXPECT_GT(bottom - top, 25);
        return leftmostDark(v, top + 1, 0, 30) - leftmostDark(v, bottom - 1, 0, 30);
    };
    EXPECT_EQ(lean(0), 0);
    EXPECT_NEAR(lean(100), 5, 1);
}

TEST(TextFormat, DeviceTextDrawsInTheKindOfFaceItsFontNames)
{
    // The same text in fields whose format names a font: each measures with
    // the device face of that kind. A new field's font is "Times New Roman".
    const std::vector<std::pair<std::string, eng::DeviceFace>> fonts = {
        {"", eng::DeviceFace::Serif},          {"_sans", eng::DeviceFace::Sans},
        {"_serif", eng::DeviceFace::Serif},    {"_typewriter", eng::DeviceFace::Typewriter},
        {"Arial", eng::DeviceFace::Sans},      {"Georgia", eng::DeviceFace::Serif},
        {"Courier New", eng::DeviceFace::Typewriter}};
    auto m = movie(200, 200);
    sw::ActionAssembler a;
    for (size_t i = 0; i < fonts.size(); ++i) {
        const std::string name = "f" + std::to_string(i);
        createField(a, name, static_cast<int>(i) + 1, 0, static_cast<int>(i) * 25, 200, 25);
        a.setPath(name + ".text", sw::PushValue("Wil"));
        if (!fonts[i].first.empty()) {
            newObject(a, "fmt", "TextFormat", {fonts[i].first});
            a.callMethod(name, "setTextFormat", {path("fmt")});
        }
        a.setPath(name + "Width", path(name + ".textWidth"));
    }
    m.doAction(a).showFrame();
    Loaded l(m, 200, 200);
    for (size_t i = 0; i < fonts.size(); ++i) {
        SCOPED_TRACE(fonts[i].first);
        EXPECT_NEAR(std::stod(l.var("f" + std::to_string(i) + "Width")),
                    deviceWidth("Wil", 12, false, false, fonts[i].second), 1e-9);
    }
    // The three kinds really differ: the typewriter face gives every letter one advance.
    EXPECT_NE(deviceWidth("Wil", 12), deviceWidth("Wil", 12, false, false, eng::DeviceFace::Serif));
    EXPECT_DOUBLE_EQ(deviceWidth("W", 12, false, false, eng::DeviceFace::Typewriter),
                     deviceWidth("i", 12, false, false, eng::DeviceFace::Typewriter));
    EXPECT_GT(deviceWidth("W", 12) - deviceWidth("i", 12), 5);
    // The names: the player's own, the common faces of each kind, and the rest as sans.
    EXPECT_EQ(eng::deviceFaceFor("_SERIF"), eng::DeviceFace::Serif);
    EXPECT_EQ(eng::deviceFaceFor("Times"), eng::DeviceFace::Serif);
    EXPECT_EQ(eng::deviceFaceFor("Microsoft Sans Serif"), eng::DeviceFace::Sans);
    EXPECT_EQ(eng::deviceFaceFor("Lucida Sans Typewriter"), eng::DeviceFace::Typewriter);
    EXPECT_EQ(eng::deviceFaceFor("Verdana"), eng::DeviceFace::Sans);
    EXPECT_EQ(eng::deviceFaceFor("_unknown"), eng::DeviceFace::Sans);
    EXPECT_EQ(eng::deviceFaceFor(""), eng::DeviceFace::Sans);
}

TEST(TextFormat, AFieldsFontNamesItsFaceAndStyleAndAnEmbeddedFamilyGivesItsBold)
{
    {
        SCOPED_TRACE("a device field in a font flagged bold: named, bold, and drawn in the bold face");
        auto inkOfField = [](bool bold) {
            auto m = movie(120, 60);
            sw::Font f;
            f.name = "Arial";
            f.bold = bold;
            placeField(m, m.defineFont(f), 800, false, "Il");
            sw::ActionAssembler a;
            callInto(a, "read", "t", "getTextFormat", {});
            a.setPath("font", path("read.font"));
            a.setPath("bold", path("read.bold"));
            m.doAction(a).showFrame();
            Loaded l(m, 120, 60);
            EXPECT_EQ(l.var("font"), "Arial");
            EXPECT_EQ(l.var("bold"), bold ? "true" : "false");
            View v = render(l.player, 120, 60);
            int n = 0;
            for (int y = 0; y < 60; ++y)
                for (int x = 0; x < 120; ++x)
                    n += dark(v, x, y);
            return n;
        };
        EXPECT_GT(inkOfField(true), inkOfField(false) * 3 / 2);
    }
    {
        SCOPED_TRACE("an embedded field made bold by script draws with the family's bold font");
        // Font "Box": a solid 400-unit square for 'A' (advance 500); its bold
        // is a ring (advance 700). At 1024 twips a unit is a twip.
        auto build = [](bool withBold) {
            auto m = movie(120, 60);
            sw::Font regular;
            regular.name = "Box";
            regular.glyphs = {{'A', box(), 500}};
            const uint16_t font = m.defineFont(regular);
            if (withBold) {
                sw::Font bold = regular;
                bold.bold = true;
                bold.glyphs = {
                    {'A', box().moveTo(100, -300).lineTo(100, -100).lineTo(300, -100).lineTo(300, -300).close(), 700}};
                m.defineFont(bold);
            }
            placeField(m, font, 1024, true, "AA");
            sw::ActionAssembler a;
            newObject(a, "f", "TextFormat", {sw::Null{}, sw::Null{}, sw::Null{}, true});
            a.callMethod("t", "setTextFormat", {sw::PushValue(1), path("f")});
            a.setPath("width", path("t.textWidth"));
            m.doAction(a).showFrame();
            return m;
        };
        auto m = build(true);
        Loaded l(m, 120, 60);
        EXPECT_EQ(l.var("width"), "60");  // 500 + 700 twips
        View v = render(l.player, 120, 60);
        // The first A, from 2 px, is solid; the second, from 27 px, has its hole.
        const int row = 2 + 45 - 10;  // halfway up the glyphs
        EXPECT_TRUE(dark(v, 12, row));
        EXPECT_TRUE(dark(v, 28, row));
        EXPECT_FALSE(dark(v, 37, row));
        EXPECT_TRUE(dark(v, 46, row));

        // Without a bold font in the movie the field's own font draws it.
        auto plain = build(false);
        Loaded p(plain, 120, 60);
        EXPECT_EQ(p.var("width"), "50");
        EXPECT_TRUE(dark(render(p.player, 120, 60), 37, row));
    }
}

TEST(TextFormat, KerningAppliesTheEmbeddedFontsPairsWhereTheFormatAsksForIt)
{
    // "AVA" in a font whose A and V kern by -200 units (10 px at 1024 twips).
    auto build = [](bool embedded, std::optional<bool> kerning) {
        auto m = movie(120, 60);
        sw::Font f;
        f.name = "Box";
        f.glyphs = {{'A', box(), 500}, {'V', box(), 500}};
        f.kerning = {{'A', 'V', -200}};
        placeField(m, m.defineFont(f), 1024, embedded, "AVA");
        sw::ActionAssembler a;
        if (kerning) {
            newObject(a, "f", "TextFormat", {});
            a.setPath("f.kerning", sw::PushValue(*kerning));
            a.callMethod("t", "setTextFormat", {path("f")});
        }
        a.setPath("width", path("t.textWidth"));
        callInto(a, "read", "t", "getTextFormat", {});
        a.setPath("kerning", path("read.kerning"));
        m.doAction(a).showFrame();
        return m;
    };
    auto widthOf = [](sw::Movie m) {
        Loaded l(m, 120, 60);
        return std::make_pair(l.var("width"), l.var("kerning"));
    };
    EXPECT_EQ(widthOf(build(true, std::nullopt)), std::make_pair(std::string("75"), std::string("false")));
    EXPECT_EQ(widthOf(build(true, false)), std::make_pair(std::string("75"), std::string("false")));
    // Only the A-V pair kerns: V-A has none.
    EXPECT_EQ(widthOf(build(true, true)), std::make_pair(std::string("65"), std::string("true")));
    // The V is drawn 10 px nearer the first A: from 17 px rather than 27.
    {
        auto m = build(true, true);
        Loaded l(m, 120, 60);
        View v = render(l.player, 120, 60);
        EXPECT_TRUE(dark(v, 18, 37));
        EXPECT_FALSE(dark(v, 39, 37));  // between the V (17..37) and the last A (42..62)
        EXPECT_TRUE(dark(v, 61, 37));
    }
    // The device font sets its text unkerned.
    auto device = build(false, true), unkerned = build(false, std::nullopt);
    EXPECT_EQ(widthOf(device).first, widthOf(unkerned).first);
}
