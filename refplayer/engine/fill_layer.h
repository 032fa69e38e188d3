// The fills of one style group drawn together, as a scanline rasteriser with
// per-edge fill styles draws them: each fill adds its colour, weighted by its
// coverage, to one layer, and the layer goes onto the canvas once. Where two
// fills share an edge their coverages add up to the whole pixel, so nothing
// behind shows through the seam; drawn one after the other, a half-covered
// edge pixel would let a quarter of the background through.
#pragma once

#include "raster.h"

#include <vector>

namespace refplayer::engine {

class FillLayer {
public:
    // `box`: the pixels the group can touch, within the canvas area.
    FillLayer(const Canvas& canvas, const IRect& box);
    void add(const Rasterizer& r, FillRule rule, const Paint& paint);
    // Composites the layer onto the canvas (source-over).
    void composite();

private:
    Canvas canvas_;
    IRect box_;
    int width_ = 0;
    std::vector<uint32_t> layer_, shade_;
};

// Per-channel saturating sum of two premultiplied pixels.
inline uint32_t addPixels(uint32_t a, uint32_t b)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t sum = ((a >> shift) & 0xFF) + ((b >> shift) & 0xFF);
        out |= (sum > 255 ? 255u : sum) << shift;
    }
    return out;
}

}  // namespace refplayer::engine
