// The outline fonts device text draws with: free faces of the three kinds the
// player knows (sans-serif, serif and typewriter), regular and bold, that the
// build compiles into the engine, each read once into the same form as a
// movie's embedded fonts so fields measure and draw them the same way.
// Italics are the same outlines slanted. Outlines and metrics are integers in
// the font's units, so native and Windows builds lay text out identically.
#pragma once

#include "font.h"

#include <string_view>

namespace refplayer::engine {

enum class DeviceFace : uint8_t { Sans, Serif, Typewriter };

// The kind of face a font name asks for: the player's own names "_sans",
// "_serif" and "_typewriter", and the common faces of each kind by name
// ("Times New Roman", "Georgia", "Courier New", ...). Anything else is sans.
DeviceFace deviceFaceFor(std::string_view fontName);

// The face in the style asked for: glyphs for the characters of the European
// languages, with advances, ascent and descent. Null only if the compiled-in
// fonts could not be read.
const FontDef* deviceFont(bool bold = false, bool italic = false, DeviceFace face = DeviceFace::Sans);

}  // namespace refplayer::engine
