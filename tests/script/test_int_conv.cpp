// The number-to-integer conversions every part of the reference player uses.
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "int_conv.h"

namespace {

using namespace refplayer::num;

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

TEST(IntConv, LanguageConversions_ZeroForNaNAndInfinities_WrapModulo2To32) {
    struct Case {
        double in;
        uint32_t u32;
        int32_t i32;
        uint16_t u16;
    };
    const Case cases[] = {
        {kNaN, 0, 0, 0},
        {kInf, 0, 0, 0},
        {-kInf, 0, 0, 0},
        {0.0, 0, 0, 0},
        {-0.0, 0, 0, 0},
        {-1, 0xFFFFFFFFu, -1, 0xFFFF},
        {-0.75, 0, 0, 0},            // truncation toward zero, not floor
        {-1.5, 0xFFFFFFFFu, -1, 0xFFFF},
        {2.9, 2, 2, 2},
        {2147483647.0, 0x7FFFFFFFu, 2147483647, 0xFFFF},
        {2147483648.0, 0x80000000u, INT32_MIN, 0},
        {-2147483648.0, 0x80000000u, INT32_MIN, 0},
        {-2147483649.0, 0x7FFFFFFFu, INT32_MAX, 0xFFFF},
        {4294967295.0, 0xFFFFFFFFu, -1, 0xFFFF},
        {4294967296.0, 0, 0, 0},
        {4294967297.5, 1, 1, 1},
        {-4294967297.0, 0xFFFFFFFFu, -1, 0xFFFF},
        {65536.0 + 65, 65536 + 65, 65536 + 65, 65},
        {9007199254740993.0, 0, 0, 0},  // 2^53 + 1 rounds to 2^53 as a double
        {1e300, 0, 0, 0},              // a multiple of 2^32, like every double at or above 2^84
        {-1e300, 0, 0, 0},
        {std::ldexp(1.0, 60) + std::ldexp(1.0, 40) + 7 * std::ldexp(1.0, 8), 7u << 8, 7 << 8, 7u << 8},
        {std::numeric_limits<double>::denorm_min(), 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(toUint32(c.in), c.u32);
        EXPECT_EQ(toInt32(c.in), c.i32);
        EXPECT_EQ(toUint16(c.in), c.u16);
    }

    // ToInteger keeps the magnitude: only NaN changes kind.
    EXPECT_EQ(toInteger(kNaN), 0.0);
    EXPECT_FALSE(std::signbit(toInteger(kNaN)));
    EXPECT_EQ(toInteger(kInf), kInf);
    EXPECT_EQ(toInteger(-kInf), -kInf);
    EXPECT_EQ(toInteger(-2.9), -2.0);
    EXPECT_EQ(toInteger(1e300), 1e300);
    EXPECT_TRUE(std::signbit(toInteger(-0.5)));
}

TEST(IntConv, Clamped_TruncateOrRoundThenStayWithinTheBounds) {
    // Indexes and counts: NaN counts as 0, then the bounds apply.
    EXPECT_EQ(truncClamp<size_t>(kNaN, 0, 10), 0u);
    EXPECT_EQ(truncClamp<int>(kNaN, 3, 10), 3);
    EXPECT_EQ(truncClamp<size_t>(-1, 0, 10), 0u);
    EXPECT_EQ(truncClamp<size_t>(9.99, 0, 10), 9u);
    EXPECT_EQ(truncClamp<size_t>(1e300, 0, 10), 10u);
    EXPECT_EQ(truncClamp<size_t>(kInf, 0, 10), 10u);
    EXPECT_EQ(truncClamp<int>(-kInf, -5, 5), -5);
    EXPECT_EQ(truncClamp<int>(-2.7, -5, 5), -2);

    // The type's own range: the ends are reached exactly and never passed.
    EXPECT_EQ(truncClamp<int32_t>(2147483647.9), INT32_MAX);
    EXPECT_EQ(truncClamp<int32_t>(2147483648.0), INT32_MAX);
    EXPECT_EQ(truncClamp<int32_t>(-2147483648.9), INT32_MIN);
    EXPECT_EQ(truncClamp<int32_t>(-1e300), INT32_MIN);
    EXPECT_EQ(truncClamp<int64_t>(1e300), INT64_MAX);
    EXPECT_EQ(truncClamp<int64_t>(-9223372036854775808.0), INT64_MIN);
    EXPECT_EQ(truncClamp<int64_t>(9223372036854774784.0), 9223372036854774784);  // the largest double below 2^63
    EXPECT_EQ(truncClamp<uint64_t>(18446744073709549568.0), 18446744073709549568u);
    EXPECT_EQ(truncClamp<uint64_t>(-0.0), 0u);
    EXPECT_EQ(truncClamp<uint8_t>(300), 255);
    EXPECT_EQ(truncClamp<uint8_t>(-3), 0);

    // Rounding: halves away from zero, as pixel coordinates round.
    EXPECT_EQ(roundClamp<int>(2.5), 3);
    EXPECT_EQ(roundClamp<int>(-2.5), -3);
    EXPECT_EQ(roundClamp<int>(-0.4), 0);
    EXPECT_EQ(roundClamp<int>(kNaN), 0);
    EXPECT_EQ(roundClamp<int>(2147483647.4), INT32_MAX);
    EXPECT_EQ(roundClamp<int>(2147483647.5), INT32_MAX);
    EXPECT_EQ(roundClamp<int>(-1e300), INT32_MIN);
    EXPECT_EQ(roundClamp<int>(0.5, 1, 60000), 1);
    EXPECT_EQ(roundClamp<uint8_t>(254.5), 255);
}

}  // namespace
