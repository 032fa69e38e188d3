#include "kv_pixels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "kv_simd.h"

#if KV_SIMD_X86
#include <immintrin.h>
#endif

void MoveLongword(const void* Source, void* Dest, int Count)
{
    if (Count <= 0 || Source == nullptr || Dest == nullptr)
        return;
    std::memmove(Dest, Source, static_cast<size_t>(Count) * 4);
}

// Fill kernels: store `value` into the `count` words at `dest` (count >= 1) and
// nowhere else. The vector ones store their first and last vector unaligned
// and the ones between on vector boundaries; overlapping stores of the same
// value are harmless.

namespace {

using std::size_t;
using std::uintptr_t;

void FillScalar(uint32_t* dest, size_t count, uint32_t value) noexcept
{
    std::fill_n(dest, count, value);
}

#if KV_SIMD_X86

// Fills at least this large go around the caches (non-temporal stores): they
// would only push the rest of the working set out, and the stores run faster
// without reading the lines in first.
constexpr size_t kStreamBytes = size_t{16} << 20;

KV_SIMD_ENTRY("sse2")
void FillSse2(uint32_t* dest, size_t count, uint32_t value) noexcept
{
    if (count < 4) {
        FillScalar(dest, count, value);
        return;
    }
    const __m128i v = _mm_set1_epi32(static_cast<int>(value));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), v);
    size_t i = (16 - (reinterpret_cast<uintptr_t>(dest) & 15u)) >> 2;
    for (; i + 16 <= count; i += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i + 4), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i + 8), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i + 12), v);
    }
    for (; i + 4 <= count; i += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + count - 4), v);
}

KV_SIMD_ENTRY("avx2")
void FillAvx2(uint32_t* dest, size_t count, uint32_t value) noexcept
{
    if (count < 8) {
        if (count < 4) {
            FillScalar(dest, count, value);
            return;
        }
        const __m128i v = _mm_set1_epi32(static_cast<int>(value));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + count - 4), v);
        return;
    }
    const __m256i v = _mm256_set1_epi32(static_cast<int>(value));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest), v);
    size_t i = (32 - (reinterpret_cast<uintptr_t>(dest) & 31u)) >> 2;
    if (count * 4 >= kStreamBytes && (reinterpret_cast<uintptr_t>(dest) & 3u) == 0) {
        // dest + i is on a 32-byte boundary here, as streaming stores need.
        for (; i + 8 <= count; i += 8)
            _mm256_stream_si256(reinterpret_cast<__m256i*>(dest + i), v);
        _mm_sfence();
    } else {
        for (; i + 32 <= count; i += 32) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i), v);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i + 8), v);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i + 16), v);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i + 24), v);
        }
        for (; i + 8 <= count; i += 8)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i), v);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + count - 8), v);
}

#endif  // KV_SIMD_X86

using FillKernel = void (*)(uint32_t*, size_t, uint32_t) noexcept;

FillKernel ChooseFill() noexcept
{
#if KV_SIMD_X86
    switch (KvSimdLevel()) {
    case TkvSimdLevel::Avx2: return &FillAvx2;
    case TkvSimdLevel::Sse2: return &FillSse2;
    case TkvSimdLevel::Scalar: break;
    }
#endif
    return &FillScalar;
}

}  // namespace

void FillLongword(void* Dest, int Count, uint32_t Value)
{
    if (Count <= 0 || Dest == nullptr)
        return;
    ChooseFill()(static_cast<uint32_t*>(Dest), static_cast<size_t>(Count), Value);
}

void FillLongwordRect(void* Dest, int W, int H, int X1, int Y1, int X2, int Y2, uint32_t Value)
{
    if (Dest == nullptr || W <= 0 || H <= 0)
        return;
    X2 = std::min(X2, W);
    Y2 = std::min(Y2, H);
    X1 = std::max(X1, 0);
    Y1 = std::max(Y1, 0);
    if (X1 >= X2 || Y1 >= Y2)
        return;
    const FillKernel fill = ChooseFill();
    auto* row = static_cast<uint32_t*>(Dest) + static_cast<size_t>(Y1) * static_cast<size_t>(W) + X1;
    const size_t cols = static_cast<size_t>(X2 - X1);
    if (X1 == 0 && X2 == W) {
        // Whole rows lie end to end: one run.
        fill(row, cols * static_cast<size_t>(Y2 - Y1), Value);
        return;
    }
    for (int y = Y1; y < Y2; ++y, row += W)
        fill(row, cols, Value);
}
