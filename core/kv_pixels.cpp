#include "kv_pixels.h"

#include <algorithm>
#include <cstring>

void MoveLongword(const void* Source, void* Dest, int Count)
{
    if (Count <= 0 || Source == nullptr || Dest == nullptr)
        return;
    std::memmove(Dest, Source, static_cast<size_t>(Count) * 4);
}

void FillLongword(void* Dest, int Count, uint32_t Value)
{
    if (Count <= 0 || Dest == nullptr)
        return;
    std::fill_n(static_cast<uint32_t*>(Dest), Count, Value);
}

void FillLongwordRect(void* Dest, int W, int H, int X1, int Y1, int X2, int Y2, uint32_t Value)
{
    if (Dest == nullptr || W <= 0 || H <= 0)
        return;
    X2 = std::min(X2, W);
    Y2 = std::min(Y2, H);
    X1 = std::max(X1, 0);
    Y1 = std::max(Y1, 0);
    if (Y1 > Y2)
        Y1 = Y2;
    auto* base = static_cast<uint32_t*>(Dest);
    for (int y = Y1; y < Y2; ++y)
        FillLongword(base + static_cast<size_t>(y) * W + X1, X2 - X1, Value);
}
