// Shared by the benchmark programs: timing, aligned buffers, the processor's
// name and the table they print. Platform-free.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

namespace kvbench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Pixel memory aligned as a DIB section's is (to a page).
class Pixels {
public:
    explicit Pixels(std::size_t count)
        : count_(count), p_(static_cast<std::uint32_t*>(::operator new(count * 4, std::align_val_t{4096})))
    {
        for (std::size_t i = 0; i < count; ++i)
            p_[i] = static_cast<std::uint32_t>(i * 2654435761u);
    }
    ~Pixels() { ::operator delete(p_, std::align_val_t{4096}); }
    Pixels(const Pixels&) = delete;
    Pixels& operator=(const Pixels&) = delete;
    std::uint32_t* data() const { return p_; }
    std::size_t size() const { return count_; }
    std::size_t bytes() const { return count_ * 4; }

private:
    std::size_t count_;
    std::uint32_t* p_;
};

// The processor as cpuid names it, with family, model and stepping.
std::string CpuName();

// Times two routines against each other in one run: they take turns, so a
// busy moment of the machine falls on both alike, and each keeps its best.
// `prepare` runs before every turn, untimed. Answers the best seconds of each.
struct Pair {
    double a = 1e30, b = 1e30;
};
template <class Prepare, class A, class B>
Pair TimePair(int turns, Prepare prepare, A a, B b)
{
    Pair best;
    prepare();
    a();  // warm: the first touch of a buffer pays for its pages
    prepare();
    b();
    for (int i = 0; i < turns; ++i) {
        prepare();
        auto t0 = Clock::now();
        a();
        auto t1 = Clock::now();
        prepare();
        auto t2 = Clock::now();
        b();
        auto t3 = Clock::now();
        best.a = std::min(best.a, Seconds(t0, t1));
        best.b = std::min(best.b, Seconds(t2, t3));
    }
    return best;
}

// Repetitions for a figure: many for small buffers, fewer for large ones,
// so each figure takes a fraction of a second.
inline int TurnsFor(std::size_t bytes, int scale)
{
    const std::size_t mb = bytes >> 20;
    int turns = mb >= 24 ? 40 : mb >= 6 ? 120 : 400;
    turns = turns * scale / 100;
    return turns < 5 ? 5 : turns;
}

// One line of the table: a figure, its time, its bound's time, the ratio and
// the target. `higherIsBetter`: the ratio is bound time / time (a speed
// ratio); otherwise time / bound time (a cost ratio).
void PrintRow(const char* figure, const char* size, double seconds, const char* bound, double boundSeconds,
              double pixels, bool higherIsBetter, double target, bool hasTarget, int& failures);
void PrintHeader();

}  // namespace kvbench
