#include "kv_pixels.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

std::vector<uint32_t> Sequence(int n)
{
    std::vector<uint32_t> v(n);
    std::iota(v.begin(), v.end(), 0x100u);
    return v;
}

TEST(MoveLongword, CopiesWordsAndHandlesOverlapLikeAMemoryMove)
{
    auto src = Sequence(8);
    std::vector<uint32_t> dst(8, 0);
    MoveLongword(src.data(), dst.data(), 5);
    EXPECT_EQ(dst[4], 0x104u);
    EXPECT_EQ(dst[5], 0u);

    auto v = Sequence(8);
    MoveLongword(v.data(), v.data() + 2, 6);  // forward overlap
    EXPECT_EQ(v[2], 0x100u);
    EXPECT_EQ(v[7], 0x105u);
    auto w = Sequence(8);
    MoveLongword(w.data() + 2, w.data(), 6);  // backward overlap
    EXPECT_EQ(w[0], 0x102u);
    EXPECT_EQ(w[5], 0x107u);

    MoveLongword(src.data(), dst.data(), -1);  // nothing
}

TEST(FillLongword, StoresCountWordsAndNothingForZeroOrLess)
{
    std::vector<uint32_t> v(4, 7);
    FillLongword(v.data(), 3, 0xFF112233u);
    EXPECT_EQ(v, (std::vector<uint32_t>{0xFF112233u, 0xFF112233u, 0xFF112233u, 7}));
    FillLongword(v.data(), 0, 1);
    FillLongword(v.data(), -4, 1);
    EXPECT_EQ(v[0], 0xFF112233u);
}

// Counts the words of a W x H buffer that hold `value`, and checks that they
// form exactly the expected rectangle.
void ExpectFilled(const std::vector<uint32_t>& buf, int w, int h, int x1, int y1, int x2, int y2)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool inside = x >= x1 && x < x2 && y >= y1 && y < y2;
            EXPECT_EQ(buf[y * w + x], inside ? 0xABCDEF01u : 0u) << "pixel " << x << "," << y;
        }
}

TEST(FillLongwordRect, FillsOnlyInsideTheBufferAndTheRectangle)
{
    const int w = 6, h = 4;
    std::vector<uint32_t> buf(w * h + 4, 0);  // guard words after the buffer
    FillLongwordRect(buf.data(), w, h, 1, 1, 3, 3, 0xABCDEF01u);
    ExpectFilled(buf, w, h, 1, 1, 3, 3);

    std::fill(buf.begin(), buf.end(), 0);
    FillLongwordRect(buf.data(), w, h, 4, 2, 100, 3, 0xABCDEF01u);  // X2 beyond W: up to W only
    ExpectFilled(buf, w, h, 4, 2, 6, 3);

    std::fill(buf.begin(), buf.end(), 0);
    FillLongwordRect(buf.data(), w, h, 0, 2, 2, 50, 0xABCDEF01u);  // Y2 beyond H: rows up to H only
    ExpectFilled(buf, w, h, 0, 2, 2, 4);
    for (int i = w * h; i < w * h + 4; ++i)
        EXPECT_EQ(buf[i], 0u) << "guard word " << i;

    std::fill(buf.begin(), buf.end(), 0);
    FillLongwordRect(buf.data(), w, h, 2, 2, 5, 2, 0xABCDEF01u);  // Y1 = Y2
    FillLongwordRect(buf.data(), w, h, 3, 0, 3, 4, 0xABCDEF01u);  // X1 = X2
    FillLongwordRect(buf.data(), w, h, 1, 3, 4, 1, 0xABCDEF01u);  // Y1 > Y2
    ExpectFilled(buf, w, h, 0, 0, 0, 0);
}

TEST(FillLongwordRect, NegativeOriginIsClippedInsteadOfWritingBeforeTheBuffer)
{
    const int w = 4, h = 3;
    std::vector<uint32_t> buf(4 + w * h, 0);
    uint32_t* pixels = buf.data() + 4;  // guard words before the buffer
    FillLongwordRect(pixels, w, h, -2, -1, 2, 2, 0xABCDEF01u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(buf[i], 0u);
    std::vector<uint32_t> view(pixels, pixels + w * h);
    ExpectFilled(view, w, h, 0, 0, 2, 2);
}

TEST(ColorToARGB, SwapsRedAndBlueAndMakesOpaque)
{
    EXPECT_EQ(ColorToARGB(0x00000000u), 0xFF000000u);
    EXPECT_EQ(ColorToARGB(0x000000FFu), 0xFFFF0000u);  // framework red
    EXPECT_EQ(ColorToARGB(0x00FF0000u), 0xFF0000FFu);  // framework blue
    EXPECT_EQ(ColorToARGB(0x00336699u), 0xFF996633u);
}

}  // namespace
