// FLV files as NetStream plays them: the file read into its video frames, and
// the picture of a stream at a point in time.
#pragma once

#include "geometry.h"
#include "swf_movie.h"

#include "media/flv.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace refplayer::media {
class VideoDecoder;
}

namespace refplayer::engine {

// An FLV file made ready to play: its video frames in file order, with the
// codec packets pointing into the file's own bytes.
struct VideoStream {
    struct Frame {
        uint32_t ms = 0;  // timestamp
        uint8_t codec = 0;
        bool key = false;
        std::span<const uint8_t> packet;
    };
    std::vector<uint8_t> bytes;
    std::vector<Frame> frames;
    std::optional<media::FlvMetadata> metadata;
    double endMs = 0;      // where playback completes
    std::string damage;    // why the tag chain stopped early (what came before still plays)
};

// Reads an FLV. Refuses (nullptr and a reason) what is not an FLV at all; a
// file damaged past its header keeps the frames before the damage.
std::shared_ptr<const VideoStream> parseVideoStream(std::span<const uint8_t> file, const Limits& limits,
                                                    std::string& error);

// The picture of a stream at a point in time. Inter frames build on their
// predecessors, so it decodes forwards from the last key frame, and only the
// frames it has not decoded yet; codecs the player does not decode give a
// placeholder.
class StreamPicture {
public:
    StreamPicture();
    ~StreamPicture();
    // Shows the frame due at `ms` of `stream`.
    void showAt(const VideoStream& stream, double ms, size_t maxPixels);
    void reset();

    const std::vector<uint32_t>& picture() const { return picture_; }  // 0xFFRRGGBB rows
    int width() const { return width_; }
    int height() const { return height_; }
    bool placeholder() const { return placeholder_; }
    int shownIndex() const { return shownIndex_; }  // -1: no frame due yet

private:
    std::unique_ptr<media::VideoDecoder> decoder_;
    uint8_t decoderCodec_ = 0;
    int decodedIndex_ = -1;  // the frame the decoder's picture holds
    int shownIndex_ = -1;
    std::vector<uint32_t> picture_;
    int width_ = 0, height_ = 0;
    bool placeholder_ = false;
};

}  // namespace refplayer::engine
