#include "render.h"
#include "video_playback.h"

#include "bitmap.h"
#include "player_core.h"
#include "text_layout.h"
#include "int_conv.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace refplayer::engine {

namespace {

constexpr double kTolerance = 0.2;  // device pixels a flattened curve may stray

// --- paints --------------------------------------------------------------------------------

// Linear, radial and focal gradients over the gradient square (-16384..16384
// twips) that the fill's matrix places in shape space; colours pad beyond the ends.
class GradientShader final : public Shader {
public:
    GradientShader(const FillStyle& fill, const Matrix& world, const ColorTransform& color)
        : kind_(fill.kind), focal_(std::clamp(fill.focal, -0.98, 0.98))
    {
        toGradient_ = (world * fill.matrix).inverted();
        std::vector<std::pair<int, Rgba>> stops;
        for (const GradientStop& s : fill.stops)
            stops.emplace_back(s.ratio, color.apply(s.color));
        for (int i = 0; i < 256; ++i) {
            Rgba c;
            if (i <= stops.front().first) {
                c = stops.front().second;
            } else if (i >= stops.back().first) {
                c = stops.back().second;
            } else {
                size_t k = 1;
                while (k < stops.size() && stops[k].first < i)
                    ++k;
                const auto& [r0, c0] = stops[k - 1];
                const auto& [r1, c1] = stops[k];
                double t = r1 == r0 ? 1.0 : static_cast<double>(i - r0) / (r1 - r0);
                // t is within 0..1, so the mix stays between the two channels.
                auto mix = [t](uint8_t a, uint8_t b) { return static_cast<uint8_t>(std::lround(a + (b - a) * t)); };
                c = Rgba{mix(c0.r, c1.r), mix(c0.g, c1.g), mix(c0.b, c1.b), mix(c0.a, c1.a)};
            }
            lut_[i] = premultiply(c);
        }
    }

    void shadeRow(int y, int x, int count, uint32_t* out) const override
    {
        for (int i = 0; i < count; ++i) {
            Point p = toGradient_.apply(x + i + 0.5, y + 0.5);
            double t;
            if (kind_ == FillStyle::Kind::LinearGradient) {
                t = (p.x + 16384) / 32768;
            } else if (kind_ == FillStyle::Kind::FocalGradient && focal_ != 0) {
                // Distance along the ray from the focal point, as a fraction of
                // the way to the circle.
                double fx = focal_ * 16384;
                double dx = p.x - fx, dy = p.y;
                double len = std::sqrt(dx * dx + dy * dy);
                if (len < 1e-9) {
                    t = 0;
                } else {
                    double ux = dx / len;
                    double b = fx * ux;
                    double edge = -b + std::sqrt(b * b - (fx * fx - 16384.0 * 16384.0));
                    t = edge > 0 ? len / edge : 1;
                }
            } else {
                t = std::sqrt(p.x * p.x + p.y * p.y) / 16384;
            }
            if (!(t >= 0))
                t = 0;  // NaN from a degenerate matrix too
            out[i] = lut_[static_cast<int>(std::min(t, 1.0) * 255 + 0.5)];
        }
    }

private:
    FillStyle::Kind kind_;
    double focal_;
    Matrix toGradient_;
    uint32_t lut_[256];
};

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

void flatten(Point a, Point c, Point b, double tolerance, std::vector<Point>& out)
{
    double dx = a.x - 2 * c.x + b.x, dy = a.y - 2 * c.y + b.y;
    double dd = std::sqrt(dx * dx + dy * dy);
    const int n = num::truncClamp<int>(std::ceil(std::sqrt(dd / (4 * tolerance))), 1, Rasterizer::kMaxCurveSegments);
    for (int i = 1; i <= n; ++i) {
        double t = static_cast<double>(i) / n, u = 1 - t;
        out.push_back(i == n ? b : Point{u * u * a.x + 2 * u * t * c.x + t * t * b.x, u * u * a.y + 2 * u * t * c.y + t * t * b.y});
    }
}

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

// A round-capped, round-joined stroke: a rectangle per flattened piece and a
// disc at every point, all wound the same way so the non-zero rule unites them.
void addStroke(Rasterizer& r, const std::vector<Segment>& segments, const Matrix& m, double halfWidth)
{
    std::vector<Point> pts;
    const int sides = num::truncClamp<int>(std::ceil(halfWidth * 4), 8, 32);
    auto disc = [&](Point c) {
        Point poly[32];
        for (int i = 0; i < sides; ++i) {
            double a = -2 * std::numbers::pi * i / sides;
            poly[i] = Point{c.x + halfWidth * std::cos(a), c.y + halfWidth * std::sin(a)};
        }
        r.addPolygon(poly, static_cast<size_t>(sides));
    };
    for (const Segment& s : segments) {
        pts.clear();
        Point a = m.apply(s.x0, s.y0);
        pts.push_back(a);
        if (s.curve)
            flatten(a, m.apply(s.cx, s.cy), m.apply(s.x1, s.y1), kTolerance, pts);
        else
            pts.push_back(m.apply(s.x1, s.y1));
        for (size_t i = 0; i + 1 < pts.size(); ++i) {
            Point p = pts[i], q = pts[i + 1];
            double dx = q.x - p.x, dy = q.y - p.y;
            double len = std::sqrt(dx * dx + dy * dy);
            if (len > 1e-9 && std::isfinite(len)) {
                double nx = -dy / len * halfWidth, ny = dx / len * halfWidth;
                Point quad[4] = {{p.x + nx, p.y + ny}, {q.x + nx, q.y + ny}, {q.x - nx, q.y - ny}, {p.x - nx, p.y - ny}};
                r.addPolygon(quad, 4);
            }
            disc(p);
        }
        disc(pts.back());
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
                                                      : std::make_unique<GradientShader>(fill, world, color);
        p.shader = holder.get();
        break;
    }
    return p;
}

void drawShape(const ShapeObject& obj, const Matrix& world, const ColorTransform& color, const Canvas& canvas,
               const IRect& clip)
{
    const ShapeDef& shape = obj.shape();
    Rasterizer r;
    const FillRule rule = shape.nonZero ? FillRule::NonZero : FillRule::EvenOdd;
    const double scale = world.meanScale();
    for (const ShapeGroup& group : shape.groups) {
        for (const ShapePath& path : group.fillPaths) {
            if (path.style == 0 || path.style > group.fills.size())
                continue;
            std::unique_ptr<Shader> holder;
            Paint paint = paintFor(*obj.movie, group.fills[path.style - 1], world, color, holder);
            r.clear();
            addPath(r, path.segments, world, kTolerance);
            r.fill(canvas, clip, rule, paint);
        }
        for (const ShapePath& path : group.linePaths) {
            if (path.style == 0 || path.style > group.lines.size())
                continue;
            const LineStyle& line = group.lines[path.style - 1];
            double width = std::max(1.0, line.width * scale);
            Paint paint;
            paint.color = premultiply(color.apply(line.color));
            r.clear();
            addStroke(r, path.segments, world, width / 2);
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
        addStroke(r, outline, world, 0.5);
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
    } else {
        // Nothing decodable yet: a dark placeholder where the picture goes.
        r.fill(canvas, clip, FillRule::NonZero, Paint{premultiply(color.apply(Rgba{32, 32, 32, 255}))});
    }
}

// A video player object's picture, stretched over its picture box; a dark
// placeholder where frames cannot be decoded.
void drawPlayback(const VideoPlayback& p, const Matrix& world, const ColorTransform& color, const Canvas& canvas,
                  const IRect& clip)
{
    if (!p.showsPicture())
        return;
    const Box box = p.pictureBox();
    if (box.empty() || box.xMax <= box.xMin || box.yMax <= box.yMin)
        return;
    Rasterizer r;
    addRect(r, world, box.xMin, box.yMin, box.xMax, box.yMax);
    const int pw = p.pictureWidth(), ph = p.pictureHeight();
    if (!p.placeholder() && pw > 0 && ph > 0 && p.picture().size() == static_cast<size_t>(pw) * ph) {
        Matrix toBox{(box.xMax - box.xMin) / pw, 0, 0, (box.yMax - box.yMin) / ph, box.xMin, box.yMin};
        PictureShader shader(p.picture().data(), pw, ph, (world * toBox).inverted(), color);
        r.fill(canvas, clip, FillRule::NonZero, Paint{0, &shader});
    } else {
        r.fill(canvas, clip, FillRule::NonZero, Paint{premultiply(color.apply(Rgba{32, 32, 32, 255}))});
    }
}

void visitObject(DisplayObject& obj, const Matrix& parentWorld, const ColorTransform& parentColor,
                 const std::function<void(const Visit&)>& fn)
{
    if (!obj.visible || obj.removed || obj.clipDepth)
        return;
    Visit v{&obj, parentWorld * obj.matrix, parentColor * obj.colorTransform};
    fn(v);
    const DisplayList* kids = nullptr;
    if (obj.type == DisplayObject::Type::Clip)
        kids = &static_cast<MovieClip&>(obj).children;
    else if (obj.type == DisplayObject::Type::Button)
        kids = &static_cast<ButtonObject&>(obj).children;
    if (!kids)
        return;
    // The callback never changes display lists, so iterating in place is safe.
    for (const auto& [d, child] : *kids)
        visitObject(*child, v.world, v.color, fn);
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
        return static_cast<const ShapeObject&>(obj).shape().bounds;
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
        if (obj.type == DisplayObject::Type::Clip)
            if (const VideoPlayback* p = static_cast<const MovieClip&>(obj).playback.get())
                b.add(p->bounds());
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
            visitObject(*level, view, ColorTransform{}, fn);
}

void drawObject(const Visit& v, const Canvas& canvas, const IRect& clip)
{
    if (v.color.hidesEverything())
        return;  // still there for the mouse, but nothing to paint
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
    case DisplayObject::Type::Clip:
        if (const VideoPlayback* p = static_cast<const MovieClip&>(*v.object).playback.get())
            drawPlayback(*p, v.world, v.color, canvas, clip);
        break;
    default:
        break;
    }
}

IRect deviceBox(const Visit& v)
{
    if (v.object->type == DisplayObject::Type::Clip) {
        // A video player object paints its picture; other clips only hold things.
        const VideoPlayback* p = static_cast<const MovieClip&>(*v.object).playback.get();
        return p && p->showsPicture() ? boxToPixels(p->pictureBox().transformed(v.world)) : IRect{};
    }
    if (v.object->type == DisplayObject::Type::Button)
        return IRect{};
    Box b = localBounds(*v.object).transformed(v.world);
    if (v.object->type == DisplayObject::Type::Shape) {
        // Hairlines stay one pixel wide however small the shape is scaled.
        b.xMin -= 1;
        b.yMin -= 1;
        b.xMax += 1;
        b.yMax += 1;
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
    if (v.object->type == DisplayObject::Type::Text) {
        const auto& t = static_cast<const TextObject&>(*v.object);
        h = mix(h, t.text.data(), t.text.size());
        h = mix(h, &t.focused, sizeof t.focused);
        h = mix(h, &t.revision, sizeof t.revision);
    } else if (v.object->type == DisplayObject::Type::Video) {
        const auto& vid = static_cast<const VideoObject&>(*v.object);
        h = mix(h, &vid.decodedFrame, sizeof vid.decodedFrame);
    } else if (v.object->type == DisplayObject::Type::Clip) {
        if (const VideoPlayback* p = static_cast<const MovieClip&>(*v.object).playback.get()) {
            uint64_t key = p->contentKey();
            h = mix(h, &key, sizeof key);
        }
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
    default:
        return obj.def && hitsCharacter(*obj.movie, *obj.def, local);
    }
}

}  // namespace refplayer::engine
