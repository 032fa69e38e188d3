#include "bench_util.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace kvbench {

std::string CpuName()
{
#if defined(__x86_64__) || defined(__i386__)
    unsigned regs[12] = {};
    std::string name;
    if (static_cast<unsigned>(__get_cpuid_max(0x80000000u, nullptr)) >= 0x80000004u) {
        for (unsigned leaf = 0; leaf < 3; ++leaf)
            __get_cpuid(0x80000002u + leaf, &regs[leaf * 4], &regs[leaf * 4 + 1], &regs[leaf * 4 + 2],
                        &regs[leaf * 4 + 3]);
        char text[49] = {};
        std::memcpy(text, regs, 48);
        name = text;
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        while (!name.empty() && name.front() == ' ')
            name.erase(0, 1);
    }
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __get_cpuid(1, &eax, &ebx, &ecx, &edx);
    unsigned family = (eax >> 8) & 0xF, model = (eax >> 4) & 0xF;
    if (family == 0xF)
        family += (eax >> 20) & 0xFF;
    if (family >= 6)
        model |= ((eax >> 16) & 0xF) << 4;
    char ids[64];
    std::snprintf(ids, sizeof ids, " (family %u, model %u, stepping %u)", family, model, eax & 0xF);
    return (name.empty() ? std::string("x86") : name) + ids;
#else
    return "not x86";
#endif
}

void PrintHeader()
{
    std::printf("%-34s %-10s %10s %10s  %-26s %10s %10s  %6s  %s\n", "figure", "size", "time", "Mpx/s", "bound",
                "time", "Mpx/s", "ratio", "target");
}

void PrintRow(const char* figure, const char* size, double seconds, const char* bound, double boundSeconds,
              double pixels, bool higherIsBetter, double target, bool hasTarget, int& failures)
{
    const double ratio = higherIsBetter ? boundSeconds / seconds : seconds / boundSeconds;
    char targetText[32] = "";
    if (hasTarget) {
        const bool met = higherIsBetter ? ratio >= target : ratio <= target;
        if (!met)
            ++failures;
        std::snprintf(targetText, sizeof targetText, "%s %.2f %s", higherIsBetter ? ">=" : "<=", target,
                      met ? "met" : "MISSED");
    }
    auto time = [](double s) {
        static char buf[2][32];
        static int which = 0;
        which ^= 1;
        if (s < 1e-3)
            std::snprintf(buf[which], sizeof buf[which], "%.2f us", s * 1e6);
        else
            std::snprintf(buf[which], sizeof buf[which], "%.3f ms", s * 1e3);
        return buf[which];
    };
    const char* t1 = time(seconds);
    const char* t2 = time(boundSeconds);
    std::printf("%-34s %-10s %10s %10.0f  %-26s %10s %10.0f  %6.3f  %s\n", figure, size, t1, pixels / seconds / 1e6,
                bound, t2, pixels / boundSeconds / 1e6, ratio, targetText);
    std::fflush(stdout);
}

}  // namespace kvbench
