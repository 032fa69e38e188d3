#include "media/screen_video.h"

#include "byte_reader.h"
#include "int_conv.h"

#include <zlib.h>

#include <cmath>
#include <stdexcept>

namespace refplayer::media {

namespace {

// Inflates `in` into exactly `out.size()` bytes; anything short, long or
// damaged is refused.
bool inflateExact(std::span<const uint8_t> in, std::vector<uint8_t>& out, std::string& why) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        why = "zlib initialisation failed";
        return false;
    }
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&z, Z_FINISH);
    const size_t produced = out.size() - z.avail_out;
    bool overflow = false;
    if ((rc == Z_BUF_ERROR || rc == Z_OK) && z.avail_out == 0) {
        // The output is full but the stream goes on: it may hold more pixels,
        // or only its end.
        uint8_t extra;
        z.next_out = &extra;
        z.avail_out = 1;
        rc = inflate(&z, Z_FINISH);
        overflow = z.avail_out == 0;
    }
    const bool trailing = z.avail_in != 0;
    inflateEnd(&z);
    if (overflow) {
        why = "block holds more pixels than its size";
        return false;
    }
    if (rc != Z_STREAM_END) {
        why = "block data damaged or truncated";
        return false;
    }
    if (produced != out.size()) {
        why = "block holds fewer pixels than its size";
        return false;
    }
    if (trailing) {
        why = "bytes after the block's compressed data";
        return false;
    }
    return true;
}

struct Geometry {
    int blockWidth, blockHeight, width, height, cols, rows;
};

}  // namespace

bool ScreenVideoDecoder::decode(std::span<const uint8_t> packet, bool keyFrame, std::string& error) {
    try {
        ByteReader in(packet);
        const uint16_t a = in.u16(), b = in.u16();
        if (!in.ok()) {
            error = "Screen Video packet shorter than its header";
            return false;
        }
        Geometry g;
        g.blockWidth = ((a >> 12) + 1) * 16;
        g.width = a & 0x0FFF;
        g.blockHeight = ((b >> 12) + 1) * 16;
        g.height = b & 0x0FFF;
        if (g.width == 0 || g.height == 0) {
            error = "Screen Video frame of zero size";
            return false;
        }
        g.cols = (g.width + g.blockWidth - 1) / g.blockWidth;
        g.rows = (g.height + g.blockHeight - 1) / g.blockHeight;

        const bool samePicture = image_.width == g.width && image_.height == g.height && hasImage();

        // Walk the block table first: a packet whose sizes do not add up is
        // refused before a picture of up to 4095 x 4095 is allocated for it.
        {
            ByteReader scan = in;
            for (int i = 0; i < g.rows * g.cols; ++i) {
                const int bw = std::min(g.blockWidth, g.width - (i % g.cols) * g.blockWidth);
                const int bh = std::min(g.blockHeight, g.height - (i / g.cols) * g.blockHeight);
                const size_t at = scan.offset();
                const uint16_t size = scan.u16();
                if (!scan.ok()) {
                    error = "Screen Video packet ends before block " + std::to_string(i);
                    return false;
                }
                if (size == 0 && (keyFrame || !samePicture)) {
                    error = "Screen Video block " + std::to_string(i) +
                            " left out with no previous frame of this size to keep";
                    return false;
                }
                if (!scan.has(size)) {
                    error = "Screen Video block at byte " + std::to_string(at) + " runs past the packet";
                    return false;
                }
                // Deflate expands at most about 1032 to 1: fewer bytes cannot hold the block.
                if (size != 0 && size_t(size) * 1032 + 64 < size_t(bw) * bh * 3) {
                    error = "Screen Video block at byte " + std::to_string(at) + " too small for its pixels";
                    return false;
                }
                (void)scan.bytes(size);
            }
            if (scan.remaining() != 0) {
                error = "Screen Video packet has " + std::to_string(scan.remaining()) + " bytes after its last block";
                return false;
            }
        }

        VideoImage next;
        next.width = g.width;
        next.height = g.height;
        if (samePicture)
            next.pixels = image_.pixels;
        else
            next.pixels.assign(size_t(g.width) * g.height, 0xFF000000u);

        std::vector<uint8_t> raw;
        std::string why;
        // Blocks run left to right, bottom row first; each block's rows run bottom-up.
        for (int row = 0; row < g.rows; ++row) {
            for (int col = 0; col < g.cols; ++col) {
                const size_t at = in.offset();
                const uint16_t size = in.u16();
                const int x0 = col * g.blockWidth;
                const int bw = std::min(g.blockWidth, g.width - x0);
                const int yb0 = row * g.blockHeight;  // counted from the bottom
                const int bh = std::min(g.blockHeight, g.height - yb0);
                if (size == 0)
                    continue;  // keeps the previous frame's pixels
                const auto data = in.bytes(size);
                raw.resize(size_t(bw) * bh * 3);
                if (!inflateExact(data, raw, why)) {
                    error = "Screen Video block at byte " + std::to_string(at) + ": " + why;
                    return false;
                }
                const uint8_t* p = raw.data();
                for (int yb = 0; yb < bh; ++yb) {
                    uint32_t* dst = next.pixels.data() + size_t(g.height - 1 - (yb0 + yb)) * g.width + x0;
                    for (int x = 0; x < bw; ++x, p += 3)
                        dst[x] = 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
                }
            }
        }
        image_ = std::move(next);
        return true;
    } catch (const std::bad_alloc&) {
        error = "Screen Video: out of memory";
        return false;
    }
}

ScreenVideoEncoder::ScreenVideoEncoder(const ScreenVideoEncoderOptions& options) : options_(options) {
    auto valid = [](int n) { return n >= 16 && n <= 256 && n % 16 == 0; };
    if (!valid(options.blockWidth) || !valid(options.blockHeight))
        throw std::invalid_argument("Screen Video blocks are 16 to 256 pixels, in steps of 16");
    if (options.zlibLevel < 0 || options.zlibLevel > 9)
        throw std::invalid_argument("zlib level must be 0 to 9");
}

std::vector<uint8_t> ScreenVideoEncoder::encode(const VideoImage& image, bool keyFrame) {
    if (image.width < 1 || image.width > 4095 || image.height < 1 || image.height > 4095)
        throw std::invalid_argument("Screen Video frames are 1 to 4095 pixels each way");
    if (image.pixels.size() != size_t(image.width) * image.height)
        throw std::invalid_argument("pixel count does not match the frame size");
    const bool key = keyFrame || previous_.width != image.width || previous_.height != image.height;
    const int bw = options_.blockWidth, bh = options_.blockHeight;
    const int cols = (image.width + bw - 1) / bw, rows = (image.height + bh - 1) / bh;

    std::vector<uint8_t> out;
    putU16(out, static_cast<uint16_t>(((bw / 16 - 1) << 12) | image.width));
    putU16(out, static_cast<uint16_t>(((bh / 16 - 1) << 12) | image.height));
    std::vector<uint8_t> raw, packed;
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < cols; ++col) {
            const int x0 = col * bw, w = std::min(bw, image.width - x0);
            const int yb0 = row * bh, h = std::min(bh, image.height - yb0);
            bool changed = key;
            raw.clear();
            for (int yb = 0; yb < h; ++yb) {
                const size_t line = size_t(image.height - 1 - (yb0 + yb)) * image.width + x0;
                for (int x = 0; x < w; ++x) {
                    const uint32_t px = image.pixels[line + x];
                    if (!changed && ((px ^ previous_.pixels[line + x]) & 0x00FFFFFFu))
                        changed = true;
                    raw.push_back(static_cast<uint8_t>(px));
                    raw.push_back(static_cast<uint8_t>(px >> 8));
                    raw.push_back(static_cast<uint8_t>(px >> 16));
                }
            }
            if (!changed) {
                putU16(out, 0);
                continue;
            }
            uLongf size = compressBound(static_cast<uLong>(raw.size()));
            packed.resize(size);
            if (compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), options_.zlibLevel) != Z_OK)
                throw std::runtime_error("zlib compression failed");
            if (size > 0xFFFF)
                throw std::invalid_argument("a Screen Video block compresses to more than 65535 bytes: use smaller blocks");
            putU16(out, static_cast<uint16_t>(size));
            out.insert(out.end(), packed.begin(), packed.begin() + static_cast<ptrdiff_t>(size));
        }
    }
    previous_ = image;
    lastWasKey_ = key;
    return out;
}

std::vector<uint8_t> writeScreenVideoFlv(const std::vector<VideoImage>& frames, const ScreenVideoFlvOptions& options) {
    if (frames.empty())
        throw std::invalid_argument("no frames");
    if (!(options.frameRate > 0) || !std::isfinite(options.frameRate))
        throw std::invalid_argument("frame rate must be positive");
    if (options.keyFrameInterval < 0)
        throw std::invalid_argument("key frame interval must not be negative");
    for (const auto& f : frames)
        if (f.width != frames[0].width || f.height != frames[0].height)
            throw std::invalid_argument("all frames must share one size");

    ScreenVideoEncoder encoder(options.encoder);
    std::vector<std::vector<uint8_t>> packets;
    std::vector<bool> keys;
    for (size_t i = 0; i < frames.size(); ++i) {
        const bool key = i == 0 || (options.keyFrameInterval > 0 && i % size_t(options.keyFrameInterval) == 0);
        packets.push_back(encoder.encode(frames[i], key));
        keys.push_back(encoder.keyFrameEncoded());
    }

    auto metadata = [&](double filesize) {
        return AmfValue::makeEcmaArray({
            {"duration", AmfValue::makeNumber(double(frames.size()) / options.frameRate)},
            {"width", AmfValue::makeNumber(frames[0].width)},
            {"height", AmfValue::makeNumber(frames[0].height)},
            {"framerate", AmfValue::makeNumber(options.frameRate)},
            {"videocodecid", AmfValue::makeNumber(video_codec::ScreenVideo)},
            {"canSeekToEnd", AmfValue::makeBoolean(true)},
            {"filesize", AmfValue::makeNumber(filesize)},
        });
    };
    auto build = [&](double filesize) {
        FlvWriter w(false, true);
        w.scriptTag("onMetaData", metadata(filesize));
        for (size_t i = 0; i < packets.size(); ++i) {
            const auto ms = num::roundClamp<uint32_t>(double(i) * 1000.0 / options.frameRate);
            w.videoTag(ms, keys[i] ? video_frame::Key : video_frame::Inter, video_codec::ScreenVideo, packets[i]);
        }
        return w.take();
    };
    // The size does not depend on the number stored in it (AMF0 numbers are
    // 8 bytes), so one trial run gives it.
    const double size = double(build(0).size());
    return build(size);
}

}  // namespace refplayer::media
