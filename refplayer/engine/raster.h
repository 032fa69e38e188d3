// The rasteriser: anti-aliased scanline filling of polygons (straight edges
// and flattened quadratic curves) with a non-zero or even-odd rule, and the
// premultiplied pixel arithmetic it composites with.
//
// Pixels are premultiplied 0xAARRGGBB. Compositing is source-over with
// correctly rounded division by 255: dst = src + round(dst * (255 - srcA) / 255).
#pragma once

#include "geometry.h"
#include "player.h"

#include <cstdint>
#include <vector>

namespace refplayer::engine {

// --- pixel arithmetic ---------------------------------------------------------------

// round(x / 255) for 0 <= x <= 255 * 255.
inline uint32_t div255(uint32_t x)
{
    x += 128;
    return (x + (x >> 8)) >> 8;
}

inline uint32_t packPixel(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }

// A straight colour made premultiplied.
inline uint32_t premultiply(Rgba c)
{
    return packPixel(c.a, div255(c.r * c.a), div255(c.g * c.a), div255(c.b * c.a));
}

// Every channel of a premultiplied pixel scaled by coverage/255.
inline uint32_t scalePixel(uint32_t p, uint32_t coverage)
{
    if (coverage >= 255)
        return p;
    return packPixel(div255((p >> 24) * coverage), div255(((p >> 16) & 0xFF) * coverage),
                     div255(((p >> 8) & 0xFF) * coverage), div255((p & 0xFF) * coverage));
}

// Source-over of one premultiplied pixel onto another.
inline uint32_t blendOver(uint32_t src, uint32_t dst)
{
    uint32_t inv = 255 - (src >> 24);
    if (inv == 0)
        return src;
    // A premultiplied source never exceeds its alpha, so no channel overflows.
    return packPixel((src >> 24) + div255((dst >> 24) * inv), ((src >> 16) & 0xFF) + div255(((dst >> 16) & 0xFF) * inv),
                     ((src >> 8) & 0xFF) + div255(((dst >> 8) & 0xFF) * inv), (src & 0xFF) + div255((dst & 0xFF) * inv));
}

// Spans. Each kernel has a scalar reference with the same contract; the
// optimised form handles two channels per 32-bit operation.
void compositeSpanScalar(uint32_t* dst, const uint32_t* src, int count);
void compositeSpan(uint32_t* dst, const uint32_t* src, int count);
// A premultiplied colour drawn with per-pixel coverage (0..255).
void blendSolidSpanScalar(uint32_t* dst, const uint8_t* coverage, int count, uint32_t color);
void blendSolidSpan(uint32_t* dst, const uint8_t* coverage, int count, uint32_t color);

// --- targets and paints ------------------------------------------------------------------

// Pixels for the device rectangle `area`: row(y)[x] is device pixel (x, y).
struct Canvas {
    uint32_t* pixels = nullptr;
    int stride = 0;  // pixels per row
    IRect area;
    uint32_t* row(int y) const { return pixels + static_cast<ptrdiff_t>(y - area.top) * stride - area.left; }
};

// Colours that vary per pixel (gradients, bitmaps): premultiplied colours of
// `count` pixels of device row y from x.
class Shader {
public:
    virtual ~Shader() = default;
    virtual void shadeRow(int y, int x, int count, uint32_t* out) const = 0;
};

struct Paint {
    uint32_t color = 0;              // premultiplied; used when shader is null
    const Shader* shader = nullptr;
};

enum class FillRule { NonZero, EvenOdd };

IRect intersect(const IRect& a, const IRect& b);

// --- the rasteriser ---------------------------------------------------------------------

class Rasterizer {
public:
    static constexpr int kSubsamples = 16;        // sample rows per pixel row; x coverage is exact
    static constexpr int kMaxCurveSegments = 64;

    void clear() { edges_.clear(); }
    // Device coordinates. Non-finite points are dropped (with their edges).
    void addLine(Point a, Point b);
    // A quadratic curve flattened so no point strays more than `tolerance` pixels.
    void addQuad(Point a, Point control, Point b, double tolerance = 0.2);
    // A closed polygon.
    void addPolygon(const Point* points, size_t count);
    size_t edgeCount() const { return edges_.size(); }
    // No more edges are taken beyond this (hostile shapes cost bounded time).
    void setEdgeLimit(size_t limit) { limit_ = limit; }
    Box bounds() const;

    // Fills inside `clip` (device coordinates, within the canvas area).
    void fill(const Canvas& canvas, const IRect& clip, FillRule rule, const Paint& paint) const;
    // The anti-aliased coverage (0..255) of each pixel of `clip`, row by row.
    std::vector<uint8_t> coverage(const IRect& clip, FillRule rule) const;
    // Whether the point lies inside (for hit tests, in whatever space the edges are).
    bool contains(Point p, FillRule rule) const;

private:
    struct Edge {
        double x0, y0, x1, y1;
    };
    template <typename Emit>
    void scan(const IRect& clip, FillRule rule, Emit&& emit) const;

    std::vector<Edge> edges_;
    size_t limit_ = 1u << 22;
    // Scratch rows, kept between fills to spare allocations.
    mutable std::vector<int32_t> cells_, runs_;
    mutable std::vector<uint8_t> out_;
    mutable std::vector<std::pair<int32_t, int>> crossings_;
};

}  // namespace refplayer::engine
