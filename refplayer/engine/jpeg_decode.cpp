// JPEG (and PNG) pictures of the DefineBits family, decoded with stb_image.
// The one place its implementation is compiled: only its JPEG and PNG
// decoders, from memory, kept private to this file.
#include "bitmap.h"

#include <algorithm>
#include <cstdlib>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 65535  // a SWF bitmap's sides are 16-bit anyway
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wtype-limits"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#endif
#include "stb/stb_image.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace refplayer::engine {

namespace {

constexpr uint8_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA;

// Appends the marker segments of one JPEG fragment to `out`, dropping every
// start and end marker, so tables kept apart from their image (and the stray
// end/start pair old encoders wrote first) join into one stream. Once a scan
// starts, the rest of the fragment is copied as it is. Answers whether the
// fragment reached a scan; sets `error` on a malformed fragment. `tables`
// collects 1 for each quantisation table segment seen, 2 for each Huffman one.
bool appendSegments(std::span<const uint8_t> in, std::vector<uint8_t>& out, std::string& error, unsigned& tables)
{
    size_t i = 0;
    while (i < in.size()) {
        if (in[i] != 0xFF) {
            error = "JPEG data is not a sequence of markers at byte " + std::to_string(i);
            return false;
        }
        while (i < in.size() && in[i] == 0xFF)
            ++i;  // fill bytes
        if (i >= in.size())
            break;
        const uint8_t marker = in[i++];
        if (marker == kSoi || marker == kEoi || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;  // no length follows
        if (marker == 0x00) {
            error = "JPEG data has a stuffed byte outside a scan";
            return false;
        }
        if (in.size() - i < 2) {
            error = "JPEG segment header cut short";
            return false;
        }
        const size_t length = static_cast<size_t>(in[i]) << 8 | in[i + 1];
        if (length < 2 || length > in.size() - i) {
            error = "JPEG segment length " + std::to_string(length) + " does not fit the data";
            return false;
        }
        out.push_back(0xFF);
        out.push_back(marker);
        tables |= marker == 0xDB ? 1u : marker == 0xC4 ? 2u : 0u;
        if (marker == kSos) {
            out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(i), in.end());
            return true;
        }
        out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(i), in.begin() + static_cast<ptrdiff_t>(i + length));
        i += length;
    }
    return false;
}

bool isPng(std::span<const uint8_t> data)
{
    static constexpr uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return data.size() >= 8 && std::equal(sig, sig + 8, data.begin());
}

bool isGif(std::span<const uint8_t> data)
{
    return data.size() >= 6 && data[0] == 'G' && data[1] == 'I' && data[2] == 'F' && data[3] == '8';
}

// stb's decoders on a complete file in memory, as premultiplied pixels.
DecodedImage decodeWithStb(std::span<const uint8_t> file, const char* what, size_t maxPixels)
{
    DecodedImage img;
    if (file.size() > static_cast<size_t>(INT32_MAX)) {
        img.error = std::string(what) + " too large";
        return img;
    }
    const auto* bytes = file.data();
    const int length = static_cast<int>(file.size());
    int w = 0, h = 0, comp = 0;
    // The header alone first: nothing is allocated for a picture over the cap.
    if (!stbi_info_from_memory(bytes, length, &w, &h, &comp)) {
        img.error = std::string(what) + " not decodable (" + stbi_failure_reason() + ")";
        return img;
    }
    if (w <= 0 || h <= 0 || static_cast<uint64_t>(w) * static_cast<uint64_t>(h) > maxPixels) {
        img.error = std::string(what) + " of " + std::to_string(w) + " x " + std::to_string(h) +
                    " pixels is over the bitmap limit";
        return img;
    }
    stbi_uc* rgba = stbi_load_from_memory(bytes, length, &w, &h, &comp, 4);
    if (!rgba) {
        img.error = std::string(what) + " not decodable (" + stbi_failure_reason() + ")";
        return img;
    }
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
    img.width = w;
    img.height = h;
    img.pixels.resize(count);
    for (size_t p = 0; p < count; ++p) {
        const stbi_uc* s = rgba + p * 4;
        img.pixels[p] = premultiply(Rgba{s[0], s[1], s[2], s[3]});
    }
    stbi_image_free(rgba);
    return img;
}

}  // namespace

DecodedImage decodeJpegData(std::span<const uint8_t> tables, std::span<const uint8_t> data, bool allowPng,
                            size_t maxPixels)
{
    if (allowPng && isPng(data))
        return decodeWithStb(data, "PNG image", maxPixels);
    DecodedImage img;
    if (allowPng && isGif(data)) {
        img.error = "GIF images are not decoded";
        return img;
    }
    std::vector<uint8_t> stream{0xFF, kSoi};
    unsigned seen = 0;
    if (!tables.empty() && appendSegments(tables, stream, img.error, seen)) {
        img.error = "JPEG tables hold image data";
        return img;
    }
    if (!img.error.empty())
        return img;
    if (!appendSegments(data, stream, img.error, seen)) {
        if (img.error.empty())
            img.error = "JPEG data has no image";
        return img;
    }
    if (seen != 3) {
        // Decoding would go on with empty tables and make noise of the picture.
        img.error = "JPEG data has no quantisation or no Huffman tables";
        return img;
    }
    stream.push_back(0xFF);
    stream.push_back(kEoi);  // stb stops at the first end marker; one more costs nothing
    return decodeWithStb(stream, "JPEG image", maxPixels);
}

}  // namespace refplayer::engine
