// Alpha recovery: the movie is drawn twice, over opaque black and over opaque
// white; the difference tells each pixel's coverage. Platform-free, written
// once for both back-ends.
#pragma once

#include <cstdint>

// One pixel: `black` and `white` are the same pixel drawn over black and over
// white (0xAARRGGBB; their alpha bytes are ignored). Answers the premultiplied
// pixel: alpha from the red channel's difference, the colour channels as drawn
// over black (which already carries the coverage). A pixel whose white value
// is below its black value (the picture changed between the two paints) is
// taken as opaque rather than wrapping round.
inline std::uint32_t RecoverAlphaPixel(std::uint32_t black, std::uint32_t white)
{
    const std::uint32_t rb = (black >> 16) & 0xFF;
    const std::uint32_t rw = (white >> 16) & 0xFF;
    const std::uint32_t d = rw > rb ? rw - rb : 0;
    const std::uint32_t alpha = 255 - d;
    if (alpha == 0)
        return 0;
    // Premultiplied colour never exceeds its alpha; keep it so where the two
    // paints disagree, so blending the result cannot overflow.
    std::uint32_t r = rb, g = (black >> 8) & 0xFF, b = black & 0xFF;
    if (r > alpha) r = alpha;
    if (g > alpha) g = alpha;
    if (b > alpha) b = alpha;
    return (alpha << 24) | (r << 16) | (g << 8) | b;
}

// Recovers the rectangle [x1, x2) x [y1, y2) of two `width`-wide top-down
// buffers into `black`. The rectangle is clipped to width x height.
void RecoverAlphaRect(std::uint32_t* black, const std::uint32_t* white, int width, int height, int x1, int y1,
                      int x2, int y2);
