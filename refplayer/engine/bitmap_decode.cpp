// The DefineBits family: lossless (colour-mapped, 15-bit and 32-bit) pixels,
// the alpha plane of DefineBitsJPEG3/4, and the tags themselves.
#include "bitmap.h"

#include "swf_reader.h"

#include <zlib.h>

#include <algorithm>

namespace refplayer::engine {

namespace {

// Inflates at most `want` bytes; answers how many came out (fewer when the
// stream ends or breaks first).
size_t inflateInto(std::span<const uint8_t> in, uint8_t* out, size_t want)
{
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return 0;
    zs.next_in = const_cast<Bytef*>(in.data());
    size_t inLeft = in.size(), produced = 0;
    for (;;) {
        const uInt feed = static_cast<uInt>(std::min<size_t>(inLeft, 1u << 30));
        const uInt room = static_cast<uInt>(std::min<size_t>(want - produced, 1u << 30));
        zs.avail_in = feed;
        zs.next_out = out + produced;
        zs.avail_out = room;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        inLeft -= feed - zs.avail_in;
        produced += room - zs.avail_out;
        if (rc != Z_OK || produced == want || (zs.avail_in == 0 && inLeft == 0))
            break;
    }
    inflateEnd(&zs);
    return produced;
}

// Deflate expands at most 1032 times (a 258-byte match per two bits and
// change); more claimed than that cannot come out, so nothing is allocated for it.
bool deflateCanHold(size_t compressedBytes, size_t outputBytes)
{
    return outputBytes / 1032 <= compressedBytes + 16;
}

uint32_t opaque(uint8_t r, uint8_t g, uint8_t b) { return packPixel(255, r, g, b); }

// Stored premultiplied; a channel above its alpha (which no correct encoder
// writes) is held to it so every later blend stays in range.
uint32_t premultipliedArgb(uint8_t a, uint8_t r, uint8_t g, uint8_t b)
{
    return packPixel(a, std::min(r, a), std::min(g, a), std::min(b, a));
}

uint8_t expand5(unsigned v) { return static_cast<uint8_t>(v << 3 | v >> 2); }

}  // namespace

DecodedImage decodeLossless(std::span<const uint8_t> body, bool withAlpha, size_t maxPixels)
{
    DecodedImage img;
    if (body.size() < 5) {
        img.error = "lossless bitmap header cut short";
        return img;
    }
    const uint8_t format = body[0];
    const unsigned w = body[1] | body[2] << 8, h = body[3] | body[4] << 8;
    size_t at = 5;
    size_t tableSize = 0;
    if (format == 3) {
        if (body.size() < 6) {
            img.error = "lossless bitmap header cut short";
            return img;
        }
        tableSize = static_cast<size_t>(body[5]) + 1;
        at = 6;
    } else if (format != 5 && !(format == 4 && !withAlpha)) {
        img.error = "lossless bitmap format " + std::to_string(format) + " is not defined";
        return img;
    }
    if (w == 0 || h == 0) {
        img.error = "lossless bitmap has no pixels";
        return img;
    }
    if (static_cast<size_t>(w) * h > maxPixels) {
        img.error = "lossless bitmap of " + std::to_string(w) + " x " + std::to_string(h) +
                    " pixels is over the bitmap limit";
        return img;
    }
    // Rows are padded to a multiple of 4 bytes.
    const size_t entryBytes = withAlpha ? 4 : 3;
    const size_t rowBytes = format == 3 ? (w + 3) & ~size_t{3} : format == 4 ? (w * 2 + 3) & ~size_t{3} : w * 4;
    const size_t tableBytes = tableSize * entryBytes;
    const size_t total = tableBytes + rowBytes * h;
    const std::span<const uint8_t> compressed = body.subspan(at);
    if (!deflateCanHold(compressed.size(), total)) {
        img.error = "lossless bitmap data too short for " + std::to_string(total) + " bytes";
        return img;
    }
    std::vector<uint8_t> raw(total);
    if (inflateInto(compressed, raw.data(), total) != total) {
        img.error = "lossless bitmap data ends before " + std::to_string(total) + " bytes";
        return img;
    }

    img.width = static_cast<int>(w);
    img.height = static_cast<int>(h);
    img.pixels.resize(static_cast<size_t>(w) * h);
    uint32_t* dst = img.pixels.data();
    const uint8_t* rows = raw.data() + tableBytes;
    if (format == 3) {
        // Indices past the table read as transparent black.
        uint32_t palette[256] = {};
        for (size_t i = 0; i < tableSize; ++i) {
            const uint8_t* e = raw.data() + i * entryBytes;
            palette[i] = withAlpha ? premultipliedArgb(e[3], e[0], e[1], e[2]) : opaque(e[0], e[1], e[2]);
        }
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x)
                *dst++ = palette[rows[y * rowBytes + x]];
    } else if (format == 4) {
        // Big-endian 16-bit words: a pad bit, then five bits each of red, green, blue.
        for (unsigned y = 0; y < h; ++y) {
            const uint8_t* row = rows + y * rowBytes;
            for (unsigned x = 0; x < w; ++x) {
                const unsigned v = static_cast<unsigned>(row[2 * x]) << 8 | row[2 * x + 1];
                *dst++ = opaque(expand5(v >> 10 & 31), expand5(v >> 5 & 31), expand5(v & 31));
            }
        }
    } else {
        // Four bytes a pixel: alpha (premultiplied colour) or a pad byte, then red, green, blue.
        for (size_t p = 0, n = static_cast<size_t>(w) * h; p < n; ++p) {
            const uint8_t* s = rows + p * 4;
            *dst++ = withAlpha ? premultipliedArgb(s[0], s[1], s[2], s[3]) : opaque(s[1], s[2], s[3]);
        }
    }
    return img;
}

void applyAlphaPlane(DecodedImage& image, std::span<const uint8_t> compressed)
{
    if (!image.ok() || compressed.empty() || !deflateCanHold(compressed.size(), image.pixels.size()))
        return;
    std::vector<uint8_t> alpha(image.pixels.size());
    if (inflateInto(compressed, alpha.data(), alpha.size()) != alpha.size())
        return;
    for (size_t p = 0; p < alpha.size(); ++p) {
        const uint32_t v = image.pixels[p];  // opaque: decoded JPEG
        const uint32_t a = alpha[p];
        image.pixels[p] = packPixel(a, div255(((v >> 16) & 0xFF) * a), div255(((v >> 8) & 0xFF) * a), div255((v & 0xFF) * a));
    }
}

void readBitmapTag(uint16_t code, SwfReader& body, MovieDef& movie, const Limits& limits)
{
    if (code == tag::JPEGTables) {
        // The first one counts; later ones (which the player never expects) are ignored.
        if (movie.jpegTables.empty())
            movie.jpegTables = body.rest();
        return;
    }
    const uint16_t id = body.u16();
    if (movie.characters.count(id))
        return;  // a second definition of an id is ignored
    auto def = std::make_unique<BitmapDef>(id);
    const size_t budget = limits.movieBitmapPixels - std::min(movie.bitmapPixels, limits.movieBitmapPixels);
    const size_t maxPixels = std::min(limits.bitmapPixels, budget);
    DecodedImage img;
    switch (code) {
    case tag::DefineBits:
        img = decodeJpegData(movie.jpegTables, body.rest(), false, maxPixels);
        break;
    case tag::DefineBitsJPEG2:
        img = decodeJpegData({}, body.rest(), true, maxPixels);
        break;
    case tag::DefineBitsJPEG3:
    case tag::DefineBitsJPEG4: {
        const uint32_t imageBytes = body.u32();
        if (code == tag::DefineBitsJPEG4)
            body.u16();  // deblocking strength: the decoder does not deblock
        if (imageBytes > body.remaining()) {
            img.error = "image of " + std::to_string(imageBytes) + " bytes runs past its tag";
            break;
        }
        std::span<const uint8_t> picture = body.bytes(imageBytes);
        img = decodeJpegData({}, picture, true, maxPixels);
        // A PNG brings its own alpha; the plane applies to JPEG pictures only.
        if (img.ok() && !(picture.size() >= 1 && picture[0] == 0x89))
            applyAlphaPlane(img, body.rest());
        break;
    }
    case tag::DefineBitsLossless:
    case tag::DefineBitsLossless2:
        img = decodeLossless(body.rest(), code == tag::DefineBitsLossless2, maxPixels);
        break;
    default:
        return;
    }
    if (img.ok()) {
        def->width = img.width;
        def->height = img.height;
        def->pixels = std::move(img.pixels);
        movie.bitmapPixels += def->pixels.size();
    } else {
        def->problem = std::move(img.error);
    }
    movie.characters.emplace(id, std::move(def));
}

}  // namespace refplayer::engine
