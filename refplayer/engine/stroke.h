// Strokes: the outline of a line style's edges as polygons that the
// rasteriser fills with the non-zero rule (every piece wound the same way, so
// overlaps unite). Round, flat or square caps; round, bevel or miter joins.
#pragma once

#include "raster.h"
#include "swf_movie.h"

#include <vector>

namespace refplayer::engine {

struct StrokeStyle {
    double halfWidth = 0.5;  // device pixels
    uint8_t startCap = 0, endCap = 0;  // 0 round, 1 none, 2 square
    uint8_t join = 0;                  // 0 round, 1 bevel, 2 miter
    double miterLimit = 3;             // how far the miter tip may lie from the vertex, in stroke widths
    bool noClose = false;              // a path that returns to its start still gets caps there
    bool pixelHinting = false;         // anchors on whole pixels (the width is whole already)
};

// Edges in twips, `m` to device pixels; curves flattened to `tolerance` pixels.
// With pixel hinting every edge's ends move to where a stroke of the style's
// width covers whole pixels: a pixel's centre for an odd width, a pixel corner
// for an even one (a curve's control point moves by the mean of its ends).
void addStroke(Rasterizer& r, const std::vector<Segment>& segments, const Matrix& m, const StrokeStyle& style,
               double tolerance);

// The style a line style asks for (caps, join, miter limit, no-close) at a half width.
StrokeStyle strokeStyleOf(const LineStyle& line, double halfWidth);

// A line style's width in device pixels (at least one; whole pixels for a
// style with pixel hinting). `world` takes the
// shape's twips to pixels and `view` is the stage's part of it. A line scales
// with its object unless its DefineShape4 style says otherwise: with both
// no-h-scale and no-v-scale the width stays as on the stage whatever the
// object's own scaling; with one of them it follows only the object's scaling
// in the other direction (no-h-scale: how much the object's y axis stretches;
// no-v-scale: its x axis).
double strokeWidthPixels(const LineStyle& line, const Matrix& world, const Matrix& view);

}  // namespace refplayer::engine
