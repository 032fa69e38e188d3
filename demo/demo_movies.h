// The demo's movies, made at start with the project's SWF writer, so the demo
// needs no movie files of its own.
#pragma once

#include <cstdint>
#include <vector>

// A 260 x 200 movie: half-transparent shapes turning over a transparent stage.
std::vector<std::uint8_t> SpinnerMovie();
// A 260 x 200 movie on a coloured stage: a button that counts its clicks into
// a text field, and a bar that moves across.
std::vector<std::uint8_t> CounterMovie();
// A short Screen Video clip (FLV) of a ball crossing a sky, 12 frames per second.
std::vector<std::uint8_t> VideoClip();
