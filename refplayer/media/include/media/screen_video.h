// Screen Video (FLV/SWF video codec 3): a lossless codec of zlib-compressed
// 24-bit blocks, where an empty block repeats the previous frame's pixels.
// The decoder and encoder here round-trip pixels exactly.
#pragma once

#include "media/flv.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace refplayer::media {

// A decoded picture: top-down rows of 0xFFRRGGBB words, no padding.
struct VideoImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels{};
    bool operator==(const VideoImage&) const = default;
};

class ScreenVideoDecoder {
public:
    // Decodes one packet (the codec data behind an FLV video tag's header
    // byte, or a SWF VideoFrame's data). A key frame must carry every block;
    // an inter frame may leave blocks out, which then keep the previous
    // frame's pixels. On failure the previous frame stays as it was.
    bool decode(std::span<const uint8_t> packet, bool keyFrame, std::string& error);

    const VideoImage& image() const { return image_; }
    bool hasImage() const { return !image_.pixels.empty(); }
    void reset() { image_ = {}; }

private:
    VideoImage image_;
};

struct ScreenVideoEncoderOptions {
    int blockWidth = 64;   // 16..256, a multiple of 16
    int blockHeight = 64;  // 16..256, a multiple of 16
    int zlibLevel = 9;
};

class ScreenVideoEncoder {
public:
    explicit ScreenVideoEncoder(const ScreenVideoEncoderOptions& options = {});

    // Encodes `image` (alpha ignored). An inter frame leaves out blocks equal
    // to the previous frame's; the first frame and any size change are key
    // frames whatever `keyFrame` says: check keyFrameEncoded(). Throws
    // std::invalid_argument for sizes the codec cannot carry.
    std::vector<uint8_t> encode(const VideoImage& image, bool keyFrame);
    bool keyFrameEncoded() const { return lastWasKey_; }

private:
    ScreenVideoEncoderOptions options_;
    VideoImage previous_;
    bool lastWasKey_ = false;
};

// An FLV of Screen Video frames with onMetaData (duration, width, height,
// framerate, videocodecid, canSeekToEnd, filesize). All frames share one size.
struct ScreenVideoFlvOptions {
    double frameRate = 12;
    int keyFrameInterval = 24;  // a key frame every N frames (0: only the first)
    ScreenVideoEncoderOptions encoder{};
};
std::vector<uint8_t> writeScreenVideoFlv(const std::vector<VideoImage>& frames, const ScreenVideoFlvOptions& options = {});

}  // namespace refplayer::media
