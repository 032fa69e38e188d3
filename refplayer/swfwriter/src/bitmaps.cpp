// Bitmap definition tags: lossless pixels (colour-mapped, 15-bit, 32-bit)
// and JPEG data passed through as given.
#include "swfwriter/swf_writer.h"

#include <zlib.h>

namespace refplayer::swfwriter {

namespace {

std::vector<uint8_t> zlibCompress(std::span<const uint8_t> data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw Error("zlib compression failed");
    out.resize(size);
    return out;
}

uint8_t premultiplied(uint8_t c, uint8_t a) { return static_cast<uint8_t>((c * a + 127) / 255); }

std::vector<uint8_t> losslessPixels(const LosslessBitmap& bm) {
    const size_t w = bm.width, h = bm.height;
    std::vector<uint8_t> raw;
    if (bm.format == 3) {
        if (bm.palette.empty() || bm.palette.size() > 256)
            throw Error("a colour-mapped bitmap needs 1 to 256 palette entries");
        if (bm.indices.size() != w * h)
            throw Error("a colour-mapped bitmap needs one index a pixel");
        for (const Rgba& c : bm.palette) {
            if (bm.alpha) {
                raw.insert(raw.end(), {premultiplied(c.r, c.a), premultiplied(c.g, c.a), premultiplied(c.b, c.a), c.a});
            } else {
                raw.insert(raw.end(), {c.r, c.g, c.b});
            }
        }
        const size_t row = (w + 3) & ~size_t{3};
        for (size_t y = 0; y < h; ++y) {
            raw.insert(raw.end(), bm.indices.begin() + static_cast<ptrdiff_t>(y * w),
                       bm.indices.begin() + static_cast<ptrdiff_t>((y + 1) * w));
            raw.resize(raw.size() + row - w);
        }
        return raw;
    }
    if (bm.pixels.size() != w * h)
        throw Error("a bitmap needs one colour a pixel");
    if (bm.format == 4) {
        if (bm.alpha)
            throw Error("15-bit bitmaps have no alpha");
        const size_t row = (w * 2 + 3) & ~size_t{3};
        for (size_t y = 0; y < h; ++y) {
            for (size_t x = 0; x < w; ++x) {
                const Rgba& c = bm.pixels[y * w + x];
                const unsigned v = (c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3);
                raw.push_back(static_cast<uint8_t>(v >> 8));
                raw.push_back(static_cast<uint8_t>(v));
            }
            raw.resize(raw.size() + row - w * 2);
        }
        return raw;
    }
    if (bm.format != 5)
        throw Error("bitmap format must be 3, 4 or 5");
    for (const Rgba& c : bm.pixels) {
        if (bm.alpha)
            raw.insert(raw.end(), {c.a, premultiplied(c.r, c.a), premultiplied(c.g, c.a), premultiplied(c.b, c.a)});
        else
            raw.insert(raw.end(), {0xFF, c.r, c.g, c.b});
    }
    return raw;
}

}  // namespace

uint16_t Movie::defineBitsLossless(const LosslessBitmap& bm) {
    if (bm.width == 0 || bm.height == 0)
        throw Error("a bitmap needs pixels");
    const std::vector<uint8_t> raw = losslessPixels(bm);
    const uint16_t id = allocateId();
    SwfBuffer b;
    b.u16(id);
    b.u8(bm.format);
    b.u16(bm.width);
    b.u16(bm.height);
    if (bm.format == 3)
        b.u8(static_cast<uint8_t>(bm.palette.size() - 1));
    b.bytes(zlibCompress(raw));
    append(bm.alpha ? tag::DefineBitsLossless2 : tag::DefineBitsLossless, b.data(), true);
    return id;
}

Movie& Movie::jpegTables(std::span<const uint8_t> tables) {
    append(tag::JPEGTables, tables, true);
    return *this;
}

uint16_t Movie::defineBits(std::span<const uint8_t> image) {
    const uint16_t id = allocateId();
    SwfBuffer b;
    b.u16(id);
    b.bytes(image);
    append(tag::DefineBits, b.data(), true);
    return id;
}

uint16_t Movie::defineBitsJpeg2(std::span<const uint8_t> jpeg) {
    const uint16_t id = allocateId();
    SwfBuffer b;
    b.u16(id);
    b.bytes(jpeg);
    append(tag::DefineBitsJPEG2, b.data(), true);
    return id;
}

uint16_t Movie::defineBitsJpeg3(std::span<const uint8_t> jpeg, std::span<const uint8_t> alpha) {
    const uint16_t id = allocateId();
    SwfBuffer b;
    b.u16(id);
    b.u32(static_cast<uint32_t>(jpeg.size()));
    b.bytes(jpeg);
    b.bytes(zlibCompress(alpha));
    append(tag::DefineBitsJPEG3, b.data(), true);
    return id;
}

}  // namespace refplayer::swfwriter
