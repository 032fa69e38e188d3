#include "png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>

namespace refplayer::png {

namespace {

void putU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

// Length, type, data and the CRC over type and data.
void chunk(std::vector<uint8_t>& out, const char (&type)[5], std::span<const uint8_t> data)
{
    putU32(out, static_cast<uint32_t>(data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
    putU32(out, static_cast<uint32_t>(crc));
}

// The filtered rows (a 0 filter byte before each) deflated as one zlib stream,
// fed a row at a time so no second copy of the picture is made.
std::vector<uint8_t> compressRows(int width, int height, std::span<const uint8_t> rgba)
{
    z_stream zs{};
    if (deflateInit(&zs, Z_DEFAULT_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlib could not start");
    std::vector<uint8_t> out;
    uint8_t buffer[1 << 14];
    int rc = Z_OK;
    // Runs deflate over what is queued in zs.next_in, collecting its output.
    auto pump = [&](int flush) {
        for (;;) {
            zs.next_out = buffer;
            zs.avail_out = sizeof buffer;
            rc = deflate(&zs, flush);
            out.insert(out.end(), buffer, buffer + (sizeof buffer - zs.avail_out));
            if (rc == Z_BUF_ERROR && flush == Z_NO_FLUSH)
                rc = Z_OK;  // nothing more to do with this input yet
            if (rc != Z_OK || (flush == Z_NO_FLUSH && zs.avail_in == 0 && zs.avail_out != 0))
                return;
        }
    };
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    static const uint8_t kFilterNone = 0;
    for (int y = 0; y < height && rc == Z_OK; ++y) {
        zs.next_in = const_cast<Bytef*>(&kFilterNone);
        zs.avail_in = 1;
        pump(Z_NO_FLUSH);
        zs.next_in = const_cast<Bytef*>(rgba.data() + rowBytes * static_cast<size_t>(y));
        zs.avail_in = static_cast<uInt>(rowBytes);
        if (rc == Z_OK)
            pump(Z_NO_FLUSH);
    }
    if (rc == Z_OK)
        pump(Z_FINISH);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("zlib could not compress the picture");
    return out;
}

}  // namespace

std::vector<uint8_t> encodeRgba(int width, int height, std::span<const uint8_t> rgba)
{
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        int64_t(width) * height > kMaxPixels)
        throw std::invalid_argument("PNG size " + std::to_string(width) + "x" + std::to_string(height) +
                                    " is out of range");
    if (rgba.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4)
        throw std::invalid_argument("PNG pixel data does not match its size");

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    putU32(ihdr, static_cast<uint32_t>(width));
    putU32(ihdr, static_cast<uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, adaptive filters, no interlace
    chunk(out, "IHDR", ihdr);
    chunk(out, "IDAT", compressRows(width, height, rgba));
    chunk(out, "IEND", {});
    return out;
}

std::vector<uint8_t> straightRgba(std::span<const uint32_t> premultipliedArgb)
{
    std::vector<uint8_t> out(premultipliedArgb.size() * 4);
    uint8_t* o = out.data();
    for (uint32_t p : premultipliedArgb) {
        const uint32_t a = p >> 24;
        auto straight = [a](uint32_t c) { return static_cast<uint8_t>(std::min<uint32_t>(255, (c * 255 + a / 2) / a)); };
        if (a == 0) {
            o[0] = o[1] = o[2] = o[3] = 0;
        } else {
            o[0] = straight((p >> 16) & 0xFF);
            o[1] = straight((p >> 8) & 0xFF);
            o[2] = straight(p & 0xFF);
            o[3] = static_cast<uint8_t>(a);
        }
        o += 4;
    }
    return out;
}

}  // namespace refplayer::png
