#include "kv_alpha.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "kv_simd.h"

#if KV_SIMD_X86
#include <immintrin.h>
#endif

// Each kernel recovers `rows` rows of `cols` pixels (cols >= 1), the rows
// `stride` pixels apart in both buffers, and touches nothing outside them.
// The vector kernels compute exactly RecoverAlphaPixel, lane by lane:
//   d     = white - black on the red byte, saturating at 0 (white below black)
//   alpha = 255 - d, spread over the pixel's four bytes
//   out   = bytewise min(black with its alpha byte set to 255, alpha)
// The minimum keeps each colour at or below alpha and puts alpha itself in
// the alpha byte; where alpha is 0 every byte becomes 0, as the reference's
// early return gives.

namespace {

using std::size_t;
using std::uint32_t;

void RecoverRowsScalar(uint32_t* black, const uint32_t* white, size_t stride, int rows, int cols) noexcept
{
    for (int y = 0; y < rows; ++y, black += stride, white += stride)
        for (int x = 0; x < cols; ++x)
            black[x] = RecoverAlphaPixel(black[x], white[x]);
}

#if KV_SIMD_X86

KV_SIMD_ENTRY("sse2")
void RecoverRowsSse2(uint32_t* black, const uint32_t* white, size_t stride, int rows, int cols) noexcept
{
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i low = _mm_set1_epi32(0xFF);
    for (int y = 0; y < rows; ++y, black += stride, white += stride) {
        int x = 0;
        for (; x + 4 <= cols; x += 4) {
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(black + x));
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(white + x));
            // SSE2 has no byte shuffle: alpha goes to the low byte, then is
            // doubled up twice.
            __m128i a = _mm_andnot_si128(_mm_srli_epi32(_mm_subs_epu8(w, b), 16), low);
            a = _mm_or_si128(a, _mm_slli_epi32(a, 8));
            a = _mm_or_si128(a, _mm_slli_epi32(a, 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(black + x), _mm_min_epu8(_mm_or_si128(b, opaque), a));
        }
        for (; x < cols; ++x)
            black[x] = RecoverAlphaPixel(black[x], white[x]);
    }
}

// Eight pixels: loaded, recovered and stored with no register kept
// across calls, so the kernel needs no spill (GCC cannot align a 64-bit
// Windows stack frame for a 32-byte spill).
KV_SIMD_STEP("avx2")
void RecoverEightAvx2(uint32_t* black, const uint32_t* white, __m256i opaque, __m256i spread) noexcept
{
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(black));
    const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(white));
    // 255 - d is ~d: the red byte's difference, spread over its pixel, inverted.
    const __m256i a = _mm256_xor_si256(_mm256_shuffle_epi8(_mm256_subs_epu8(w, b), spread), _mm256_set1_epi32(-1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(black), _mm256_min_epu8(_mm256_or_si256(b, opaque), a));
}

KV_SIMD_ENTRY("avx2")
void RecoverRowsAvx2(uint32_t* black, const uint32_t* white, size_t stride, int rows, int cols) noexcept
{
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    // Byte 2 of each pixel (red) into all four of its bytes; the shuffle stays
    // inside each 128-bit lane, as the pixels do.
    const __m256i spread = _mm256_setr_epi8(2, 2, 2, 2, 6, 6, 6, 6, 10, 10, 10, 10, 14, 14, 14, 14,  //
                                            2, 2, 2, 2, 6, 6, 6, 6, 10, 10, 10, 10, 14, 14, 14, 14);
    for (int y = 0; y < rows; ++y, black += stride, white += stride) {
        int x = 0;
        // Long rows first reach a 32-byte boundary of the written buffer, so
        // no store splits a cache line.
        if (cols >= 64)
            for (; x < cols && (reinterpret_cast<std::uintptr_t>(black + x) & 31u) != 0; ++x)
                black[x] = RecoverAlphaPixel(black[x], white[x]);
        for (; x + 16 <= cols; x += 16) {
            RecoverEightAvx2(black + x, white + x, opaque, spread);
            RecoverEightAvx2(black + x + 8, white + x + 8, opaque, spread);
        }
        if (x + 8 <= cols) {
            RecoverEightAvx2(black + x, white + x, opaque, spread);
            x += 8;
        }
        for (; x < cols; ++x)
            black[x] = RecoverAlphaPixel(black[x], white[x]);
    }
}

#endif  // KV_SIMD_X86

}  // namespace

void RecoverAlphaRect(std::uint32_t* black, const std::uint32_t* white, int width, int height, int x1, int y1,
                      int x2, int y2)
{
    if (!black || !white || width <= 0 || height <= 0)
        return;
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, width);
    y2 = std::min(y2, height);
    if (x1 >= x2 || y1 >= y2)
        return;
    const size_t stride = static_cast<size_t>(width);
    const size_t first = static_cast<size_t>(y1) * stride + static_cast<size_t>(x1);
    auto* kernel = &RecoverRowsScalar;
#if KV_SIMD_X86
    switch (KvSimdLevel()) {
    case TkvSimdLevel::Avx2: kernel = &RecoverRowsAvx2; break;
    case TkvSimdLevel::Sse2: kernel = &RecoverRowsSse2; break;
    case TkvSimdLevel::Scalar: break;
    }
#endif
    kernel(black + first, white + first, stride, y2 - y1, x2 - x1);
}
