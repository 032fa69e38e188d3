// Embedded fonts and static text: the glyph outlines of DefineFont,
// DefineFont2 and DefineFont3 with the code tables of DefineFontInfo/2 and the
// layout tables, and DefineText/DefineText2, which the loader turns into a
// shape of glyph outlines so static text draws, hits and measures like any
// other shape. No length, count or offset in these tags is trusted: a glyph
// whose records are damaged is kept empty, and tables that run short stop
// where the data ends.
#pragma once

#include "swf_movie.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace refplayer::engine {

namespace tag {
constexpr uint16_t DefineFont = 10, DefineText = 11, DefineFontInfo = 13, DefineText2 = 33, DefineFont2 = 48,
                   DefineFontInfo2 = 62, DefineFont3 = 75;
}

struct Glyph {
    // Oriented so the glyph's inside lies on the same side of every edge;
    // font units, y down, the origin on the baseline at the pen position.
    std::vector<Segment> segments;
};

struct KerningPair {
    uint16_t left = 0, right = 0;  // character codes
    int16_t adjust = 0;            // font units
};

struct FontDef : Character {
    FontDef(uint16_t i) : Character(Kind::Font, i) {}
    std::string name;
    bool bold = false, italic = false, smallText = false, shiftJis = false, ansi = false, wideCodes = false;
    uint8_t language = 0;
    // Font units to an EM: 1024 for DefineFont/2; DefineFont3 keeps twenty
    // times the precision.
    double emSquare = 1024;
    // Glyphs fill by winding (TrueType outlines) rather than even-odd.
    bool nonZero = false;
    std::vector<Glyph> glyphs;
    // The character code of each glyph (DefineFont2/3, or DefineFontInfo/2
    // for DefineFont); glyphs past the table's end have none.
    std::vector<uint16_t> codes;
    bool hasLayout = false;
    uint16_t ascent = 0, descent = 0;  // font units
    int16_t leading = 0;
    std::vector<int16_t> advances;     // font units, by glyph
    std::vector<KerningPair> kerning;

    // The glyph drawn for character `code`, if the font has one (the first
    // glyph with that code). Needs indexCodes() after the codes change.
    std::optional<size_t> glyphFor(uint32_t code) const;
    void indexCodes();
    // The pen advance of glyph `index` in font units: the layout table's, or
    // for fonts without one the outline's width with a small gap.
    double advance(size_t index) const;
    // The kerning adjustment between two codes, in font units.
    int kern(uint32_t left, uint32_t right) const;

private:
    std::vector<std::pair<uint16_t, uint32_t>> byCode_;  // (code, glyph), sorted by code
};

// A font or static text tag (`code` one of the tag codes above; `body` after
// the tag header). A font or text whose id is taken is ignored; DefineFontInfo
// adds its code table to the font it names. Throws ParseError only where the
// tag is too short for its fixed fields, or when its edges pass the movie's cap.
void readFontTag(uint16_t code, SwfReader& body, MovieDef& movie, const Limits& limits);

// DefineText/DefineText2 after the tag header: a shape of the records'
// glyphs, one group per colour, each glyph a path of its own.
void readStaticText(SwfReader& r, bool withAlpha, MovieDef& movie, const Limits& limits);

// A glyph's SHAPE record list (no style arrays, fill style 1 inside).
Glyph parseGlyph(SwfReader& r, const Limits& limits, size_t& movieEdges);

}  // namespace refplayer::engine
