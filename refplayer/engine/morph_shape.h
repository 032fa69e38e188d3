// Morph shapes (DefineMorphShape, DefineMorphShape2): a start and an end
// shape with the same edges and styles, drawn at the placement's ratio
// (0 the start, 65535 the end) by interpolating every coordinate, colour,
// gradient record, fill matrix and line width between the two.
#pragma once

#include "swf_movie.h"

#include <memory>

namespace refplayer::engine {

struct MorphFill {
    FillStyle start, end;
};

struct MorphLine {
    LineStyle start, end;
};

// One edge with its end-shape twin; a straight edge paired with a curve is a
// curve with its control point halfway along.
struct MorphEdge {
    Segment start, end;
    uint32_t fill0 = 0, fill1 = 0, line = 0;
};

// Kind::Shape like any shape: as a plain ShapeDef it is the start shape, so
// whatever does not know the ratio (hit areas of buttons and sprite symbols)
// sees that.
struct MorphShapeDef : ShapeDef {
    explicit MorphShapeDef(uint16_t i) : ShapeDef(i) { morph = true; }
    Box startBounds, endBounds;
    std::vector<MorphFill> fills;
    std::vector<MorphLine> lines;
    std::vector<MorphEdge> edges;

    // The shape at `ratio`; valid until the next call with another ratio.
    const ShapeDef& at(uint16_t ratio) const;

private:
    mutable std::unique_ptr<ShapeDef> cached_;
    mutable uint16_t cachedRatio_ = 0;
};

// The shape a placement shows: a morph's at the placement's ratio, any other
// shape as defined.
const ShapeDef& shapeAtRatio(const ShapeDef& shape, uint16_t ratio);

// A DefineMorphShape (version 1) or DefineMorphShape2 (version 2) body after
// its character id.
class SwfReader;
void parseMorphShape(SwfReader& r, int version, MorphShapeDef& morph, const Limits& limits, size_t& movieEdges);

}  // namespace refplayer::engine
