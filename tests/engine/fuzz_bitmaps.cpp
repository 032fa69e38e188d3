// Arbitrary bytes through the bitmap decoders, and what decodes drawn through
// a bitmap fill. The first byte picks the decoder and how the fill samples:
//   bits 0-1  0 DefineBitsLossless, 1 DefineBitsLossless2,
//             2 JPEGTables + DefineBits data, 3 DefineBitsJPEG3 (picture + alpha)
//   bit 2     repeat; bit 3 smooth; bits 4-7 the fill's scale and turn
// For 2 and 3 a 16-bit length (little-endian) follows: the tables' or the
// picture's; the rest is the data.
#include "bitmap.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>

namespace eng = refplayer::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    std::span<const uint8_t> rest(data + 1, size - 1);
    constexpr size_t kMaxPixels = 1u << 20;  // the decoders' own cap, kept small so runs stay fast
    eng::DecodedImage img;
    auto split = [&rest]() {
        size_t n = rest.size() >= 2 ? (rest[0] | rest[1] << 8) : 0;
        rest = rest.subspan(std::min<size_t>(2, rest.size()));
        n = std::min(n, rest.size());
        auto head = rest.first(n);
        rest = rest.subspan(n);
        return head;
    };
    switch (mode & 3) {
    case 0:
    case 1:
        img = eng::decodeLossless(rest, mode & 1, kMaxPixels);
        break;
    case 2: {
        auto tables = split();
        img = eng::decodeJpegData(tables, rest, false, kMaxPixels);
        break;
    }
    default: {
        auto picture = split();
        img = eng::decodeJpegData({}, picture, true, kMaxPixels);
        eng::applyAlphaPlane(img, rest);
        break;
    }
    }
    if (!img.ok())
        return 0;
    if (img.pixels.size() != static_cast<size_t>(img.width) * static_cast<size_t>(img.height))
        __builtin_trap();
    for (uint32_t p : img.pixels) {
        const uint32_t a = p >> 24;
        if (((p >> 16) & 0xFF) > a || ((p >> 8) & 0xFF) > a || (p & 0xFF) > a)
            __builtin_trap();  // premultiplied pixels never exceed their alpha
    }

    eng::MovieDef movie;
    auto def = std::make_unique<eng::BitmapDef>(1);
    def->width = img.width;
    def->height = img.height;
    def->pixels = std::move(img.pixels);
    movie.characters.emplace(1, std::move(def));
    eng::FillStyle fill;
    fill.kind = eng::FillStyle::Kind::Bitmap;
    fill.bitmapId = 1;
    fill.bitmapRepeat = mode & 4;
    fill.bitmapSmooth = mode & 8;
    const double scale = ((mode >> 4) & 3) == 3 ? 1e-9 : 5.0 * (1 + ((mode >> 4) & 3));
    const double turn = (mode >> 6) * 0.7;
    fill.matrix = refplayer::engine::Matrix{scale * std::cos(turn), scale * std::sin(turn), -scale * std::sin(turn),
                                            scale * std::cos(turn), -37, 11};
    eng::ColorTransform tint;
    tint.mr = 0.5;
    tint.aa = 20;
    auto shader = eng::makeBitmapShader(movie, fill, refplayer::engine::Matrix{0.05, 0, 0, 0.05, 0, 0},
                                        (mode & 16) ? tint : eng::ColorTransform{});
    if (!shader)
        __builtin_trap();
    uint32_t row[64];
    for (int y = -3; y < 40; y += 7)
        shader->shadeRow(y, -8, 64, row);
    return 0;
}
