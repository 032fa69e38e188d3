// The vector pixel routines against their scalar references, at every level
// this machine runs, and the level selection itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "kv_alpha.h"
#include "kv_pixels.h"
#include "kv_simd.h"

namespace {

// Runs the routines at one level for the scope and puts the old level back.
class AtLevel {
public:
    explicit AtLevel(TkvSimdLevel level) : old_(KvSimdLevel()) { ok_ = KvSetSimdLevel(level); }
    ~AtLevel() { KvSetSimdLevel(old_); }
    bool ok() const { return ok_; }

private:
    TkvSimdLevel old_;
    bool ok_ = false;
};

std::vector<TkvSimdLevel> LevelsHere()
{
    std::vector<TkvSimdLevel> levels;
    for (int l = 0; l <= static_cast<int>(KvSimdSupported()); ++l)
        levels.push_back(static_cast<TkvSimdLevel>(l));
    return levels;
}

constexpr uint32_t kGuard = 0x5A5A5A5Au;

TEST(SimdLevel, DetectsWhatTheProcessorHasAndRefusesWhatItLacks)
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    // The compiler's own probe reads cpuid only; the systems these tests run
    // on (Linux, Wine on Linux) all save the YMM state, so the two agree.
    const bool avx2 = __builtin_cpu_supports("avx2");
    const bool sse2 = __builtin_cpu_supports("sse2");
    EXPECT_EQ(KvSimdSupported() == TkvSimdLevel::Avx2, avx2);
    EXPECT_EQ(KvSimdSupported() >= TkvSimdLevel::Sse2, sse2);
#if defined(__x86_64__)
    EXPECT_GE(KvSimdSupported(), TkvSimdLevel::Sse2) << "SSE2 is part of every x86-64 processor";
#endif
#else
    EXPECT_EQ(KvSimdSupported(), TkvSimdLevel::Scalar);
#endif
    // Untouched, the routines run at the best level.
    EXPECT_EQ(KvSimdLevel(), KvSimdSupported());

    const TkvSimdLevel before = KvSimdLevel();
    EXPECT_FALSE(KvSetSimdLevel(static_cast<TkvSimdLevel>(static_cast<int>(KvSimdSupported()) + 1)));
    EXPECT_FALSE(KvSetSimdLevel(static_cast<TkvSimdLevel>(-1)));
    EXPECT_EQ(KvSimdLevel(), before) << "a refused level changes nothing";
    for (TkvSimdLevel level : LevelsHere()) {
        AtLevel at(level);
        EXPECT_TRUE(at.ok()) << KvSimdName(level);
        EXPECT_EQ(KvSimdLevel(), level);
    }
    EXPECT_EQ(KvSimdLevel(), before);
}

// Every (black, white) pair of red values, other channels and the ignored
// alpha bytes random, in a 256 x 256 picture recovered in one call.
TEST(RecoverAlphaRect, EveryRedPairMatchesThePixelReferenceAtEveryLevel)
{
    std::mt19937 random(14);
    const int n = 256;
    std::vector<uint32_t> black(n * n), white(n * n), expected(n * n);
    for (int rb = 0; rb < n; ++rb)
        for (int rw = 0; rw < n; ++rw) {
            const int i = rb * n + rw;
            black[i] = (random() & 0xFF00FFFFu) | (static_cast<uint32_t>(rb) << 16);
            white[i] = (random() & 0xFF00FFFFu) | (static_cast<uint32_t>(rw) << 16);
            expected[i] = RecoverAlphaPixel(black[i], white[i]);
        }
    // Sanity of the reference over the pairs: white below black is opaque.
    EXPECT_EQ(expected[200 * n + 100] >> 24, 255u);
    EXPECT_EQ(expected[0 * n + 255], 0u);

    for (TkvSimdLevel level : LevelsHere()) {
        AtLevel at(level);
        std::vector<uint32_t> out = black;
        const std::vector<uint32_t> whiteBefore = white;
        RecoverAlphaRect(out.data(), white.data(), n, n, 0, 0, n, n);
        int wrong = 0;
        for (int i = 0; i < n * n && wrong < 5; ++i)
            if (out[i] != expected[i]) {
                ++wrong;
                ADD_FAILURE() << KvSimdName(level) << ": black " << std::hex << black[i] << " white " << white[i]
                              << " gives " << out[i] << ", reference " << expected[i];
            }
        EXPECT_EQ(white, whiteBefore) << KvSimdName(level) << " wrote the white buffer";
    }
}

// Every width from 1 to 67 at every offset from the vector boundaries (odd
// ones and even ones), a few rows, with guard pixels all round that must come
// through untouched.
TEST(RecoverAlphaRect, EveryWidthAndOffsetMatchesTheReferenceAndStaysInsideTheRectangle)
{
    std::mt19937 random(67);
    const int stride = 80, rows = 5;
    std::vector<uint32_t> black(stride * rows), white(stride * rows);
    for (size_t i = 0; i < black.size(); ++i) {
        // Mostly partial coverage, some changed-between-paints pixels.
        const uint32_t b = random(), d = random() & 0xFF;
        black[i] = b;
        const uint32_t rb = (b >> 16) & 0xFF;
        const uint32_t rw = (i % 7 == 0) ? (rb > 0 ? rb - 1 : 0) : std::min<uint32_t>(255, rb + d);
        white[i] = (random() & 0xFF00FFFFu) | (rw << 16);
    }
    for (TkvSimdLevel level : LevelsHere()) {
        AtLevel at(level);
        for (int x1 = 0; x1 < 8; ++x1)
            for (int width = 1; width <= 67 && x1 + width <= stride; ++width) {
                std::vector<uint32_t> out = black;
                // Rows 1 to 3 of 5: the rows above and below are guards too.
                RecoverAlphaRect(out.data(), white.data(), stride, rows, x1, 1, x1 + width, 4);
                for (int y = 0; y < rows; ++y)
                    for (int x = 0; x < stride; ++x) {
                        const size_t i = static_cast<size_t>(y) * stride + x;
                        const bool inside = y >= 1 && y < 4 && x >= x1 && x < x1 + width;
                        const uint32_t want = inside ? RecoverAlphaPixel(black[i], white[i]) : black[i];
                        if (out[i] != want) {
                            ADD_FAILURE() << KvSimdName(level) << ": x1 " << x1 << " width " << width << " at (" << x
                                          << ", " << y << ")";
                            goto next_level;
                        }
                    }
            }
    next_level:;
    }
}

TEST(FillLongword, EveryCountAndOffsetFillsExactlyItsWordsAtEveryLevel)
{
    const int maxCount = 67, pad = 16;
    for (TkvSimdLevel level : LevelsHere()) {
        AtLevel at(level);
        for (int offset = 0; offset < 8; ++offset)
            for (int count = 0; count <= maxCount; ++count) {
                std::vector<uint32_t> buf(pad + 8 + maxCount + pad, kGuard);
                FillLongword(buf.data() + pad + offset, count, 0xFF000000u);
                for (int i = 0; i < static_cast<int>(buf.size()); ++i) {
                    const bool inside = i >= pad + offset && i < pad + offset + count;
                    ASSERT_EQ(buf[i], inside ? 0xFF000000u : kGuard)
                        << KvSimdName(level) << ": offset " << offset << " count " << count << " word " << i;
                }
            }
    }
}

// A fill large enough to bypass the caches, starting and ending off every
// vector boundary.
TEST(FillLongword, ALargeUnalignedFillStopsAtItsLastWord)
{
    const int count = (17 << 20) / 4 + 5;
    std::vector<uint32_t> buf(count + 16, kGuard);
    for (TkvSimdLevel level : LevelsHere()) {
        AtLevel at(level);
        const uint32_t value = 0xFFFFFF00u | static_cast<uint32_t>(level);
        FillLongword(buf.data() + 3, count, value);
        EXPECT_EQ(buf[2], kGuard) << KvSimdName(level);
        EXPECT_EQ(buf[3], value) << KvSimdName(level);
        EXPECT_EQ(buf[3 + count / 2 + 1], value) << KvSimdName(level);
        EXPECT_EQ(buf[3 + count - 1], value) << KvSimdName(level);
        EXPECT_EQ(buf[3 + count], kGuard) << KvSimdName(level);
        size_t mismatched = 0;
        for (int i = 3; i < 3 + count; ++i)
            mismatched += buf[i] != value;
        EXPECT_EQ(mismatched, 0u) << KvSimdName(level);
    }
}

// Partial and whole rows (the whole-row case fills as one run) at every level.
TEST(FillLongwordRect, PartialAndWholeRowsMatchAtEveryLevel)
{
    const int w = 37, h = 6;
    struct Rect {
        int x1, y1, x2, y2;
    };
    const Rect rects[] = {{0, 1, w, 5}, {0, 0, w, h}, {3, 1, 30, 5}, {1, 2, 2, 3}, {-4, -2, w + 9, 2}, {29, 0, 99, 99}};
    for (const Rect& r : rects) {
        std::vector<uint32_t> expected(w * h, kGuard);
        for (int y = std::max(r.y1, 0); y < std::min(r.y2, h); ++y)
            for (int x = std::max(r.x1, 0); x < std::min(r.x2, w); ++x)
                expected[y * w + x] = 0xFFFFFFFFu;
        for (TkvSimdLevel level : LevelsHere()) {
            AtLevel at(level);
            std::vector<uint32_t> buf(w * h + 8, kGuard);
            FillLongwordRect(buf.data(), w, h, r.x1, r.y1, r.x2, r.y2, 0xFFFFFFFFu);
            EXPECT_EQ(std::vector<uint32_t>(buf.begin(), buf.begin() + w * h), expected)
                << KvSimdName(level) << ": " << r.x1 << "," << r.y1 << " - " << r.x2 << "," << r.y2;
            for (int i = w * h; i < w * h + 8; ++i)
                EXPECT_EQ(buf[i], kGuard) << KvSimdName(level);
        }
    }
}

}  // namespace
