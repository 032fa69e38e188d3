#include "swfwriter/shape.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace refplayer::swfwriter {

namespace {

// An edge record holds deltas of at most 17 signed bits.
constexpr int64_t kMaxDelta = 65535;

int32_t checkedInt32(int64_t v) {
    if (v < INT32_MIN || v > INT32_MAX)
        throw Error("coordinate out of range");
    return static_cast<int32_t>(v);
}

int32_t roundCoord(double v) {
    const double r = std::round(v);  // NaN fails the test below
    if (!(r >= INT32_MIN && r <= INT32_MAX))
        throw Error("coordinate out of range");
    return static_cast<int32_t>(r);
}

// Twice the signed area of a polygon, positive when it turns clockwise on
// screen (y grows downwards).
double doubledArea(const std::vector<Point>& pts) {
    double sum = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        const Point& a = pts[i];
        const Point& b = pts[(i + 1) % pts.size()];
        sum += double(a.x) * b.y - double(b.x) * a.y;
    }
    return sum;
}

}  // namespace

// --- Path ----------------------------------------------------------------------

Path& Path::moveTo(int32_t x, int32_t y) {
    start_ = pen_ = {x, y};
    segments_.push_back({Segment::Move, {}, pen_});
    open_ = true;
    return *this;
}

Path& Path::lineTo(int32_t x, int32_t y) {
    if (!open_)
        moveTo(pen_.x, pen_.y);
    pen_ = {x, y};
    segments_.push_back({Segment::Line, {}, pen_});
    return *this;
}

Path& Path::curveTo(int32_t cx, int32_t cy, int32_t x, int32_t y) {
    if (!open_)
        moveTo(pen_.x, pen_.y);
    pen_ = {x, y};
    segments_.push_back({Segment::Curve, {cx, cy}, pen_});
    return *this;
}

Path& Path::close() {
    if (open_ && !(pen_ == start_))
        lineTo(start_.x, start_.y);
    open_ = false;
    return *this;
}

// --- ShapeBuilder ----------------------------------------------------------------

ShapeBuilder::ShapeBuilder(int version) : version_(version), groups_(1) {
    if (version < 1 || version > 4)
        throw Error("shape version must be 1 to 4");
}

uint16_t ShapeBuilder::tagCode() const {
    static constexpr uint16_t codes[] = {2, 22, 32, 83};
    return codes[version_ - 1];
}

void ShapeBuilder::checkColor(const Rgba& c) const {
    if (version_ < 3 && c.a != 255)
        throw Error("DefineShape" + std::string(version_ == 1 ? "" : "2") + " colours cannot carry alpha");
}

uint32_t ShapeBuilder::addFill(Rgba color) {
    checkColor(color);
    auto& fills = groups_.back().fills;
    if (fills.size() >= (version_ == 1 ? 255u : 65535u))
        throw Error("too many fill styles");
    fills.push_back(Fill{color});
    return static_cast<uint32_t>(fills.size());
}

uint32_t ShapeBuilder::addFill(const BitmapFill& fill) {
    auto& fills = groups_.back().fills;
    if (fills.size() >= (version_ == 1 ? 255u : 65535u))
        throw Error("too many fill styles");
    fills.push_back(Fill{Rgba{}, fill});
    return static_cast<uint32_t>(fills.size());
}

uint32_t ShapeBuilder::addFill(const GradientFill& fill) {
    if (fill.type != 0x10 && fill.type != 0x12 && fill.type != 0x13)
        throw Error("unknown gradient type");
    if (fill.stops.empty() || fill.stops.size() > (version_ == 4 ? 15u : 8u))
        throw Error("a gradient has 1 to 15 stops (8 before DefineShape4)");
    if (version_ < 4 && (fill.type == 0x13 || fill.spread || fill.interpolation))
        throw Error("focal gradients, spread and interpolation modes need DefineShape4");
    if (fill.spread > 2 || fill.interpolation > 1)
        throw Error("unknown gradient spread or interpolation mode");
    for (const auto& stop : fill.stops)
        checkColor(stop.color);
    (void)toFixed8(fill.focal);
    auto& fills = groups_.back().fills;
    if (fills.size() >= (version_ == 1 ? 255u : 65535u))
        throw Error("too many fill styles");
    fills.push_back(Fill{Rgba{}, std::nullopt, fill});
    return static_cast<uint32_t>(fills.size());
}

uint32_t ShapeBuilder::addLine(const LineStyle& style) {
    checkColor(style.color);
    if (version_ < 4) {
        const LineStyle plain{.width = style.width, .color = style.color};
        if (style.startCap != plain.startCap || style.endCap != plain.endCap || style.join != plain.join ||
            style.noHScale || style.noVScale || style.pixelHinting || style.noClose)
            throw Error("line caps, joins and scaling flags need DefineShape4");
    }
    if (style.startCap > 2 || style.endCap > 2 || style.join > 2)
        throw Error("unknown line cap or join");
    if (style.join == LineStyle::MiterJoin)
        (void)toFixed8(style.miterLimit);  // refuse an unencodable limit now, not at encode time
    auto& lines = groups_.back().lines;
    if (lines.size() >= 65535u)
        throw Error("too many line styles");
    lines.push_back(style);
    return static_cast<uint32_t>(lines.size());
}

ShapeBuilder& ShapeBuilder::newStyles() {
    if (version_ < 2)
        throw Error("DefineShape cannot define new styles inside the shape");
    groups_.emplace_back();
    fill0_ = fill1_ = line_ = 0;
    hasPending_ = false;
    // Spell out every selection in the new group: what was selected before
    // indexed the old arrays.
    Record& r = pendingStyle();
    r.fill0 = r.fill1 = r.line = 0u;
    return *this;
}

ShapeBuilder::Record& ShapeBuilder::pendingStyle() {
    auto& records = groups_.back().records;
    if (!hasPending_) {
        records.push_back(Record{.kind = Record::Style});
        hasPending_ = true;
    }
    return records.back();
}

ShapeBuilder& ShapeBuilder::setFill0(uint32_t index) {
    if (index > groups_.back().fills.size())
        throw Error("fill style " + std::to_string(index) + " not defined");
    pendingStyle().fill0 = fill0_ = index;
    return *this;
}

ShapeBuilder& ShapeBuilder::setFill1(uint32_t index) {
    if (index > groups_.back().fills.size())
        throw Error("fill style " + std::to_string(index) + " not defined");
    pendingStyle().fill1 = fill1_ = index;
    return *this;
}

ShapeBuilder& ShapeBuilder::setLine(uint32_t index) {
    if (index > groups_.back().lines.size())
        throw Error("line style " + std::to_string(index) + " not defined");
    pendingStyle().line = line_ = index;
    return *this;
}

ShapeBuilder& ShapeBuilder::moveTo(int32_t x, int32_t y) {
    pendingStyle().move = Point{x, y};
    pen_ = {x, y};
    return *this;
}

void ShapeBuilder::include(Point p) {
    if (!any_) {
        box_ = {p.x, p.x, p.y, p.y};
        any_ = true;
        return;
    }
    box_.xMin = std::min(box_.xMin, p.x);
    box_.xMax = std::max(box_.xMax, p.x);
    box_.yMin = std::min(box_.yMin, p.y);
    box_.yMax = std::max(box_.yMax, p.y);
}

void ShapeBuilder::straight(int32_t dx, int32_t dy) {
    groups_.back().records.push_back(Record{.kind = Record::Straight, .dx = dx, .dy = dy});
}

ShapeBuilder& ShapeBuilder::lineTo(int32_t x, int32_t y) {
    const int64_t dx = int64_t(x) - pen_.x, dy = int64_t(y) - pen_.y;
    const int64_t longest = std::max(std::llabs(dx), std::llabs(dy));
    const int64_t pieces = std::max<int64_t>(1, (longest + kMaxDelta - 1) / kMaxDelta);
    int64_t doneX = 0, doneY = 0;
    for (int64_t i = 1; i <= pieces; ++i) {
        const int64_t tx = dx * i / pieces, ty = dy * i / pieces;
        straight(static_cast<int32_t>(tx - doneX), static_cast<int32_t>(ty - doneY));
        doneX = tx;
        doneY = ty;
    }
    include(pen_);
    pen_ = {x, y};
    include(pen_);
    if (line_ != 0)
        maxLineWidth_ = std::max<uint32_t>(maxLineWidth_, groups_.back().lines[line_ - 1].width);
    hasPending_ = false;
    return *this;
}

void ShapeBuilder::curve(Point c, Point a) {
    const int64_t cdx = int64_t(c.x) - pen_.x, cdy = int64_t(c.y) - pen_.y;
    const int64_t adx = int64_t(a.x) - c.x, ady = int64_t(a.y) - c.y;
    if (std::max({std::llabs(cdx), std::llabs(cdy), std::llabs(adx), std::llabs(ady)}) > kMaxDelta) {
        // Split at t = 1/2 (de Casteljau) until the deltas fit.
        const double q0x = (double(pen_.x) + c.x) / 2, q0y = (double(pen_.y) + c.y) / 2;
        const double q1x = (double(c.x) + a.x) / 2, q1y = (double(c.y) + a.y) / 2;
        const Point mid{roundCoord((q0x + q1x) / 2), roundCoord((q0y + q1y) / 2)};
        curve({roundCoord(q0x), roundCoord(q0y)}, mid);
        curve({roundCoord(q1x), roundCoord(q1y)}, a);
        return;
    }
    groups_.back().records.push_back(Record{.kind = Record::Curved,
                                            .dx = static_cast<int32_t>(adx),
                                            .dy = static_cast<int32_t>(ady),
                                            .cdx = static_cast<int32_t>(cdx),
                                            .cdy = static_cast<int32_t>(cdy)});
    // Exact extent of the quadratic: its extremum where the derivative is zero.
    auto extremum = [](double p0, double p1, double p2, double& out) {
        const double den = p0 - 2 * p1 + p2;
        if (den == 0)
            return false;
        const double t = (p0 - p1) / den;
        if (t <= 0 || t >= 1)
            return false;
        out = (1 - t) * (1 - t) * p0 + 2 * (1 - t) * t * p1 + t * t * p2;
        return true;
    };
    include(pen_);
    include(a);
    double v;
    if (extremum(pen_.x, c.x, a.x, v))
        include({roundCoord(v), pen_.y});
    if (extremum(pen_.y, c.y, a.y, v))
        include({pen_.x, roundCoord(v)});
    pen_ = a;
}

ShapeBuilder& ShapeBuilder::curveTo(int32_t cx, int32_t cy, int32_t x, int32_t y) {
    const size_t records = groups_.back().records.size();
    const Point pen = pen_;
    const Rect box = box_;
    const bool any = any_;
    try {
        curve({cx, cy}, {x, y});
    } catch (...) {
        groups_.back().records.resize(records);
        pen_ = pen;
        box_ = box;
        any_ = any;
        throw;
    }
    if (line_ != 0)
        maxLineWidth_ = std::max<uint32_t>(maxLineWidth_, groups_.back().lines[line_ - 1].width);
    hasPending_ = false;
    return *this;
}

ShapeBuilder& ShapeBuilder::addPath(const Path& path, uint32_t fill, uint32_t line) {
    const ShapeBuilder before = *this;
    try {
        addPathUnchecked(path, fill, line);
    } catch (...) {
        *this = before;
        throw;
    }
    return *this;
}

void ShapeBuilder::addPathUnchecked(const Path& path, uint32_t fill, uint32_t line) {
    // Orientation from the sub-path with the largest area.
    double best = 0;
    std::vector<Point> pts;
    auto consider = [&] {
        const double a = doubledArea(pts);
        if (std::fabs(a) > std::fabs(best))
            best = a;
        pts.clear();
    };
    for (const auto& s : path.segments()) {
        if (s.kind == Path::Segment::Move)
            consider();
        if (s.kind == Path::Segment::Curve)
            pts.push_back(s.control);
        pts.push_back(s.to);
    }
    consider();

    const bool fillOnRight = best >= 0;
    setFill0(fillOnRight ? 0 : fill);
    setFill1(fillOnRight ? fill : 0);
    setLine(line);
    const auto& segs = path.segments();
    for (size_t i = 0; i < segs.size(); ++i) {
        const auto& s = segs[i];
        switch (s.kind) {
        case Path::Segment::Move:
            // A move with nothing drawn after it changes nothing.
            if (i + 1 < segs.size() && segs[i + 1].kind != Path::Segment::Move)
                moveTo(s.to.x, s.to.y);
            break;
        case Path::Segment::Line: lineTo(s.to.x, s.to.y); break;
        case Path::Segment::Curve: curveTo(s.control.x, s.control.y, s.to.x, s.to.y); break;
        }
    }
}

ShapeBuilder& ShapeBuilder::rectangle(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t fill, uint32_t line) {
    const int32_t x2 = checkedInt32(int64_t(x) + w), y2 = checkedInt32(int64_t(y) + h);
    return polygon({{x, y}, {x2, y}, {x2, y2}, {x, y2}}, fill, line);
}

ShapeBuilder& ShapeBuilder::polygon(const std::vector<Point>& points, uint32_t fill, uint32_t line) {
    if (points.size() < 2)
        throw Error("a polygon needs at least two points");
    Path p;
    p.moveTo(points[0].x, points[0].y);
    for (size_t i = 1; i < points.size(); ++i)
        p.lineTo(points[i].x, points[i].y);
    p.close();
    return addPath(p, fill, line);
}

ShapeBuilder& ShapeBuilder::ellipse(int32_t cx, int32_t cy, int32_t rx, int32_t ry, uint32_t fill, uint32_t line) {
    if (rx <= 0 || ry <= 0)
        throw Error("ellipse radii must be positive");
    constexpr double kStep = 3.14159265358979323846 / 4;
    const double k = 1.0 / std::cos(kStep / 2);  // control points lie outside the curve
    Path p;
    p.moveTo(checkedInt32(int64_t(cx) + rx), cy);
    for (int i = 0; i < 8; ++i) {
        const double mid = (i + 0.5) * kStep, end = (i + 1) * kStep;
        const int32_t ex = i == 7 ? checkedInt32(int64_t(cx) + rx) : roundCoord(cx + rx * std::cos(end));
        const int32_t ey = i == 7 ? cy : roundCoord(cy + ry * std::sin(end));
        p.curveTo(roundCoord(cx + rx * k * std::cos(mid)), roundCoord(cy + ry * k * std::sin(mid)), ex, ey);
    }
    return addPath(p, fill, line);
}

Rect ShapeBuilder::edgeBounds() const { return any_ ? box_ : Rect{}; }

Rect ShapeBuilder::bounds() const {
    if (!any_)
        return {};
    const int32_t half = static_cast<int32_t>((maxLineWidth_ + 1) / 2);
    auto grow = [](int32_t v, int32_t by) { return checkedInt32(int64_t(v) + by); };
    return {grow(box_.xMin, -half), grow(box_.xMax, half), grow(box_.yMin, -half), grow(box_.yMax, half)};
}

void ShapeBuilder::writeStyles(SwfBuffer& out, const Group& g) const {
    auto count = [&](size_t n) {
        if (n < 255) {
            out.u8(static_cast<uint8_t>(n));
        } else {
            out.u8(0xFF);
            out.u16(static_cast<uint16_t>(n));
        }
    };
    if (version_ == 1)
        out.u8(static_cast<uint8_t>(g.fills.size()));  // no extended count in DefineShape
    else
        count(g.fills.size());
    for (const auto& f : g.fills) {
        if (f.gradient) {
            const GradientFill& gr = *f.gradient;
            out.u8(gr.type);
            out.matrix(gr.matrix);
            out.u8(static_cast<uint8_t>(gr.spread << 6 | gr.interpolation << 4 | gr.stops.size()));
            for (const auto& stop : gr.stops) {
                out.u8(stop.ratio);
                if (version_ >= 3) out.rgba(stop.color); else out.rgb(stop.color);
            }
            if (gr.type == 0x13)
                out.u16(toFixed8(gr.focal));
            continue;
        }
        if (f.bitmap) {
            out.u8(f.bitmap->typeCode());
            out.u16(f.bitmap->bitmap);
            out.matrix(f.bitmap->matrix);
            continue;
        }
        out.u8(0x00);  // solid
        if (version_ >= 3) out.rgba(f.color); else out.rgb(f.color);
    }
    count(g.lines.size());
    for (const auto& l : g.lines) {
        out.u16(l.width);
        if (version_ == 4) {
            out.ub(l.startCap, 2);
            out.ub(l.join, 2);
            out.ub(0, 1);  // colour, not a fill
            out.ub(l.noHScale, 1);
            out.ub(l.noVScale, 1);
            out.ub(l.pixelHinting, 1);
            out.ub(0, 5);
            out.ub(l.noClose, 1);
            out.ub(l.endCap, 2);
            if (l.join == LineStyle::MiterJoin)
                out.u16(toFixed8(l.miterLimit));
            out.rgba(l.color);
        } else if (version_ == 3) {
            out.rgba(l.color);
        } else {
            out.rgb(l.color);
        }
    }
}

void ShapeBuilder::writeRecords(SwfBuffer& out, const Group& g, unsigned fillBits, unsigned lineBits) const {
    for (const Record& r : g.records) {
        switch (r.kind) {
        case Record::Style: {
            out.ub(0, 1);
            out.ub(0, 1);
            out.ub(r.line.has_value(), 1);
            out.ub(r.fill1.has_value(), 1);
            out.ub(r.fill0.has_value(), 1);
            out.ub(r.move.has_value(), 1);
            if (r.move) {
                const unsigned n = std::max(signedBits(r.move->x), signedBits(r.move->y));
                out.ub(n, 5);
                out.sb(r.move->x, n);
                out.sb(r.move->y, n);
            }
            if (r.fill0) out.ub(*r.fill0, fillBits);
            if (r.fill1) out.ub(*r.fill1, fillBits);
            if (r.line) out.ub(*r.line, lineBits);
            break;
        }
        case Record::Straight: {
            out.ub(1, 1);
            out.ub(1, 1);
            if (r.dx != 0 && r.dy != 0) {
                const unsigned n = std::max({signedBits(r.dx), signedBits(r.dy), 2u});
                out.ub(n - 2, 4);
                out.ub(1, 1);
                out.sb(r.dx, n);
                out.sb(r.dy, n);
            } else {
                const bool vertical = r.dx == 0 && r.dy != 0;
                const int32_t d = vertical ? r.dy : r.dx;
                const unsigned n = std::max(signedBits(d), 2u);
                out.ub(n - 2, 4);
                out.ub(0, 1);
                out.ub(vertical, 1);
                out.sb(d, n);
            }
            break;
        }
        case Record::Curved: {
            out.ub(1, 1);
            out.ub(0, 1);
            const unsigned n = std::max({signedBits(r.cdx), signedBits(r.cdy), signedBits(r.dx),
                                         signedBits(r.dy), 2u});
            out.ub(n - 2, 4);
            out.sb(r.cdx, n);
            out.sb(r.cdy, n);
            out.sb(r.dx, n);
            out.sb(r.dy, n);
            break;
        }
        }
    }
}

std::vector<uint8_t> ShapeBuilder::encode(uint16_t characterId) const {
    SwfBuffer out;
    out.u16(characterId);
    out.rect(bounds());
    if (version_ == 4) {
        out.rect(edgeBounds());
        bool scaling = false, nonScaling = false;
        for (const auto& g : groups_)
            for (const auto& l : g.lines)
                (l.noHScale || l.noVScale ? nonScaling : scaling) = true;
        out.u8(static_cast<uint8_t>((nonScaling ? 0x02 : 0) | (scaling ? 0x01 : 0)));
    }
    for (size_t gi = 0; gi < groups_.size(); ++gi) {
        const Group& g = groups_[gi];
        if (gi > 0) {
            out.ub(0, 1);   // style change
            out.ub(1, 1);   // new styles
            out.ub(0, 4);   // nothing else in this record
        }
        writeStyles(out, g);
        const unsigned fillBits = unsignedBits(static_cast<uint32_t>(g.fills.size()));
        const unsigned lineBits = unsignedBits(static_cast<uint32_t>(g.lines.size()));
        out.ub(fillBits, 4);
        out.ub(lineBits, 4);
        writeRecords(out, g, fillBits, lineBits);
    }
    out.ub(0, 6);  // end of shape
    return out.take();
}

std::vector<uint8_t> ShapeBuilder::encodeEdges() const {
    if (groups_.size() != 1)
        throw Error("a morph shape's edges have one style group");
    const Group& g = groups_.front();
    const unsigned fillBits = unsignedBits(static_cast<uint32_t>(g.fills.size()));
    const unsigned lineBits = unsignedBits(static_cast<uint32_t>(g.lines.size()));
    SwfBuffer out;
    out.ub(fillBits, 4);
    out.ub(lineBits, 4);
    writeRecords(out, g, fillBits, lineBits);
    out.ub(0, 6);  // end of shape
    return out.take();
}

std::vector<uint8_t> ShapeBuilder::encodeGlyph() const {
    if (groups_.size() != 1 || !groups_.front().lines.empty() || groups_.front().fills.size() > 1)
        throw Error("a glyph is one fill and no lines");
    SwfBuffer out;
    out.ub(1, 4);  // fill bits
    out.ub(0, 4);  // line bits
    writeRecords(out, groups_.front(), 1, 0);
    out.ub(0, 6);  // end of shape
    return out.take();
}

uint32_t MorphShape::addFill(const MorphFill& fill) {
    const bool gradient = fill.type == 0x10 || fill.type == 0x12;
    const bool bitmap = fill.type >= 0x40 && fill.type <= 0x43;
    if (fill.type != 0x00 && !gradient && !bitmap)
        throw Error("unsupported morph fill type");
    if (gradient && (fill.stops.empty() || fill.stops.size() > 15))
        throw Error("a morph gradient has 1 to 15 stops");
    fills_.push_back(fill);
    // The start shape indexes its styles like a plain shape's.
    start.addFill(fill.startColor);
    return static_cast<uint32_t>(fills_.size());
}

uint32_t MorphShape::addLine(const MorphLine& line) {
    lines_.push_back(line);
    start.addLine(line.startWidth, line.startColor);
    return static_cast<uint32_t>(lines_.size());
}

std::vector<uint8_t> MorphShape::encode(uint16_t characterId) const {
    uint16_t endWidth = 0;
    for (const MorphLine& l : lines_)
        endWidth = std::max(endWidth, l.endWidth);
    const Rect e = end.edgeBounds();
    const int32_t half = (endWidth + 1) / 2;
    const Rect endBounds{e.xMin - half, e.xMax + half, e.yMin - half, e.yMax + half};
    SwfBuffer out;
    out.u16(characterId);
    out.rect(start.bounds());
    out.rect(endBounds);
    if (version_ == 2) {
        out.rect(start.edgeBounds());
        out.rect(e);
        out.u8(lines_.empty() ? 0 : 0x01);  // scaling strokes
    }
    SwfBuffer styles;
    auto count = [&](size_t n) {
        if (n < 255) {
            styles.u8(static_cast<uint8_t>(n));
        } else {
            styles.u8(0xFF);
            styles.u16(static_cast<uint16_t>(n));
        }
    };
    count(fills_.size());
    for (const MorphFill& f : fills_) {
        styles.u8(f.type);
        if (f.type == 0x00) {
            styles.rgba(f.startColor);
            styles.rgba(f.endColor);
        } else if (f.type < 0x40) {
            styles.matrix(f.startMatrix);
            styles.matrix(f.endMatrix);
            styles.u8(static_cast<uint8_t>(f.stops.size()));
            for (const MorphFill::Stop& st : f.stops) {
                styles.u8(st.startRatio);
                styles.rgba(st.startColor);
                styles.u8(st.endRatio);
                styles.rgba(st.endColor);
            }
        } else {
            styles.u16(f.bitmap);
            styles.matrix(f.startMatrix);
            styles.matrix(f.endMatrix);
        }
    }
    count(lines_.size());
    for (const MorphLine& l : lines_) {
        styles.u16(l.startWidth);
        styles.u16(l.endWidth);
        if (version_ == 2) {
            styles.u8(0);  // round caps and joins, a colour, scaling
            styles.u8(0);
        }
        styles.rgba(l.startColor);
        styles.rgba(l.endColor);
    }
    const std::vector<uint8_t> startEdges = start.encodeEdges();
    std::vector<uint8_t> head = styles.take();
    // The end edges begin this many bytes after the offset field.
    out.u32(static_cast<uint32_t>(head.size() + startEdges.size()));
    out.bytes(head);
    out.bytes(startEdges);
    out.bytes(end.encodeEdges());
    return out.take();
}

}  // namespace refplayer::swfwriter
