#include "raster.h"

#include "int_conv.h"

#include <algorithm>
#include <cmath>

namespace refplayer::engine {

IRect intersect(const IRect& a, const IRect& b)
{
    IRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    if (r.empty())
        return IRect{};
    return r;
}

// --- spans ---------------------------------------------------------------------------------

void compositeSpanScalar(uint32_t* dst, const uint32_t* src, int count)
{
    for (int i = 0; i < count; ++i)
        dst[i] = blendOver(src[i], dst[i]);
}

namespace {

// round(x / 255) in both 16-bit lanes (0x00FF00FF layout in, same out); each
// lane holds at most 255 * 255.
inline uint32_t div255Lanes(uint32_t x)
{
    x += 0x00800080;
    return ((x + ((x >> 8) & 0x00FF00FF)) >> 8) & 0x00FF00FF;
}

// dst * inv / 255 for all four channels, two lanes at a time.
inline uint32_t scaleLanes(uint32_t p, uint32_t inv)
{
    uint32_t rb = div255Lanes((p & 0x00FF00FF) * inv);
    uint32_t ag = div255Lanes(((p >> 8) & 0x00FF00FF) * inv);
    return rb | (ag << 8);
}

}  // namespace

void compositeSpan(uint32_t* dst, const uint32_t* src, int count)
{
    for (int i = 0; i < count; ++i) {
        uint32_t s = src[i];
        uint32_t sa = s >> 24;
        if (sa == 255) {
            dst[i] = s;
        } else if (s != 0) {
            // Channels of a premultiplied source never exceed its alpha, so
            // adding whole words cannot carry from one channel into the next.
            dst[i] = s + scaleLanes(dst[i], 255 - sa);
        }
    }
}

void blendSolidSpanScalar(uint32_t* dst, const uint8_t* coverage, int count, uint32_t color)
{
    for (int i = 0; i < count; ++i)
        if (coverage[i])
            dst[i] = blendOver(scalePixel(color, coverage[i]), dst[i]);
}

void blendSolidSpan(uint32_t* dst, const uint8_t* coverage, int count, uint32_t color)
{
    const uint32_t alpha = color >> 24;
    const uint32_t inv = 255 - alpha;
    for (int i = 0; i < count; ++i) {
        uint32_t c = coverage[i];
        if (c == 0)
            continue;
        if (c == 255) {
            dst[i] = alpha == 255 ? color : color + scaleLanes(dst[i], inv);
            continue;
        }
        uint32_t s = scaleLanes(color, c);
        dst[i] = s + scaleLanes(dst[i], 255 - (s >> 24));
    }
}

// --- edges ------------------------------------------------------------------------------------

namespace {
bool finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }
}  // namespace

void Rasterizer::addLine(Point a, Point b)
{
    if (!finite(a) || !finite(b) || edges_.size() >= limit_)
        return;
    if (a.y == b.y)
        return;  // horizontal edges cross no sample row
    edges_.push_back(Edge{a.x, a.y, b.x, b.y});
}

void Rasterizer::addQuad(Point a, Point c, Point b, double tolerance)
{
    if (!finite(a) || !finite(b) || !finite(c))
        return;
    double dx = a.x - 2 * c.x + b.x, dy = a.y - 2 * c.y + b.y;
    double dd = std::sqrt(dx * dx + dy * dy);
    // Deviation of a chord over a parameter step h is |a - 2c + b| h^2 / 4.
    const int n = num::truncClamp<int>(std::ceil(std::sqrt(dd / (4 * std::max(tolerance, 1e-3)))), 1, kMaxCurveSegments);
    Point prev = a;
    for (int i = 1; i <= n; ++i) {
        double t = static_cast<double>(i) / n, u = 1 - t;
        Point p = i == n ? b : Point{u * u * a.x + 2 * u * t * c.x + t * t * b.x, u * u * a.y + 2 * u * t * c.y + t * t * b.y};
        addLine(prev, p);
        prev = p;
    }
}

void Rasterizer::addPolygon(const Point* points, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        addLine(points[i], points[(i + 1) % count]);
}

Box Rasterizer::bounds() const
{
    Box b;
    for (const Edge& e : edges_) {
        b.add(Point{e.x0, e.y0});
        b.add(Point{e.x1, e.y1});
    }
    return b;
}

bool Rasterizer::contains(Point p, FillRule rule) const
{
    int winding = 0;
    for (const Edge& e : edges_) {
        bool down = e.y0 < e.y1;
        double top = down ? e.y0 : e.y1, bottom = down ? e.y1 : e.y0;
        if (p.y < top || p.y >= bottom)
            continue;
        double x = e.x0 + (p.y - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0);
        if (x < p.x)
            winding += down ? 1 : -1;
    }
    return rule == FillRule::NonZero ? winding != 0 : (winding & 1) != 0;
}

// Walks the rows of `clip`, handing emit(y, x0, coverage*, count) the coverage
// of each row that has any.
template <typename Emit>
void Rasterizer::scan(const IRect& clipIn, FillRule rule, Emit&& emit) const
{
    if (clipIn.empty() || edges_.empty())
        return;
    // Work only over the columns the edges can reach: crossings further left
    // land on the clip's left border anyway, and nothing lies right of them.
    double minX = edges_[0].x0, maxX = edges_[0].x0;
    for (const Edge& e : edges_) {
        minX = std::min({minX, e.x0, e.x1});
        maxX = std::max({maxX, e.x0, e.x1});
    }
    IRect clip = clipIn;
    if (minX > clip.left)
        clip.left = static_cast<int>(std::min<double>(std::floor(minX), clip.right));
    if (maxX < clip.right)
        clip.right = static_cast<int>(std::max<double>(std::ceil(maxX) + 1, clip.left));
    if (clip.empty())
        return;
    struct Active {
        double top, bottom, x, slope;  // x at `top`
        int dir;
    };
    std::vector<Active> sorted;
    sorted.reserve(edges_.size());
    for (const Edge& e : edges_) {
        bool down = e.y0 < e.y1;
        Active a;
        a.top = down ? e.y0 : e.y1;
        a.bottom = down ? e.y1 : e.y0;
        a.x = down ? e.x0 : e.x1;
        a.slope = (e.x1 - e.x0) / (e.y1 - e.y0);
        a.dir = down ? 1 : -1;
        if (a.bottom <= clip.top || a.top >= clip.bottom)
            continue;
        sorted.push_back(a);
    }
    if (sorted.empty())
        return;
    std::sort(sorted.begin(), sorted.end(), [](const Active& l, const Active& r) { return l.top < r.top; });

    const int width = clip.right - clip.left;
    const int32_t left256 = clip.left * 256, right256 = clip.right * 256;
    std::vector<int32_t>& cells = cells_;
    std::vector<int32_t>& runs = runs_;
    cells.assign(static_cast<size_t>(width) + 2, 0);
    runs.assign(static_cast<size_t>(width) + 2, 0);
    std::vector<uint8_t>& out = out_;
    out.resize(static_cast<size_t>(width));
    std::vector<const Active*> active;
    std::vector<std::pair<int32_t, int>>& crossings = crossings_;
    size_t next = 0;
    constexpr int S = kSubsamples;
    constexpr int32_t full = S * 256;

    int y = clip.top;
    while (y < clip.bottom) {
        const double rowTop = y, rowBottom = y + 1.0;
        while (next < sorted.size() && sorted[next].top < rowBottom)
            active.push_back(&sorted[next++]);
        active.erase(std::remove_if(active.begin(), active.end(), [&](const Active* a) { return a->bottom <= rowTop; }),
                     active.end());
        if (active.empty()) {
            if (next >= sorted.size())
                break;
            // Nothing on this row: jump to the next edge's first row.
            double jump = std::floor(sorted[next].top);
            y = jump > y ? static_cast<int>(std::min<double>(jump, clip.bottom)) : y + 1;
            continue;
        }
        int minCell = width, maxCell = -1;
        for (int s = 0; s < S; ++s) {
            const double sy = y + (s + 0.5) / S;
            crossings.clear();
            for (const Active* a : active) {
                if (sy < a->top || sy >= a->bottom)
                    continue;
                double x = a->x + (sy - a->top) * a->slope;
                // Crossings left or right of the clip still count for the
                // winding; they just land on its border.
                crossings.emplace_back(num::roundClamp<int32_t>(x * 256.0, left256, right256), a->dir);
            }
            if (crossings.size() < 2)
                continue;
            std::sort(crossings.begin(), crossings.end());
            int winding = 0;
            for (size_t i = 0; i + 1 < crossings.size(); ++i) {
                winding += crossings[i].second;
                bool inside = rule == FillRule::NonZero ? winding != 0 : (winding & 1) != 0;
                if (!inside)
                    continue;
                int32_t a = crossings[i].first - left256, b = crossings[i + 1].first - left256;
                if (b <= a)
                    continue;
                int ia = a >> 8, ib = b >> 8;
                minCell = std::min(minCell, ia);
                maxCell = std::max(maxCell, std::min(ib, width - 1));
                if (ia == ib) {
                    cells[ia] += b - a;
                } else {
                    cells[ia] += 256 - (a & 255);
                    runs[ia + 1] += 256;
                    runs[ib] -= 256;
                    cells[ib] += b & 255;
                }
            }
        }
        if (maxCell >= minCell) {
            int32_t run = 0;
            for (int i = 0; i < minCell; ++i)
                run += runs[i];
            for (int i = minCell; i <= maxCell; ++i) {
                run += runs[i];
                int32_t c = std::clamp(run + cells[i], 0, full);
                out[i] = static_cast<uint8_t>((c * 255 + full / 2) / full);
                cells[i] = 0;
                runs[i] = 0;
            }
            // The run's closing entries may sit just past the last cell.
            std::fill(runs.begin() + maxCell + 1, runs.end(), 0);
            std::fill(cells.begin() + maxCell + 1, cells.end(), 0);
            std::fill(runs.begin(), runs.begin() + minCell, 0);
            emit(y, clip.left + minCell, out.data() + minCell, maxCell - minCell + 1);
        }
        ++y;
    }
}

void Rasterizer::fill(const Canvas& canvas, const IRect& clipIn, FillRule rule, const Paint& paint) const
{
    IRect clip = intersect(clipIn, canvas.area);
    if (clip.empty() || (!paint.shader && paint.color == 0))
        return;
    std::vector<uint32_t> shade;
    scan(clip, rule, [&](int y, int x, const uint8_t* cov, int count) {
        uint32_t* dst = canvas.row(y) + x;
        if (!paint.shader) {
            blendSolidSpan(dst, cov, count, paint.color);
            return;
        }
        shade.resize(static_cast<size_t>(count));
        paint.shader->shadeRow(y, x, count, shade.data());
        for (int i = 0; i < count; ++i)
            if (cov[i])
                dst[i] = blendOver(scalePixel(shade[i], cov[i]), dst[i]);
    });
}

std::vector<uint8_t> Rasterizer::coverage(const IRect& clip, FillRule rule) const
{
    std::vector<uint8_t> result;
    if (clip.empty())
        return result;
    const int width = clip.right - clip.left;
    result.assign(static_cast<size_t>(width) * (clip.bottom - clip.top), 0);
    scan(clip, rule, [&](int y, int x, const uint8_t* cov, int count) {
        std::copy(cov, cov + count, result.begin() + static_cast<ptrdiff_t>(y - clip.top) * width + (x - clip.left));
    });
    return result;
}

}  // namespace refplayer::engine
