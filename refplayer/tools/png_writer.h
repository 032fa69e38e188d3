// A minimal PNG encoder: 8-bit RGBA (colour type 6), one IDAT chunk, filter
// type 0 on every row. zlib does the deflate and the checksums. Platform-free.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace refplayer::png {

// The largest picture accepted: keeps every length and checksum run within
// zlib's 32-bit counts on every platform.
constexpr int kMaxSide = 1 << 14;
constexpr int64_t kMaxPixels = int64_t(1) << 26;

// Encodes `rgba`: `width` x `height` pixels, top-down rows, 4 bytes per pixel
// (red, green, blue, alpha; straight, not premultiplied). Throws
// std::invalid_argument when the sizes are out of range or do not match the data.
std::vector<uint8_t> encodeRgba(int width, int height, std::span<const uint8_t> rgba);

// Premultiplied 0xAARRGGBB words to straight RGBA bytes, each colour channel
// rounded to nearest and clamped to 255 (a premultiplied channel above its
// alpha is malformed but must not wrap). Fully transparent pixels become 0,0,0,0.
std::vector<uint8_t> straightRgba(std::span<const uint32_t> premultipliedArgb);

}  // namespace refplayer::png
