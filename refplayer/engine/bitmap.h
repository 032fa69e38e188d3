// Bitmaps: the decoders behind the DefineBits family of tags and the shader
// that bitmap fills draw with. Decoding never throws and never trusts a size
// or length taken from the data; a picture larger than the caps is refused.
#pragma once

#include "raster.h"
#include "swf_movie.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace refplayer::engine {

struct DecodedImage {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // premultiplied 0xAARRGGBB; empty on failure
    std::string error;             // why there are no pixels
    bool ok() const { return !pixels.empty(); }
};

// JPEG data as DefineBits* tags hold it: `tables` (a JPEGTables body, may be
// empty) and `data` may each carry their own start/end markers, and old files
// put a stray end/start pair before the image; both are tolerated. From
// DefineBitsJPEG2 on the data may instead be a PNG file (`allowPng`).
DecodedImage decodeJpegData(std::span<const uint8_t> tables, std::span<const uint8_t> data, bool allowPng,
                            size_t maxPixels);

// A DefineBitsLossless/2 body after the character id: format, size, colour
// table size (format 3) and the zlib-compressed pixels.
DecodedImage decodeLossless(std::span<const uint8_t> body, bool withAlpha, size_t maxPixels);

// The zlib-compressed alpha plane of DefineBitsJPEG3/4 applied to a decoded
// picture (one byte per pixel). Missing or damaged alpha leaves the picture opaque.
void applyAlphaPlane(DecodedImage& image, std::span<const uint8_t> compressed);

// A bitmap definition tag (`code` one of the DefineBits* codes, `body` after
// the tag header). Adds the character unless its id is taken; a JPEGTables
// tag is remembered for later DefineBits tags. Throws ParseError only where
// the tag is too short to hold its fixed fields.
void readBitmapTag(uint16_t code, SwfReader& body, MovieDef& movie, const Limits& limits);

// The paint of a bitmap fill of `movie`'s: the fill's matrix takes bitmap
// pixels to shape twips, `world` shape twips to device pixels. Null when the
// fill names no bitmap or one without pixels.
std::unique_ptr<Shader> makeBitmapShader(const MovieDef& movie, const FillStyle& fill, const Matrix& world,
                                         const ColorTransform& color);

}  // namespace refplayer::engine
