// What the player draws: pixels of shapes, curves, holes, strokes and colour
// transforms, the stage scaled into the view, transparency and clipping.
// Expected pixels are computed here from the compositing rule, independently
// of the engine's own arithmetic.
#include "engine_test_support.h"
#include "media/screen_video.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace enginetest;

namespace {

uint8_t Ch(uint32_t p, int shift) { return static_cast<uint8_t>(p >> shift); }

// Straight colour `c` with coverage `cov` (0..1) composited source-over onto premultiplied `dst`.
uint32_t Over(sw::Rgba c, double cov, uint32_t dst)
{
    double a = c.a / 255.0 * cov;
    auto ch = [&](double src, int shift) {
        double v = src * a + Ch(dst, shift) * (1 - a);
        return static_cast<uint32_t>(std::lround(v));
    };
    return ch(255, 24) << 24 | ch(c.r, 16) << 16 | ch(c.g, 8) << 8 | ch(c.b, 0);
}

// Every channel within `tolerance` of the expectation.
::testing::AssertionResult Near(uint32_t actual, uint32_t expected, int tolerance = 1)
{
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(int(Ch(actual, shift)) - int(Ch(expected, shift))) > tolerance)
            return ::testing::AssertionFailure() << std::hex << "0x" << actual << " is not near 0x" << expected;
    return ::testing::AssertionSuccess();
}

constexpr uint32_t kWhite = 0xFFFFFFFFu;

}  // namespace

TEST(Render, TranslucentShapeLandsOnItsPixelsWithAntialiasedEdges)
{
    auto m = movie(100, 100);
    const sw::Rgba color{200, 100, 50, 128};
    m.place(placeAt(defineRect(m, 10.5, 20, 30, 10, color), 1)).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 100, 100);
    View v = render(player, 100, 100);

    const uint32_t inside = Over(color, 1, kWhite);
    EXPECT_TRUE(Near(v.at(20, 25), inside, 0));  // exact inside
    EXPECT_TRUE(Near(v.at(11, 20), inside, 0));
    EXPECT_TRUE(Near(v.at(39, 29), inside, 0));
    EXPECT_TRUE(Near(v.at(10, 25), Over(color, 0.5, kWhite)));  // half-covered columns
    EXPECT_TRUE(Near(v.at(40, 25), Over(color, 0.5, kWhite)));
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            bool touched = x >= 10 && x <= 40 && y >= 20 && y < 30;
            if (!touched) {
                ASSERT_EQ(v.at(x, y), kWhite) << x << "," << y;
            }
        }
}

TEST(Render, StageIsScaledToTheViewKeepingItsAspectAndCentred)
{
    auto m = movie(100, 50);
    m.setBackgroundColor(sw::Rgba::rgb(0x204060));
    m.place(placeAt(defineRect(m, 0, 0, 10, 10, sw::Rgba::rgb(0xFF0000)), 1)).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 300, 300);  // scale 3, 75 pixels above and below
    EXPECT_EQ(player.stageWidthPx(), 100);
    EXPECT_EQ(player.backgroundColor(), 0xFF204060u);
    View v = render(player, 300, 300);
    EXPECT_EQ(v.at(0, 75), 0xFFFF0000u);
    EXPECT_EQ(v.at(29, 104), 0xFFFF0000u);
    EXPECT_EQ(v.at(30, 90), 0xFF204060u);
    EXPECT_EQ(v.at(15, 105), 0xFF204060u);
    // The whole view shows the background, the bands beside the stage too.
    EXPECT_EQ(v.at(15, 74), 0xFF204060u);
    EXPECT_EQ(v.at(299, 299), 0xFF204060u);
}

TEST(Render, TransparentViewLeavesTheBackgroundOutAndBlendsOverTheTarget)
{
    auto m = movie(50, 50);
    const sw::Rgba color{0, 255, 0, 64};
    m.place(placeAt(defineRect(m, 10, 10, 10, 10, color), 1)).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 50, 50);
    player.setTransparent(true);
    const uint32_t blue = 0xFF0000FFu;
    View v = render(player, 50, 50, blue);
    EXPECT_EQ(v.at(0, 0), blue);
    EXPECT_TRUE(Near(v.at(15, 15), Over(color, 1, blue), 0));
    // Over an empty target the pixels are the shape's own premultiplied ones.
    View clear = render(player, 50, 50, 0);
    EXPECT_EQ(clear.at(0, 0), 0u);
    EXPECT_EQ(clear.at(15, 15), (64u << 24) | (64u << 8));
}

TEST(Render, OnlyPixelsInsideTheClipChange)
{
    auto m = movie(40, 40);
    m.place(placeAt(defineRect(m, 0, 0, 40, 40, sw::Rgba::rgb(0x00FF00)), 1)).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 40, 40);
    const uint32_t mark = 0x11223344u;
    View v = render(player, 40, 40, mark, IRect{5, 6, 12, 30});
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            bool in = x >= 5 && x < 12 && y >= 6 && y < 30;
            ASSERT_EQ(v.at(x, y), in ? 0xFF00FF00u : mark) << x << "," << y;
        }
}

TEST(Render, CurvedEdgesFillTheCircleTheyDescribe)
{
    auto m = movie(100, 100);
    sw::ShapeBuilder s(3);
    uint32_t f = s.addFill(sw::Rgba::rgb(0x0000FF));
    s.ellipse(sw::pxToTwips(50), sw::pxToTwips(50), sw::pxToTwips(20), sw::pxToTwips(20), f, 0);
    m.place(placeAt(m.defineShape(s), 1)).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 100, 100);
    View v = render(player, 100, 100);
    int partial = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            double d = std::hypot(x + 0.5 - 50, y + 0.5 - 50);
            uint32_t p = v.at(x, y);
            if (d < 18.5) {
                ASSERT_EQ(p, 0xFF0000FFu) << x << "," << y;
            } else if (d > 21.5) {
                ASSERT_EQ(p, kWhite) << x << "," << y;
            } else if (p != kWhite && p != 0xFF0000FFu) {
                ++partial;
            }
        }
    EXPECT_GT(partial, 60);  // an anti-aliased rim all round
}

TEST(Render, EdgeFillSidesMakeHolesAndSharedBorders)
{
    auto m = movie(100, 100);
    // A square ring: the inner sub-path turns the other way and leaves a hole.
    sw::ShapeBuilder ring(3);
    uint32_t red = ring.addFill(sw::Rgba::rgb(0xFF0000));
    sw::Path p;
    p.moveTo(0, 0).lineTo(1000, 0).lineTo(1000, 1000).lineTo(0, 1000).close();
    p.moveTo(300, 300).lineTo(300, 700).lineTo(700, 700).lineTo(700, 300).close();
    ring.addPath(p, red, 0);
    m.place(placeAt(m.defineShape(ring), 1));

    // Two fills meeting on one edge: green to its right (fill 1), blue to its left (fill 0).
    sw::ShapeBuilder split(3);
    uint32_t green = split.addFill(sw::Rgba::rgb(0x00FF00));
    uint32_t blue = split.addFill(sw::Rgba::rgb(0x0000FF));
    split.moveTo(1600, 0).setFill1(green).setFill0(blue).lineTo(1600, 1000);  // going down: right is west
    split.setFill1(0).setFill0(blue).lineTo(2000, 1000).lineTo(2000, 0).lineTo(1600, 0);
    split.moveTo(1600, 1000).setFill1(green).setFill0(0).lineTo(1200, 1000).lineTo(1200, 0).lineTo(1600, 0);
    m.place(placeAt(m.defineShape(split), 2)).showFrame();

    RecordingHost host;
    Player player(host);
    load(player, m.build(), 100, 100);
    View v = render(player, 100, 100);
    EXPECT_EQ(v.at(5, 5), 0xFFFF0000u);
    EXPECT_EQ(v.at(25, 25), kWhite);  // the hole
    EXPECT_EQ(v.at(34, 34), kWhite);
    EXPECT_EQ(v.at(36, 25), 0xFFFF0000u);
    EXPECT_EQ(v.at(65, 25), 0xFF00FF00u);  // west of the shared edge
    EXPECT_EQ(v.at(85, 25), 0xFF0000FFu);  // east of it
    EXPECT_EQ(v.at(79, 25), 0xFF00FF00u);
    EXPECT_EQ(v.at(80, 25), 0xFF0000FFu);
}

TEST(Render, ColourTransformsScaleAndOffsetChannelsAndCompose)
{
    auto m = movie(60, 20);
    uint16_t shape = defineRect(m, 0, 0, 10, 10, sw::Rgba{200, 100, 40, 255});
    sw::PlaceObject direct = placeAt(shape, 1);
    sw::CxForm cx;
    cx.multR = 128;  // 0.5
    cx.multB = 0;
    cx.addG = -50;
    cx.addB = 100;
    cx.multA = 128;
    direct.colorTransform = cx;
    m.place(direct);

    // A sprite with its own transform around a transformed shape: both apply.
    sw::Timeline inner;
    sw::PlaceObject innerPlace = placeAt(shape, 1);
    sw::CxForm half;
    half.multG = 128;
    innerPlace.colorTransform = half;
    inner.place(innerPlace).showFrame();
    uint16_t sprite = m.defineSprite(inner);
    sw::PlaceObject outer = placeAt(sprite, 2, 20, 0);
    sw::CxForm shift;
    shift.addR = 55;
    shift.addB = -40;
    outer.colorTransform = shift;
    m.place(outer).showFrame();

    RecordingHost host;
    Player player(host);
    load(player, m.build(), 60, 20);
    View v = render(player, 60, 20);
    // r = 200*0.5, g = 100 - 50, b = 40*0 + 100, a = 255*0.5 (floored)
    EXPECT_TRUE(Near(v.at(5, 5), Over(sw::Rgba{100, 50, 100, 127}, 1, kWhite), 0));
    // g halved inside; r raised past 255 and clamped, b lowered to 0 outside.
    EXPECT_TRUE(Near(v.at(25, 5), Over(sw::Rgba{255, 50, 0, 255}, 1, kWhite), 0));
}

TEST(Render, OutlinesAreDrawnAsSolidStrokesOfTheirWidth)
{
    auto m = movie(50, 50);
    sw::ShapeBuilder s(3);
    uint32_t fill = s.addFill(sw::Rgba::rgb(0xFFFF00));
    uint32_t line = s.addLine(80, sw::Rgba::rgb(0x000000));  // 4 pixels
    s.rectangle(200, 200, 600, 600, fill, line);
    m.place(placeAt(m.defineShape(s), 1)).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 50, 50);
    View v = render(player, 50, 50);
    EXPECT_EQ(v.at(25, 25), 0xFFFFFF00u);    // fill
    EXPECT_EQ(v.at(10, 25), 0xFF000000u);    // on the left edge (x = 10)
    EXPECT_EQ(v.at(8, 25), 0xFF000000u);     // within half the width outside
    EXPECT_EQ(v.at(11, 25), 0xFF000000u);    // and inside
    EXPECT_EQ(v.at(25, 39), 0xFF000000u);    // bottom edge
    EXPECT_EQ(v.at(5, 25), kWhite);
    EXPECT_EQ(v.at(14, 25), 0xFFFFFF00u);
}

TEST(Render, MatricesRotateScaleAndMoveShapes)
{
    auto m = movie(100, 100);
    uint16_t bar = defineRect(m, 0, 0, 20, 5, sw::Rgba::rgb(0xFF00FF));
    sw::PlaceObject p = placeAt(bar, 1);
    p.matrix = sw::Matrix::make(2, 1, 90, sw::pxToTwips(50), sw::pxToTwips(10));  // 40 x 5, turned to stand upright
    m.place(p).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 100, 100);
    View v = render(player, 100, 100);
    // Rotated clockwise about its origin at (50, 10): x from 45 to 50, y from 10 to 50.
    EXPECT_EQ(v.at(47, 30), 0xFFFF00FFu);
    EXPECT_EQ(v.at(47, 49), 0xFFFF00FFu);
    EXPECT_EQ(v.at(52, 30), kWhite);
    EXPECT_EQ(v.at(47, 52), kWhite);
    EXPECT_EQ(v.at(60, 12), kWhite);  // where it would be unrotated
}

TEST(Render, EmbeddedScreenVideoShowsTheFrameItsPlacementNames)
{
    refplayer::media::VideoImage red{16, 8, std::vector<uint32_t>(16 * 8, 0xFFFF0000u)};
    refplayer::media::VideoImage half = red;
    for (int i = 0; i < 16 * 4; ++i)
        half.pixels[i] = 0xFF00FF00u;  // the top half turns green
    refplayer::media::ScreenVideoEncoder encoder(refplayer::media::ScreenVideoEncoderOptions{.blockWidth = 16, .blockHeight = 16});
    auto key = encoder.encode(red, true);
    auto inter = encoder.encode(half, false);

    auto m = movie(64, 32);
    uint16_t video = m.defineVideoStream(sw::VideoStream{.numFrames = 2, .width = 16, .height = 8, .codec = 3});
    uint16_t other = m.defineVideoStream(sw::VideoStream{.numFrames = 1, .width = 16, .height = 8, .codec = 4});
    sw::PlaceObject p = placeAt(video, 1);
    p.matrix = sw::Matrix::make(2, 2, 0, 0, 0);  // shown at twice its size
    p.ratio = 0;
    m.videoFrame(video, 0, key).place(p).place(placeAt(other, 2, 40, 0)).showFrame();
    sw::PlaceObject next;
    next.depth = 1;
    next.move = true;
    next.ratio = 1;
    m.videoFrame(video, 1, inter).place(next).showFrame();

    RecordingHost host;
    Player player(host);
    load(player, m.build(), 64, 32);
    View v = render(player, 64, 32);
    EXPECT_EQ(v.at(2, 2), 0xFFFF0000u);
    EXPECT_EQ(v.at(31, 15), 0xFFFF0000u);
    EXPECT_EQ(v.at(33, 2), kWhite);
    EXPECT_EQ(v.at(45, 4), 0xFF202020u);  // a codec the engine cannot decode: placeholder
    player.tick();
    v = render(player, 64, 32);
    EXPECT_EQ(v.at(2, 2), 0xFF00FF00u);
    EXPECT_EQ(v.at(2, 15), 0xFFFF0000u);
    player.tick();  // back to the key frame: decoding starts over
    EXPECT_EQ(render(player, 64, 32).at(2, 2), 0xFFFF0000u);
}

namespace {

// A ring drawn only with a 3 pixel line made of eight curved edges, as
// ShapeBuilder::ellipse writes it: centre (50, 50), radius 30.
std::vector<uint8_t> RingMovie()
{
    auto m = movie(100, 100);
    sw::ShapeBuilder s(3);
    uint32_t line = s.addLine(sw::pxToTwips(3), sw::Rgba::rgb(0x000000));
    s.ellipse(sw::pxToTwips(50), sw::pxToTwips(50), sw::pxToTwips(30), sw::pxToTwips(30), 0, line);
    m.place(placeAt(m.defineShape(s), 1)).showFrame();
    return m.build();
}

}  // namespace

TEST(Render, CurvedOutlineWithoutFillIsStrokedAllRound)
{
    RecordingHost host;
    Player player(host);
    load(player, RingMovie(), 100, 100);
    View v = render(player, 100, 100);
    // Black over white: the red channel is 255 * (1 - coverage).
    auto coverage = [&](double angleDeg, double radius) {
        double a = angleDeg * std::numbers::pi / 180;
        int x = static_cast<int>(std::floor(50 + radius * std::cos(a)));
        int y = static_cast<int>(std::floor(50 + radius * std::sin(a)));
        return 1 - Ch(v.at(x, y), 16) / 255.0;
    };
    // On the line all the way round: right, bottom, left and top included.
    for (int deg = 0; deg < 360; deg += 5)
        EXPECT_GT(coverage(deg, 30), 0.85) << deg << " degrees";
    // Just inside and outside the line's width, and the centre, stay clear.
    for (int deg = 0; deg < 360; deg += 15) {
        EXPECT_EQ(coverage(deg, 26), 0) << deg << " degrees";
        EXPECT_EQ(coverage(deg, 34.5), 0) << deg << " degrees";
    }
    EXPECT_EQ(v.at(50, 50), kWhite);
    EXPECT_EQ(v.at(49, 49), kWhite);
}

TEST(Render, TiledRepaintsOfACurvedOutlineMatchOneFullRender)
{
    RecordingHost host;
    Player player(host);
    load(player, RingMovie(), 100, 100);
    View whole = render(player, 100, 100);
    // Tiles whose borders cut the ring on every side and along its tangents.
    const int cuts[] = {0, 19, 21, 50, 51, 80, 100};
    std::vector<uint32_t> tiled(100 * 100, kWhite);
    refplayer::Surface target{tiled.data(), 100, 100, 100 * 4};
    for (size_t i = 0; i + 1 < std::size(cuts); ++i)
        for (size_t j = 0; j + 1 < std::size(cuts); ++j)
            player.render(target, IRect{cuts[i], cuts[j], cuts[i + 1], cuts[j + 1]});
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(tiled[static_cast<size_t>(y) * 100 + x], whole.at(x, y)) << x << "," << y;
}
