// Morph shapes at their ratios: edges, solid colours, gradients (records and
// matrices) and line widths between the start and the end shape, the ratio
// changing over frames, and DefineMorphShape/DefineMorphShape2 bodies laid out
// bit by bit here so the writer and the reader cannot share a mistake.
#include "engine_test_support.h"
#include "swf_movie.h"
#include "morph_shape.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace enginetest;
namespace eng = refplayer::engine;

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;
const sw::Rgba kRed{255, 0, 0, 255}, kBlue{0, 0, 255, 255}, kBlack{0, 0, 0, 255};

uint8_t Ch(uint32_t p, int shift) { return static_cast<uint8_t>(p >> shift); }

::testing::AssertionResult Near(uint32_t actual, uint32_t expected, int tolerance = 1)
{
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(int(Ch(actual, shift)) - int(Ch(expected, shift))) > tolerance)
            return ::testing::AssertionFailure() << std::hex << "0x" << actual << " is not near 0x" << expected;
    return ::testing::AssertionSuccess();
}

sw::PlaceObject atRatio(uint16_t character, uint16_t depth, uint16_t ratio)
{
    sw::PlaceObject p = placeAt(character, depth);
    p.ratio = ratio;
    return p;
}

void square(sw::ShapeBuilder& s, int32_t x, int32_t y, int32_t side, uint32_t fill)
{
    if (fill)
        s.setFill1(fill);
    s.moveTo(x, y).lineTo(x + side, y).lineTo(x + side, y + side).lineTo(x, y + side).lineTo(x, y);
}

// A red 20 px square at (0, 0) that becomes a blue one at (60, 60).
sw::MorphShape movingSquare(int version)
{
    sw::MorphShape m(version);
    const uint32_t fill = m.addFill(sw::MorphFill{.startColor = kRed, .endColor = kBlue});
    square(m.start, 0, 0, 400, fill);
    square(m.end, 1200, 1200, 400, 0);
    return m;
}

// The bounding box of the pixels that are not white.
struct Ink {
    int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
};
Ink inkOf(const View& v)
{
    Ink k;
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x)
            if (v.at(x, y) != kWhite) {
                k.left = std::min(k.left, x);
                k.top = std::min(k.top, y);
                k.right = std::max(k.right, x + 1);
                k.bottom = std::max(k.bottom, y + 1);
            }
    return k;
}

}  // namespace

TEST(Morph, EdgesAndColoursFollowTheRatio)
{
    for (int version : {1, 2}) {
        SCOPED_TRACE(version);
        auto m = movie(100, 100);
        const uint16_t id = m.defineMorphShape(movingSquare(version));
        m.place(atRatio(id, 1, 0)).showFrame();
        sw::PlaceObject half;
        half.depth = 1;
        half.move = true;
        half.ratio = 32768;
        m.place(half).showFrame();
        sw::PlaceObject end = half;
        end.ratio = 65535;
        m.place(end).showFrame();
        RecordingHost host;
        Player p(host);
        load(p, m.build(), 100, 100);

        View v = render(p, 100, 100);
        Ink k = inkOf(v);
        EXPECT_EQ(k.left, 0);
        EXPECT_EQ(k.top, 0);
        EXPECT_EQ(k.right, 20);
        EXPECT_EQ(k.bottom, 20);
        EXPECT_EQ(v.at(10, 10), argb(255, 255, 0, 0));

        // Halfway (32768 / 65535 of the way): 600 twips on, colours 127.5 of
        // the way, which round to 127 red and 128 blue.
        host.invalidations.clear();
        p.tick();
        ASSERT_FALSE(host.invalidations.empty());
        v = render(p, 100, 100);
        k = inkOf(v);
        EXPECT_EQ(k.left, 30);
        EXPECT_EQ(k.top, 30);
        EXPECT_EQ(k.right, 50);
        EXPECT_EQ(k.bottom, 50);
        EXPECT_EQ(v.at(40, 40), argb(255, 127, 0, 128));

        p.tick();
        v = render(p, 100, 100);
        k = inkOf(v);
        EXPECT_EQ(k.left, 60);
        EXPECT_EQ(k.top, 60);
        EXPECT_EQ(k.right, 80);
        EXPECT_EQ(k.bottom, 80);
        EXPECT_EQ(v.at(70, 70), argb(255, 0, 0, 255));
    }
}

TEST(Morph, LineWidthsAndGradientsInterpolate)
{
    // A horizontal line at y = 50 px, 1 px wide at the start and 11 px at the end.
    sw::MorphShape line;
    const uint32_t style = line.addLine(sw::MorphLine{.startWidth = 20, .endWidth = 220, .startColor = kBlack, .endColor = kBlack});
    line.start.setLine(style).moveTo(200, 1000).lineTo(1800, 1000);
    line.end.moveTo(200, 1000).lineTo(1800, 1000);
    // Below it a linear gradient black to white whose square spans 0..100 px
    // at the start and 0..50 px at the end.
    sw::MorphShape ramp;
    sw::MorphFill g;
    g.type = 0x10;
    g.startMatrix = sw::Matrix::make(2000.0 / 32768, 1, 0, 1000, 0);
    g.endMatrix = sw::Matrix::make(1000.0 / 32768, 1, 0, 500, 0);
    g.stops = {{0, 0, kBlack, kBlack}, {255, 255, sw::Rgba{255, 255, 255, 255}, sw::Rgba{255, 255, 255, 255}}};
    const uint32_t fill = ramp.addFill(g);
    ramp.start.setFill1(fill).moveTo(0, 1400).lineTo(2000, 1400).lineTo(2000, 2000).lineTo(0, 2000).lineTo(0, 1400);
    ramp.end.moveTo(0, 1400).lineTo(2000, 1400).lineTo(2000, 2000).lineTo(0, 2000).lineTo(0, 1400);
    RecordingHost host;
    Player p(host);

    // Start: a one-pixel line; the ramp at x = 60 px is 60 % of the way.
    auto first = movie(100, 100);
    first.defineMorphShape(line);
    first.defineMorphShape(ramp);
    first.place(atRatio(1, 1, 0)).place(atRatio(2, 2, 0)).showFrame();
    load(p, first.build(), 100, 100);
    View v = render(p, 100, 100);
    EXPECT_NE(v.at(50, 50), kWhite);
    EXPECT_EQ(v.at(50, 52), kWhite);
    EXPECT_TRUE(Near(v.at(60, 85), argb(255, 154, 154, 154), 1));

    // End: 11 px wide (y 44.5 .. 55.5); the ramp is white past 50 px.
    auto last = movie(100, 100);
    last.defineMorphShape(line);
    last.defineMorphShape(ramp);
    last.place(atRatio(1, 1, 65535)).place(atRatio(2, 2, 65535)).showFrame();
    load(p, last.build(), 100, 100);
    v = render(p, 100, 100);
    EXPECT_EQ(v.at(50, 45), argb(255, 0, 0, 0));
    EXPECT_EQ(v.at(50, 54), argb(255, 0, 0, 0));
    EXPECT_EQ(v.at(50, 57), kWhite);
    EXPECT_EQ(v.at(60, 85), kWhite);
    EXPECT_TRUE(Near(v.at(30, 85), argb(255, 156, 156, 156), 1));

    // Halfway: 6 px wide; the square spans 0..75 px.
    auto mid = movie(100, 100);
    mid.defineMorphShape(line);
    mid.defineMorphShape(ramp);
    mid.place(atRatio(1, 1, 32768)).place(atRatio(2, 2, 32768)).showFrame();
    load(p, mid.build(), 100, 100);
    v = render(p, 100, 100);
    EXPECT_EQ(v.at(50, 52), argb(255, 0, 0, 0));
    EXPECT_EQ(v.at(50, 54), kWhite);
    EXPECT_TRUE(Near(v.at(45, 85), argb(255, 155, 155, 155), 1));
}

TEST(Morph, DefineMorphShapeLaidOutByHandTurnsAStraightEdgeIntoACurve)
{
    // DefineMorphShape: id, start and end bounds, offset to the end edges,
    // one solid fill (red to blue), no lines, then the two SHAPE records.
    // The start is the square (20,20)-(80,80) px; in the end shape its top
    // edge is a curve through a control point at (50, 0) px.
    auto rect = [](Bits& b, int32_t xMin, int32_t xMax, int32_t yMin, int32_t yMax) {
        b.align();
        b.ub(13, 5);
        b.sb(xMin, 13); b.sb(xMax, 13); b.sb(yMin, 13); b.sb(yMax, 13);
        b.align();
    };
    auto edges = [](Bits& b, bool styled, bool curvedTop) {
        b.align();
        b.ub(styled ? 1 : 0, 4);  // fill index bits
        b.ub(0, 4);               // line index bits
        // Style change: move to (400, 400), fill 1 = style 1 when styled.
        b.ub(0, 1); b.ub(0, 1); b.ub(0, 1); b.ub(styled, 1); b.ub(0, 1); b.ub(1, 1);
        b.ub(12, 5); b.sb(400, 12); b.sb(400, 12);
        if (styled)
            b.ub(1, 1);
        if (curvedTop) {
            // Curve: control (+600, -400), anchor (+600, +400); 12-bit fields.
            b.ub(1, 1); b.ub(0, 1); b.ub(10, 4);
            b.sb(600, 12); b.sb(-400, 12); b.sb(600, 12); b.sb(400, 12);
        } else {
            // Straight, horizontal: +1200.
            b.ub(1, 1); b.ub(1, 1); b.ub(10, 4); b.ub(0, 1); b.ub(0, 1); b.sb(1200, 12);
        }
        // Down 1200, left 1200, up 1200 (vertical, horizontal, vertical).
        b.ub(1, 1); b.ub(1, 1); b.ub(10, 4); b.ub(0, 1); b.ub(1, 1); b.sb(1200, 12);
        b.ub(1, 1); b.ub(1, 1); b.ub(10, 4); b.ub(0, 1); b.ub(0, 1); b.sb(-1200, 12);
        b.ub(1, 1); b.ub(1, 1); b.ub(10, 4); b.ub(0, 1); b.ub(1, 1); b.sb(-1200, 12);
        b.ub(0, 6);  // end
        b.align();
    };
    auto m = movie(100, 100);
    const uint16_t id = m.allocateId();
    Bits body;
    body.u16(id);
    rect(body, 400, 1600, 400, 1600);
    rect(body, 400, 1600, 0, 1600);
    Bits rest;
    rest.u8(1);  // one fill
    rest.u8(0x00);
    rest.rgba(kRed);
    rest.rgba(kBlue);
    rest.u8(0);  // no lines
    edges(rest, true, false);
    const uint32_t offset = static_cast<uint32_t>(rest.out.size());
    edges(rest, false, true);
    body.u32(offset);
    body.out.insert(body.out.end(), rest.out.begin(), rest.out.end());
    m.rawTag(sw::tag::DefineMorphShape, body.out, true);
    m.place(atRatio(id, 1, 0)).showFrame();
    sw::PlaceObject end;
    end.depth = 1;
    end.move = true;
    end.ratio = 65535;
    m.place(end).showFrame();

    auto loaded = eng::parseMovie(m.build());
    ASSERT_TRUE(loaded.movie) << loaded.error;
    const auto* morph = static_cast<const eng::ShapeDef*>(loaded.movie->character(id));
    ASSERT_TRUE(morph && morph->morph);
    const auto& edgesRead = static_cast<const eng::MorphShapeDef*>(morph)->edges;
    ASSERT_EQ(edgesRead.size(), 4u);
    EXPECT_FALSE(edgesRead[0].start.curve);
    EXPECT_TRUE(edgesRead[0].end.curve);
    EXPECT_EQ(edgesRead[0].end.cx, 1000);
    EXPECT_EQ(edgesRead[0].end.cy, 0);

    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    View v = render(p, 100, 100);
    EXPECT_EQ(v.at(50, 50), argb(255, 255, 0, 0));
    EXPECT_EQ(v.at(50, 15), kWhite);
    p.tick();
    v = render(p, 100, 100);
    EXPECT_EQ(v.at(50, 50), argb(255, 0, 0, 255));
    EXPECT_EQ(v.at(50, 15), argb(255, 0, 0, 255));  // the curve's peak is at y = 10 px
    EXPECT_EQ(v.at(50, 8), kWhite);
    EXPECT_EQ(v.at(22, 15), kWhite);

    // An offset past the tag refuses the movie.
    auto bad = movie(100, 100);
    std::vector<uint8_t> broken = body.out;
    const size_t at = 2 + 8 + 8;  // id, two 8-byte rectangles
    broken[at] = 0xFF;
    broken[at + 1] = 0xFF;
    bad.rawTag(sw::tag::DefineMorphShape, broken, true);
    bad.showFrame();
    EXPECT_FALSE(eng::parseMovie(bad.build()).movie);
}
