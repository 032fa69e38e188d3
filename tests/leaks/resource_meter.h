// What a process holds that a leak makes grow: heap blocks in use, GDI
// objects, USER objects and threads.
#pragma once

#include <cstdint>
#include <string>

namespace leaktest {

struct ResourceUse {
    std::int64_t HeapBytes = 0;  // bytes of busy blocks over every heap of the process
    long GdiObjects = 0;
    long UserObjects = 0;
    long Threads = 0;
};

// Measures this process now. Where the system does not count GUI objects
// (GetGuiResources unimplemented, as under Wine), GDI objects are counted in
// the process's GDI handle table and USER objects as the process's windows.
// A 32-bit process under Wine has neither (Wine maps no GDI handle table
// into it): there GdiObjects reads -1, the same every time, and holds
// nothing.
ResourceUse MeasureResources();

// Growth allowed between two measurements.
struct Allowance {
    std::int64_t HeapBytes = 0;
    long GdiObjects = 0;
    long UserObjects = 0;
    long Threads = -1;  // -1: the thread count is not held to anything
};

// "heap +N bytes, GDI +N, USER +N, threads +N" from `from` to `to`.
std::string Growth(const ResourceUse& from, const ResourceUse& to);
// Whether `to` grew from `from` by no more than `allowed` in each measure.
bool WithinAllowance(const ResourceUse& from, const ResourceUse& to, const Allowance& allowed);

}  // namespace leaktest
