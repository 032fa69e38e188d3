// Shapes for DefineShape 1 to 4: solid fill styles, line styles, style
// changes, straight and curved edges, and the usual figures built from them.
#pragma once

#include "swfwriter/swf_buffer.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace refplayer::swfwriter {

struct Point {
    int32_t x = 0, y = 0;  // twips
    bool operator==(const Point&) const = default;
};

struct LineStyle {
    uint16_t width = 20;  // twips
    Rgba color{};
    // DefineShape4 only (LINESTYLE2); other versions refuse non-defaults.
    enum Cap : uint8_t { RoundCap = 0, NoCap = 1, SquareCap = 2 };
    enum Join : uint8_t { RoundJoin = 0, BevelJoin = 1, MiterJoin = 2 };
    Cap startCap = RoundCap, endCap = RoundCap;
    Join join = RoundJoin;
    double miterLimit = 3.0;  // used with MiterJoin
    bool noHScale = false, noVScale = false, pixelHinting = false, noClose = false;
};

// A bitmap fill: `matrix` takes bitmap pixels to shape twips (20 twips a
// pixel at scale 1). Tiled or clipped (edge pixels extended), smoothed or not
// (the unsmoothed kinds need SWF 8).
struct BitmapFill {
    uint16_t bitmap = 0;
    Matrix matrix{};
    bool repeat = true;
    bool smooth = true;
    uint8_t typeCode() const { return static_cast<uint8_t>(0x40 | (repeat ? 0 : 1) | (smooth ? 0 : 2)); }
};

// A gradient fill: `matrix` places the gradient square (-16384..16384 twips)
// in the shape. Spread 0 pad, 1 reflect, 2 repeat; interpolation 0 as stored,
// 1 linear RGB (spread, interpolation and focal gradients need DefineShape4).
struct GradientFill {
    uint8_t type = 0x10;  // 0x10 linear, 0x12 radial, 0x13 focal
    Matrix matrix{};
    struct Stop {
        uint8_t ratio = 0;
        Rgba color{};
    };
    std::vector<Stop> stops{};  // 1 to 15 (8 before DefineShape4)
    uint8_t spread = 0, interpolation = 0;
    double focal = 0;  // -1..1, focal gradients
};

// A morph shape (DefineMorphShape, or DefineMorphShape2 with `version` 2):
// styles with a start and an end value, and the same edges drawn twice, in
// `start` (with the style indexes addFill/addLine answer) and `end` (the same
// figures in the same order, styles left out).
struct MorphFill {
    uint8_t type = 0x00;  // 0x00 solid, 0x10 linear, 0x12 radial gradient, 0x40..0x43 bitmap
    Rgba startColor{}, endColor{};
    Matrix startMatrix{}, endMatrix{};  // gradients and bitmaps
    struct Stop {
        uint8_t startRatio = 0, endRatio = 0;
        Rgba startColor{}, endColor{};
    };
    std::vector<Stop> stops{};  // gradients, 1 to 15
    uint16_t bitmap = 0;
};

struct MorphLine {
    uint16_t startWidth = 20, endWidth = 20;  // twips
    Rgba startColor{}, endColor{};
};

// A path of closed or open sub-paths, for ShapeBuilder::addPath.
class Path {
public:
    Path& moveTo(int32_t x, int32_t y);
    Path& lineTo(int32_t x, int32_t y);
    Path& curveTo(int32_t cx, int32_t cy, int32_t x, int32_t y);
    // Back to the sub-path's start with a straight edge (if not already there).
    Path& close();

    struct Segment {
        enum Kind : uint8_t { Move, Line, Curve } kind;
        Point control;  // Curve only
        Point to;
    };
    const std::vector<Segment>& segments() const { return segments_; }

private:
    std::vector<Segment> segments_;
    Point start_, pen_;
    bool open_ = false;
};

// Builds one shape. Style indices are 1-based within the current style group
// (0 = no style); newStyles() starts a fresh group (DefineShape2 and later).
class ShapeBuilder {
public:
    // version 1..4: DefineShape, DefineShape2, DefineShape3, DefineShape4.
    explicit ShapeBuilder(int version = 3);

    int version() const { return version_; }
    uint16_t tagCode() const;

    uint32_t addFill(Rgba color);
    uint32_t addFill(const BitmapFill& fill);
    uint32_t addFill(const GradientFill& fill);
    uint32_t addLine(const LineStyle& style);
    uint32_t addLine(uint16_t widthTwips, Rgba color) { return addLine(LineStyle{.width = widthTwips, .color = color}); }
    ShapeBuilder& newStyles();

    // Drawing with explicit styles. Edges longer than a record can hold are split.
    ShapeBuilder& setFill0(uint32_t index);
    ShapeBuilder& setFill1(uint32_t index);
    ShapeBuilder& setLine(uint32_t index);
    ShapeBuilder& moveTo(int32_t x, int32_t y);
    ShapeBuilder& lineTo(int32_t x, int32_t y);
    ShapeBuilder& curveTo(int32_t cx, int32_t cy, int32_t x, int32_t y);

    // Figures. The fill goes on the inside whichever way the figure turns
    // (fill style 1 is right of the direction of travel, fill style 0 left);
    // for a path of several sub-paths the largest one decides, so holes are
    // drawn turning the other way.
    ShapeBuilder& addPath(const Path& path, uint32_t fill, uint32_t line);
    ShapeBuilder& rectangle(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t fill, uint32_t line);
    // Eight quadratic segments.
    ShapeBuilder& ellipse(int32_t cx, int32_t cy, int32_t rx, int32_t ry, uint32_t fill, uint32_t line);
    ShapeBuilder& polygon(const std::vector<Point>& points, uint32_t fill, uint32_t line);

    // Bounds of everything drawn: with half the widest line used (shape
    // bounds) or without (edge bounds, DefineShape4).
    Rect bounds() const;
    Rect edgeBounds() const;

    // The tag body (character id first).
    std::vector<uint8_t> encode(uint16_t characterId) const;
    // The edges alone (a SHAPE record: index widths, records, end), for morph
    // shapes, whose styles are written apart.
    std::vector<uint8_t> encodeEdges() const;
    // A glyph's SHAPE as font tags hold it: bit counts and records, no style
    // arrays; the builder may hold one fill and no lines.
    std::vector<uint8_t> encodeGlyph() const;

private:
    struct Record {
        enum Kind : uint8_t { Style, Straight, Curved } kind;
        // Style
        bool newStyles = false;
        std::optional<Point> move{};
        std::optional<uint32_t> fill0{}, fill1{}, line{};
        // Edges: deltas
        int32_t dx = 0, dy = 0, cdx = 0, cdy = 0;
    };
    struct Fill {
        Rgba color{};
        std::optional<BitmapFill> bitmap{};
        std::optional<GradientFill> gradient{};
    };
    struct Group {
        std::vector<Fill> fills;
        std::vector<LineStyle> lines;
        std::vector<Record> records;
    };

    Record& pendingStyle();
    void addPathUnchecked(const Path& path, uint32_t fill, uint32_t line);
    void straight(int32_t dx, int32_t dy);
    void curve(Point c, Point a);
    void include(Point p);
    void checkColor(const Rgba& c) const;
    void writeStyles(SwfBuffer& out, const Group& g) const;
    void writeRecords(SwfBuffer& out, const Group& g, unsigned fillBits, unsigned lineBits) const;

    int version_;
    std::vector<Group> groups_;
    Point pen_;
    bool hasPending_ = false;   // the last record is a style change not yet followed by an edge
    uint32_t fill0_ = 0, fill1_ = 0, line_ = 0;
    uint32_t maxLineWidth_ = 0;
    bool any_ = false;
    Rect box_;
};

class MorphShape {
public:
    explicit MorphShape(int version = 1) : version_(version) {}
    int version() const { return version_; }
    uint32_t addFill(const MorphFill& fill);
    uint32_t addLine(const MorphLine& line);
    ShapeBuilder start{3}, end{3};
    // The tag body (character id first).
    std::vector<uint8_t> encode(uint16_t characterId) const;

private:
    int version_;
    std::vector<MorphFill> fills_;
    std::vector<MorphLine> lines_;
};

}  // namespace refplayer::swfwriter
