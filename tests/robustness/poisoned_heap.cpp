// The test program's own operator new and delete: every freed block is filled
// with a pattern and held back in a quarantine ring before it goes back to the
// C heap. A read through a dangling pointer then finds the pattern (a pointer
// read from it faults at once), and a write through one spoils the pattern,
// which the ring finds when the block leaves it (or when CheckHeaps looks).
// Every block also ends in a guard pattern, checked when the block is freed,
// so a write past its end shows too. A block freed twice, or a pointer that
// never came from here, stops the program with a message.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "poisoned_heap.h"

namespace {

constexpr std::uint64_t kLive = 0x4C495645424C4B31ull;  // a block handed out
constexpr std::uint64_t kDead = 0x444541444B4C4231ull;  // a block in quarantine
constexpr unsigned char kPoison = 0xDD;
constexpr unsigned char kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 16;  // after every block
constexpr std::size_t kRing = 4096;           // blocks held back
constexpr std::size_t kRingBytes = 32 << 20;  // and at most this many bytes

// Sixteen bytes ahead of every block, on both architectures, keep the block
// at the C heap's own alignment.
struct Header {
    std::size_t size;
    std::uint64_t state;
};
static_assert(sizeof(Header) == 16);

struct Quarantine {
    CRITICAL_SECTION lock;
    Header* ring[kRing]{};
    std::size_t next = 0;
    std::size_t bytes = 0;
    Quarantine() { InitializeCriticalSection(&lock); }
};

// Constructed on first use: static constructors elsewhere allocate before
// this unit's would run.
Quarantine& Q()
{
    static Quarantine* q = new (std::malloc(sizeof(Quarantine))) Quarantine();
    return *q;
}

[[noreturn]] void Fault(const char* what, const void* block)
{
    std::fprintf(stderr, "poisoned heap: %s (block %p)\n", what, block);
    std::fflush(stderr);
    std::abort();
}

unsigned char* Body(Header* h) { return reinterpret_cast<unsigned char*>(h + 1); }

// Stops the program if a block held back was written since it was freed.
void CheckPoison(Header* h)
{
    const unsigned char* p = Body(h);
    for (std::size_t i = 0; i < h->size + kGuardBytes; ++i)
        if (p[i] != (i < h->size ? kPoison : kGuard))
            Fault("written after it was freed", p);
}

// Gives a block back to the C heap once its pattern is checked whole.
void Release(Header* h)
{
    CheckPoison(h);
    h->state = 0;
    std::free(h);
}

void* Allocate(std::size_t n)
{
    if (n > SIZE_MAX - sizeof(Header) - kGuardBytes)
        return nullptr;
    auto* h = static_cast<Header*>(std::malloc(sizeof(Header) + n + kGuardBytes));
    if (!h)
        return nullptr;
    h->size = n;
    h->state = kLive;
    std::memset(Body(h) + n, kGuard, kGuardBytes);
    return h + 1;
}

void Deallocate(void* p) noexcept
{
    if (!p)
        return;
    Header* h = static_cast<Header*>(p) - 1;
    if (h->state == kDead)
        Fault("freed twice", p);
    if (h->state != kLive)
        Fault("freed but never allocated here", p);
    for (std::size_t i = 0; i < kGuardBytes; ++i)
        if (Body(h)[h->size + i] != kGuard)
            Fault("written past its end", p);
    h->state = kDead;
    std::memset(p, kPoison, h->size);
    Quarantine& q = Q();
    EnterCriticalSection(&q.lock);
    Header* out = q.ring[q.next];
    q.ring[q.next] = h;
    q.next = (q.next + 1) % kRing;
    q.bytes += h->size;
    if (out)
        q.bytes -= out->size;
    // Big blocks push the oldest out early, so the ring's memory stays
    // bounded (a block bigger than the bound goes back at once).
    while (q.bytes > kRingBytes) {
        std::size_t oldest = q.next;
        while (!q.ring[oldest])
            oldest = (oldest + 1) % kRing;
        Header* old = q.ring[oldest];
        q.ring[oldest] = nullptr;
        q.bytes -= old->size;
        Release(old);
    }
    LeaveCriticalSection(&q.lock);
    if (out)
        Release(out);
}

void* AllocateOrThrow(std::size_t n)
{
    if (void* p = Allocate(n))
        return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) { return AllocateOrThrow(n); }
void* operator new[](std::size_t n) { return AllocateOrThrow(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Deallocate(p); }
void operator delete[](void* p) noexcept { Deallocate(p); }
void operator delete(void* p, std::size_t) noexcept { Deallocate(p); }
void operator delete[](void* p, std::size_t) noexcept { Deallocate(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Deallocate(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Deallocate(p); }

void CheckHeaps()
{
    // The blocks held back: their patterns, now rather than when they leave.
    Quarantine& q = Q();
    EnterCriticalSection(&q.lock);
    for (Header* h : q.ring)
        if (h)
            CheckPoison(h);
    LeaveCriticalSection(&q.lock);
    // The system's heaps: with Wine's heap checks on, a block written past
    // its end or a spoiled free block is reported here (Wine names it on its
    // heap channel), and the walk fails.
    std::vector<HANDLE> heaps(64);
    DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (count > heaps.size()) {
        heaps.resize(count + 16);
        count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    }
    for (DWORD i = 0; i < count && i < heaps.size(); ++i)
        if (!HeapValidate(heaps[i], 0, nullptr)) {
            std::fprintf(stderr, "poisoned heap: system heap %p is damaged\n", heaps[i]);
            std::fflush(stderr);
            std::abort();
        }
}
