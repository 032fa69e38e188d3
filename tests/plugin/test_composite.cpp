// The compositing arithmetic every painted pixel goes through.
#include <gtest/gtest.h>

#include <cmath>

#include "composite.h"

using refplugin::div255;
using refplugin::sourceOver;

namespace {

TEST(Composite, Div255RoundsExactlyOverItsWholeRange)
{
    for (uint32_t v = 0; v <= 255u * 255u; ++v)
        ASSERT_EQ(div255(v), static_cast<uint32_t>(std::lround(v / 255.0))) << v;
}

TEST(Composite, SourceOverMatchesTheFormulaForEveryAlphaAndChannel)
{
    // A premultiplied source channel never exceeds its alpha.
    for (uint32_t a = 0; a <= 255; ++a) {
        for (uint32_t d = 0; d <= 255; d += 5) {
            uint32_t s = a / 2;
            uint32_t src = (a << 24) | (s << 16) | (a << 8) | 0;
            uint32_t dst = (d << 24) | (d << 16) | ((255 - d) << 8) | d;
            uint32_t out = sourceOver(src, dst);
            auto expect = [&](uint32_t sc, uint32_t dc) {
                return sc + static_cast<uint32_t>(std::lround(dc * (255 - a) / 255.0));
            };
            ASSERT_EQ(out >> 24, expect(a, d)) << "a=" << a << " d=" << d;
            ASSERT_EQ((out >> 16) & 0xFF, expect(s, d));
            ASSERT_EQ((out >> 8) & 0xFF, expect(a, 255 - d));
            ASSERT_EQ(out & 0xFF, expect(0, d));
        }
    }
}

TEST(Composite, SourceOverOpaqueReplacesClearKeepsOverflowSaturates)
{
    EXPECT_EQ(sourceOver(0xFF123456u, 0x80ABCDEFu), 0xFF123456u);
    EXPECT_EQ(sourceOver(0x00000000u, 0x80ABCDEFu), 0x80ABCDEFu);
    // Not premultiplied (colour above alpha): saturates instead of wrapping.
    EXPECT_EQ(sourceOver(0x80FF0000u, 0xFFFF0000u) & 0x00FF0000u, 0x00FF0000u);

    uint32_t row[3] = {0xFF0000FFu, 0xFF0000FFu, 0xFF0000FFu};
    const uint32_t src[3] = {0x00000000u, 0x80008000u, 0xFFFF0000u};
    refplugin::sourceOverRow(row, src, 3);
    EXPECT_EQ(row[0], 0xFF0000FFu);
    EXPECT_EQ(row[1], 0xFF00807Fu);
    EXPECT_EQ(row[2], 0xFFFF0000u);
}

}  // namespace
