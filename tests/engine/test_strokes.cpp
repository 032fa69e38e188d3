// DefineShape4 line styles: caps (round, none, square), joins (round, bevel,
// miter within and past its limit), closed outlines joined rather than
// capped, a stroke filled with a gradient laid out bit by bit, the scaling
// flags and pixel hinting.
#include "engine_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace enginetest;

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;
const uint32_t kBlackPx = argb(255, 0, 0, 0);
const sw::Rgba kBlack{0, 0, 0, 255};

// One open path (pixels) stroked 10 px wide in a 100 x 100 movie.
View strokeOf(const std::vector<std::pair<int, int>>& points, sw::LineStyle style)
{
    auto m = movie(100, 100);
    sw::ShapeBuilder s(4);
    style.width = 200;
    style.color = kBlack;
    s.setLine(s.addLine(style)).moveTo(points[0].first * 20, points[0].second * 20);
    for (size_t i = 1; i < points.size(); ++i)
        s.lineTo(points[i].first * 20, points[i].second * 20);
    m.place(placeAt(m.defineShape(s), 1)).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    return render(p, 100, 100);
}

}  // namespace

TEST(Strokes, CapsEndALineRoundFlatOrSquare)
{
    const std::vector<std::pair<int, int>> line = {{20, 50}, {80, 50}};
    using L = sw::LineStyle;
    const View round = strokeOf(line, L{.startCap = L::RoundCap, .endCap = L::RoundCap});
    const View none = strokeOf(line, L{.startCap = L::NoCap, .endCap = L::NoCap});
    const View square = strokeOf(line, L{.startCap = L::SquareCap, .endCap = L::NoCap});
    for (const View* v : {&round, &none, &square}) {
        EXPECT_EQ(v->at(22, 50), kBlackPx);
        EXPECT_EQ(v->at(50, 46), kBlackPx);
        EXPECT_EQ(v->at(50, 44), kWhite);
    }
    // Past the start point: a half disc, nothing, or a half square.
    EXPECT_EQ(round.at(17, 50), kBlackPx);
    EXPECT_EQ(round.at(15, 46), kWhite);
    EXPECT_EQ(none.at(18, 50), kWhite);
    EXPECT_EQ(square.at(17, 50), kBlackPx);
    EXPECT_EQ(square.at(15, 46), kBlackPx);
    // The square start and the flat end on one line.
    EXPECT_EQ(square.at(82, 50), kWhite);
}

TEST(Strokes, JoinsRoundBevelAndMiterWithItsLimit)
{
    // A peak at (50, 20) whose sides rise 60 px over 30: the outer edges meet
    // 11.18 px above the vertex; a bevel's edge lies 2.24 px above it, a round
    // join's 5.
    const std::vector<std::pair<int, int>> peak = {{20, 80}, {50, 20}, {80, 80}};
    using L = sw::LineStyle;
    const View round = strokeOf(peak, L{.join = L::RoundJoin});
    const View bevel = strokeOf(peak, L{.join = L::BevelJoin});
    const View miter = strokeOf(peak, L{.join = L::MiterJoin, .miterLimit = 3});
    const View within = strokeOf(peak, L{.join = L::MiterJoin, .miterLimit = 1.2});
    const View cut = strokeOf(peak, L{.join = L::MiterJoin, .miterLimit = 1});
    EXPECT_EQ(bevel.at(50, 18), kBlackPx);
    EXPECT_EQ(bevel.at(50, 16), kWhite);
    EXPECT_EQ(round.at(50, 16), kBlackPx);
    EXPECT_EQ(round.at(50, 13), kWhite);
    EXPECT_EQ(miter.at(50, 11), kBlackPx);
    EXPECT_EQ(miter.at(50, 7), kWhite);
    // The limit counts stroke widths from the vertex: 1.2 (12 px) lets the
    // whole tip through, 1 (10 px) cuts it off 10 px above the vertex.
    EXPECT_EQ(within.at(50, 11), kBlackPx);
    EXPECT_NE(within.at(50, 9), kWhite);
    EXPECT_EQ(cut.at(50, 11), kBlackPx);
    EXPECT_EQ(cut.at(50, 9), kWhite);
}

TEST(Strokes, ClosedOutlineIsJoinedAtItsStartUnlessNoClose)
{
    // A square outline with flat caps and miter joins: its start corner is
    // joined like the others, so the corner's outer square is filled.
    const std::vector<std::pair<int, int>> box = {{20, 20}, {80, 20}, {80, 80}, {20, 80}, {20, 20}};
    using L = sw::LineStyle;
    const View closed = strokeOf(box, L{.startCap = L::NoCap, .endCap = L::NoCap, .join = L::MiterJoin});
    EXPECT_EQ(closed.at(16, 16), kBlackPx);
    EXPECT_EQ(closed.at(83, 83), kBlackPx);
    const View open = strokeOf(box, L{.startCap = L::NoCap, .endCap = L::NoCap, .join = L::MiterJoin, .noClose = true});
    EXPECT_EQ(open.at(16, 16), kWhite);
    EXPECT_EQ(open.at(83, 83), kBlackPx);
}

TEST(Strokes, StrokeFilledWithAGradientLaidOutByHand)
{
    // DefineShape4 with no fills and one LINESTYLE2: width 200, flags byte 1
    // 0x08 (round caps, round join, has fill), byte 2 0x00, then a linear
    // gradient fill: matrix scale 0x1F40 / 65536 (the square spans 200 px
    // wide, centred by translate 2000 twips), red at 0 and blue at 255.
    auto m = movie(100, 100);
    const uint16_t id = m.allocateId();
    Bits b;
    b.u16(id);
    for (int i = 0; i < 2; ++i) {
        b.ub(13, 5);
        b.sb(0, 13); b.sb(2000, 13); b.sb(800, 13); b.sb(1200, 13);
        b.align();
    }
    b.u8(0);     // flags
    b.u8(0);     // no fills
    b.u8(1);     // one line
    b.u16(200);
    b.u8(0x08);
    b.u8(0x00);
    b.u8(0x10);
    b.ub(1, 1); b.ub(18, 5); b.sb(0x1F40, 18); b.sb(0x10000, 18);
    b.ub(0, 1);
    b.ub(13, 5); b.sb(2000, 13); b.sb(0, 13);
    b.u8(0x02);
    b.u8(0); b.rgba(sw::Rgba{255, 0, 0, 255});
    b.u8(255); b.rgba(sw::Rgba{0, 0, 255, 255});
    b.ub(0, 4); b.ub(1, 4);  // index widths
    // Move to (200, 1000) twips with line 1, then a line 1600 twips right.
    b.ub(0, 1); b.ub(0, 1); b.ub(1, 1); b.ub(0, 1); b.ub(0, 1); b.ub(1, 1);
    b.ub(12, 5); b.sb(200, 12); b.sb(1000, 12);
    b.ub(1, 1);
    b.ub(1, 1); b.ub(1, 1); b.ub(11, 4); b.ub(0, 1); b.ub(0, 1); b.sb(1600, 13);
    b.ub(0, 6);
    b.align();
    m.rawTag(83, b.out, true);
    m.place(placeAt(id, 1)).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    View v = render(p, 100, 100);
    // The gradient runs from red at x = 0 to blue at x = 200 px.
    const uint32_t left = v.at(15, 50), right = v.at(85, 50);
    EXPECT_GT(int((left >> 16) & 0xFF), 230);
    EXPECT_LT(int((right >> 16) & 0xFF), 150);
    EXPECT_GT(int(right & 0xFF), 100);
    EXPECT_EQ(v.at(50, 40), kWhite);
}

TEST(Strokes, FillsSharingAnEdgeShowNoSeamStraightOrCurved)
{
    // Red and blue halves of one shape meeting on a straight edge at x = 50.5 px
    // and on a curved one; the stage behind is white, so any of it showing
    // through the seam lifts the green channel.
    for (bool curved : {false, true}) {
        SCOPED_TRACE(curved);
        auto m = movie(100, 60);
        sw::ShapeBuilder s(3);
        const uint32_t red = s.addFill(sw::Rgba{255, 0, 0, 255}), blue = s.addFill(sw::Rgba{0, 0, 255, 255});
        sw::Path left, right;
        left.moveTo(200, 200).lineTo(1010, 200);
        right.moveTo(1010, 200).lineTo(1800, 200).lineTo(1800, 1000).lineTo(1010, 1000);
        if (curved) {
            left.curveTo(1500, 600, 1010, 1000);
            right.curveTo(1500, 600, 1010, 200);
        } else {
            left.lineTo(1010, 1000);
            right.lineTo(1010, 200);
        }
        left.lineTo(200, 1000).close();
        s.addPath(left, red, 0).addPath(right.close(), blue, 0);
        m.place(placeAt(m.defineShape(s), 1)).showFrame();
        RecordingHost host;
        Player p(host);
        load(p, m.build(), 100, 60);
        View v = render(p, 100, 60);
        int worst = 0, mixed = 0;
        for (int y = 11; y < 49; ++y)
            for (int x = 11; x < 89; ++x) {
                worst = std::max(worst, int((v.at(x, y) >> 8) & 0xFF));
                mixed += ((v.at(x, y) >> 16) & 0xFF) > 20 && (v.at(x, y) & 0xFF) > 20;
            }
        EXPECT_LE(worst, 1);
        EXPECT_GE(mixed, 38);  // the seam's pixels are there, shared by both colours
    }
}

// The no-h-scale and no-v-scale flags take the object's own scaling out of a
// line's width: a 4 px horizontal line in an object stretched 4 x across (or
// 3 x down) is as thick as the flags say, measured as the ink down one column.
TEST(Strokes, ScalingFlagsKeepTheWidthFromTheObjectsScaling)
{
    struct Case {
        bool noH, noV;
        double sx, sy;
        double width;  // pixels
    };
    const Case cases[] = {
        {false, false, 4, 1, 8},  {true, false, 4, 1, 4},  {false, true, 4, 1, 16}, {true, true, 4, 1, 4},
        {false, false, 1, 3, 4 * std::sqrt(3.0)}, {true, false, 1, 3, 12}, {false, true, 1, 3, 4}, {true, true, 1, 3, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "noHScale " << c.noH << ", noVScale " << c.noV << ", scale " << c.sx
                                          << " x " << c.sy);
        auto m = movie(100, 100);
        sw::ShapeBuilder s(4);
        using L = sw::LineStyle;
        const L style{.width = 80, .color = kBlack, .startCap = L::NoCap, .endCap = L::NoCap, .noHScale = c.noH,
                      .noVScale = c.noV};
        s.setLine(s.addLine(style)).moveTo(0, 0).lineTo(20 * 20, 0);
        m.place(sw::PlaceObject{.depth = 1, .character = m.defineShape(s),
                                .matrix = sw::Matrix::make(c.sx, c.sy, 0, 10 * 20, 50 * 20)});
        m.showFrame();
        RecordingHost host;
        Player p(host);
        load(p, m.build(), 100, 100);
        const View v = render(p, 100, 100);
        double ink = 0;
        for (int y = 0; y < 100; ++y)
            ink += (255 - (v.at(20, y) & 0xFF)) / 255.0;
        EXPECT_NEAR(ink, c.width, 0.05);
    }
}

// Pixel hinting rounds a line's width to whole pixels and moves its anchors
// so that the width covers whole pixels: a 1.4 px line at y = 50.3 fills row
// 50 alone, a 2.4 px one rows 49 and 50, and the corner of an L turns on a
// pixel's centre. Without hinting the same lines spill into their neighbours.
TEST(Strokes, PixelHintingPutsAWholeWidthOnWholePixels)
{
    auto draw = [](int widthTwips, bool hinting) {
        auto m = movie(100, 100);
        sw::ShapeBuilder s(4);
        using L = sw::LineStyle;
        const L style{.width = static_cast<uint16_t>(widthTwips), .color = kBlack, .startCap = L::NoCap,
                      .endCap = L::NoCap, .join = L::MiterJoin, .pixelHinting = hinting};
        // (10.2, 50.3) to (80.7, 50.3), then down to (80.7, 90.1), in twips.
        s.setLine(s.addLine(style)).moveTo(204, 1006).lineTo(1614, 1006).lineTo(1614, 1802);
        m.place(placeAt(m.defineShape(s), 1)).showFrame();
        RecordingHost host;
        Player p(host);
        load(p, m.build(), 100, 100);
        return render(p, 100, 100);
    };
    // Exactly the pixels first..last across the line are solid, at `along` on it.
    auto rowsAt = [](const View& v, int along, int first, int last) {
        EXPECT_EQ(v.at(along, first - 1), kWhite);
        for (int y = first; y <= last; ++y)
            EXPECT_EQ(v.at(along, y), kBlackPx) << "row " << y;
        EXPECT_EQ(v.at(along, last + 1), kWhite);
    };
    auto columnsAt = [](const View& v, int along, int first, int last) {
        EXPECT_EQ(v.at(first - 1, along), kWhite);
        for (int x = first; x <= last; ++x)
            EXPECT_EQ(v.at(x, along), kBlackPx) << "column " << x;
        EXPECT_EQ(v.at(last + 1, along), kWhite);
    };
    const View thin = draw(28, true);
    rowsAt(thin, 40, 50, 50);
    columnsAt(thin, 70, 80, 80);  // the down stroke
    EXPECT_EQ(thin.at(80, 50), kBlackPx);  // the corner
    EXPECT_EQ(thin.at(81, 50), kWhite);
    EXPECT_EQ(thin.at(80, 49), kWhite);

    const View wide = draw(48, true);
    rowsAt(wide, 40, 49, 50);
    columnsAt(wide, 70, 80, 81);  // x = 80.7 goes to the pixel corner at 81

    const View plain = draw(28, false);
    EXPECT_NE(plain.at(40, 49), kWhite);
    EXPECT_NE(plain.at(81, 70), kWhite);
    EXPECT_NE(plain.at(80, 49), kWhite);
}

// A line that keeps its width in an object shrunk ten times reaches well past
// the object's bounds: when the object moves, every pixel that changes lies
// in the areas the player asks to have repainted, so no trail is left behind.
TEST(Strokes, NonScalingLinesOfShrunkObjectsAreRepaintedWhole)
{
    auto m = movie(100, 100);
    sw::ShapeBuilder s(4);
    using L = sw::LineStyle;
    const L style{.width = 200, .color = kBlack, .startCap = L::NoCap, .endCap = L::NoCap, .noHScale = true,
                  .noVScale = true};
    s.setLine(s.addLine(style)).moveTo(0, 0).lineTo(400 * 20, 0);
    const uint16_t shape = m.defineShape(s);
    m.place(sw::PlaceObject{.depth = 1, .character = shape, .matrix = sw::Matrix::make(0.1, 0.1, 0, 20 * 20, 30 * 20)});
    m.showFrame();
    sw::PlaceObject move;
    move.depth = 1;
    move.move = true;
    move.matrix = sw::Matrix::make(0.1, 0.1, 0, 20 * 20, 60 * 20);
    m.place(move).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    const View before = render(p, 100, 100);
    EXPECT_EQ(before.at(40, 26), kBlackPx);  // ten pixels wide: rows 25 to 34
    EXPECT_EQ(before.at(40, 34), kBlackPx);

    host.invalidations.clear();
    p.tick();
    const View after = render(p, 100, 100);
    EXPECT_EQ(after.at(40, 56), kBlackPx);
    int outside = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            if (before.at(x, y) == after.at(x, y))
                continue;
            bool covered = false;
            for (const IRect& r : host.invalidations)
                covered = covered || (x >= r.left && x < r.right && y >= r.top && y < r.bottom);
            outside += !covered;
        }
    EXPECT_EQ(outside, 0);
}
