// The rasteriser and pixel arithmetic, checked against exact arithmetic and
// against the scalar reference kernels.
#include "raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

using namespace refplayer::engine;
using refplayer::IRect;

namespace {

std::vector<uint8_t> Coverage(const Rasterizer& r, const IRect& clip, FillRule rule = FillRule::NonZero)
{
    return r.coverage(clip, rule);
}

uint8_t At(const std::vector<uint8_t>& cov, const IRect& clip, int x, int y)
{
    return cov[static_cast<size_t>(y - clip.top) * (clip.right - clip.left) + (x - clip.left)];
}

void AddRect(Rasterizer& r, double x0, double y0, double x1, double y1, bool reversed = false)
{
    Point p[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    if (reversed)
        std::swap(p[1], p[3]);
    r.addPolygon(p, 4);
}

// A premultiplied pixel: no colour channel above alpha.
uint32_t RandomPremultiplied(std::mt19937& rng)
{
    uint32_t a = rng() % 256;
    auto ch = [&] { return a ? rng() % (a + 1) : 0; };
    return a << 24 | ch() << 16 | ch() << 8 | ch();
}

}  // namespace

TEST(PixelArithmetic, Div255RoundsToNearestOverTheWholeProductRange)
{
    for (uint32_t x = 0; x <= 255 * 255; ++x)
        ASSERT_EQ(div255(x), (2 * x + 255) / 510) << x;
}

TEST(PixelArithmetic, SourceOverFollowsTheRoundedFormulaPerChannel)
{
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        uint32_t s = RandomPremultiplied(rng), d = RandomPremultiplied(rng);
        uint32_t out = blendOver(s, d);
        uint32_t sa = s >> 24;
        for (int shift = 0; shift < 32; shift += 8) {
            double expect = ((s >> shift) & 0xFF) + std::floor(((d >> shift) & 0xFF) * (255.0 - sa) / 255.0 + 0.5);
            ASSERT_EQ((out >> shift) & 0xFF, static_cast<uint32_t>(expect)) << std::hex << s << " over " << d;
        }
    }
    EXPECT_EQ(blendOver(0xFF102030u, 0x80808080u), 0xFF102030u);  // opaque source replaces
    EXPECT_EQ(blendOver(0, 0x80402010u), 0x80402010u);            // nothing leaves the destination
}

TEST(PixelArithmetic, OptimisedSpansMatchTheScalarReference)
{
    std::mt19937 rng(11);
    const int n = 4096;
    std::vector<uint32_t> src(n), dst(n);
    std::vector<uint8_t> cov(n);
    for (int i = 0; i < n; ++i) {
        src[i] = RandomPremultiplied(rng);
        dst[i] = RandomPremultiplied(rng);
        uint32_t pick = rng() % 4;
        cov[i] = pick == 0 ? 0 : pick == 1 ? 255 : static_cast<uint8_t>(rng());
    }
    // Edge values of alpha appear on purpose.
    src[0] = 0;
    src[1] = 0xFF000000u;
    src[2] = 0xFFFFFFFFu;
    auto a = dst, b = dst;
    compositeSpan(a.data(), src.data(), n);
    compositeSpanScalar(b.data(), src.data(), n);
    EXPECT_EQ(a, b);

    for (uint32_t color : {0xFFFF8000u, 0x80402000u, 0x01010000u, 0x00000000u, RandomPremultiplied(rng)}) {
        auto c = dst, d = dst;
        blendSolidSpan(c.data(), cov.data(), n, color);
        blendSolidSpanScalar(d.data(), cov.data(), n, color);
        EXPECT_EQ(c, d) << std::hex << color;
    }
}

TEST(Rasterizer, PixelAlignedRectangleIsFullInsideAndEmptyOutside)
{
    Rasterizer r;
    AddRect(r, 2, 3, 7, 9);
    IRect clip{0, 0, 10, 12};
    auto cov = Coverage(r, clip);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 10; ++x) {
            bool inside = x >= 2 && x < 7 && y >= 3 && y < 9;
            ASSERT_EQ(At(cov, clip, x, y), inside ? 255 : 0) << x << "," << y;
        }
}

TEST(Rasterizer, EdgesBetweenPixelsGiveProportionalCoverage)
{
    Rasterizer r;
    AddRect(r, 2.5, 3.25, 7.5, 9);
    IRect clip{0, 0, 10, 12};
    auto cov = Coverage(r, clip);
    EXPECT_EQ(At(cov, clip, 4, 5), 255);
    EXPECT_NEAR(At(cov, clip, 2, 5), 128, 1);          // half a column
    EXPECT_NEAR(At(cov, clip, 7, 5), 128, 1);
    EXPECT_NEAR(At(cov, clip, 4, 3), 191, 1);          // three quarters of a row
    EXPECT_NEAR(At(cov, clip, 2, 3), 96, 1);           // both
    EXPECT_EQ(At(cov, clip, 1, 5), 0);
    EXPECT_EQ(At(cov, clip, 8, 5), 0);
    EXPECT_EQ(At(cov, clip, 4, 2), 0);
    EXPECT_EQ(At(cov, clip, 4, 9), 0);
}

TEST(Rasterizer, CoverageOfASlantedTriangleAddsUpToItsArea)
{
    Rasterizer r;
    Point tri[3] = {{1.3, 0.7}, {17.9, 4.2}, {6.1, 15.6}};
    r.addPolygon(tri, 3);
    IRect clip{0, 0, 20, 20};
    auto cov = Coverage(r, clip);
    double sum = 0;
    for (uint8_t c : cov)
        sum += c / 255.0;
    double area = std::fabs((tri[1].x - tri[0].x) * (tri[2].y - tri[0].y) - (tri[2].x - tri[0].x) * (tri[1].y - tri[0].y)) / 2;
    EXPECT_NEAR(sum, area, area * 0.01);
}

TEST(Rasterizer, FillRulesDifferOnlyWhereWindingExceedsOne)
{
    IRect clip{0, 0, 20, 10};
    // Two overlapping squares turning the same way: the overlap winds twice.
    Rasterizer same;
    AddRect(same, 0, 0, 10, 10);
    AddRect(same, 5, 0, 15, 10);
    auto nonZero = Coverage(same, clip, FillRule::NonZero);
    auto evenOdd = Coverage(same, clip, FillRule::EvenOdd);
    EXPECT_EQ(At(nonZero, clip, 7, 5), 255);
    EXPECT_EQ(At(evenOdd, clip, 7, 5), 0);
    EXPECT_EQ(At(evenOdd, clip, 2, 5), 255);
    EXPECT_EQ(At(evenOdd, clip, 12, 5), 255);

    // A square with a hole turning the other way is a hole under both rules.
    Rasterizer hole;
    AddRect(hole, 0, 0, 10, 10);
    AddRect(hole, 3, 3, 7, 7, true);
    for (FillRule rule : {FillRule::NonZero, FillRule::EvenOdd}) {
        auto cov = Coverage(hole, clip, rule);
        EXPECT_EQ(At(cov, clip, 5, 5), 0);
        EXPECT_EQ(At(cov, clip, 1, 5), 255);
    }
}

TEST(Rasterizer, ShapesReachingPastTheClipKeepTheirWindingInside)
{
    Rasterizer r;
    AddRect(r, -1000, -50, 5, 1000);
    IRect clip{0, 0, 10, 4};
    auto cov = Coverage(r, clip);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(At(cov, clip, x, y), x < 5 ? 255 : 0) << x << "," << y;

    // Nothing outside the clip is written, even with far-off geometry.
    std::vector<uint32_t> px(12 * 6, 0x12345678u);
    Canvas canvas{px.data(), 12, IRect{0, 0, 12, 6}};
    r.fill(canvas, IRect{2, 1, 4, 3}, FillRule::NonZero, Paint{0xFF0000FFu});
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 12; ++x) {
            bool inClip = x >= 2 && x < 4 && y >= 1 && y < 3;
            EXPECT_EQ(px[y * 12 + x], inClip ? 0xFF0000FFu : 0x12345678u) << x << "," << y;
        }
}

TEST(Rasterizer, FlattenedCirclesStayWithinTolerance)
{
    // Eight quadratic arcs, as drawing tools write circles.
    const double cx = 20, cy = 20, radius = 15;
    Rasterizer r;
    const int n = 8;
    const double step = 2 * std::numbers::pi / n;
    for (int i = 0; i < n; ++i) {
        double a0 = i * step, a1 = (i + 1) * step, am = (a0 + a1) / 2;
        double k = radius / std::cos(step / 2);
        r.addQuad({cx + radius * std::cos(a0), cy + radius * std::sin(a0)}, {cx + k * std::cos(am), cy + k * std::sin(am)},
                  {cx + radius * std::cos(a1), cy + radius * std::sin(a1)});
    }
    IRect clip{0, 0, 40, 40};
    auto cov = Coverage(r, clip);
    double sum = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            uint8_t c = At(cov, clip, x, y);
            sum += c / 255.0;
            double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            if (d < radius - 1.5) {
                ASSERT_EQ(c, 255) << x << "," << y;
            }
            if (d > radius + 1.5) {
                ASSERT_EQ(c, 0) << x << "," << y;
            }
        }
    // Quadratic arcs bulge a little beyond the true circle.
    EXPECT_NEAR(sum, std::numbers::pi * radius * radius, 10);
    EXPECT_TRUE(r.contains({cx, cy}, FillRule::NonZero));
    EXPECT_FALSE(r.contains({cx + radius + 2, cy}, FillRule::NonZero));
}

TEST(Rasterizer, NonFiniteGeometryIsDropped)
{
    Rasterizer r;
    r.addLine({0, 0}, {std::nan(""), 5});
    r.addQuad({0, 0}, {INFINITY, 1}, {3, 3});
    EXPECT_EQ(r.edgeCount(), 0u);
    r.setEdgeLimit(2);
    AddRect(r, 0, 0, 4, 4);
    EXPECT_EQ(r.edgeCount(), 2u);
}
