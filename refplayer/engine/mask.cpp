#include "mask.h"

#include "display.h"
#include "morph_shape.h"
#include "render.h"

#include <algorithm>

namespace refplayer::engine {

namespace {

// What a mask draws, whatever its colours: every painted pixel opaque, so the
// alpha that results is its coverage alone.
ColorTransform coverageOnly()
{
    ColorTransform t;
    t.ma = 0;
    t.aa = 255;
    return t;
}

IRect unite(const IRect& a, const IRect& b)
{
    if (a.empty())
        return b;
    if (b.empty())
        return a;
    return IRect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                 std::max(a.bottom, b.bottom)};
}

uint64_t mixKey(uint64_t h, uint64_t v)
{
    for (int i = 0; i < 8; ++i) {
        h ^= (v >> (i * 8)) & 0xFF;
        h *= 0x100000001B3ull;
    }
    return h;
}

template <typename Fn>
void visitMask(const MaskNode& node, Fn&& fn)
{
    // Drawn unmasked: the mask over it, if any, scales the coverage after.
    visitSubtree(*node.object, node.parentWorld, coverageOnly(), nullptr, fn);
}

}  // namespace

void MaskNode::prepare(const IRect& clip) const
{
    if (prepared_ && clip_.left == clip.left && clip_.top == clip.top && clip_.right == clip.right &&
        clip_.bottom == clip.bottom)
        return;
    prepared_ = true;
    clip_ = clip;
    std::vector<Visit> parts;
    IRect box;
    visitMask(*this, [&](const Visit& v) {
        parts.push_back(v);
        box = unite(box, deviceBox(v));
    });
    if (outer)
        box = intersect(box, outer->area(clip));
    area_ = intersect(box, clip);
    coverage_.clear();
    if (area_.empty())
        return;
    const int w = area_.right - area_.left, h = area_.bottom - area_.top;
    std::vector<uint32_t> layer(static_cast<size_t>(w) * h, 0);
    Canvas canvas{layer.data(), w, area_};
    for (const Visit& v : parts)
        drawObject(v, canvas, area_);
    coverage_.resize(layer.size());
    std::transform(layer.begin(), layer.end(), coverage_.begin(), [](uint32_t p) { return static_cast<uint8_t>(p >> 24); });
    if (!outer)
        return;
    for (int y = area_.top; y < area_.bottom; ++y) {
        uint8_t* cover = &coverage_[static_cast<size_t>(y - area_.top) * w] - area_.left;
        const uint8_t* over = outer->row(clip, y);
        for (int x = area_.left; x < area_.right; ++x)
            cover[x] = static_cast<uint8_t>(div255(uint32_t(cover[x]) * over[x]));
    }
}

const uint8_t* MaskNode::row(const IRect& clip, int y) const
{
    prepare(clip);
    return &coverage_[static_cast<size_t>(y - area_.top) * (area_.right - area_.left)] - area_.left;
}

IRect MaskNode::area(const IRect& clip) const
{
    prepare(clip);
    return area_;
}

uint64_t MaskNode::key() const
{
    if (!key_) {
        uint64_t h = 0xCBF29CE484222325ull;
        if (outer)
            h = mixKey(h, outer->key());
        visitMask(*this, [&](const Visit& v) {
            h = mixKey(h, v.object->serial);
            h = mixKey(h, contentKey(v));
        });
        key_ = h;
    }
    return *key_;
}

bool MaskNode::covers(Point view) const
{
    if (outer && !outer->covers(view))
        return false;
    bool hit = false;
    visitSubtree(*object, parentWorld, coverageOnly(), nullptr, [&](const Visit& v) {
        if (hit || v.object->type == DisplayObject::Type::Clip || v.object->type == DisplayObject::Type::Button)
            return;
        const Point local = v.world.inverted().apply(view);
        if (v.object != object)
            hit = hitsObject(*v.object, local);
        else if (v.object->type == DisplayObject::Type::Text)  // the mask itself, which hitsObject passes over
            hit = static_cast<const TextObject&>(*v.object).field().bounds.contains(local);
        else if (v.object->type == DisplayObject::Type::Shape)
            hit = hitsCharacter(*v.object->movie,
                                shapeAtRatio(static_cast<const ShapeObject&>(*v.object).shape(), v.object->ratio), local);
        else
            hit = v.object->def && hitsCharacter(*v.object->movie, *v.object->def, local);
    });
    return hit;
}

bool MaskScope::enter(DisplayObject& child, const Matrix& parentWorld)
{
    // Ranges that end below this depth are over.
    while (!active_.empty() && active_.back()->clipDepth < child.depth)
        active_.pop_back();
    if (!child.clipDepth)
        return false;
    if (child.removed)
        return true;
    if (current() && current()->nesting >= kMaxMaskNesting)
        return true;
    auto node = std::make_shared<MaskNode>();
    node->outer = current();
    node->nesting = node->outer ? node->outer->nesting + 1 : 1;
    node->object = &child;
    node->parentWorld = parentWorld;
    node->clipDepth = child.clipDepth;
    active_.push_back(std::move(node));
    return true;
}

void drawMasked(const Visit& v, const Canvas& canvas, const IRect& clip)
{
    const MaskNode& mask = *v.mask;
    const IRect box = intersect(intersect(deviceBox(v), clip), mask.area(clip));
    if (box.empty())
        return;
    const int w = box.right - box.left, h = box.bottom - box.top;
    std::vector<uint32_t> layer(static_cast<size_t>(w) * h, 0);
    Canvas scratch{layer.data(), w, box};
    Visit bare = v;
    bare.mask = nullptr;
    drawObject(bare, scratch, box);
    for (int y = box.top; y < box.bottom; ++y) {
        uint32_t* dst = canvas.row(y);
        const uint32_t* src = scratch.row(y);
        const uint8_t* coverage = mask.row(clip, y);
        for (int x = box.left; x < box.right; ++x) {
            const uint32_t p = src[x];
            const uint8_t cover = coverage[x];
            if (p && cover)
                dst[x] = blendOver(scalePixel(p, cover), dst[x]);
        }
    }
}

}  // namespace refplayer::engine
