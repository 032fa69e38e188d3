// DefineFont, DefineFont2/3 and DefineFontInfo/2: glyph outlines, code
// tables, and the layout tables (ascent, descent, leading, advances,
// kerning) that edit text lays out with.
#include "font.h"
#include "swf_reader.h"

#include <algorithm>

namespace refplayer::engine {

std::optional<size_t> FontDef::glyphFor(uint32_t code) const
{
    // Looked up for every character a field lays out and draws, and a
    // font may hold 65535 glyphs: a sorted index, not a scan.
    auto it = std::lower_bound(byCode_.begin(), byCode_.end(), std::pair<uint16_t, uint32_t>{0, 0},
                               [code](const auto& entry, const auto&) { return entry.first < code; });
    if (it == byCode_.end() || it->first != code)
        return std::nullopt;
    return it->second;
}

void FontDef::indexCodes()
{
    byCode_.clear();
    for (size_t i = 0; i < codes.size() && i < glyphs.size(); ++i)
        byCode_.emplace_back(codes[i], static_cast<uint32_t>(i));
    // Stable, so the first glyph with a code stays first among its equals.
    std::stable_sort(byCode_.begin(), byCode_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
}

double FontDef::advance(size_t index) const
{
    if (hasLayout && index < advances.size())
        return advances[index];
    if (index >= glyphs.size())
        return 0;
    // No layout table: the outline's right edge and a twentieth of an EM.
    int32_t right = 0;
    for (const Segment& s : glyphs[index].segments)
        right = std::max({right, s.x0, s.x1, s.cx});
    return glyphs[index].segments.empty() ? emSquare / 4 : right + emSquare / 20;
}

int FontDef::kern(uint32_t left, uint32_t right) const
{
    for (const KerningPair& k : kerning)
        if (k.left == left && k.right == right)
            return k.adjust;
    return 0;
}

namespace {

// Reads the glyph whose records start `start` bytes into `table` and end
// before `end` (or the table's end when the offsets disagree). A glyph the
// data cannot hold stays empty; only the movie's edge cap is fatal.
Glyph glyphAt(std::span<const uint8_t> table, size_t start, size_t end, const Limits& limits, size_t& movieEdges)
{
    if (start >= table.size())
        return Glyph{};
    if (end <= start || end > table.size())
        end = table.size();
    SwfReader r(table.subspan(start, end - start));
    try {
        return parseGlyph(r, limits, movieEdges);
    } catch (const ParseError&) {
        if (movieEdges > limits.movieEdges)
            throw;
        return Glyph{};
    }
}

std::string fontName(std::span<const uint8_t> bytes)
{
    std::string name(bytes.begin(), bytes.end());
    // Some tools count a terminating NUL in the name's length.
    while (!name.empty() && name.back() == '\0')
        name.pop_back();
    return name;
}

FontDef* defineFont(MovieDef& movie, uint16_t id)
{
    if (movie.characters.count(id))
        return nullptr;
    auto font = std::make_unique<FontDef>(id);
    FontDef* raw = font.get();
    movie.characters.emplace(id, std::move(font));
    return raw;
}

// DefineFont: an offset table whose first entry also gives the glyph count,
// then the glyphs. Codes come later from DefineFontInfo.
void readFont1(SwfReader& r, MovieDef& movie, const Limits& limits)
{
    const uint16_t id = r.u16();
    const std::span<const uint8_t> table = r.rest();
    FontDef* font = defineFont(movie, id);
    if (!font || table.size() < 2)
        return;
    SwfReader offsets(table);
    const size_t first = offsets.u16();
    const size_t count = first / 2;
    std::vector<size_t> starts;
    if (count)
        starts.push_back(first);
    while (starts.size() < count && offsets.remaining() >= 2)
        starts.push_back(offsets.u16());
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t end = i + 1 < starts.size() ? starts[i + 1] : table.size();
        font->glyphs.push_back(glyphAt(table, starts[i], end, limits, movie.edgeCount));
    }
}

// DefineFont2 and DefineFont3.
void readFont23(SwfReader& r, bool font3, MovieDef& movie, const Limits& limits)
{
    const uint16_t id = r.u16();
    const uint8_t flags = r.u8();
    FontDef def(id);
    def.emSquare = font3 ? 1024 * 20 : 1024;
    def.hasLayout = flags & 0x80;
    def.shiftJis = flags & 0x40;
    def.smallText = flags & 0x20;
    def.ansi = flags & 0x10;
    const bool wideOffsets = flags & 0x08;
    def.wideCodes = flags & 0x04;
    def.italic = flags & 0x02;
    def.bold = flags & 0x01;
    def.language = r.u8();
    const uint8_t nameLength = r.u8();
    def.name = fontName(r.bytes(nameLength));
    const size_t count = r.u16();
    FontDef* font = defineFont(movie, id);
    if (!font)
        return;
    *font = std::move(def);

    // Offsets count from the start of the offset table. A device font has
    // no glyphs and may stop here.
    const std::span<const uint8_t> table = r.rest();
    SwfReader t(table);
    std::vector<size_t> starts;
    size_t codeTable = table.size();
    try {
        for (size_t i = 0; i < count; ++i)
            starts.push_back(wideOffsets ? t.u32() : t.u16());
        if (!t.atEnd())
            codeTable = wideOffsets ? t.u32() : t.u16();
    } catch (const ParseError&) {
        // A table cut short keeps the glyphs whose offsets arrived.
    }
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t end = i + 1 < starts.size() ? starts[i + 1] : codeTable;
        font->glyphs.push_back(glyphAt(table, starts[i], end, limits, movie.edgeCount));
    }
    if (codeTable >= table.size())
        return;
    struct Index {
        FontDef& font;
        ~Index() { font.indexCodes(); }
    } index{*font};  // whichever way the tables end
    SwfReader tail(table.subspan(codeTable));
    try {
        for (size_t i = 0; i < font->glyphs.size(); ++i)
            font->codes.push_back(font->wideCodes ? tail.u16() : tail.u8());
        if (!font->hasLayout)
            return;
        font->ascent = tail.u16();
        font->descent = tail.u16();
        font->leading = tail.s16();
        for (size_t i = 0; i < font->glyphs.size(); ++i)
            font->advances.push_back(tail.s16());
        for (size_t i = 0; i < font->glyphs.size(); ++i)
            readRect(tail);  // glyph bounds: the outlines say as much
        const size_t pairs = tail.u16();
        for (size_t i = 0; i < pairs; ++i) {
            KerningPair k;
            k.left = font->wideCodes ? tail.u16() : tail.u8();
            k.right = font->wideCodes ? tail.u16() : tail.u8();
            k.adjust = tail.s16();
            font->kerning.push_back(k);
        }
    } catch (const ParseError&) {
        // Tables cut short keep what arrived; the rest falls back (advances
        // from the outlines, no kerning).
        if (font->advances.size() < font->glyphs.size())
            font->advances.clear();
    }
}

// DefineFontInfo/2: the name, style and code table of a DefineFont's glyphs.
void readFontInfo(SwfReader& r, bool version2, MovieDef& movie)
{
    const uint16_t id = r.u16();
    const uint8_t nameLength = r.u8();
    const std::string name = fontName(r.bytes(nameLength));
    const uint8_t flags = r.u8();
    auto it = movie.characters.find(id);
    if (it == movie.characters.end() || it->second->kind != Character::Kind::Font)
        return;
    auto& font = static_cast<FontDef&>(*it->second);
    if (!font.codes.empty())
        return;  // the font has its codes already
    font.name = name;
    font.smallText = flags & 0x20;
    font.shiftJis = flags & 0x10;
    font.ansi = flags & 0x08;
    font.italic = flags & 0x04;
    font.bold = flags & 0x02;
    font.wideCodes = version2 || (flags & 0x01);
    if (version2 && !r.atEnd())
        font.language = r.u8();
    while (font.codes.size() < font.glyphs.size() && r.remaining() >= (font.wideCodes ? 2u : 1u))
        font.codes.push_back(font.wideCodes ? r.u16() : r.u8());
    font.indexCodes();
}

}  // namespace

void readFontTag(uint16_t code, SwfReader& body, MovieDef& movie, const Limits& limits)
{
    switch (code) {
    case tag::DefineFont:
        readFont1(body, movie, limits);
        break;
    case tag::DefineFont2:
    case tag::DefineFont3:
        readFont23(body, code == tag::DefineFont3, movie, limits);
        break;
    case tag::DefineFontInfo:
    case tag::DefineFontInfo2:
        readFontInfo(body, code == tag::DefineFontInfo2, movie);
        break;
    case tag::DefineText:
    case tag::DefineText2:
        readStaticText(body, code == tag::DefineText2, movie, limits);
        break;
    default:
        break;
    }
}

}  // namespace refplayer::engine
