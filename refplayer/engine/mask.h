// Clip-depth masks. An object placed with a clip depth draws nothing itself:
// the objects above it on the same display list, up to that depth, show only
// where it covers. Coverage is the mask's geometry alone (its colours and
// alpha do not matter); a mask inside another's range is itself masked by it.
#pragma once

#include "raster.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace refplayer::engine {

class DisplayObject;
struct Visit;

struct MaskNode {
    std::shared_ptr<const MaskNode> outer;  // the mask over this mask, if any
    DisplayObject* object = nullptr;        // the mask (a shape, text, a clip with contents...)
    Matrix parentWorld;                     // its container's transform to view pixels
    int clipDepth = 0;
    int nesting = 1;                        // masks over it, itself included

    // The pixels outside which the mask covers nothing (within the render
    // area `clip`); coverage is computed once per node and render area.
    IRect area(const IRect& clip) const;
    // Coverage (0..255) of row y of that area: row(clip, y)[x] for x within it.
    const uint8_t* row(const IRect& clip, int y) const;
    // Changes whenever what the mask covers changes.
    uint64_t key() const;
    // Whether the view point lies on the mask (and every mask over it), for hit tests.
    bool covers(Point view) const;

private:
    void prepare(const IRect& clip) const;
    mutable bool prepared_ = false;
    mutable IRect clip_, area_;
    mutable std::vector<uint8_t> coverage_;
    mutable std::optional<uint64_t> key_;
};

// Masks nested deeper than this (each holds a coverage buffer while it is in
// force) mask no further: what they cover shows through the outer ones only.
constexpr int kMaxMaskNesting = 64;

// The masks in force while one display list is walked in depth order.
class MaskScope {
public:
    explicit MaskScope(std::shared_ptr<const MaskNode> inherited) : inherited_(std::move(inherited)) {}
    // Call for each child in depth order. Answers true when the child is a
    // mask (it starts a masked range and is not drawn as itself).
    bool enter(DisplayObject& child, const Matrix& parentWorld);
    // The mask over the child just entered (null when none).
    const std::shared_ptr<const MaskNode>& current() const { return active_.empty() ? inherited_ : active_.back(); }

private:
    std::shared_ptr<const MaskNode> inherited_;
    std::vector<std::shared_ptr<const MaskNode>> active_;  // nested ranges, innermost last
};

// Draws an object that lies under a mask: into a scratch layer, then onto the
// canvas scaled by the mask's coverage.
void drawMasked(const Visit& visit, const Canvas& canvas, const IRect& clip);

}  // namespace refplayer::engine
