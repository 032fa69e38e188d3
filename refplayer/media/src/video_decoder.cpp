#include "media/video_decoder.h"

#include "media/flv.h"
#include "media/sorenson_video.h"

namespace refplayer::media {

namespace {

class ScreenVideo final : public VideoDecoder {
public:
    explicit ScreenVideo(size_t maxPixels) : maxPixels_(maxPixels) {}
    bool decode(std::span<const uint8_t> packet, bool keyFrame, std::string& error) override {
        // The picture size leads the packet (4-bit block size, 12-bit image
        // size, for width then height): refuse giants before decoding.
        if (packet.size() >= 4) {
            const size_t w = (static_cast<size_t>(packet[0] & 0x0F) << 8) | packet[1];
            const size_t h = (static_cast<size_t>(packet[2] & 0x0F) << 8) | packet[3];
            if (w * h > maxPixels_) {
                error = "Screen Video picture of " + std::to_string(w) + " x " + std::to_string(h) +
                        " larger than allowed";
                return false;
            }
        }
        return decoder_.decode(packet, keyFrame || !decoder_.hasImage(), error);
    }
    const VideoImage& image() const override { return decoder_.image(); }

private:
    ScreenVideoDecoder decoder_;
    size_t maxPixels_;
};

class Sorenson final : public VideoDecoder {
public:
    explicit Sorenson(size_t maxPixels) : maxPixels_(maxPixels) {}
    bool decode(std::span<const uint8_t> packet, bool, std::string& error) override {
        return decoder_.decode(packet, error, maxPixels_);
    }
    const VideoImage& image() const override { return decoder_.image(); }

private:
    SorensonDecoder decoder_;
    size_t maxPixels_;
};

}  // namespace

bool decodableVideoCodec(uint8_t codec) {
    return codec == video_codec::ScreenVideo || codec == video_codec::SorensonH263;
}

std::unique_ptr<VideoDecoder> makeVideoDecoder(uint8_t codec, size_t maxPixels) {
    switch (codec) {
    case video_codec::ScreenVideo: return std::make_unique<ScreenVideo>(maxPixels);
    case video_codec::SorensonH263: return std::make_unique<Sorenson>(maxPixels);
    default: return nullptr;
    }
}

}  // namespace refplayer::media
