// Which vector instructions the pixel routines (kv_pixels, kv_alpha) use. One
// binary runs on any x86 machine: the best level that both the processor and
// the system support is chosen at the first call, from cpuid and, for the
// 256-bit registers, the system's saved-state mask (xgetbv). Platform-free.
#pragma once

enum class TkvSimdLevel : int {
    Scalar = 0,  // plain C++; the reference every vector routine is tested against
    Sse2 = 1,    // 128-bit (the 64-bit baseline; detected on 32-bit x86)
    Avx2 = 2,    // 256-bit, where the processor has AVX2 and the system saves YMM state
};

// The best level this machine runs.
TkvSimdLevel KvSimdSupported() noexcept;

// The level the pixel routines use now.
TkvSimdLevel KvSimdLevel() noexcept;

// Makes the pixel routines use `Level` from now on (tests and benchmarks
// compare the levels on one machine). A level the machine cannot run is
// refused: the answer is false and nothing changes.
bool KvSetSimdLevel(TkvSimdLevel Level) noexcept;

// The level's name as the benchmarks print it: "scalar", "sse2", "avx2".
const char* KvSimdName(TkvSimdLevel Level) noexcept;

#if defined(__x86_64__) || defined(__i386__)
#define KV_SIMD_X86 1
// A kernel entry: 32-bit Windows may call in (from the player's callbacks) with
// a stack aligned only to 4 bytes, so the kernel realigns its own frame.
#if defined(__i386__)
#define KV_SIMD_ENTRY(isa) __attribute__((target(isa), force_align_arg_pointer))
#else
#define KV_SIMD_ENTRY(isa) __attribute__((target(isa)))
#endif
// A step inside a kernel: always inlined, so its vector arguments never pass
// through memory.
#define KV_SIMD_STEP(isa) __attribute__((target(isa), always_inline)) inline
#else
#define KV_SIMD_X86 0
#endif
