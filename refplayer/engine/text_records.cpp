// Static text: DefineText and DefineText2 records turned into a shape of the
// fonts' glyph outlines, placed by the records' offsets and advances and the
// text's matrix.
#include "font.h"
#include "int_conv.h"
#include "swf_reader.h"

namespace refplayer::engine {

namespace {

Segment placed(const Segment& s, const Matrix& m)
{
    auto at = [&](int32_t x, int32_t y, int32_t& outX, int32_t& outY) {
        const Point p = m.apply(x, y);
        outX = num::roundClamp<int32_t>(p.x);
        outY = num::roundClamp<int32_t>(p.y);
    };
    Segment out;
    out.curve = s.curve;
    at(s.x0, s.y0, out.x0, out.y0);
    at(s.x1, s.y1, out.x1, out.y1);
    if (s.curve)
        at(s.cx, s.cy, out.cx, out.cy);
    return out;
}

}  // namespace

void readStaticText(SwfReader& r, bool withAlpha, MovieDef& movie, const Limits& limits)
{
    const uint16_t id = r.u16();
    auto shape = std::make_unique<ShapeDef>(id);
    shape->bounds = readRect(r);
    const Matrix textMatrix = readMatrix(r);
    const unsigned glyphBits = r.u8(), advanceBits = r.u8();
    if (movie.characters.count(id))
        return;

    const FontDef* font = nullptr;
    Rgba color{0, 0, 0, 255};
    double x = 0, y = 0, height = 0;
    bool overCap = false;
    try {
        while (!r.atEnd()) {
            const uint8_t flags = r.u8();
            if (flags == 0)
                break;  // end of the records
            if (flags & 0x08) {
                const Character* c = movie.character(r.u16());
                font = c && c->kind == Character::Kind::Font ? static_cast<const FontDef*>(c) : nullptr;
            }
            if (flags & 0x04) {
                Rgba next{r.u8(), r.u8(), r.u8(), 255};
                if (withAlpha)
                    next.a = r.u8();
                color = next;
            }
            if (flags & 0x01)
                x = r.s16();
            if (flags & 0x02)
                y = r.s16();
            if (flags & 0x08)
                height = r.u16();
            // A colour change starts a group of its own; glyphs of one colour share one.
            if (shape->groups.empty() || !(shape->groups.back().fills.front().color == color)) {
                ShapeGroup group;
                FillStyle fill;
                fill.color = color;
                group.fills.push_back(fill);
                shape->groups.push_back(std::move(group));
            }
            ShapeGroup& group = shape->groups.back();
            const unsigned count = r.u8();
            for (unsigned i = 0; i < count; ++i) {
                const uint32_t index = r.ub(glyphBits);
                const int32_t advance = r.sb(advanceBits);
                if (font && index < font->glyphs.size() && !font->glyphs[index].segments.empty()) {
                    const std::vector<Segment>& outline = font->glyphs[index].segments;
                    movie.edgeCount += outline.size();
                    if (movie.edgeCount > limits.movieEdges) {
                        overCap = true;
                        break;
                    }
                    const double scale = height / font->emSquare;
                    const Matrix toText = textMatrix * Matrix{scale, 0, 0, scale, x, y};
                    ShapePath path{1, {}};
                    path.segments.reserve(outline.size());
                    for (const Segment& s : outline)
                        path.segments.push_back(placed(s, toText));
                    group.fillPaths.push_back(std::move(path));
                }
                x += advance;
            }
            if (overCap)
                break;
            r.align();
        }
    } catch (const ParseError&) {
        // Records cut short: the text keeps the glyphs read so far.
    }
    if (overCap)
        r.fail("the movie's shapes and text have more than " + std::to_string(limits.movieEdges) + " edges");
    movie.characters.emplace(id, std::move(shape));
}

}  // namespace refplayer::engine
