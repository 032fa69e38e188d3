// Embedded fonts and static text: the font tags' tables read back (codes,
// advances, kerning, the 20x EM of DefineFont3), damaged tables tolerated,
// and DefineText/DefineText2 drawn (glyph placement by offsets, advances and
// the text's matrix, colours per record, holes inside glyphs). One movie is
// laid out here byte by byte from the published format, so a mistake the
// writer and the reader shared would still show.
#include "device_font.h"
#include "engine_test_support.h"
#include "font.h"
#include "render.h"
#include "swf_movie.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

using namespace enginetest;
namespace eng = refplayer::engine;

namespace {

const uint32_t kWhite = 0xFFFFFFFFu;

// Outlines in font units of a 1024 EM (times `em20` for DefineFont3): a
// 400 x 400 square standing on the baseline, and the same with a 200 x 200
// hole (the hole turns the other way).
sw::Path square(int k = 1)
{
    return sw::Path().moveTo(0, -400 * k).lineTo(400 * k, -400 * k).lineTo(400 * k, 0).lineTo(0, 0).close();
}

sw::Path ring(int k = 1)
{
    return sw::Path()
        .moveTo(0, -400 * k).lineTo(400 * k, -400 * k).lineTo(400 * k, 0).lineTo(0, 0).close()
        .moveTo(100 * k, -300 * k).lineTo(100 * k, -100 * k).lineTo(300 * k, -100 * k).lineTo(300 * k, -300 * k).close();
}

sw::Font boxFont(uint8_t version)
{
    const int k = version == 3 ? 20 : 1;
    sw::Font f;
    f.version = version;
    f.glyphs = {{'A', square(k), 500}, {'B', ring(k), 600}};
    return f;
}

const eng::FontDef* fontOf(const eng::MovieDef& movie, uint16_t id)
{
    const eng::Character* c = movie.character(id);
    return c && c->kind == eng::Character::Kind::Font ? static_cast<const eng::FontDef*>(c) : nullptr;
}

View show(const std::vector<uint8_t>& swf, int w, int h)
{
    RecordingHost host;
    Player player(host);
    load(player, swf, w, h);
    return render(player, w, h);
}

// A bit string ("0101 1..."; spaces ignored) packed most significant bit
// first into bytes, the last one padded with zeros.
std::vector<uint8_t> bits(std::string_view text)
{
    std::vector<uint8_t> out;
    int n = 0;
    for (char c : text) {
        if (c == ' ')
            continue;
        if (n % 8 == 0)
            out.push_back(0);
        if (c == '1')
            out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& more) { to.insert(to.end(), more.begin(), more.end()); }

}  // namespace

// --- the font tags ----------------------------------------------------------------------------

TEST(FontTags, EveryVersionReadsOutlinesCodesAndLayout)
{
    for (uint8_t version : {1, 2, 3}) {
        SCOPED_TRACE(int(version));
        auto m = movie();
        sw::Font f = boxFont(version);
        f.kerning = {{'A', 'B', -30}};
        const uint16_t id = m.defineFont(f);
        auto loaded = eng::parseMovie(m.build());
        ASSERT_TRUE(loaded.movie) << loaded.error;
        const eng::FontDef* font = fontOf(*loaded.movie, id);
        ASSERT_TRUE(font);
        EXPECT_EQ(font->name, "Embedded");
        EXPECT_EQ(font->emSquare, version == 3 ? 20480 : 1024);
        ASSERT_EQ(font->glyphs.size(), 2u);
        EXPECT_EQ(font->glyphs[0].segments.size(), 4u);
        EXPECT_EQ(font->glyphs[1].segments.size(), 8u);
        // Outlines keep the file's units: DefineFont3's are twenty times finer.
        int32_t right = 0;
        for (const eng::Segment& s : font->glyphs[0].segments)
            right = std::max(right, s.x1);
        EXPECT_EQ(right, version == 3 ? 8000 : 400);
        EXPECT_EQ(font->glyphFor('B'), std::optional<size_t>(1));
        EXPECT_EQ(font->glyphFor('C'), std::nullopt);
        if (version == 1) {
            EXPECT_FALSE(font->hasLayout);  // advances come from the outlines
            EXPECT_DOUBLE_EQ(font->advance(0), 400 + 1024 / 20.0);
        } else {
            EXPECT_TRUE(font->hasLayout);
            EXPECT_EQ(font->ascent, 900);
            EXPECT_EQ(font->descent, 200);
            EXPECT_EQ(font->advance(1), 600);
            EXPECT_EQ(font->kern('A', 'B'), -30);
            EXPECT_EQ(font->kern('B', 'A'), 0);
        }
    }
}

TEST(FontTags, DamagedTablesKeepWhatTheyHoldAndLoad)
{
    // DefineFont2 bodies by hand: id 7, flags (narrow offsets and codes), language,
    // name "F", glyph count, then what follows.
    auto font2 = [](uint16_t count, const std::vector<uint8_t>& rest) {
        std::vector<uint8_t> body = {7, 0, 0x00, 0, 1, 'F', uint8_t(count), uint8_t(count >> 8)};
        append(body, rest);
        return body;
    };
    // One good glyph: fill bits 1, line bits 0, a straight edge, end.
    const std::vector<uint8_t> glyph = bits("0001 0000  000011 00011 001 000 1  11 0001 0 0 011  000000");
    auto load = [](const std::vector<uint8_t>& body) {
        auto m = movie();
        m.rawTag(eng::tag::DefineFont2, body, true);
        m.showFrame();
        return eng::parseMovie(m.build());
    };
    {
        SCOPED_TRACE("offsets past the end, a code table past the end");
        std::vector<uint8_t> rest = {8, 0, 0xF0, 0xFF, 8, 0, 0xF0, 0xFF};  // glyphs at 8, far, 8; code table far
        append(rest, glyph);
        auto loaded = load(font2(3, rest));
        ASSERT_TRUE(loaded.movie) << loaded.error;
        const eng::FontDef* f = fontOf(*loaded.movie, 7);
        ASSERT_TRUE(f);
        ASSERT_EQ(f->glyphs.size(), 3u);
        EXPECT_EQ(f->glyphs[0].segments.size(), 1u);
        EXPECT_TRUE(f->glyphs[1].segments.empty());
        EXPECT_EQ(f->glyphs[2].segments.size(), 1u);
        EXPECT_TRUE(f->codes.empty());
        EXPECT_EQ(f->glyphFor(0), std::nullopt);
    }
    {
        SCOPED_TRACE("a glyph count the offsets cannot back");
        auto loaded = load(font2(60000, {4, 0}));
        ASSERT_TRUE(loaded.movie) << loaded.error;
        const eng::FontDef* f = fontOf(*loaded.movie, 7);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->glyphs.size(), 1u);
        EXPECT_TRUE(f->glyphs[0].segments.empty());
    }
    {
        SCOPED_TRACE("layout tables cut short");
        // One glyph at offset 4, code table at 4 + glyph size: code, ascent, descent, leading, then nothing.
        std::vector<uint8_t> rest = {4, 0, uint8_t(4 + glyph.size()), 0};
        append(rest, glyph);
        append(rest, {'Q', 10, 0, 3, 0, 0, 0});
        std::vector<uint8_t> body = font2(1, rest);
        body[2] = 0x80;  // has layout
        auto loaded = load(body);
        ASSERT_TRUE(loaded.movie) << loaded.error;
        const eng::FontDef* f = fontOf(*loaded.movie, 7);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->glyphFor('Q'), std::optional<size_t>(0));
        EXPECT_EQ(f->ascent, 10);
        EXPECT_TRUE(f->advances.empty());
        EXPECT_GT(f->advance(0), 0);  // from the outline instead
    }
    {
        SCOPED_TRACE("two glyphs with one code: the first one answers");
        auto m = movie();
        sw::Font f = boxFont(2);
        f.glyphs = {{'Z', ring(), 600}, {'A', ring(), 600}, {'A', square(), 500}};
        const uint16_t id = m.defineFont(f);
        auto loaded = eng::parseMovie(m.build());
        ASSERT_TRUE(loaded.movie) << loaded.error;
        EXPECT_EQ(fontOf(*loaded.movie, id)->glyphFor('A'), std::optional<size_t>(1));
        EXPECT_EQ(fontOf(*loaded.movie, id)->glyphFor('Z'), std::optional<size_t>(0));
    }
    {
        SCOPED_TRACE("a device font without glyphs or code table offset");
        auto loaded = load(font2(0, {}));
        ASSERT_TRUE(loaded.movie) << loaded.error;
        ASSERT_TRUE(fontOf(*loaded.movie, 7));
        EXPECT_TRUE(fontOf(*loaded.movie, 7)->glyphs.empty());
    }
}

// --- static text ------------------------------------------------------------------------------

TEST(StaticText, RecordsPlaceGlyphsByOffsetsAdvancesAndColours)
{
    // Height 1024 twips: one font unit is a twip, so the 400-unit square is
    // 20 pixels and every edge lies on a pixel boundary.
    for (uint8_t version : {1, 2, 3}) {
        SCOPED_TRACE(int(version));
        auto m = movie(120, 60);
        const uint16_t font = m.defineFont(boxFont(version));
        sw::StaticText t;
        t.bounds = {200, 1800, 400, 800};  // the character's space: after the text's matrix
        t.matrix = sw::Matrix::translate(200, 800);  // baseline at y = 40 px, pen from x = 10 px
        t.records = {
            {.font = font, .height = 1024, .color = sw::Rgba{255, 0, 0, 255}, .x = 0, .y = 0,
             .glyphs = {{0, 600}, {1, 600}}},
            // No x: the pen goes on from the last record's advances.
            {.color = sw::Rgba{0, 0, 255, 255}, .glyphs = {{0, 600}}},
        };
        m.place(placeAt(m.defineText(t), 1)).showFrame();
        View v = show(m.build(), 120, 60);
        const uint32_t red = 0xFFFF0000u, blue = 0xFF0000FFu;
        for (int y = 20; y < 40; ++y)
            for (int x = 10; x < 30; ++x)
                ASSERT_EQ(v.at(x, y), red) << x << "," << y;
        EXPECT_EQ(v.at(9, 30), kWhite);
        EXPECT_EQ(v.at(30, 30), kWhite);
        EXPECT_EQ(v.at(20, 19), kWhite);
        EXPECT_EQ(v.at(20, 40), kWhite);
        EXPECT_EQ(v.at(41, 21), red);   // the ring
        EXPECT_EQ(v.at(50, 30), kWhite);  // its hole
        EXPECT_EQ(v.at(46, 30), kWhite);
        EXPECT_EQ(v.at(44, 30), red);
        EXPECT_EQ(v.at(80, 30), blue);  // the third glyph, 60 px on
        EXPECT_EQ(v.at(70, 20), blue);
        EXPECT_EQ(v.at(69, 30), kWhite);
    }
}

TEST(StaticText, HeightScalesGlyphsAndTheTextMatrixAndAlphaApply)
{
    auto m = movie(100, 100);
    const uint16_t font = m.defineFont(boxFont(3));
    sw::StaticText t;
    t.alpha = true;
    t.bounds = {0, 2000, -2000, 0};
    // Height 512 halves the glyph to 10 px; the matrix doubles it back and
    // moves the baseline to (20, 80) px.
    t.matrix = sw::Matrix::make(2, 2, 0, 400, 1600);
    t.records = {{.font = font, .height = 512, .color = sw::Rgba{0, 0, 0, 128}, .x = 0, .y = 0, .glyphs = {{1, 0}}}};
    m.place(placeAt(m.defineText(t), 1)).showFrame();
    View v = show(m.build(), 100, 100);
    const uint32_t grey = argb(255, 127, 127, 127);
    EXPECT_EQ(v.at(20, 60), grey);
    EXPECT_EQ(v.at(39, 79), grey);
    EXPECT_EQ(v.at(30, 70), kWhite);  // the hole: 25..35 px across at this scale
    EXPECT_EQ(v.at(26, 70), kWhite);
    EXPECT_EQ(v.at(24, 70), grey);
    EXPECT_EQ(v.at(19, 70), kWhite);
    EXPECT_EQ(v.at(40, 70), kWhite);
    EXPECT_EQ(v.at(30, 80), kWhite);
}

TEST(StaticText, UnknownFontsAndGlyphIndexesDrawNothingButAdvance)
{
    auto m = movie(100, 40);
    const uint16_t font = m.defineFont(boxFont(2));
    const uint16_t other = m.defineShape([&] {
        sw::ShapeBuilder s(3);
        s.rectangle(0, 0, 20, 20, s.addFill(sw::Rgba{0, 255, 0, 255}), 0);
        return s;
    }());
    sw::StaticText t;
    t.bounds = {0, 2000, 200, 600};
    t.matrix = sw::Matrix::translate(0, 600);
    t.records = {
        {.font = other, .height = 1024, .color = sw::Rgba{255, 0, 0, 255}, .x = 0, .y = 0, .glyphs = {{0, 400}}},
        {.font = font, .height = 1024, .glyphs = {{7, 400}, {0, 400}}},
    };
    m.place(placeAt(m.defineText(t), 1)).showFrame();
    View v = show(m.build(), 100, 40);
    EXPECT_EQ(v.at(10, 20), kWhite);  // a shape is no font
    EXPECT_EQ(v.at(30, 20), kWhite);  // glyph 7 does not exist
    EXPECT_EQ(v.at(50, 20), 0xFFFF0000u);
}

TEST(StaticText, HandLaidDefineFontAndDefineTextDraw)
{
    // DefineFont, id 1: offset table {2}, then one glyph: fill bits 1, line
    // bits 0; move to (0, -400) with fill style 0 = 1; four straight edges of
    // 400 twips round the square; end of shape.
    std::vector<uint8_t> font = {1, 0, 2, 0};
    append(font, bits("0001 0000"
                      " 000011 01010 0000000000 1001110000 1"   // style change: fill0, move (10-bit deltas)
                      " 11 1000 0 0 0110010000"                 // straight, 10 bits, horizontal, +400
                      " 11 1000 0 1 0110010000"                 // vertical, +400
                      " 11 1000 0 0 1001110000"                 // horizontal, -400
                      " 11 1000 0 1 1001110000"                 // vertical, -400
                      " 000000"));                              // end
    // DefineFontInfo: id 1, name "Hand", narrow codes, code 'H'.
    const std::vector<uint8_t> info = {1, 0, 4, 'H', 'a', 'n', 'd', 0x00, 'H'};
    // DefineText, id 2: bounds (12-bit fields 0, 2000, 0, 1000); matrix
    // with translation only (12 bits: 200, 800); glyph bits 1, advance bits 11;
    // one record: font 1, colour (0, 128, 0), x 0, height 1024, two glyphs
    // of index 0 advancing 600 each; end of records.
    std::vector<uint8_t> text = {2, 0};
    append(text, bits("01100 000000000000 011111010000 000000000000 001111101000"));
    append(text, bits("0 0 01100 000011001000 001100100000"));
    append(text, {1, 11, 0x8D, 1, 0, 0, 128, 0, 0, 0, 0x00, 0x04, 2});
    append(text, bits("0 01001011000 0 01001011000"));
    text.push_back(0);

    auto m = movie(100, 60);
    m.rawTag(eng::tag::DefineFont, font, true);
    m.rawTag(eng::tag::DefineFontInfo, info, true);
    m.rawTag(eng::tag::DefineText, text, true);
    m.allocateId();
    m.allocateId();
    m.place(placeAt(2, 1)).showFrame();
    const std::vector<uint8_t> swf = m.build();

    auto loaded = eng::parseMovie(swf);
    ASSERT_TRUE(loaded.movie) << loaded.error;
    const eng::FontDef* f = fontOf(*loaded.movie, 1);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->name, "Hand");
    EXPECT_EQ(f->glyphFor('H'), std::optional<size_t>(0));
    const eng::Character* c = loaded.movie->character(2);
    ASSERT_TRUE(c && c->kind == eng::Character::Kind::Shape);
    const auto& shape = static_cast<const eng::ShapeDef&>(*c);
    EXPECT_EQ(shape.bounds.xMax, 2000);
    EXPECT_EQ(shape.bounds.yMax, 1000);

    View v = show(swf, 100, 60);
    const uint32_t green = 0xFF008000u;
    for (int y = 20; y < 40; ++y)
        for (int x : {10, 29, 40, 59})
            ASSERT_EQ(v.at(x, y), green) << x << "," << y;
    EXPECT_EQ(v.at(35, 30), kWhite);
    EXPECT_EQ(v.at(20, 41), kWhite);
}

// --- edit text in an embedded font ---------------------------------------------------------------

namespace {

// The box font with a space (no outline, 300 units) and a field in it at
// height 1024, so a font unit is a twip: ascent 900 puts the first baseline
// 2 px (the gutter) + 45 px below the field's top.
struct FieldMovie {
    sw::Movie m = movie(120, 140);
    uint16_t font = 0;
    sw::EditText field;
    FieldMovie()
    {
        sw::Font f = boxFont(2);
        f.glyphs.push_back({' ', sw::Path(), 300});
        f.kerning = {{'A', 'B', -200}};  // fields do not kern unless their format asks
        font = m.defineFont(f);
        field.bounds = {0, 2000, 0, 2800};
        field.font = font;
        field.fontHeight = 1024;
        field.useOutlines = true;
        field.readOnly = true;
        field.color = sw::Rgba{0, 0, 0, 255};
    }
    std::vector<uint8_t> build()
    {
        m.place(placeAt(m.defineEditText(field), 1)).showFrame();
        return m.build();
    }
};

const uint32_t kBlack = 0xFF000000u;

}  // namespace

TEST(EmbeddedFontField, GlyphsComeFromTheFontByCodeWithItsAdvances)
{
    FieldMovie fm;
    fm.field.initialText = "AB?A";  // no glyph for '?': nothing drawn, no room taken
    View v = show(fm.build(), 120, 140);
    // A at x 2..22 px, B at 27..47 px (its hole 32..42), the last A at 57..77 px; rows 27..47.
    for (int y = 27; y < 47; ++y)
        for (int x : {2, 21, 27, 31, 43, 46, 57, 76})
            ASSERT_EQ(v.at(x, y), kBlack) << x << "," << y;
    EXPECT_EQ(v.at(24, 36), kWhite);
    EXPECT_EQ(v.at(37, 36), kWhite);  // the hole
    EXPECT_EQ(v.at(50, 36), kWhite);
    EXPECT_EQ(v.at(12, 26), kWhite);
    EXPECT_EQ(v.at(12, 47), kWhite);
    EXPECT_EQ(v.at(78, 36), kWhite);
}

TEST(EmbeddedFontField, AlignmentMarginsIndentAndLeadingFollowTheFontsMetrics)
{
    {
        SCOPED_TRACE("right: the line's advances (1100 twips) end at the gutter");
        FieldMovie fm;
        fm.field.layout = sw::EditText::Layout{.align = 1};
        fm.field.initialText = "AB";
        View v = show(fm.build(), 120, 140);
        EXPECT_EQ(v.at(43, 36), kBlack);  // A from 43 px
        EXPECT_EQ(v.at(42, 36), kWhite);
        EXPECT_EQ(v.at(87, 36), kBlack);  // B's outline to 88 px, its advance to 98
        EXPECT_EQ(v.at(88, 36), kWhite);
    }
    {
        SCOPED_TRACE("left with margin, indent and leading, two paragraphs");
        FieldMovie fm;
        fm.field.multiline = true;
        fm.field.layout = sw::EditText::Layout{.leftMargin = 100, .indent = 200, .leading = 100};
        fm.field.initialText = "A\rA";
        View v = show(fm.build(), 120, 140);
        EXPECT_EQ(v.at(17, 36), kBlack);  // first line from 2 + 5 + 10 px
        EXPECT_EQ(v.at(16, 36), kWhite);
        // The next line: ascent and descent (55 px) and leading (5 px) lower, without the indent.
        EXPECT_EQ(v.at(7, 96), kBlack);
        EXPECT_EQ(v.at(6, 96), kWhite);
        EXPECT_EQ(v.at(7, 86), kWhite);
        EXPECT_EQ(v.at(7, 87), kBlack);
        EXPECT_EQ(v.at(7, 106), kBlack);
        EXPECT_EQ(v.at(7, 107), kWhite);
    }
}

// Justified text: a line that word wrap ended spreads its slack over its
// spaces; the paragraph's last line stays at the left.
TEST(EmbeddedFontField, JustifiedLinesSpreadTheirSlackOverTheirSpaces)
{
    auto render = [](uint8_t align) {
        FieldMovie fm;
        fm.field.multiline = true;
        fm.field.wordWrap = true;
        fm.field.bounds = {0, 2400, 0, 2800};  // 2320 twips for text: "A A A" is 2100, one more A does not fit
        fm.field.layout = sw::EditText::Layout{.align = align};
        fm.field.initialText = "A A A A A A";
        return show(fm.build(), 120, 140);
    };
    const View left = render(0), justified = render(3);
    auto firstInk = [](const View& v, int y, int from) {
        for (int x = from; x < v.width; ++x)
            if (v.at(x, y) == kBlack)
                return x;
        return -1;
    };
    // The first line's A's: from 2, 42 and 82 px at the left; 220 twips of
    // slack (11 px) over two spaces put the second 5.5 px and the third 11 px on.
    EXPECT_EQ(firstInk(left, 36, 0), 2);
    EXPECT_EQ(firstInk(justified, 36, 0), 2);
    EXPECT_EQ(firstInk(left, 36, 30), 42);
    EXPECT_NEAR(firstInk(justified, 36, 30), 47.5, 0.5);
    EXPECT_EQ(firstInk(left, 36, 70), 82);
    EXPECT_EQ(firstInk(justified, 36, 70), 93);
    // The last line is the same in both.
    for (int y = 60; y < 140; ++y)
        for (int x = 0; x < 120; ++x)
            ASSERT_EQ(left.at(x, y), justified.at(x, y)) << x << "," << y;
}

TEST(EmbeddedFontField, WordWrapMeasuresWithTheFontAndOnlyWhenOutlinesAreAsked)
{
    FieldMovie fm;
    fm.field.multiline = true;
    fm.field.wordWrap = true;
    fm.field.bounds = {0, 2600, 0, 2800};  // 2520 twips for text: "AB AB" is 2500
    fm.field.initialText = "AB AB AB";
    const std::vector<uint8_t> swf = fm.build();
    auto loaded = eng::parseMovie(swf);
    ASSERT_TRUE(loaded.movie) << loaded.error;
    const eng::Character* c = loaded.movie->character(fm.font + 1);
    ASSERT_TRUE(c && c->kind == eng::Character::Kind::EditText);
    eng::EditTextDef field = static_cast<const eng::EditTextDef&>(*c);
    EXPECT_EQ(eng::layoutText(field, "AB AB AB", loaded.movie.get()), (std::vector<std::string>{"AB AB", "AB"}));
    const eng::TextMetrics metrics = eng::measureText(field, "AB AB AB", loaded.movie.get());
    EXPECT_EQ(metrics.widest, 2500);
    EXPECT_EQ(metrics.lineHeight, 1100);
    EXPECT_EQ(metrics.lines, 2);
    // A word longer than the line breaks inside it.
    EXPECT_EQ(eng::layoutText(field, "ABABABAB", loaded.movie.get()), (std::vector<std::string>{"ABAB", "ABAB"}));

    // Without the outlines flag the font only names a face: the cell font measures.
    field.useOutlines = false;
    EXPECT_EQ(eng::layoutText(field, "AB AB AB", loaded.movie.get()), (std::vector<std::string>{"AB", "AB", "AB"}));

    View v = show(swf, 120, 140);
    EXPECT_EQ(v.at(84, 36), kBlack);  // the second "AB" of line one: A at 72..92 px
    EXPECT_EQ(v.at(70, 36), kWhite);
    EXPECT_EQ(v.at(2, 96), kBlack);   // line two
}

// --- device text ----------------------------------------------------------------------------------

TEST(DeviceFont, TheCompiledInFaceHasOutlinesAndMetricsForLatin1)
{
    const eng::FontDef* font = eng::deviceFont();
    ASSERT_TRUE(font);
    EXPECT_EQ(font->emSquare, 2048);
    EXPECT_TRUE(font->nonZero);
    EXPECT_GT(font->ascent, 1500);
    EXPECT_GT(font->descent, 300);
    for (uint32_t code : {uint32_t('A'), uint32_t('o'), uint32_t(' '), 0xE9u}) {
        SCOPED_TRACE(code);
        const std::optional<size_t> g = font->glyphFor(code);
        ASSERT_TRUE(g);
        EXPECT_GT(font->advance(*g), 500);
        EXPECT_LT(font->advance(*g), 2048);
    }
    // Outlines stand on the baseline with y down: 'A' rises above it, 'p' hangs below.
    auto extent = [&](char c) {
        int32_t top = 0, bottom = 0;
        for (const eng::Segment& s : font->glyphs[*font->glyphFor(uint8_t(c))].segments) {
            top = std::min({top, s.y0, s.y1});
            bottom = std::max({bottom, s.y0, s.y1});
        }
        return std::pair{top, bottom};
    };
    EXPECT_LT(extent('A').first, -1000);
    EXPECT_EQ(extent('A').second, 0);
    EXPECT_GT(extent('p').second, 300);
    // 'o' is curved, two closed contours: every segment ends where another starts.
    const auto& o = font->glyphs[*font->glyphFor('o')].segments;
    EXPECT_TRUE(std::any_of(o.begin(), o.end(), [](const eng::Segment& s) { return s.curve; }));
    for (const eng::Segment& s : o)
        EXPECT_TRUE(std::any_of(o.begin(), o.end(), [&](const eng::Segment& t) { return t.x0 == s.x1 && t.y0 == s.y1; }));
    EXPECT_TRUE(font->glyphs[*font->glyphFor(' ')].segments.empty());
}

TEST(DeviceFont, FieldsWithoutEmbeddedOutlinesDrawItAntialiased)
{
    // An 'l' is one upright stem: at 40 px its ink is a dark column with
    // partly covered pixels at its sides, standing on the baseline.
    auto m = movie(60, 60);
    sw::EditText field;
    field.bounds = {0, 1200, 0, 1200};
    field.fontHeight = 800;
    field.readOnly = true;
    field.color = sw::Rgba{0, 0, 0, 255};
    field.initialText = "l";
    m.place(placeAt(m.defineEditText(field), 1)).showFrame();
    View v = show(m.build(), 60, 60);
    int dark = 0, partial = 0, top = 60, bottom = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x) {
            const uint32_t g = v.at(x, y) & 0xFF;
            if (g < 64) {
                ++dark;
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            } else if (g < 250) {
                ++partial;
            }
        }
    EXPECT_GT(dark, 50);
    EXPECT_GT(partial, 10);
    // The first baseline: 2 px of gutter, then the ascent (1901 of 2048 units at 40 px).
    const int baseline = 2 + static_cast<int>(1901 * 40 / 2048.0);
    EXPECT_NEAR(bottom, baseline - 1, 1);
    EXPECT_NEAR(top, baseline - static_cast<int>(1556 * 40 / 2048.0), 2);
}
