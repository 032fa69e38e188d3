// Shapes: exact bytes of a small one, and the structure of bigger ones read
// back with the tests' own shape reader.
#include "swf_test_reader.h"
#include "swfwriter/shape.h"

#include <gtest/gtest.h>

using namespace refplayer::swfwriter;
using Bytes = std::vector<uint8_t>;
using swftest::ShapeRecord;

namespace {

// Sums the edges of a parsed shape from its first move: where the pen ends.
std::pair<int64_t, int64_t> penAfter(const swftest::Shape& s) {
    int64_t x = 0, y = 0;
    for (const auto& r : s.records) {
        if (r.kind == ShapeRecord::Style && r.moveX) {
            x = *r.moveX;
            y = *r.moveY;
        } else if (r.kind != ShapeRecord::Style) {
            x += r.cdx + r.dx;
            y += r.cdy + r.dy;
        }
    }
    return {x, y};
}

}  // namespace

TEST(SwfShape, OnePixelSquareMatchesHandEncodedDefineShape) {
    ShapeBuilder s(1);
    const uint32_t red = s.addFill(Rgba::rgb(0xFF0000));
    s.rectangle(0, 0, 20, 20, red, 0);
    EXPECT_EQ(s.tagCode(), 2);
    // id | bounds (6-bit fields 0 20 0 20) | one solid red fill | no lines |
    // 1 fill bit, 0 line bits | style change: move 0,0, fill0 0, fill1 1 |
    // four 6-bit straight edges | end.
    EXPECT_EQ(s.encode(1), (Bytes{0x01, 0x00, 0x30, 0x0A, 0x00, 0xA0, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x10,
                                  0x3C, 0x0E, 0x82, 0x9A, 0x2A, 0x68, 0x59, 0xA3, 0x60, 0x00}));
}

TEST(SwfShape, FillSideFollowsTheDirectionOfTravel) {
    // Clockwise on screen: the inside is on the right, fill style 1.
    ShapeBuilder cw(3);
    const uint32_t f = cw.addFill(Rgba::rgba(0x00FF0080));
    cw.polygon({{0, 0}, {100, 0}, {100, 100}}, f, 0);
    const auto a = swftest::parseShape(3, cw.encode(7));
    ASSERT_FALSE(a.records.empty());
    EXPECT_EQ(a.records[0].fill1, 1u);
    EXPECT_EQ(a.records[0].fill0, 0u);
    EXPECT_EQ(a.fills[0], (std::vector<uint32_t>{0x00FF0080}));  // alpha kept in DefineShape3

    // Counter-clockwise: fill style 0. A hole drawn the other way inside a
    // bigger outline does not flip the choice.
    ShapeBuilder ccw(3);
    const uint32_t g = ccw.addFill(Rgba::rgb(0x0000FF));
    Path p;
    p.moveTo(0, 0).lineTo(0, 1000).lineTo(1000, 1000).lineTo(1000, 0).close();
    p.moveTo(100, 100).lineTo(200, 100).lineTo(200, 200).close();
    ccw.addPath(p, g, 0);
    const auto b = swftest::parseShape(3, ccw.encode(1));
    EXPECT_EQ(b.records[0].fill0, 1u);
    EXPECT_EQ(b.records[0].fill1, 0u);
    // The second sub-path starts with a bare move.
    int moves = 0;
    for (const auto& r : b.records)
        moves += r.kind == ShapeRecord::Style && r.moveX.has_value();
    EXPECT_EQ(moves, 2);
}

TEST(SwfShape, EllipseIsEightCurvesThatCloseWithExactBounds) {
    ShapeBuilder s(2);
    const uint32_t fill = s.addFill(Rgba::rgb(0x112233));
    const uint32_t line = s.addLine(40, Rgba::rgb(0));
    s.ellipse(1000, 500, 300, 200, fill, line);
    EXPECT_EQ(s.edgeBounds(), (Rect{700, 1300, 300, 700}));
    EXPECT_EQ(s.bounds(), (Rect{680, 1320, 280, 720}));  // half the 40-twip line outside

    const auto parsed = swftest::parseShape(2, s.encode(3));
    int curves = 0;
    for (const auto& r : parsed.records)
        curves += r.kind == ShapeRecord::Curved;
    EXPECT_EQ(curves, 8);
    EXPECT_EQ(penAfter(parsed), (std::pair<int64_t, int64_t>{1300, 500}));
    EXPECT_EQ(parsed.records[0].fill1, 1u);  // increasing angle turns clockwise on screen
    EXPECT_EQ(parsed.records[0].line, 1u);
    EXPECT_EQ((std::tuple{parsed.xMin, parsed.xMax, parsed.yMin, parsed.yMax}), (std::tuple{680, 1320, 280, 720}));
}

TEST(SwfShape, LongEdgesAreSplitToFitTheirFields) {
    ShapeBuilder s(3);
    const uint32_t line = s.addLine(20, Rgba::rgb(0));
    s.setLine(line).moveTo(-100000, 0).lineTo(100000, 3);
    s.moveTo(0, 0).curveTo(150000, 0, 150000, 150000);
    const auto parsed = swftest::parseShape(3, s.encode(1));
    int straights = 0, curves = 0;
    int64_t sx = 0, sy = 0;
    for (const auto& r : parsed.records) {
        if (r.kind == ShapeRecord::Straight) {
            ++straights;
            sx += r.dx;
            sy += r.dy;
            EXPECT_LE(std::abs(r.dx), 65535);
        }
        if (r.kind == ShapeRecord::Curved) {
            ++curves;
            for (int32_t d : {r.cdx, r.cdy, r.dx, r.dy})
                EXPECT_LE(std::abs(d), 65535);
        }
    }
    EXPECT_GE(straights, 4);
    EXPECT_EQ(sx, 200000);
    EXPECT_EQ(sy, 3);
    EXPECT_GE(curves, 2);
    EXPECT_EQ(penAfter(parsed), (std::pair<int64_t, int64_t>{150000, 150000}));
}

TEST(SwfShape, VersionRulesAreEnforced) {
    ShapeBuilder v1(1);
    EXPECT_THROW(v1.addFill(Rgba::rgba(0xFF000080)), Error);
    EXPECT_THROW(v1.newStyles(), Error);
    EXPECT_THROW(v1.addLine(LineStyle{.width = 20, .join = LineStyle::MiterJoin}), Error);
    EXPECT_THROW(v1.setFill1(1), Error);  // not defined yet
    EXPECT_THROW(ShapeBuilder(5), Error);

    ShapeBuilder v3(3);
    const uint32_t f = v3.addFill(Rgba::rgb(0xFF0000));
    v3.rectangle(0, 0, 100, 100, f, 0);
    const Bytes before = v3.encode(1);
    EXPECT_THROW(v3.rectangle(0, 0, 10, 10, f, 9), Error);  // no line style 9
    EXPECT_EQ(v3.encode(1), before);
    EXPECT_EQ(v3.tagCode(), 32);
}

TEST(SwfShape, NewStylesStartAFreshGroupWithItsOwnIndexWidths) {
    ShapeBuilder s(2);
    const uint32_t a = s.addFill(Rgba::rgb(0xFF0000));
    s.rectangle(0, 0, 100, 100, a, 0);
    s.newStyles();
    uint32_t last = 0;
    for (int i = 0; i < 5; ++i)
        last = s.addFill(Rgba::rgb(0x000010 * i));
    const uint32_t l = s.addLine(60, Rgba::rgb(0x00FF00));
    s.rectangle(200, 0, 100, 100, last, l);

    const auto parsed = swftest::parseShape(2, s.encode(4));
    ASSERT_EQ(parsed.fills.size(), 2u);
    EXPECT_EQ(parsed.fills[1].size(), 5u);
    EXPECT_EQ(parsed.lines[1], (std::vector<std::pair<uint16_t, uint32_t>>{{60, 0x00FF00FF}}));
    // Find the record after the new styles: it selects fill 5 with 3-bit indices.
    bool sawNew = false, sawFill5 = false;
    for (const auto& r : parsed.records) {
        if (r.newStyles) sawNew = true;
        if (sawNew && r.fill1 == 5u && r.line == 1u) sawFill5 = true;
    }
    EXPECT_TRUE(sawNew);
    EXPECT_TRUE(sawFill5);
    EXPECT_EQ(parsed.xMax, 300 + 30);
}

TEST(SwfShape, DefineShape4WritesEdgeBoundsAndLineStyle2) {
    ShapeBuilder s(4);
    const uint32_t l = s.addLine(LineStyle{.width = 100, .color = Rgba::rgba(0x11223344), .endCap = LineStyle::SquareCap,
                                           .join = LineStyle::MiterJoin, .miterLimit = 2.5, .noHScale = true});
    s.setLine(l).moveTo(0, 0).lineTo(1000, 0);
    EXPECT_EQ(s.tagCode(), 83);
    const Bytes body = s.encode(2);
    const auto parsed = swftest::parseShape(4, body);
    EXPECT_EQ(parsed.lines[0], (std::vector<std::pair<uint16_t, uint32_t>>{{100, 0x11223344}}));
    EXPECT_EQ(parsed.xMin, -50);
    EXPECT_EQ(parsed.xMax, 1050);
    // Edge bounds follow the bounds; then the flags byte says non-scaling strokes.
    swftest::BitReader r(body);
    r.u16();
    unsigned n = r.ub(5);
    for (int i = 0; i < 4; ++i) r.sb(n);
    r.align();
    n = r.ub(5);
    EXPECT_EQ(r.sb(n), 0);
    EXPECT_EQ(r.sb(n), 1000);
    r.sb(n);
    r.sb(n);
    EXPECT_EQ(r.u8(), 0x02);
}
