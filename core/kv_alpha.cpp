#include "kv_alpha.h"

#include <algorithm>
#include <cstddef>

void RecoverAlphaRect(std::uint32_t* black, const std::uint32_t* white, int width, int height, int x1, int y1,
                      int x2, int y2)
{
    if (!black || !white || width <= 0 || height <= 0)
        return;
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, width);
    y2 = std::min(y2, height);
    for (int y = y1; y < y2; ++y) {
        std::uint32_t* b = black + static_cast<std::size_t>(y) * width;
        const std::uint32_t* w = white + static_cast<std::size_t>(y) * width;
        for (int x = x1; x < x2; ++x)
            b[x] = RecoverAlphaPixel(b[x], w[x]);
    }
}
