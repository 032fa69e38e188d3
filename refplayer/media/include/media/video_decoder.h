// The codecs the player decodes, behind one interface, for the FLV playback
// object and SWF timelines alike.
#pragma once

#include "media/screen_video.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace refplayer::media {

class VideoDecoder {
public:
    virtual ~VideoDecoder() = default;
    // Decodes one codec packet. `keyFrame` is what the container says (a
    // codec whose packets say it themselves reads their own word). On failure
    // the previous picture stays as it was.
    virtual bool decode(std::span<const uint8_t> packet, bool keyFrame, std::string& error) = 0;
    virtual const VideoImage& image() const = 0;
    bool hasImage() const { return !image().pixels.empty(); }
};

// A decoder for FLV/SWF video codec `codec` (video_codec::...), or nullptr
// for codecs the player does not decode. Pictures of more than `maxPixels`
// are refused before they are allocated.
std::unique_ptr<VideoDecoder> makeVideoDecoder(uint8_t codec, size_t maxPixels);
bool decodableVideoCodec(uint8_t codec);

}  // namespace refplayer::media
