#include "stroke.h"

#include "int_conv.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace refplayer::engine {

namespace {

void flattenInto(Point a, Point c, Point b, double tolerance, std::vector<Point>& out)
{
    double dx = a.x - 2 * c.x + b.x, dy = a.y - 2 * c.y + b.y;
    double dd = std::sqrt(dx * dx + dy * dy);
    const int n = num::truncClamp<int>(std::ceil(std::sqrt(dd / (4 * tolerance))), 1, Rasterizer::kMaxCurveSegments);
    for (int i = 1; i <= n; ++i) {
        double t = static_cast<double>(i) / n, u = 1 - t;
        out.push_back(i == n ? b : Point{u * u * a.x + 2 * u * t * c.x + t * t * b.x, u * u * a.y + 2 * u * t * c.y + t * t * b.y});
    }
}

// Every piece goes in with the same orientation (negative signed area, as
// the rasteriser's polygons for strokes always have), so the non-zero rule
// unites overlapping pieces instead of cancelling them.
void addPiece(Rasterizer& r, Point* pts, size_t n)
{
    double area = 0;
    for (size_t i = 0; i < n; ++i) {
        const Point& a = pts[i];
        const Point& b = pts[(i + 1) % n];
        area += a.x * b.y - b.x * a.y;
    }
    if (!(std::fabs(area) > 1e-12))
        return;
    if (area > 0)
        std::reverse(pts, pts + n);
    r.addPolygon(pts, n);
}

void disc(Rasterizer& r, Point c, double hw)
{
    const int sides = num::truncClamp<int>(std::ceil(hw * 4), 8, 32);
    Point poly[32];
    for (int i = 0; i < sides; ++i) {
        double a = -2 * std::numbers::pi * i / sides;
        poly[i] = Point{c.x + hw * std::cos(a), c.y + hw * std::sin(a)};
    }
    addPiece(r, poly, static_cast<size_t>(sides));
}

struct Dir {
    double x = 0, y = 0;  // unit direction
};

Dir unit(Point p, Point q)
{
    const double dx = q.x - p.x, dy = q.y - p.y, len = std::sqrt(dx * dx + dy * dy);
    return Dir{dx / len, dy / len};
}

void cap(Rasterizer& r, Point end, Dir outward, uint8_t style, double hw)
{
    if (style == 1)
        return;  // none: the stroke stops square at the end point
    if (style == 2) {
        const double nx = -outward.y * hw, ny = outward.x * hw;
        const double fx = outward.x * hw, fy = outward.y * hw;
        Point quad[4] = {{end.x + nx, end.y + ny}, {end.x + nx + fx, end.y + ny + fy},
                         {end.x - nx + fx, end.y - ny + fy}, {end.x - nx, end.y - ny}};
        addPiece(r, quad, 4);
        return;
    }
    disc(r, end, hw);
}

void joint(Rasterizer& r, Point v, Dir in, Dir out, const StrokeStyle& s)
{
    const double hw = s.halfWidth;
    if (s.join == 0) {
        disc(r, v, hw);
        return;
    }
    const double cross = in.x * out.y - in.y * out.x;
    if (std::fabs(cross) < 1e-12 && in.x * out.x + in.y * out.y > 0)
        return;  // straight on: the two bands already meet
    // The outer side of the turn.
    const double side = cross > 0 ? -1 : 1;
    const Point a{v.x + side * -in.y * hw, v.y + side * in.x * hw};
    const Point b{v.x + side * -out.y * hw, v.y + side * out.x * hw};
    if (s.join == 2) {
        // Miter: the outer edges meet at the tip, hw / cos(half the turn)
        // from the vertex; past the limit the tip is cut off square to it.
        double mx = (a.x - v.x) + (b.x - v.x), my = (a.y - v.y) + (b.y - v.y);
        const double ml = std::sqrt(mx * mx + my * my);
        if (ml > 1e-12) {
            mx /= ml;
            my /= ml;
            const double cosHalf = ((a.x - v.x) * mx + (a.y - v.y) * my) / hw;
            const double tipDistance = cosHalf > 1e-9 ? hw / cosHalf : INFINITY;
            const double limit = std::max(1.0, s.miterLimit) * 2 * hw;  // the factor counts whole widths
            const double base = hw * cosHalf;  // how far a and b lie along the miter
            if (tipDistance <= limit) {
                Point quad[4] = {v, a, {v.x + mx * tipDistance, v.y + my * tipDistance}, b};
                addPiece(r, quad, 4);
                return;
            }
            if (limit > base && std::isfinite(tipDistance)) {
                const double f = (limit - base) / (tipDistance - base);
                const Point tip{v.x + mx * tipDistance, v.y + my * tipDistance};
                Point poly[5] = {v, a, {a.x + (tip.x - a.x) * f, a.y + (tip.y - a.y) * f},
                                 {b.x + (tip.x - b.x) * f, b.y + (tip.y - b.y) * f}, b};
                addPiece(r, poly, 5);
                return;
            }
        }
    }
    Point tri[3] = {v, a, b};  // bevel
    addPiece(r, tri, 3);
}

void strokePolyline(Rasterizer& r, const std::vector<Point>& pts, bool closed, const StrokeStyle& s)
{
    const double hw = s.halfWidth;
    if (pts.size() == 1) {
        // A dot: what the caps make of a zero-length line.
        if (s.startCap == 0)
            disc(r, pts[0], hw);
        else if (s.startCap == 2) {
            const Point c = pts[0];
            Point square[4] = {{c.x - hw, c.y - hw}, {c.x + hw, c.y - hw}, {c.x + hw, c.y + hw}, {c.x - hw, c.y + hw}};
            addPiece(r, square, 4);
        }
        return;
    }
    for (size_t i = 0; i + 1 < pts.size(); ++i) {
        const Point p = pts[i], q = pts[i + 1];
        const Dir d = unit(p, q);
        const double nx = -d.y * hw, ny = d.x * hw;
        Point quad[4] = {{p.x + nx, p.y + ny}, {q.x + nx, q.y + ny}, {q.x - nx, q.y - ny}, {p.x - nx, p.y - ny}};
        addPiece(r, quad, 4);
        if (i > 0)
            joint(r, p, unit(pts[i - 1], p), d, s);
    }
    const size_t n = pts.size();
    if (closed) {
        joint(r, pts[0], unit(pts[n - 2], pts[n - 1]), unit(pts[0], pts[1]), s);
        return;
    }
    cap(r, pts[0], unit(pts[1], pts[0]), s.startCap, hw);
    cap(r, pts[n - 1], unit(pts[n - 2], pts[n - 1]), s.endCap, hw);
}

}  // namespace

StrokeStyle strokeStyleOf(const LineStyle& line, double halfWidth)
{
    StrokeStyle s;
    s.halfWidth = halfWidth;
    s.startCap = line.startCap <= 2 ? line.startCap : 0;
    s.endCap = line.endCap <= 2 ? line.endCap : 0;
    s.join = line.join <= 2 ? line.join : 0;
    s.miterLimit = line.miterLimit;
    s.noClose = line.noClose;
    s.pixelHinting = line.pixelHinting;
    return s;
}

double strokeWidthPixels(const LineStyle& line, const Matrix& world, const Matrix& view)
{
    double scale = world.meanScale();
    if (line.noHScale || line.noVScale) {
        // The object's own matrix, in stage twips.
        const Matrix own = view.inverted() * world;
        double objectScale = 1;
        if (!line.noVScale)
            objectScale = std::hypot(own.c, own.d);  // no-h-scale alone: the y axis's stretch
        else if (!line.noHScale)
            objectScale = std::hypot(own.a, own.b);  // no-v-scale alone: the x axis's stretch
        scale = view.meanScale() * objectScale;
    }
    const double width = line.width * scale;
    if (!std::isfinite(width))
        return 1.0;
    return std::max(1.0, line.pixelHinting ? std::round(width) : width);
}

void addStroke(Rasterizer& r, const std::vector<Segment>& segments, const Matrix& m, const StrokeStyle& style,
               double tolerance)
{
    std::vector<Point> pts;
    const Segment* first = nullptr;
    const Segment* last = nullptr;
    auto finish = [&] {
        if (!first)
            return;
        // A path that ends where it began is joined there, not capped.
        const bool closed = !style.noClose && pts.size() > 2 && first->x0 == last->x1 && first->y0 == last->y1;
        if (closed && pts.size() > 1)
            pts.pop_back();  // the start point again
        if (closed)
            pts.push_back(pts.front());
        strokePolyline(r, pts, closed, style);
        pts.clear();
        first = nullptr;
    };
    // Where hinting puts an anchor: odd whole widths centre on a pixel, even
    // ones on a pixel corner.
    const double hintOffset = std::fmod(std::round(2 * style.halfWidth), 2.0) != 0 ? 0.5 : 0.0;
    auto anchor = [&](int32_t x, int32_t y) {
        const Point p = m.apply(x, y);
        if (!style.pixelHinting)
            return p;
        return Point{std::floor(p.x - hintOffset + 0.5) + hintOffset, std::floor(p.y - hintOffset + 0.5) + hintOffset};
    };
    auto push = [&](Point p) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            return;
        if (!pts.empty() && std::fabs(pts.back().x - p.x) < 1e-9 && std::fabs(pts.back().y - p.y) < 1e-9)
            return;  // no zero-length pieces: they have no direction
        pts.push_back(p);
    };
    for (const Segment& s : segments) {
        if (last && (s.x0 != last->x1 || s.y0 != last->y1))
            finish();
        const Point from = anchor(s.x0, s.y0), to = anchor(s.x1, s.y1);
        if (!first) {
            first = &s;
            push(from);
        }
        if (s.curve) {
            // The control point moves as its ends did on average.
            const Point a = m.apply(s.x0, s.y0), b = m.apply(s.x1, s.y1), c = m.apply(s.cx, s.cy);
            const Point control{c.x + ((from.x - a.x) + (to.x - b.x)) / 2, c.y + ((from.y - a.y) + (to.y - b.y)) / 2};
            std::vector<Point> flat;
            flattenInto(from, control, to, tolerance, flat);
            for (const Point& p : flat)
                push(p);
        } else {
            push(to);
        }
        last = &s;
    }
    finish();
}

}  // namespace refplayer::engine
