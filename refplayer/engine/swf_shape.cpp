// Shape records: style arrays, edges, and their sorting into one path per
// fill style and per line style.
#include "font.h"
#include "swf_movie.h"
#include "swf_reader.h"

namespace refplayer::engine {

Box readRect(SwfReader& r)
{
    r.align();
    unsigned bits = r.ub(5);
    Box b;
    b.xMin = r.sb(bits);
    b.xMax = r.sb(bits);
    b.yMin = r.sb(bits);
    b.yMax = r.sb(bits);
    r.align();
    return b;
}

Matrix readMatrix(SwfReader& r)
{
    r.align();
    Matrix m;
    if (r.flag()) {
        unsigned bits = r.ub(5);
        m.a = r.fb(bits) / 65536.0;
        m.d = r.fb(bits) / 65536.0;
    }
    if (r.flag()) {
        unsigned bits = r.ub(5);
        m.b = r.fb(bits) / 65536.0;
        m.c = r.fb(bits) / 65536.0;
    }
    unsigned bits = r.ub(5);
    m.tx = r.sb(bits);
    m.ty = r.sb(bits);
    r.align();
    return m;
}

ColorTransform readColorTransform(SwfReader& r, bool withAlpha)
{
    r.align();
    ColorTransform t;
    bool hasAdd = r.flag();
    bool hasMult = r.flag();
    unsigned bits = r.ub(4);
    if (hasMult) {
        t.mr = r.sb(bits) / 256.0;
        t.mg = r.sb(bits) / 256.0;
        t.mb = r.sb(bits) / 256.0;
        if (withAlpha)
            t.ma = r.sb(bits) / 256.0;
    }
    if (hasAdd) {
        t.ar = r.sb(bits);
        t.ag = r.sb(bits);
        t.ab = r.sb(bits);
        if (withAlpha)
            t.aa = r.sb(bits);
    }
    r.align();
    return t;
}

namespace {

Rgba readColor(SwfReader& r, bool withAlpha)
{
    Rgba c;
    c.r = r.u8();
    c.g = r.u8();
    c.b = r.u8();
    c.a = withAlpha ? r.u8() : 255;
    return c;
}

void readGradient(SwfReader& r, int shapeVersion, FillStyle& fill)
{
    r.align();
    fill.spread = static_cast<uint8_t>(r.ub(2));
    fill.linearRgb = r.ub(2) == 1;
    unsigned count = r.ub(4);
    if (count == 0)
        r.fail("gradient without colours");
    for (unsigned i = 0; i < count; ++i) {
        GradientStop stop;
        stop.ratio = r.u8();
        stop.color = readColor(r, shapeVersion >= 3);
        fill.stops.push_back(stop);
    }
}

struct StyleArrays {
    std::vector<FillStyle> fills;
    std::vector<LineStyle> lines;
};

// Fill style counts grow past 254 from DefineShape2 on; line style counts always may.
size_t readCount(SwfReader& r, bool extended)
{
    size_t count = r.u8();
    if (count == 0xFF && extended)
        count = r.u16();
    return count;
}

StyleArrays readStyles(SwfReader& r, int shapeVersion, size_t& styleBudget)
{
    StyleArrays s;
    size_t fills = readCount(r, shapeVersion >= 2);
    if (fills > styleBudget)
        r.fail("too many styles in one shape");
    styleBudget -= fills;
    s.fills.reserve(fills);
    for (size_t i = 0; i < fills; ++i)
        s.fills.push_back(parseFillStyle(r, shapeVersion));
    size_t lines = readCount(r, true);
    if (lines > styleBudget)
        r.fail("too many styles in one shape");
    styleBudget -= lines;
    s.lines.reserve(lines);
    for (size_t i = 0; i < lines; ++i) {
        LineStyle line;
        line.width = r.u16();
        if (shapeVersion >= 4) {
            line.startCap = static_cast<uint8_t>(r.ub(2));
            line.join = static_cast<uint8_t>(r.ub(2));
            line.hasFill = r.flag();
            line.noHScale = r.flag();
            line.noVScale = r.flag();
            line.pixelHinting = r.flag();
            r.ub(5);  // reserved
            line.noClose = r.flag();
            line.endCap = static_cast<uint8_t>(r.ub(2));
            if (line.join == 2)
                line.miterLimit = r.u16() / 256.0;
            if (line.hasFill) {
                line.fill = parseFillStyle(r, shapeVersion);
                // A filled stroke keeps a colour for what cannot paint the fill.
                line.color = line.fill.kind == FillStyle::Kind::Solid || line.fill.stops.empty()
                                 ? line.fill.color
                                 : line.fill.stops.front().color;
            } else {
                line.color = readColor(r, true);
            }
        } else {
            line.color = readColor(r, shapeVersion >= 3);
        }
        s.lines.push_back(line);
    }
    return s;
}

// Collects the edges of one style group into per-style paths.
class GroupBuilder {
public:
    explicit GroupBuilder(StyleArrays styles)
    {
        group_.fills = std::move(styles.fills);
        group_.lines = std::move(styles.lines);
        fillSlot_.assign(group_.fills.size() + 1, -1);
        lineSlot_.assign(group_.lines.size() + 1, -1);
    }

    void edge(const Segment& s, uint32_t fill0, uint32_t fill1, uint32_t line)
    {
        // Fill 1 lies to the right of the edge as drawn, fill 0 to its left:
        // reversing the fill-0 edges puts every style on the same side, so
        // each style's edges form closed paths with one orientation.
        if (fill0 != fill1) {
            if (ShapePath* p = path(group_.fillPaths, fillSlot_, fill0)) {
                Segment rev = s;
                std::swap(rev.x0, rev.x1);
                std::swap(rev.y0, rev.y1);
                p->segments.push_back(rev);
            }
            if (ShapePath* p = path(group_.fillPaths, fillSlot_, fill1))
                p->segments.push_back(s);
        }
        if (ShapePath* p = path(group_.linePaths, lineSlot_, line))
            p->segments.push_back(s);
    }

    size_t fillCount() const { return group_.fills.size(); }
    size_t lineCount() const { return group_.lines.size(); }
    ShapeGroup take() { return std::move(group_); }

private:
    // Index 0 and indexes past the array mean "no style" (a broken index
    // draws nothing rather than refusing the movie, as the player does).
    static ShapePath* path(std::vector<ShapePath>& paths, std::vector<int>& slots, uint32_t style)
    {
        if (style == 0 || style >= slots.size())
            return nullptr;
        if (slots[style] < 0) {
            slots[style] = static_cast<int>(paths.size());
            paths.push_back(ShapePath{style, {}});
        }
        return &paths[static_cast<size_t>(slots[style])];
    }

    ShapeGroup group_;
    std::vector<int> fillSlot_, lineSlot_;
};

}  // namespace

FillStyle parseFillStyle(SwfReader& r, int shapeVersion)
{
    FillStyle fill;
    uint8_t type = r.u8();
    switch (type) {
    case 0x00:
        fill.kind = FillStyle::Kind::Solid;
        fill.color = readColor(r, shapeVersion >= 3);
        break;
    case 0x10:
    case 0x12:
    case 0x13:
        fill.kind = type == 0x10   ? FillStyle::Kind::LinearGradient
                    : type == 0x12 ? FillStyle::Kind::RadialGradient
                                   : FillStyle::Kind::FocalGradient;
        fill.matrix = readMatrix(r);
        readGradient(r, shapeVersion, fill);
        if (type == 0x13)
            fill.focal = r.fixed8();
        break;
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x43:
        fill.kind = FillStyle::Kind::Bitmap;
        fill.bitmapRepeat = (type & 1) == 0;
        fill.bitmapSmooth = type < 0x42;
        fill.bitmapId = r.u16();
        fill.matrix = readMatrix(r);
        break;
    default:
        r.fail("unknown fill style type " + std::to_string(type));
    }
    return fill;
}

namespace {

// The records that follow a shape's first style arrays (or a glyph's bit counts).
void readShapeRecords(SwfReader& r, int shapeVersion, ShapeDef& shape, GroupBuilder builder, size_t& styleBudget,
                      const Limits& limits, size_t& movieEdges)
{
    unsigned fillBits = r.ub(4);
    unsigned lineBits = r.ub(4);
    int32_t x = 0, y = 0;
    uint32_t fill0 = 0, fill1 = 0, line = 0;
    for (size_t records = 0;; ++records) {
        if (records >= limits.shapeRecords)
            r.fail("shape " + std::to_string(shape.id) + " has more than " + std::to_string(limits.shapeRecords) +
                   " records");
        if (!r.flag()) {
            const StyleChange c = readStyleChange(r, fillBits, lineBits, x, y, fill0, fill1, line);
            if (c.end)
                break;  // end of shape
            if (c.newStyles) {
                shape.groups.push_back(builder.take());
                builder = GroupBuilder(readStyles(r, shapeVersion, styleBudget));
                fillBits = r.ub(4);
                lineBits = r.ub(4);
                // New styles replace the arrays: indexes into the old ones end here
                // unless this same record sets them again.
                if (!c.hasFill0)
                    fill0 = 0;
                if (!c.hasFill1)
                    fill1 = 0;
                if (!c.hasLine)
                    line = 0;
            }
            continue;
        }
        if (++movieEdges > limits.movieEdges)
            r.fail("the movie's shapes have more than " + std::to_string(limits.movieEdges) + " edges");
        const Segment s = readEdge(r, x, y);
        builder.edge(s, fill0, fill1, line);
    }
    shape.groups.push_back(builder.take());
}

}  // namespace

StyleChange readStyleChange(SwfReader& r, unsigned fillBits, unsigned lineBits, int32_t& x, int32_t& y,
                            uint32_t& fill0, uint32_t& fill1, uint32_t& line)
{
    StyleChange c;
    c.newStyles = r.flag();
    c.hasLine = r.flag();
    c.hasFill1 = r.flag();
    c.hasFill0 = r.flag();
    const bool moveTo = r.flag();
    if (!c.newStyles && !c.hasLine && !c.hasFill1 && !c.hasFill0 && !moveTo) {
        c.end = true;
        return c;
    }
    if (moveTo) {
        const unsigned bits = r.ub(5);
        x = r.sb(bits);
        y = r.sb(bits);
    }
    if (c.hasFill0)
        fill0 = r.ub(fillBits);
    if (c.hasFill1)
        fill1 = r.ub(fillBits);
    if (c.hasLine)
        line = r.ub(lineBits);
    return c;
}

Segment readEdge(SwfReader& r, int32_t& x, int32_t& y)
{
    // Coordinates wrap like the player's 32-bit arithmetic rather than overflow.
    auto add = [](int32_t a, int32_t b) {
        return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
    };
    Segment s;
    s.x0 = x;
    s.y0 = y;
    const bool straight = r.flag();
    const unsigned bits = r.ub(4) + 2;
    if (straight) {
        int32_t dx = 0, dy = 0;
        if (r.flag()) {
            dx = r.sb(bits);
            dy = r.sb(bits);
        } else if (r.flag()) {
            dy = r.sb(bits);
        } else {
            dx = r.sb(bits);
        }
        x = add(x, dx);
        y = add(y, dy);
    } else {
        const int32_t cdx = r.sb(bits), cdy = r.sb(bits), adx = r.sb(bits), ady = r.sb(bits);
        s.curve = true;
        s.cx = add(x, cdx);
        s.cy = add(y, cdy);
        x = add(s.cx, adx);
        y = add(s.cy, ady);
    }
    s.x1 = x;
    s.y1 = y;
    return s;
}

void parseShapeWithStyle(SwfReader& r, int shapeVersion, ShapeDef& shape, const Limits& limits, size_t& movieEdges)
{
    size_t styleBudget = limits.shapeStyles;
    GroupBuilder builder(readStyles(r, shapeVersion, styleBudget));
    readShapeRecords(r, shapeVersion, shape, std::move(builder), styleBudget, limits, movieEdges);
}

Glyph parseGlyph(SwfReader& r, const Limits& limits, size_t& movieEdges)
{
    // A glyph has no style arrays: style 1 is its inside, whichever side of
    // an edge the records put it.
    StyleArrays styles;
    styles.fills.resize(1);
    ShapeDef shape(0);
    size_t styleBudget = limits.shapeStyles;
    readShapeRecords(r, 1, shape, GroupBuilder(std::move(styles)), styleBudget, limits, movieEdges);
    Glyph glyph;
    for (ShapePath& path : shape.groups.front().fillPaths)
        if (path.style == 1)
            glyph.segments = std::move(path.segments);
    return glyph;
}

}  // namespace refplayer::engine
