// Gradient spread modes (pad, reflect, repeat) and linear-RGB interpolation,
// through movies the writer makes and one DefineShape4 laid out bit by bit.
#include "engine_test_support.h"
#include "gradient.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace enginetest;
namespace eng = refplayer::engine;

namespace {

const sw::Rgba kBlackC{0, 0, 0, 255}, kWhiteC{255, 255, 255, 255};

int greyOf(uint32_t p) { return int(p & 0xFF); }

// A 100 x 10 px DefineShape4 rectangle filled black to white by a linear
// gradient whose square spans x = 0..`spanPx`.
std::vector<uint8_t> rampMovie(double spanPx, uint8_t spread, uint8_t interpolation)
{
    auto m = movie(100, 10);
    sw::ShapeBuilder s(4);
    sw::GradientFill g;
    g.matrix = sw::Matrix::make(spanPx * 20 / 32768, 1, 0, sw::pxToTwips(spanPx / 2), 0);
    g.stops = {{0, kBlackC}, {255, kWhiteC}};
    g.spread = spread;
    g.interpolation = interpolation;
    s.rectangle(0, 0, 2000, 200, s.addFill(g), 0);
    m.place(placeAt(m.defineShape(s), 1)).showFrame();
    return m.build();
}

// The grey a stored-mode black-to-white ramp gives at gradient position t.
int expectedGrey(double t, uint8_t spread)
{
    return static_cast<int>(std::min(eng::spreadPosition(t, spread) * 255 + 0.5, 255.0));
}

}  // namespace

TEST(Gradients, SpreadModesPadReflectAndRepeatBeyondTheSquare)
{
    EXPECT_EQ(eng::spreadPosition(-0.25, 0), 0.0);
    EXPECT_EQ(eng::spreadPosition(1.25, 0), 1.0);
    EXPECT_DOUBLE_EQ(eng::spreadPosition(1.25, 1), 0.75);
    EXPECT_DOUBLE_EQ(eng::spreadPosition(-0.25, 1), 0.25);
    EXPECT_DOUBLE_EQ(eng::spreadPosition(2.25, 1), 0.25);
    EXPECT_DOUBLE_EQ(eng::spreadPosition(1.25, 2), 0.25);
    EXPECT_DOUBLE_EQ(eng::spreadPosition(-0.25, 2), 0.75);
    EXPECT_EQ(eng::spreadPosition(NAN, 1), 0.0);

    for (uint8_t spread : {0, 1, 2}) {
        SCOPED_TRACE(int(spread));
        RecordingHost host;
        Player p(host);
        load(p, rampMovie(20, spread, 0), 100, 10);
        View v = render(p, 100, 10);
        for (int x : {5, 15, 25, 30, 45, 62, 99}) {
            const double t = (x + 0.5) / 20;
            EXPECT_NEAR(greyOf(v.at(x, 5)), expectedGrey(t, spread), 1) << x;
        }
    }
}

TEST(Gradients, LinearRgbMixesInLinearLight)
{
    RecordingHost host;
    Player p(host);
    load(p, rampMovie(100, 0, 0), 100, 10);
    const int stored = greyOf(render(p, 100, 10).at(50, 5));
    load(p, rampMovie(100, 0, 1), 100, 10);
    View v = render(p, 100, 10);
    // Position 0.505: index 129 of 255 as stored; in linear light each index
    // is that fraction of the light, shown through the sRGB curve (half the
    // light is about 188).
    EXPECT_NEAR(stored, 129, 1);
    auto srgb = [](double light) {
        return light <= 0.0031308 ? light * 12.92 : 1.055 * std::pow(light, 1 / 2.4) - 0.055;
    };
    for (int x : {0, 10, 50, 75, 99}) {
        const int index = static_cast<int>((x + 0.5) / 100 * 255 + 0.5);
        EXPECT_NEAR(greyOf(v.at(x, 5)), std::lround(srgb(index / 255.0) * 255), 1) << x;
    }
    EXPECT_NEAR(greyOf(v.at(50, 5)), 188, 1);
}

TEST(Gradients, DefineShape4GradientLaidOutByHandReflects)
{
    // DefineShape4: id, shape and edge bounds (0..2000 x 0..200 twips), flags,
    // one linear fill: matrix with scale 0x320/65536 (the square spans 20 px)
    // and translate (200, 0), gradient byte 0x42 (reflect, stored colours, two
    // stops), black at 0, white at 255; no lines; then a rectangle.
    auto m = movie(100, 10);
    const uint16_t id = m.allocateId();
    Bits b;
    b.u16(id);
    for (int i = 0; i < 2; ++i) {
        b.ub(13, 5);
        b.sb(0, 13); b.sb(2000, 13); b.sb(0, 13); b.sb(200, 13);
        b.align();
    }
    b.u8(0);     // flags
    b.u8(1);     // one fill
    b.u8(0x10);  // linear
    b.ub(1, 1); b.ub(18, 5); b.sb(0x320, 18); b.sb(0x10000, 18);  // scale x, scale y
    b.ub(0, 1);                                                   // no rotation
    b.ub(9, 5); b.sb(200, 9); b.sb(0, 9);                         // translate
    b.u8(0x42);
    b.u8(0); b.rgba(kBlackC);
    b.u8(255); b.rgba(kWhiteC);
    b.u8(0);  // no lines
    b.ub(1, 4); b.ub(0, 4);  // index widths
    // Move to (0, 0) with fill 1, then right, down, left, up.
    b.ub(0, 1); b.ub(0, 1); b.ub(0, 1); b.ub(1, 1); b.ub(0, 1); b.ub(1, 1);
    b.ub(1, 5); b.sb(0, 1); b.sb(0, 1);
    b.ub(1, 1);
    b.ub(1, 1); b.ub(1, 1); b.ub(11, 4); b.ub(0, 1); b.ub(0, 1); b.sb(2000, 13);
    b.ub(1, 1); b.ub(1, 1); b.ub(11, 4); b.ub(0, 1); b.ub(1, 1); b.sb(200, 13);
    b.ub(1, 1); b.ub(1, 1); b.ub(11, 4); b.ub(0, 1); b.ub(0, 1); b.sb(-2000, 13);
    b.ub(1, 1); b.ub(1, 1); b.ub(11, 4); b.ub(0, 1); b.ub(1, 1); b.sb(-200, 13);
    b.ub(0, 6);
    b.align();
    m.rawTag(83, b.out, true);
    m.place(placeAt(id, 1)).showFrame();
    auto loaded = eng::parseMovie(m.build());
    ASSERT_TRUE(loaded.movie) << loaded.error;
    const auto& fill = static_cast<const eng::ShapeDef*>(loaded.movie->character(id))->groups[0].fills[0];
    EXPECT_EQ(fill.spread, 1);
    EXPECT_FALSE(fill.linearRgb);

    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 10);
    View v = render(p, 100, 10);
    for (int x : {5, 25, 35, 50, 77})
        EXPECT_NEAR(greyOf(v.at(x, 5)), expectedGrey((x + 0.5) / 20, 1), 1) << x;
}
