// The PNG encoder: files that a strict reader accepts (signature, IHDR, CRCs,
// zlib stream) holding exactly the pixels given, and the conversion from the
// engine's premultiplied pixels to PNG's straight alpha.
#include "png_writer.h"
#include "reftool_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using namespace reftooltest;
namespace png = refplayer::png;

namespace {

std::vector<uint8_t> Pattern(int width, int height, uint32_t seed)
{
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    uint32_t x = seed;
    for (auto& b : rgba) {
        x = x * 1664525u + 1013904223u;  // noise: deflate cannot shrink it much
        b = static_cast<uint8_t>(x >> 24);
    }
    return rgba;
}

}  // namespace

TEST(PngWriter, WritesFilesThatReadBackExactlySmallAndLarge)
{
    // A tiny picture, and one whose compressed data spans many output buffers.
    for (auto [w, h] : {std::pair{3, 2}, std::pair{1, 1}, std::pair{300, 211}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const std::vector<uint8_t> rgba = Pattern(w, h, static_cast<uint32_t>(w * 7 + h));
        const std::vector<uint8_t> file = png::encodeRgba(w, h, rgba);
        const DecodedPng decoded = decodePng(file);
        EXPECT_EQ(decoded.width, w);
        EXPECT_EQ(decoded.height, h);
        EXPECT_EQ(decoded.chunkTypes, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
        EXPECT_TRUE(decoded.rgba == rgba);
    }
}

TEST(PngWriter, RefusesSizesOutOfRangeAndDataThatDoesNotMatch)
{
    const std::vector<uint8_t> four(16);
    EXPECT_THROW(png::encodeRgba(0, 4, {}), std::invalid_argument);
    EXPECT_THROW(png::encodeRgba(2, -1, four), std::invalid_argument);
    EXPECT_THROW(png::encodeRgba(2, 3, four), std::invalid_argument);  // 24 bytes wanted
    EXPECT_THROW(png::encodeRgba(png::kMaxSide + 1, 1, std::vector<uint8_t>((png::kMaxSide + 1) * 4)),
                 std::invalid_argument);
    EXPECT_THROW(png::encodeRgba(png::kMaxSide, png::kMaxSide, {}), std::invalid_argument);  // over the pixel cap
    EXPECT_NO_THROW(png::encodeRgba(2, 2, four));
}

TEST(PngWriter, StraightAlphaRoundsToNearestAndPremultipliesBackToTheSamePixel)
{
    // Every alpha and every legal premultiplied channel value.
    std::vector<uint32_t> pixels;
    for (uint32_t a = 1; a <= 255; ++a)
        for (uint32_t c = 0; c <= a; ++c)
            pixels.push_back(a << 24 | c << 16 | (a - c) << 8 | c / 2);
    const std::vector<uint8_t> rgba = png::straightRgba(pixels);
    ASSERT_EQ(rgba.size(), pixels.size() * 4);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint32_t a = pixels[i] >> 24;
        const uint32_t channels[3] = {(pixels[i] >> 16) & 0xFF, (pixels[i] >> 8) & 0xFF, pixels[i] & 0xFF};
        ASSERT_EQ(rgba[i * 4 + 3], a);
        for (int k = 0; k < 3; ++k) {
            const long straight = rgba[i * 4 + k];
            ASSERT_EQ(straight, std::lround(channels[k] * 255.0 / a)) << "a=" << a << " c=" << channels[k];
            ASSERT_EQ(std::lround(straight * a / 255.0), long(channels[k])) << "a=" << a << " c=" << channels[k];
        }
    }
    // Fully transparent pixels carry no colour; a malformed channel above its alpha clamps.
    const std::vector<uint8_t> edge = png::straightRgba(std::vector<uint32_t>{0x00FF8040u, 0x10FF0000u});
    EXPECT_EQ(edge, (std::vector<uint8_t>{0, 0, 0, 0, 255, 0, 0, 0x10}));
}
