// Text fields: the shown text without HTML, line breaking (multiline and
// word wrap), the metrics script reads, and the text drawn, with an embedded
// font's outlines or the built-in cell font.
#include "text_layout.h"

#include "builtin_font.h"
#include "device_font.h"
#include "int_conv.h"
#include "render.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace refplayer::engine {

namespace {

constexpr int kGutter = 40;  // twips between a text field's border and its text

void addRect(Rasterizer& r, const Matrix& m, double x0, double y0, double x1, double y1)
{
    Point quad[4] = {m.apply(x0, y0), m.apply(x1, y0), m.apply(x1, y1), m.apply(x0, y1)};
    r.addPolygon(quad, 4);
}

const FontDef* embeddedFont(const EditTextDef& f, const MovieDef* movie)
{
    // A field draws with a movie's glyphs only when it asks for outlines;
    // otherwise the font only names a face to draw in.
    if (!f.useOutlines || !movie || !f.fontId)
        return nullptr;
    const Character* c = movie->character(f.fontId);
    if (!c || c->kind != Character::Kind::Font)
        return nullptr;
    const auto* font = static_cast<const FontDef*>(c);
    return font->glyphs.empty() ? nullptr : font;
}

}  // namespace

FieldFont::FieldFont(const EditTextDef& field, const MovieDef* movie)
    : font_(embeddedFont(field, movie)), size_(field.fontHeight)
{
    // Device text: the compiled-in outline face (the cell font only if it could not be read).
    if (!font_)
        font_ = deviceFont();
    scale_ = font_ ? size_ / font_->emSquare : size_ / font::kEm;
}

double FieldFont::advance(uint8_t c) const
{
    if (!font_)
        return font::kAdvance * scale_;
    // A character the font has no glyph for shows nothing and takes no room.
    const std::optional<size_t> g = font_->glyphFor(c);
    return g ? font_->advance(*g) * scale_ : 0;
}

double FieldFont::kern(uint8_t, uint8_t) const
{
    // Fields kern only when their format asks for it (TextFormat.kerning,
    // off by default), which is not modelled: the font's pairs stay unused.
    return 0;
}

double FieldFont::width(std::string_view text) const
{
    if (text.empty())
        return 0;
    // The cell font's last unit of spacing is no ink.
    if (!font_)
        return (text.size() * font::kAdvance - 1) * scale_;
    double w = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        w += advance(static_cast<uint8_t>(text[i]));
        if (i + 1 < text.size())
            w += kern(static_cast<uint8_t>(text[i]), static_cast<uint8_t>(text[i + 1]));
    }
    return w;
}

double FieldFont::ascent() const
{
    if (!font_)
        return font::kAscent * scale_;
    return font_->hasLayout ? font_->ascent * scale_ : size_ * 0.8;
}

double FieldFont::lineHeight() const
{
    if (font_ && font_->hasLayout)
        return (font_->ascent + font_->descent) * scale_;
    return size_;
}

std::string stripHtml(const std::string& html)
{
    std::string out;
    for (size_t i = 0; i < html.size(); ++i) {
        char c = html[i];
        if (c == '<') {
            size_t end = html.find('>', i);
            if (end == std::string::npos)
                break;
            std::string tag = html.substr(i + 1, end - i - 1);
            for (char& t : tag)
                t = static_cast<char>(std::tolower(static_cast<unsigned char>(t)));
            if (tag == "br" || tag == "br/" || tag == "br /" || tag == "/p")
                out += '\r';
            i = end;
        } else if (c == '&') {
            static const std::pair<const char*, char> entities[] = {
                {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&nbsp;", ' '}};
            bool matched = false;
            for (const auto& [name, ch] : entities) {
                size_t n = std::strlen(name);
                if (html.compare(i, n, name) == 0) {
                    out += ch;
                    i += n - 1;
                    matched = true;
                    break;
                }
            }
            if (!matched)
                out += c;
        } else {
            out += c;
        }
    }
    // A trailing paragraph end is no extra line.
    if (!out.empty() && out.back() == '\r')
        out.pop_back();
    return out;
}

namespace {

// One line in an embedded font: each glyph's outline at the pen, scaled from
// font units to the field's size, in its character's colour. Glyphs fill one
// by one with the even-odd rule, as static text's do, so neighbours that
// overlap never cancel out.
void drawEmbeddedLine(const TextObject& obj, const LaidLine& line, const FontDef& font, const FieldFont& face,
                      const Matrix& world, const ColorTransform& color, double x, double baseline,
                      const Canvas& canvas, const IRect& clip)
{
    const Box& b = obj.field().bounds;
    const double scale = obj.field().fontHeight / font.emSquare;
    Rasterizer r;
    for (size_t ci = 0; ci < line.text.size(); ++ci) {
        const uint8_t c = static_cast<uint8_t>(line.text[ci]);
        const double advance = face.advance(c);
        if (x > b.xMax)
            break;  // the rest of the line lies outside the field
        const TextObject::Look look = obj.lookAt(line.index[ci]);
        const Paint paint{premultiply(color.apply(look.color))};
        if (const std::optional<size_t> g = font.glyphFor(c); g && x + advance >= b.xMin) {
            const Matrix m = world * Matrix{scale, 0, 0, scale, x, baseline};
            r.clear();
            for (const Segment& s : font.glyphs[*g].segments) {
                const Point p0 = m.apply(s.x0, s.y0), p1 = m.apply(s.x1, s.y1);
                if (s.curve)
                    r.addQuad(p0, m.apply(s.cx, s.cy), p1);
                else
                    r.addLine(p0, p1);
            }
            r.fill(canvas, clip, font.nonZero ? FillRule::NonZero : FillRule::EvenOdd, paint);
        }
        if (look.underline && advance > 0) {
            const double thickness = std::max(obj.field().fontHeight / 20.0, 1.0);
            r.clear();
            addRect(r, world, x, baseline + thickness, x + advance, baseline + 2 * thickness);
            r.fill(canvas, clip, FillRule::NonZero, paint);
        }
        x += advance;
        if (ci + 1 < line.text.size())
            x += face.kern(c, static_cast<uint8_t>(line.text[ci + 1]));
    }
}

}  // namespace

void drawFieldText(const TextObject& obj, const Matrix& world, const ColorTransform& color, const Canvas& canvas,
                   const IRect& clip)
{
    const EditTextDef& f = obj.field();
    const Box& b = f.bounds;
    const FieldFont face(f, obj.movie.get());
    const std::vector<LaidLine> lines = layoutTextIndexed(f, obj.contents(false), obj.movie.get());
    const double unit = f.fontHeight / static_cast<double>(font::kEm);
    const double lineHeight = face.lineHeight() + f.leading;
    const double avail = (b.xMax - b.xMin) - 2 * kGutter - f.leftMargin - f.rightMargin;
    // A scrolled field starts with its scroll line at the top.
    const size_t first = static_cast<size_t>(std::max(obj.scrollLine, 1) - 1);
    // One rasteriser per colour the text uses.
    std::vector<std::pair<Rgba, Rasterizer>> inks;
    auto inkFor = [&](Rgba c) -> Rasterizer& {
        for (auto& [ink, raster] : inks)
            if (ink == c)
                return raster;
        inks.emplace_back(c, Rasterizer{});
        return inks.back().second;
    };
    for (size_t li = first; li < lines.size(); ++li) {
        const std::string& line = lines[li].text;
        const double width = face.width(line);
        double x = b.xMin + kGutter + f.leftMargin + (li == 0 ? f.indent : 0);
        if (f.align == 1)
            x += avail - width;
        else if (f.align == 2)
            x += (avail - width) / 2;
        // Outline text starts a whole gutter down; the cell font's rows fill half of it.
        double top = b.yMin + (face.embedded() ? kGutter : kGutter / 2.0) + (li - first) * lineHeight;
        if (top > b.yMax)
            break;
        if (const FontDef* embedded = face.embedded()) {
            drawEmbeddedLine(obj, lines[li], *embedded, face, world, color, x, top + face.ascent(), canvas, clip);
            continue;
        }
        for (size_t ci = 0; ci < line.size(); ++ci) {
            double gx = x + ci * font::kAdvance * unit;
            if (gx > b.xMax)
                break;  // the rest of the line lies outside the field
            if (gx + font::kAdvance * unit < b.xMin)
                continue;
            const TextObject::Look look = obj.lookAt(lines[li].index[ci]);
            Rasterizer& r = inkFor(look.color);
            // Bold widens each stroke of the cell by a unit; underline runs
            // under the whole advance.
            const int widen = look.bold ? 1 : 0;
            const uint8_t* rows = font::glyph(static_cast<uint8_t>(line[ci]));
            for (int row = 0; row < font::kRows; ++row) {
                uint8_t bits = rows[row];
                int col = 0;
                while (col < font::kGlyphWidth) {
                    if (!(bits & (0x10 >> col))) {
                        ++col;
                        continue;
                    }
                    int start = col;
                    while (col < font::kGlyphWidth && (bits & (0x10 >> col)))
                        ++col;
                    addRect(r, world, gx + start * unit, top + row * unit, gx + (col + widen) * unit,
                            top + (row + 1) * unit);
                }
            }
            if (look.underline)
                addRect(r, world, gx, top + (font::kAscent + 1) * unit, gx + font::kAdvance * unit,
                        top + (font::kAscent + 1.5) * unit);
        }
    }
    for (auto& [ink, raster] : inks)
        raster.fill(canvas, clip, FillRule::NonZero, Paint{premultiply(color.apply(ink))});
}


std::vector<LaidLine> layoutTextIndexed(const EditTextDef& f, const std::string& shown, const MovieDef* movie)
{
    std::vector<LaidLine> paragraphs;
    LaidLine current;
    for (size_t i = 0; i < shown.size(); ++i) {
        char c = shown[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n')
                ++i;
            if (f.multiline) {
                paragraphs.push_back(std::move(current));
                current = {};
            }
            continue;
        }
        if (static_cast<unsigned char>(c) < 0x20)
            continue;  // other control characters draw nothing
        current.text += f.password ? '*' : c;
        current.index.push_back(static_cast<uint32_t>(std::min<size_t>(i, UINT32_MAX)));
    }
    paragraphs.push_back(std::move(current));
    if (!(f.wordWrap && f.multiline))
        return paragraphs;

    const FieldFont face(f, movie);
    const double avail = (f.bounds.xMax - f.bounds.xMin) - 2 * kGutter - f.leftMargin - f.rightMargin;
    // How many characters from `at` fit the line (at least one, so every line takes some).
    const double unit = f.fontHeight / static_cast<double>(font::kEm);
    const size_t cells =
        unit > 0 ? num::truncClamp<size_t>(std::floor((avail + unit) / (font::kAdvance * unit)), 1, SIZE_MAX) : 1;
    auto fitting = [&](const std::string& text, size_t at) {
        if (!face.embedded() || at >= text.size())
            return cells;
        double w = face.advance(static_cast<uint8_t>(text[at]));
        size_t n = 1;
        for (; at + n < text.size(); ++n) {
            const uint8_t prev = static_cast<uint8_t>(text[at + n - 1]), c = static_cast<uint8_t>(text[at + n]);
            w += face.kern(prev, c) + face.advance(c);
            if (w > avail)
                break;
        }
        return n;
    };
    std::vector<LaidLine> lines;
    auto piece = [](const LaidLine& p, size_t at, size_t n) {
        LaidLine l;
        l.text = p.text.substr(at, n);
        l.index.assign(p.index.begin() + static_cast<ptrdiff_t>(at),
                       p.index.begin() + static_cast<ptrdiff_t>(at + l.text.size()));
        return l;
    };
    for (const LaidLine& p : paragraphs) {
        size_t at = 0;
        for (size_t perLine = fitting(p.text, at); p.text.size() - at > perLine; perLine = fitting(p.text, at)) {
            size_t cut = p.text.rfind(' ', at + perLine);
            if (cut == std::string::npos || cut <= at) {
                lines.push_back(piece(p, at, perLine));
                at += perLine;
            } else {
                lines.push_back(piece(p, at, cut - at));
                at = cut + 1;
            }
        }
        lines.push_back(piece(p, at, std::string::npos));
    }
    return lines;
}

std::vector<std::string> layoutText(const EditTextDef& f, const std::string& text, const MovieDef* movie)
{
    std::vector<std::string> out;
    for (LaidLine& line : layoutTextIndexed(f, f.html ? stripHtml(text) : text, movie))
        out.push_back(std::move(line.text));
    return out;
}

TextMetrics measureText(const EditTextDef& f, const std::string& text, const MovieDef* movie)
{
    const std::vector<std::string> lines = layoutText(f, text, movie);
    const FieldFont face(f, movie);
    TextMetrics m;
    for (const std::string& line : lines)
        m.widest = std::max(m.widest, face.width(line));
    m.lineHeight = face.lineHeight() + f.leading;
    m.lines = static_cast<int>(std::min<size_t>(lines.size(), INT32_MAX));
    const double room = (f.bounds.yMax - f.bounds.yMin) - kGutter;
    m.visibleLines = m.lineHeight > 0 ? num::truncClamp<int>(std::floor(room / m.lineHeight), 1, INT32_MAX) : 1;
    m.gutter = kGutter;
    return m;
}

}  // namespace refplayer::engine
