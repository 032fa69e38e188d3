// The outline font device text draws with: a free sans-serif face the build
// compiles into the engine, read once into the same form as a movie's
// embedded fonts so fields measure and draw it the same way. Its outlines
// and metrics are integers in the font's units, so native and Windows
// builds lay text out identically.
#pragma once

#include "font.h"

namespace refplayer::engine {

// Glyphs for the bytes 0x20..0xFF as Latin-1 code points, with advances,
// ascent and descent; null only if the compiled-in font could not be read.
const FontDef* deviceFont();

}  // namespace refplayer::engine
