#include "fill_layer.h"

#include <algorithm>
#include <cmath>

namespace refplayer::engine {

FillLayer::FillLayer(const Canvas& canvas, const IRect& box) : canvas_(canvas), box_(box)
{
    if (box_.empty())
        return;
    width_ = box_.right - box_.left;
    layer_.assign(static_cast<size_t>(width_) * (box_.bottom - box_.top), 0);
    shade_.resize(static_cast<size_t>(width_));
}

void FillLayer::add(const Rasterizer& r, FillRule rule, const Paint& paint)
{
    if (box_.empty() || (!paint.shader && !paint.color))
        return;
    // Only the pixels this fill's edges span: a group of many small fills
    // costs what drawing them one by one would.
    const Box b = r.bounds();
    if (b.empty() || !std::isfinite(b.xMin) || !std::isfinite(b.yMin) || !std::isfinite(b.xMax) || !std::isfinite(b.yMax))
        return;
    auto clampInt = [](double v) { return static_cast<int>(std::clamp(v, -1e8, 1e8)); };
    const IRect area = intersect(box_, IRect{clampInt(std::floor(b.xMin)), clampInt(std::floor(b.yMin)),
                                             clampInt(std::ceil(b.xMax)) + 1, clampInt(std::ceil(b.yMax)) + 1});
    if (area.empty())
        return;
    const int w = area.right - area.left;
    const std::vector<uint8_t> coverage = r.coverage(area, rule);
    for (int y = area.top; y < area.bottom; ++y) {
        const uint8_t* cov = &coverage[static_cast<size_t>(y - area.top) * w];
        uint32_t* dst = &layer_[static_cast<size_t>(y - box_.top) * width_ + (area.left - box_.left)];
        int first = 0;
        while (first < w && !cov[first])
            ++first;
        if (first == w)
            continue;
        int last = w;
        while (!cov[last - 1])
            --last;
        if (paint.shader)
            paint.shader->shadeRow(y, area.left + first, last - first, shade_.data() + first);
        for (int x = first; x < last; ++x)
            if (cov[x])
                dst[x] = addPixels(dst[x], scalePixel(paint.shader ? shade_[x] : paint.color, cov[x]));
    }
}

void FillLayer::composite()
{
    for (int y = box_.top; y < box_.bottom; ++y)
        compositeSpan(canvas_.row(y) + box_.left, &layer_[static_cast<size_t>(y - box_.top) * width_], width_);
}

}  // namespace refplayer::engine
