#include "morph_shape.h"

#include "swf_reader.h"

#include <cmath>

namespace refplayer::engine {

namespace {

Rgba readRgba(SwfReader& r)
{
    Rgba c;
    c.r = r.u8();
    c.g = r.u8();
    c.b = r.u8();
    c.a = r.u8();
    return c;
}

size_t readCount(SwfReader& r, size_t& budget)
{
    size_t count = r.u8();
    if (count == 0xFF)
        count = r.u16();
    if (count > budget)
        r.fail("too many styles in one shape");
    budget -= count;
    return count;
}

MorphFill readMorphFill(SwfReader& r)
{
    MorphFill f;
    const uint8_t type = r.u8();
    switch (type) {
    case 0x00:
        f.start.color = readRgba(r);
        f.end.color = readRgba(r);
        break;
    case 0x10:
    case 0x12:
    case 0x13: {
        f.start.kind = f.end.kind = type == 0x10   ? FillStyle::Kind::LinearGradient
                                    : type == 0x12 ? FillStyle::Kind::RadialGradient
                                                   : FillStyle::Kind::FocalGradient;
        f.start.matrix = readMatrix(r);
        f.end.matrix = readMatrix(r);
        // Spread and interpolation modes share the count's byte, as in plain gradients.
        const uint8_t head = r.u8();
        f.start.spread = f.end.spread = static_cast<uint8_t>(head >> 6);
        f.start.linearRgb = f.end.linearRgb = ((head >> 4) & 3) == 1;
        const unsigned count = head & 0x0F;
        if (count == 0)
            r.fail("gradient without colours");
        for (unsigned i = 0; i < count; ++i) {
            GradientStop s, e;
            s.ratio = r.u8();
            s.color = readRgba(r);
            e.ratio = r.u8();
            e.color = readRgba(r);
            f.start.stops.push_back(s);
            f.end.stops.push_back(e);
        }
        if (type == 0x13) {
            f.start.focal = r.fixed8();
            f.end.focal = r.fixed8();
        }
        break;
    }
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x43:
        f.start.kind = f.end.kind = FillStyle::Kind::Bitmap;
        f.start.bitmapRepeat = f.end.bitmapRepeat = (type & 1) == 0;
        f.start.bitmapSmooth = f.end.bitmapSmooth = type < 0x42;
        f.start.bitmapId = f.end.bitmapId = r.u16();
        f.start.matrix = readMatrix(r);
        f.end.matrix = readMatrix(r);
        break;
    default:
        r.fail("unknown morph fill style type " + std::to_string(type));
    }
    return f;
}

MorphLine readMorphLine(SwfReader& r, int version)
{
    MorphLine l;
    l.start.width = r.u16();
    l.end.width = r.u16();
    if (version >= 2) {
        LineStyle& st = l.start;
        st.startCap = static_cast<uint8_t>(r.ub(2));
        st.join = static_cast<uint8_t>(r.ub(2));
        const bool hasFill = r.flag();
        st.noHScale = r.flag();
        st.noVScale = r.flag();
        st.pixelHinting = r.flag();
        r.ub(5);  // reserved
        st.noClose = r.flag();
        st.endCap = static_cast<uint8_t>(r.ub(2));
        if (st.join == 2)
            st.miterLimit = r.u16() / 256.0;
        const uint16_t endWidth = l.end.width;
        l.end = st;
        l.end.width = endWidth;
        if (hasFill) {
            // A filled stroke draws in a colour of its fill, as in DefineShape4.
            MorphFill f = readMorphFill(r);
            auto colourOf = [](const FillStyle& s) { return s.stops.empty() ? s.color : s.stops.front().color; };
            l.start.color = colourOf(f.start);
            l.end.color = colourOf(f.end);
            l.start.hasFill = l.end.hasFill = true;
            l.start.fill = std::move(f.start);
            l.end.fill = std::move(f.end);
            return l;
        }
    }
    l.start.color = readRgba(r);
    l.end.color = readRgba(r);
    return l;
}

struct Edge {
    Segment segment;
    uint32_t fill0 = 0, fill1 = 0, line = 0;
};

// The SHAPE records of one end of a morph: style indexes and edges only (a
// morph's styles are all in its style arrays).
std::vector<Edge> readEdges(SwfReader& r, uint16_t id, const Limits& limits, size_t& movieEdges)
{
    std::vector<Edge> edges;
    r.align();
    const unsigned fillBits = r.ub(4), lineBits = r.ub(4);
    int32_t x = 0, y = 0;
    uint32_t fill0 = 0, fill1 = 0, line = 0;
    for (size_t records = 0;; ++records) {
        if (records >= limits.shapeRecords)
            r.fail("shape " + std::to_string(id) + " has more than " + std::to_string(limits.shapeRecords) + " records");
        if (!r.flag()) {
            const StyleChange c = readStyleChange(r, fillBits, lineBits, x, y, fill0, fill1, line);
            if (c.end)
                break;
            if (c.newStyles)
                r.fail("morph shape " + std::to_string(id) + " starts new styles");
            continue;
        }
        if (++movieEdges > limits.movieEdges)
            r.fail("the movie's shapes have more than " + std::to_string(limits.movieEdges) + " edges");
        const Segment s = readEdge(r, x, y);
        edges.push_back(Edge{s, fill0, fill1, line});
    }
    return edges;
}

Segment asCurve(Segment s)
{
    if (!s.curve) {
        s.curve = true;
        // Halfway, in 64-bit so far-apart ends cannot overflow.
        s.cx = static_cast<int32_t>((int64_t(s.x0) + s.x1) / 2);
        s.cy = static_cast<int32_t>((int64_t(s.y0) + s.y1) / 2);
    }
    return s;
}

double lerp(double a, double b, double t) { return a + (b - a) * t; }

int32_t lerpCoord(int32_t a, int32_t b, double t) { return static_cast<int32_t>(std::lround(lerp(a, b, t))); }

uint8_t lerpByte(uint8_t a, uint8_t b, double t) { return static_cast<uint8_t>(std::lround(lerp(a, b, t))); }

Rgba lerpColor(Rgba a, Rgba b, double t)
{
    return Rgba{lerpByte(a.r, b.r, t), lerpByte(a.g, b.g, t), lerpByte(a.b, b.b, t), lerpByte(a.a, b.a, t)};
}

Matrix lerpMatrix(const Matrix& a, const Matrix& b, double t)
{
    return Matrix{lerp(a.a, b.a, t), lerp(a.b, b.b, t), lerp(a.c, b.c, t),
                  lerp(a.d, b.d, t), lerp(a.tx, b.tx, t), lerp(a.ty, b.ty, t)};
}

FillStyle lerpFill(const FillStyle& a, const FillStyle& b, double t)
{
    FillStyle f = a;
    f.color = lerpColor(a.color, b.color, t);
    f.matrix = lerpMatrix(a.matrix, b.matrix, t);
    f.focal = lerp(a.focal, b.focal, t);
    for (size_t i = 0; i < f.stops.size() && i < b.stops.size(); ++i) {
        f.stops[i].ratio = lerpByte(a.stops[i].ratio, b.stops[i].ratio, t);
        f.stops[i].color = lerpColor(a.stops[i].color, b.stops[i].color, t);
    }
    return f;
}

Box lerpBox(const Box& a, const Box& b, double t)
{
    if (a.empty() || b.empty())
        return a.empty() ? b : a;
    return Box{lerp(a.xMin, b.xMin, t), lerp(a.yMin, b.yMin, t), lerp(a.xMax, b.xMax, t), lerp(a.yMax, b.yMax, t)};
}

// The shape at t (0..1): one style group, each style's edges gathered into
// one path with the fill on the same side, as plain shapes are.
void build(const MorphShapeDef& m, double t, ShapeDef& out)
{
    out.bounds = lerpBox(m.startBounds, m.endBounds, t);
    out.groups.assign(1, ShapeGroup{});
    ShapeGroup& g = out.groups.front();
    for (const MorphFill& f : m.fills)
        g.fills.push_back(lerpFill(f.start, f.end, t));
    for (const MorphLine& l : m.lines) {
        LineStyle s = l.start;
        s.width = static_cast<uint16_t>(std::lround(lerp(l.start.width, l.end.width, t)));
        s.color = lerpColor(l.start.color, l.end.color, t);
        if (s.hasFill)
            s.fill = lerpFill(l.start.fill, l.end.fill, t);
        g.lines.push_back(s);
    }
    std::vector<int> fillSlot(g.fills.size() + 1, -1), lineSlot(g.lines.size() + 1, -1);
    auto path = [](std::vector<ShapePath>& paths, std::vector<int>& slots, uint32_t style) -> ShapePath* {
        if (style == 0 || style >= slots.size())
            return nullptr;  // a broken index draws nothing
        if (slots[style] < 0) {
            slots[style] = static_cast<int>(paths.size());
            paths.push_back(ShapePath{style, {}});
        }
        return &paths[static_cast<size_t>(slots[style])];
    };
    for (const MorphEdge& e : m.edges) {
        Segment s;
        if (t == 0) {
            s = e.start;
        } else if (t == 1) {
            s = e.end;
        } else {
            const bool curve = e.start.curve || e.end.curve;
            const Segment a = curve ? asCurve(e.start) : e.start, b = curve ? asCurve(e.end) : e.end;
            s.curve = curve;
            s.x0 = lerpCoord(a.x0, b.x0, t);
            s.y0 = lerpCoord(a.y0, b.y0, t);
            s.cx = lerpCoord(a.cx, b.cx, t);
            s.cy = lerpCoord(a.cy, b.cy, t);
            s.x1 = lerpCoord(a.x1, b.x1, t);
            s.y1 = lerpCoord(a.y1, b.y1, t);
        }
        if (e.fill0 != e.fill1) {
            if (ShapePath* p = path(g.fillPaths, fillSlot, e.fill0)) {
                Segment rev = s;
                std::swap(rev.x0, rev.x1);
                std::swap(rev.y0, rev.y1);
                p->segments.push_back(rev);
            }
            if (ShapePath* p = path(g.fillPaths, fillSlot, e.fill1))
                p->segments.push_back(s);
        }
        if (ShapePath* p = path(g.linePaths, lineSlot, e.line))
            p->segments.push_back(s);
    }
}

}  // namespace

const ShapeDef& MorphShapeDef::at(uint16_t ratio) const
{
    if (ratio == 0)
        return *this;
    if (!cached_ || cachedRatio_ != ratio) {
        if (!cached_)
            cached_ = std::make_unique<ShapeDef>(id);
        build(*this, ratio / 65535.0, *cached_);
        cachedRatio_ = ratio;
    }
    return *cached_;
}

const ShapeDef& shapeAtRatio(const ShapeDef& shape, uint16_t ratio)
{
    return shape.morph ? static_cast<const MorphShapeDef&>(shape).at(ratio) : shape;
}

void parseMorphShape(SwfReader& r, int version, MorphShapeDef& m, const Limits& limits, size_t& movieEdges)
{
    m.startBounds = readRect(r);
    m.endBounds = readRect(r);
    if (version >= 2) {
        readRect(r);  // start edge bounds
        readRect(r);  // end edge bounds
        r.u8();       // reserved; non-scaling and scaling stroke flags
    }
    const uint32_t offset = r.u32();
    // The end edges start `offset` bytes on from here, checked before use.
    const std::span<const uint8_t> afterOffset = r.rest();
    const size_t afterOffsetAt = r.absolute();
    if (offset > afterOffset.size())
        r.fail("morph shape " + std::to_string(m.id) + "'s end edges lie past its tag");
    size_t budget = limits.shapeStyles;
    for (size_t i = readCount(r, budget); i > 0; --i)
        m.fills.push_back(readMorphFill(r));
    for (size_t i = readCount(r, budget); i > 0; --i)
        m.lines.push_back(readMorphLine(r, version));
    const std::vector<Edge> start = readEdges(r, m.id, limits, movieEdges);
    SwfReader endReader(afterOffset.subspan(offset), afterOffsetAt + offset);
    // A morph whose end shape is missing or short keeps its start edges where the end has none.
    std::vector<Edge> end;
    if (offset != 0)
        end = readEdges(endReader, m.id, limits, movieEdges);
    m.edges.reserve(start.size());
    for (size_t i = 0; i < start.size(); ++i)
        m.edges.push_back(MorphEdge{start[i].segment, i < end.size() ? end[i].segment : start[i].segment,
                                    start[i].fill0, start[i].fill1, start[i].line});
    build(m, 0, m);
}

}  // namespace refplayer::engine
