// The checked-in clips (tests/media/clips), by file name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace media_clips {

// The clip's bytes; empty when no clip has that name.
std::span<const uint8_t> clip(std::string_view name);

// An encoder's own decode of a clip: 4:2:0 frames of width x height back to back.
struct YuvFrames {
    std::span<const uint8_t> data;
    int width = 0, height = 0;
    int chromaWidth() const { return (width + 1) / 2; }
    int chromaHeight() const { return (height + 1) / 2; }
    size_t frameSize() const { return size_t(width) * height + 2 * size_t(chromaWidth()) * chromaHeight(); }
    size_t frames() const { return data.size() / frameSize(); }
    // Plane 0 (Y), 1 (U) or 2 (V) of a frame.
    const uint8_t* plane(size_t frame, int index) const;
    // Pixel (x, y) of a frame as R, G, B: BT.601 studio range in floating
    // point, each chroma sample over its 2 x 2 pixels, clamped to 0..255.
    std::array<double, 3> rgb(size_t frame, int x, int y) const;
};
YuvFrames yuvFrames(std::string_view name, int width, int height);

}  // namespace media_clips
