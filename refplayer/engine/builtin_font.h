// A built-in 5 x 7 pixel font (with two descender rows) for text fields: the
// engine has no font rasteriser, so fields draw their text with these cells,
// scaled to the field's font height and anti-aliased like any other shape.
#pragma once

#include <cstdint>

namespace refplayer::engine::font {

constexpr int kGlyphWidth = 5;   // units
constexpr int kRows = 9;         // 7 above the baseline, 2 below
constexpr int kAscent = 7;
constexpr int kAdvance = 6;      // glyph plus one unit of spacing
constexpr int kEm = 9;           // units per font height

// Rows of the glyph for a byte, top first; bit 4 is the leftmost column.
// Bytes outside printable ASCII get an empty box.
const uint8_t* glyph(uint8_t byte);

}  // namespace refplayer::engine::font
