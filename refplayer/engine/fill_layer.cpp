#include "fill_layer.h"

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
    const std::vector<uint8_t> coverage = r.coverage(box_, rule);
    for (int y = box_.top; y < box_.bottom; ++y) {
        const size_t row = static_cast<size_t>(y - box_.top) * width_;
        const uint8_t* cov = &coverage[row];
        uint32_t* dst = &layer_[row];
        int first = 0;
        while (first < width_ && !cov[first])
            ++first;
        if (first == width_)
            continue;
        int last = width_;
        while (!cov[last - 1])
            --last;
        if (paint.shader)
            paint.shader->shadeRow(y, box_.left + first, last - first, shade_.data() + first);
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
