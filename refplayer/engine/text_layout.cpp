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

// The character whose UTF-8 sequence starts at text[i] (a byte of 0x80 or
// more), leaving i on its last byte. A byte that starts no whole, shortest
// sequence of a valid code point stands for itself, as Latin-1.
char32_t nextUtf8(const std::string& text, size_t& i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    const size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > text.size())
        return lead;
    char32_t c = lead & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return lead;
        c = c << 6 | (byte(i + k) & 0x3F);
    }
    const char32_t least = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return lead;
    i += n - 1;
    return c;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

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

// The member of an embedded font's family in a style: the font itself when
// it is that style, else the font of the same name the movie embeds in it
// (authoring tools embed each style used as a font of its own). Failing
// both, the field's font, so that the text still shows.
const FontDef* familyFace(const FontDef& font, const MovieDef& movie, bool bold, bool italic)
{
    if (font.bold == bold && font.italic == italic)
        return &font;
    const FontDef* found = nullptr;
    for (const auto& [id, c] : movie.characters) {
        if (!c || c->kind != Character::Kind::Font)
            continue;
        const auto* f = static_cast<const FontDef*>(c.get());
        if (f->bold == bold && f->italic == italic && f->name == font.name && !f->glyphs.empty() &&
            (!found || f->id < found->id))
            found = f;
    }
    return found ? found : &font;
}

CharStyle styleOf(const LaidLine& line, size_t i)
{
    return i < line.style.size() ? line.style[i] : CharStyle{};
}

}  // namespace

FieldFont::FieldFont(const EditTextDef& field, const MovieDef* movie) : movie_(movie), size_(field.fontHeight)
{
    primary_ = embeddedFont(field, movie);
    // Device text: the compiled-in outline faces (the cell font only if they could not be read).
    if (!primary_) {
        device_ = true;
        primary_ = deviceFont();
    }
}

const FontDef* FieldFont::embedded(CharStyle style) const
{
    if (!primary_)
        return nullptr;
    const size_t i = (style.bold ? 1 : 0) | (style.italic ? 2 : 0) |
                     (device_ ? static_cast<size_t>(style.face) % 3 << 2 : 0);
    if (!found_[i]) {
        faces_[i] = device_ ? deviceFont(style.bold, style.italic, style.face)
                            : familyFace(*primary_, *movie_, style.bold, style.italic);
        found_[i] = true;
    }
    return faces_[i];
}

double FieldFont::scaleOf(const FontDef* face) const
{
    return face ? size_ / face->emSquare : size_ / font::kEm;
}

double FieldFont::advance(char32_t c, CharStyle style) const
{
    const FontDef* face = embedded(style);
    if (!face)
        return font::kAdvance * scaleOf(nullptr);
    // A character the font has no glyph for shows nothing and takes no room.
    const std::optional<size_t> g = face->glyphFor(c);
    return g ? face->advance(*g) * scaleOf(face) : 0;
}

double FieldFont::kern(char32_t left, char32_t right, CharStyle leftStyle) const
{
    // Kerning is the embedded font's pairs, as the player applies them; the
    // device font sets its text unkerned.
    if (!leftStyle.kerning || device_)
        return 0;
    const FontDef* face = embedded(leftStyle);
    return face ? face->kern(left, right) * scaleOf(face) : 0;
}

double FieldFont::width(const LaidLine& line) const
{
    const std::u32string& text = line.text;
    if (text.empty())
        return 0;
    // The cell font's last unit of spacing is no ink.
    if (!primary_)
        return (text.size() * font::kAdvance - 1) * scaleOf(nullptr);
    double w = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        w += advance(text[i], styleOf(line, i));
        if (i + 1 < text.size())
            w += kern(text[i], text[i + 1], styleOf(line, i));
    }
    return w;
}

double FieldFont::ascent() const
{
    if (!primary_)
        return font::kAscent * scaleOf(nullptr);
    return primary_->hasLayout ? primary_->ascent * scaleOf(primary_) : size_ * 0.8;
}

double FieldFont::lineHeight() const
{
    if (primary_ && primary_->hasLayout)
        return (primary_->ascent + primary_->descent) * scaleOf(primary_);
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

// One line in outline fonts: each glyph's outline at the pen, scaled from
// font units to the field's size, in its character's face and colour. Glyphs
// fill one by one, as static text's do, so neighbours that overlap never
// cancel out.
void drawOutlineLine(const TextObject& obj, const LaidLine& line, const FieldFont& face, const Matrix& world,
                     const ColorTransform& color, double x, double baseline, double spaceExtra, const Canvas& canvas,
                     const IRect& clip)
{
    const Box& b = obj.field().bounds;
    Rasterizer r;
    for (size_t ci = 0; ci < line.text.size(); ++ci) {
        const char32_t c = line.text[ci];
        const CharStyle style = styleOf(line, ci);
        const double advance = face.advance(c, style);
        if (x > b.xMax)
            break;  // the rest of the line lies outside the field
        const TextObject::Look look = obj.lookAt(line.index[ci]);
        const Paint paint{premultiply(color.apply(look.color))};
        const FontDef* font = face.embedded(style);
        if (const std::optional<size_t> g = font->glyphFor(c); g && x + advance >= b.xMin) {
            const double scale = obj.field().fontHeight / font->emSquare;
            const Matrix m = world * Matrix{scale, 0, 0, scale, x, baseline};
            r.clear();
            for (const Segment& s : font->glyphs[*g].segments) {
                const Point p0 = m.apply(s.x0, s.y0), p1 = m.apply(s.x1, s.y1);
                if (s.curve)
                    r.addQuad(p0, m.apply(s.cx, s.cy), p1);
                else
                    r.addLine(p0, p1);
            }
            r.fill(canvas, clip, font->nonZero ? FillRule::NonZero : FillRule::EvenOdd, paint);
        }
        if (look.underline && advance > 0) {
            const double thickness = std::max(obj.field().fontHeight / 20.0, 1.0);
            r.clear();
            addRect(r, world, x, baseline + thickness, x + advance, baseline + 2 * thickness);
            r.fill(canvas, clip, FillRule::NonZero, paint);
        }
        x += advance + (c == U' ' ? spaceExtra : 0);
        if (ci + 1 < line.text.size())
            x += face.kern(c, line.text[ci + 1], style);
    }
}

}  // namespace

void drawFieldText(const TextObject& obj, const Matrix& world, const ColorTransform& color, const Canvas& canvas,
                   const IRect& clip)
{
    const EditTextDef& f = obj.field();
    const Box& b = f.bounds;
    const FieldFont face(f, obj.movie.get());
    const std::vector<LaidLine> lines =
        layoutTextIndexed(f, obj.contents(false), obj.movie.get(), [&obj](size_t i) { return obj.styleAt(i); });
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
        const std::u32string& line = lines[li].text;
        const double width = face.width(lines[li]);
        double x = b.xMin + kGutter + f.leftMargin + (li == 0 ? f.indent : 0);
        if (f.align == 1)
            x += avail - width;
        else if (f.align == 2)
            x += (avail - width) / 2;
        // Justified: a line that word wrap ended spreads its slack over its
        // spaces; a paragraph's last line stays at the left.
        double spaceExtra = 0;
        if (f.align == 3 && lines[li].wrapped && width < avail) {
            const auto spaces = std::count(line.begin(), line.end(), U' ');
            if (spaces > 0)
                spaceExtra = (avail - width) / static_cast<double>(spaces);
        }
        // Outline text starts a whole gutter down; the cell font's rows fill half of it.
        double top = b.yMin + (face.embedded() ? kGutter : kGutter / 2.0) + (li - first) * lineHeight;
        if (top > b.yMax)
            break;
        if (face.embedded()) {
            drawOutlineLine(obj, lines[li], face, world, color, x, top + face.ascent(), spaceExtra, canvas, clip);
            continue;
        }
        double spread = 0;  // justification so far
        for (size_t ci = 0; ci < line.size(); ++ci) {
            const double gx = x + ci * font::kAdvance * unit + spread;
            if (line[ci] == U' ')
                spread += spaceExtra;
            if (gx > b.xMax)
                break;  // the rest of the line lies outside the field
            if (gx + font::kAdvance * unit < b.xMin)
                continue;
            const TextObject::Look look = obj.lookAt(lines[li].index[ci]);
            Rasterizer& r = inkFor(look.color);
            // Bold widens each stroke of the cell by a unit; underline runs
            // under the whole advance.
            const int widen = look.bold ? 1 : 0;
            // The cell font has Latin-1 only: anything past it shows the empty box.
            const uint8_t* rows = font::glyph(line[ci] <= 0xFF ? static_cast<uint8_t>(line[ci]) : 0x7F);
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


std::vector<LaidLine> layoutTextIndexed(const EditTextDef& f, const std::string& shown, const MovieDef* movie,
                                        const StyleAt& styleAt)
{
    const bool utf8 = !movie || movie->version >= 6;
    std::vector<LaidLine> paragraphs;
    LaidLine current;
    for (size_t i = 0; i < shown.size(); ++i) {
        const size_t start = i;
        char32_t c = static_cast<unsigned char>(shown[i]);
        if (utf8 && c >= 0x80)
            c = nextUtf8(shown, i);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n')
                ++i;
            if (f.multiline) {
                paragraphs.push_back(std::move(current));
                current = {};
            }
            continue;
        }
        if (c < 0x20)
            continue;  // other control characters draw nothing
        current.text += f.password ? U'*' : c;
        current.index.push_back(static_cast<uint32_t>(std::min<size_t>(start, UINT32_MAX)));
        current.style.push_back(styleAt ? styleAt(start) : CharStyle{});
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
    auto fitting = [&](const LaidLine& p, size_t at) {
        const std::u32string& text = p.text;
        if (!face.embedded() || at >= text.size())
            return cells;
        double w = face.advance(text[at], styleOf(p, at));
        size_t n = 1;
        for (; at + n < text.size(); ++n) {
            const size_t prev = at + n - 1, c = at + n;
            w += face.kern(text[prev], text[c], styleOf(p, prev)) + face.advance(text[c], styleOf(p, c));
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
        l.style.assign(p.style.begin() + static_cast<ptrdiff_t>(at),
                       p.style.begin() + static_cast<ptrdiff_t>(at + l.text.size()));
        return l;
    };
    for (const LaidLine& p : paragraphs) {
        size_t at = 0;
        for (size_t perLine = fitting(p, at); p.text.size() - at > perLine; perLine = fitting(p, at)) {
            size_t cut = p.text.rfind(U' ', at + perLine);
            if (cut == std::u32string::npos || cut <= at) {
                lines.push_back(piece(p, at, perLine));
                at += perLine;
            } else {
                lines.push_back(piece(p, at, cut - at));
                at = cut + 1;
            }
            lines.back().wrapped = true;
        }
        lines.push_back(piece(p, at, std::u32string::npos));
    }
    return lines;
}

std::vector<std::string> layoutText(const EditTextDef& f, const std::string& text, const MovieDef* movie)
{
    std::vector<std::string> out;
    for (const LaidLine& line : layoutTextIndexed(f, f.html ? stripHtml(text) : text, movie)) {
        std::string utf8;
        for (char32_t c : line.text)
            appendUtf8(utf8, c);
        out.push_back(std::move(utf8));
    }
    return out;
}

TextMetrics measureText(const EditTextDef& f, const std::string& text, const MovieDef* movie, const StyleAt& styleAt)
{
    const std::vector<LaidLine> lines = layoutTextIndexed(f, f.html ? stripHtml(text) : text, movie, styleAt);
    const FieldFont face(f, movie);
    TextMetrics m;
    for (const LaidLine& line : lines)
        m.widest = std::max(m.widest, face.width(line));
    m.lineHeight = face.lineHeight() + f.leading;
    m.lines = static_cast<int>(std::min<size_t>(lines.size(), INT32_MAX));
    const double room = (f.bounds.yMax - f.bounds.yMin) - kGutter;
    m.visibleLines = m.lineHeight > 0 ? num::truncClamp<int>(std::floor(room / m.lineHeight), 1, INT32_MAX) : 1;
    m.gutter = kGutter;
    return m;
}

}  // namespace refplayer::engine
