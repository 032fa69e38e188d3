// The outline font device text draws with: a free sans-serif face, regular
// and bold, that the build compiles into the engine, each read once into the
// same form as a movie's embedded fonts so fields measure and draw it the
// same way. Italics are the same outlines slanted. Outlines and metrics are
// integers in the font's units, so native and Windows builds lay text out
// identically.
#pragma once

#include "font.h"

namespace refplayer::engine {

// The face in the style asked for: glyphs for the characters of the European
// languages, with advances, ascent and descent. Null only if the compiled-in
// font could not be read.
const FontDef* deviceFont(bool bold = false, bool italic = false);

}  // namespace refplayer::engine
