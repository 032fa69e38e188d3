#include "render.h"
#include "video_playback.h"

#include "bitmap.h"
#include "fill_layer.h"
#include "gradient.h"
#include "stroke.h"
#include "morph_shape.h"
#include "player_core.h"
#include "text_layout.h"
#include "int_conv.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>

namespace refplayer::engine {

namespace {

constexpr double kTolerance = 0.2;  // device pixels a flattened curve may stray

// --- paints --------------------------------------------------------------------------------

// A picture (0xAARRGGBB straight colour) drawn with nearest sampling.
class PictureShader final : public Shader {
public:
    PictureShader(const uint32_t* pixels, int width, int height, const Matrix& toPicture, const ColorTransform& color)
        : pixels_(pixels), w_(width), h_(height), toPicture_(toPicture), color_(color)
    {
    }
    void shadeRow(int y, int x, int count, uint32_t* out) const override
    {
        for (int i = 0; i < count; ++i) {
            Point p = toPicture_.apply(x + i + 0.5, y + 0.5);
            // A degenerate or huge matrix sends points anywhere (or to NaN): the edge pixels repeat.
            int px = num::truncClamp<int>(std::floor(p.x), 0, w_ - 1);
            int py = num::truncClamp<int>(std::floor(p.y), 0, h_ - 1);
            uint32_t v = pixels_[static_cast<size_t>(py) * w_ + px];
            Rgba c{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), uint8_t(v >> 24)};
            out[i] = premultiply(color_.apply(c));
        }
    }

private:
    const uint32_t* pixels_;
    int w_, h_;
    Matrix toPicture_;
    ColorTransform color_;
};

// --- geometry helpers -------------------------------------------------------------------------

void addPath(Rasterizer& r, const std::vector<Segment>& segments, const Matrix& m, double tolerance)
{
    for (const Segment& s : segments) {
        Point a = m.apply(s.x0, s.y0), b = m.apply(s.x1, s.y1);
        if (s.curve)
            r.addQuad(a, m.apply(s.cx, s.cy), b, tolerance);
        else
            r.addLine(a, b);
    }
}

void addRect(Rasterizer& r, const Matrix& m, double x0, double y0, double x1, double y1)
{
    Point quad[4] = {m.apply(x0, y0), m.apply(x1, y0), m.apply(x1, y1), m.apply(x0, y1)};
    r.addPolygon(quad, 4);
}

IRect boxToPixels(const Box& b)
{
    if (b.empty() || !std::isfinite(b.xMin) || !std::isfinite(b.yMin) || !std::isfinite(b.xMax) || !std::isfinite(b.yMax))
        return IRect{};
    auto clampInt = [](double v) { return static_cast<int>(std::clamp(v, -1e8, 1e8)); };
    // One pixel of slack for anti-aliasing and hairlines.
    return IRect{clampInt(std::floor(b.xMin)) - 1, clampInt(std::floor(b.yMin)) - 1, clampInt(std::ceil(b.xMax)) + 1,
                 clampInt(std::ceil(b.yMax)) + 1};
}

Paint paintFor(const MovieDef& movie, const FillStyle& fill, const Matrix& world, const ColorTransform& color,
               std::unique_ptr<Shader>& holder)
{
    Paint p;
    switch (fill.kind) {
    case FillStyle::Kind::Solid:
        p.color = premultiply(color.apply(fill.color));
        break;
    case FillStyle::Kind::LinearGradient:
    case FillStyle::Kind::RadialGradient:
    case FillStyle::Kind::FocalGradient:
    case FillStyle::Kind::Bitmap:  // a bitmap without pixels gives no shader: the fill paints nothing
        holder = fill.kind == FillStyle::Kind::Bitmap ? makeBitmapShader(movie, fill, world, color)
                                                      : makeGradientShader(fill, world, color);
        p.shader = holder.get();
        break;
    }
    return p;
}

void drawShape(const ShapeObject& obj, const Matrix& world, const ColorTransform& color, const Canvas& canvas,
               const IRect& clip)
{
    const ShapeDef& shape = shapeAtRatio(obj.shape(), obj.ratio);
    Rasterizer r;
    const FillRule rule = shape.nonZero ? FillRule::NonZero : FillRule::EvenOdd;
    const Matrix view = obj.core.viewMatrix();
    for (const ShapeGroup& group : shape.groups) {
        // Fills that may share edges go through one layer so their seams stay closed.
        std::optional<FillLayer> layer;
        if (group.fillPaths.size() > 1)
            layer.emplace(canvas, intersect(clip, boxToPixels(shape.bounds.transformed(world))));
        for (const ShapePath& path : group.fillPaths) {
            if (path.style == 0 || path.style > group.fills.size())
                continue;
            std::unique_ptr<Shader> holder;
            Paint paint = paintFor(*obj.movie, group.fills[path.style - 1], world, color, holder);
            r.clear();
            addPath(r, path.segments, world, kTolerance);
            if (layer)
                layer->add(r, rule, paint);
            else
                r.fill(canvas, clip, rule, paint);
        }
        if (layer)
            layer->composite();
        for (const ShapePath& path : group.linePaths) {
            if (path.style == 0 || path.style > group.lines.size())
                continue;
            const LineStyle& line = group.lines[path.style - 1];
            const double width = strokeWidthPixels(line, world, view);
            std::unique_ptr<Shader> holder;
            Paint paint = line.hasFill ? paintFor(*obj.movie, line.fill, world, color, holder)
                                       : Paint{premultiply(color.apply(line.color))};
            r.clear();
            addStroke(r, path.segments, world, strokeStyleOf(line, width / 2), kTolerance);
            r.fill(canvas, clip, FillRule::NonZero, paint);
        }
    }
}

void drawText(const TextObject& obj, const Matrix& world, const ColorTransform& color, const Canvas& canvas,
              const IRect& clipIn)
{
    const EditTextDef& f = obj.field();
    const Box& b = f.bounds;
    Rasterizer r;
    if (f.background) {
        r.clear();
        addRect(r, world, b.xMin, b.yMin, b.xMax, b.yMax);
        r.fill(canvas, clipIn, FillRule::NonZero, Paint{premultiply(color.apply(f.backgroundColor))});
    }
    if (f.border) {
        r.clear();
        std::vector<Segment> outline;
        auto edge = [&](double x0, double y0, double x1, double y1) {
            Segment s;
            s.x0 = num::truncClamp<int32_t>(x0);
            s.y0 = num::truncClamp<int32_t>(y0);
            s.x1 = num::truncClamp<int32_t>(x1);
            s.y1 = num::truncClamp<int32_t>(y1);
            outline.push_back(s);
        };
        edge(b.xMin, b.yMin, b.xMax, b.yMin);
        edge(b.xMax, b.yMin, b.xMax, b.yMax);
        edge(b.xMax, b.yMax, b.xMin, b.yMax);
        edge(b.xMin, b.yMax, b.xMin, b.yMin);
        addStroke(r, outline, world, StrokeStyle{}, kTolerance);
        r.fill(canvas, clipIn, FillRule::NonZero, Paint{premultiply(color.apply(f.borderColor))});
    }
    // Text stays inside the field.
    IRect clip = intersect(clipIn, boxToPixels(b.transformed(world)));
    if (clip.empty())
        return;
    drawFieldText(obj, world, color, canvas, clip);
}

void drawVideo(const VideoObject& obj, const Matrix& world, const ColorTransform& color, const Canvas& canvas,
               const IRect& clip)
{
    const VideoDef& v = obj.video();
    Rasterizer r;
    addRect(r, world, 0, 0, v.width * 20.0, v.height * 20.0);
    const int pw = obj.pictureWidth, ph = obj.pictureHeight;
    if (pw > 0 && ph > 0 && obj.picture.size() == static_cast<size_t>(pw) * ph && v.width && v.height) {
        // The picture fills the stream's declared size whatever its own.
        Matrix toPicture = Matrix{pw / (v.width * 20.0), 0, 0, ph / (v.height * 20.0), 0, 0} * world.inverted();
        PictureShader shader(obj.picture.data(), pw, ph, toPicture, color);
        r.fill(canvas, clip, FillRule::NonZero, Paint{0, &shader});
    } else if (obj.stream ? obj.streamPlaceholder : v.numFrames > 0 || !v.frames.empty()) {
        // Frames it cannot show (yet): a dark placeholder where the picture
        // goes. A video object that has none (one for a stream) shows nothing.
        r.fill(canvas, clip, FillRule::NonZero, Paint{premultiply(color.apply(Rgba{32, 32, 32, 255}))});
    }
}

void visitObject(DisplayObject& obj, const Matrix& parentWorld, const ColorTransform& parentColor,
                 std::shared_ptr<const MaskNode> mask, const std::function<void(const Visit&)>& fn, bool root = false)
{
    if (obj.removed || (!root && (!obj.visible || obj.clipDepth)))
        return;
    Visit v{&obj, parentWorld * obj.matrix, parentColor * obj.colorTransform, std::move(mask)};
    fn(v);
    const DisplayList* kids = nullptr;
    if (obj.type == DisplayObject::Type::Clip)
        kids = &static_cast<MovieClip&>(obj).children;
    else if (obj.type == DisplayObject::Type::Button)
        kids = &static_cast<ButtonObject&>(obj).children;
    if (!kids)
        return;
    // The callback never changes display lists, so iterating in place is safe.
    MaskScope masks(v.mask);
    for (const auto& [d, child] : *kids)
        if (!masks.enter(*child, v.world))
            visitObject(*child, v.world, v.color, masks.current(), fn);
}

uint64_t mix(uint64_t h, const void* data, size_t n)
{
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001B3ull;
    }
    return h;
}

}  // namespace

Box localBounds(const DisplayObject& obj)
{
    switch (obj.type) {
    case DisplayObject::Type::Shape:
        return shapeAtRatio(static_cast<const ShapeObject&>(obj).shape(), obj.ratio).bounds;
    case DisplayObject::Type::Text:
        return static_cast<const TextObject&>(obj).field().bounds;
    case DisplayObject::Type::Video: {
        const VideoDef& v = static_cast<const VideoObject&>(obj).video();
        Box b;
        b.add(Point{0, 0});
        b.add(Point{v.width * 20.0, v.height * 20.0});
        return b;
    }
    case DisplayObject::Type::Clip:
    case DisplayObject::Type::Button: {
        const DisplayList& kids = obj.type == DisplayObject::Type::Clip ? static_cast<const MovieClip&>(obj).children
                                                                        : static_cast<const ButtonObject&>(obj).children;
        Box b;
        for (const auto& [d, child] : kids)
            if (!child->clipDepth)
                b.add(localBounds(*child).transformed(child->matrix));
        return b;
    }
    }
    return Box{};
}

void visitStage(PlayerCore& core, const std::function<void(const Visit&)>& fn)
{
    const Matrix view = core.viewMatrix();
    for (auto& [n, level] : core.levels)
        if (level)
            visitObject(*level, view, ColorTransform{}, nullptr, fn);
}

void visitSubtree(DisplayObject& root, const Matrix& parentWorld, const ColorTransform& parentColor,
                  std::shared_ptr<const MaskNode> mask, const std::function<void(const Visit&)>& fn)
{
    visitObject(root, parentWorld, parentColor, std::move(mask), fn, true);
}

void drawObject(const Visit& v, const Canvas& canvas, const IRect& clip)
{
    if (v.color.hidesEverything())
        return;  // still there for the mouse, but nothing to paint
    if (v.mask)
        return drawMasked(v, canvas, clip);
    switch (v.object->type) {
    case DisplayObject::Type::Shape:
        drawShape(static_cast<const ShapeObject&>(*v.object), v.world, v.color, canvas, clip);
        break;
    case DisplayObject::Type::Text:
        drawText(static_cast<const TextObject&>(*v.object), v.world, v.color, canvas, clip);
        break;
    case DisplayObject::Type::Video:
        drawVideo(static_cast<const VideoObject&>(*v.object), v.world, v.color, canvas, clip);
        break;
    default:
        break;
    }
}

IRect deviceBox(const Visit& v)
{
    if (v.object->type == DisplayObject::Type::Clip || v.object->type == DisplayObject::Type::Button)
        return IRect{};  // they only hold things
    Box b = localBounds(*v.object).transformed(v.world);
    if (v.object->type == DisplayObject::Type::Shape) {
        // Hairlines stay one pixel wide however small the shape is scaled, and
        // a line that keeps its width when its object is scaled reaches past
        // bounds that carry it at the object's scale.
        const auto& obj = static_cast<const ShapeObject&>(*v.object);
        const Matrix view = obj.core.viewMatrix();
        double slack = 1;
        for (const ShapeGroup& group : shapeAtRatio(obj.shape(), obj.ratio).groups)
            for (const LineStyle& line : group.lines)
                if (line.noHScale || line.noVScale)
                    slack = std::max(slack, strokeWidthPixels(line, v.world, view) / 2 + 1);
        b.xMin -= slack;
        b.yMin -= slack;
        b.xMax += slack;
        b.yMax += slack;
    }
    return boxToPixels(b);
}

uint64_t contentKey(const Visit& v)
{
    uint64_t h = 0xCBF29CE484222325ull;
    const void* def = v.object->def;
    h = mix(h, &def, sizeof def);
    h = mix(h, &v.world, sizeof v.world);
    h = mix(h, &v.color, sizeof v.color);
    h = mix(h, &v.object->ratio, sizeof v.object->ratio);  // a morph's shape
    if (v.mask) {
        const uint64_t mask = v.mask->key();
        h = mix(h, &mask, sizeof mask);
    }
    if (v.object->type == DisplayObject::Type::Text) {
        const auto& t = static_cast<const TextObject&>(*v.object);
        h = mix(h, t.text.data(), t.text.size());
        h = mix(h, &t.focused, sizeof t.focused);
        h = mix(h, &t.revision, sizeof t.revision);
    } else if (v.object->type == DisplayObject::Type::Video) {
        const auto& vid = static_cast<const VideoObject&>(*v.object);
        h = mix(h, &vid.decodedFrame, sizeof vid.decodedFrame);
        h = mix(h, &vid.streamKey, sizeof vid.streamKey);
    }
    return h;
}

bool hitsCharacter(const MovieDef& movie, const Character& c, Point local, int nesting)
{
    if (nesting > 8)
        return false;
    switch (c.kind) {
    case Character::Kind::Shape: {
        const auto& shape = static_cast<const ShapeDef&>(c);
        if (!shape.bounds.contains(local))
            return false;
        Rasterizer r;
        const FillRule rule = shape.nonZero ? FillRule::NonZero : FillRule::EvenOdd;
        for (const ShapeGroup& g : shape.groups)
            for (const ShapePath& path : g.fillPaths) {
                r.clear();
                addPath(r, path.segments, Matrix{}, 2.0);
                if (r.contains(local, rule))
                    return true;
            }
        return false;
    }
    case Character::Kind::EditText:
        return static_cast<const EditTextDef&>(c).bounds.contains(local);
    case Character::Kind::Video: {
        const auto& v = static_cast<const VideoDef&>(c);
        return local.x >= 0 && local.y >= 0 && local.x < v.width * 20.0 && local.y < v.height * 20.0;
    }
    case Character::Kind::Sprite: {
        const auto& sprite = static_cast<const SpriteDef&>(c);
        for (const DisplayCommand& cmd : sprite.timeline.frames.front().commands) {
            const auto* place = std::get_if<PlaceCommand>(&cmd);
            if (!place || !place->character || place->clipDepth)
                continue;
            const Character* child = movie.character(*place->character);
            Matrix m = place->matrix.value_or(Matrix{});
            if (child && hitsCharacter(movie, *child, m.inverted().apply(local), nesting + 1))
                return true;
        }
        return false;
    }
    case Character::Kind::Button: {
        for (const ButtonRecord& rec : static_cast<const ButtonDef&>(c).records) {
            if (!(rec.states & buttonState::Hit))
                continue;
            const Character* child = movie.character(rec.character);
            if (child && hitsCharacter(movie, *child, rec.matrix.inverted().apply(local), nesting + 1))
                return true;
        }
        return false;
    }
    case Character::Kind::Bitmap:
    case Character::Kind::Font: break;  // never placed on their own
    }
    return false;
}

bool hitsButton(const ButtonObject& button, Point local)
{
    return hitsCharacter(*button.movie, button.button(), local);
}

bool hitsObject(const DisplayObject& obj, Point local, int nesting)
{
    if (!obj.visible || obj.removed || obj.clipDepth || nesting > 64)
        return false;
    switch (obj.type) {
    case DisplayObject::Type::Button:
        return hitsButton(static_cast<const ButtonObject&>(obj), local);
    case DisplayObject::Type::Clip:
        for (const auto& [d, child] : static_cast<const MovieClip&>(obj).children)
            if (hitsObject(*child, child->matrix.inverted().apply(local), nesting + 1))
                return true;
        return false;
    case DisplayObject::Type::Text:
        return static_cast<const TextObject&>(obj).field().bounds.contains(local);
    case DisplayObject::Type::Shape:
        return hitsCharacter(*obj.movie, shapeAtRatio(static_cast<const ShapeObject&>(obj).shape(), obj.ratio), local);
    default:
        return obj.def && hitsCharacter(*obj.movie, *obj.def, local);
    }
}

}  // namespace refplayer::engine
