#include "kv_simd.h"

#include <atomic>

#if KV_SIMD_X86
#include <cpuid.h>
#endif

namespace {

#if KV_SIMD_X86
// The XCR0 register: which register files the system saves on a switch.
// Written out rather than as the intrinsic, which wants the whole unit built
// for XSAVE.
unsigned long long ReadXcr0() noexcept
{
    unsigned eax = 0, edx = 0;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<unsigned long long>(edx) << 32) | eax;
}
#endif

TkvSimdLevel Detect() noexcept
{
#if KV_SIMD_X86
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return TkvSimdLevel::Scalar;
    const bool sse2 = (edx & (1u << 26)) != 0;
    if (!sse2)
        return TkvSimdLevel::Scalar;
    const bool osxsave = (ecx & (1u << 27)) != 0;
    const bool avx = (ecx & (1u << 28)) != 0;
    // Both the XMM (bit 1) and the YMM (bit 2) halves must be saved by the
    // system, or a thread switch would lose the upper lanes.
    if (!osxsave || !avx || (ReadXcr0() & 6u) != 6u)
        return TkvSimdLevel::Sse2;
    unsigned maxLeaf = __get_cpuid_max(0, nullptr);
    if (maxLeaf < 7)
        return TkvSimdLevel::Sse2;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & (1u << 5)) != 0 ? TkvSimdLevel::Avx2 : TkvSimdLevel::Sse2;
#else
    return TkvSimdLevel::Scalar;
#endif
}

// -1 until the first call looks at the machine.
std::atomic<int> g_level{-1};

}  // namespace

TkvSimdLevel KvSimdSupported() noexcept
{
    static const TkvSimdLevel supported = Detect();
    return supported;
}

TkvSimdLevel KvSimdLevel() noexcept
{
    int level = g_level.load(std::memory_order_relaxed);
    if (level < 0) {
        level = static_cast<int>(KvSimdSupported());
        int unset = -1;
        // A level set by another thread meanwhile stays.
        if (!g_level.compare_exchange_strong(unset, level, std::memory_order_relaxed))
            level = unset;
    }
    return static_cast<TkvSimdLevel>(level);
}

bool KvSetSimdLevel(TkvSimdLevel Level) noexcept
{
    if (static_cast<int>(Level) < 0 || static_cast<int>(Level) > static_cast<int>(KvSimdSupported()))
        return false;
    g_level.store(static_cast<int>(Level), std::memory_order_relaxed);
    return true;
}

const char* KvSimdName(TkvSimdLevel Level) noexcept
{
    switch (Level) {
    case TkvSimdLevel::Scalar: return "scalar";
    case TkvSimdLevel::Sse2: return "sse2";
    case TkvSimdLevel::Avx2: return "avx2";
    }
    return "unknown";
}
