#include "video_playback.h"

#include "int_conv.h"

#include "media/video_decoder.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace refplayer::engine {

// --- the stream ------------------------------------------------------------------------------

std::shared_ptr<const VideoStream> parseVideoStream(std::span<const uint8_t> file, const Limits& limits,
                                                    std::string& error)
{
    if (file.size() > limits.movieBytes) {
        error = "not a playable FLV: larger than " + std::to_string(limits.movieBytes) + " bytes";
        return nullptr;
    }
    auto s = std::make_shared<VideoStream>();
    s->bytes.assign(file.begin(), file.end());
    media::FlvReader reader(s->bytes);
    if (!reader.readHeader()) {
        error = "not a playable FLV: " + reader.error();
        return nullptr;
    }
    media::FlvTag tag;
    size_t count = 0;
    for (;;) {
        media::FlvReader::Result r = reader.next(tag);
        if (r == media::FlvReader::Result::End)
            break;
        if (r == media::FlvReader::Result::Error) {
            s->damage = reader.error();
            break;
        }
        if (++count > limits.tags) {
            s->damage = "more than " + std::to_string(limits.tags) + " tags";
            break;
        }
        std::string why;
        if (tag.type == media::FlvTagType::Script) {
            std::string name;
            media::AmfValue value;
            if (!s->metadata && media::parseScriptTag(tag.body, name, value, why) && name == "onMetaData")
                s->metadata = media::metadataFrom(value);
            continue;
        }
        if (tag.type != media::FlvTagType::Video)
            continue;
        media::VideoTagHeader header;
        if (!media::parseVideoTagHeader(tag.body, header, why) || header.frameType == media::video_frame::InfoOrCommand)
            continue;
        const bool key = header.frameType == media::video_frame::Key ||
                         header.frameType == media::video_frame::GeneratedKey;
        s->frames.push_back(VideoStream::Frame{tag.timestamp, header.codecId, key, header.payload});
    }
    // The last frame stays up for one frame's time, then playback completes.
    if (!s->frames.empty()) {
        double last = s->frames.back().ms, interval = 0;
        if (s->metadata && s->metadata->framerate && *s->metadata->framerate > 0 &&
            std::isfinite(*s->metadata->framerate))
            interval = 1000.0 / *s->metadata->framerate;
        else if (s->frames.size() >= 2)
            interval = std::max(0.0, last - s->frames[s->frames.size() - 2].ms);
        s->endMs = last + interval;
    }
    if (s->metadata && s->metadata->duration && std::isfinite(*s->metadata->duration) && *s->metadata->duration > 0)
        s->endMs = std::max(s->endMs, std::min(*s->metadata->duration * 1000.0, 1e12));
    return s;
}

// --- the picture ---------------------------------------------------------------------------------

StreamPicture::StreamPicture() = default;
StreamPicture::~StreamPicture() = default;

void StreamPicture::reset()
{
    decoder_.reset();
    decodedIndex_ = shownIndex_ = -1;
    picture_.clear();
    width_ = height_ = 0;
    placeholder_ = false;
}

void StreamPicture::showAt(const VideoStream& stream, double ms, size_t maxPixels)
{
    const auto& frames = stream.frames;
    // Timestamps are whole milliseconds; the clock is not.
    const double now = std::floor(ms + 0.5);
    int target = -1;
    for (size_t i = 0; i < frames.size(); ++i)
        if (frames[i].ms <= now)
            target = static_cast<int>(i);
    if (target == shownIndex_)
        return;
    shownIndex_ = target;
    if (target < 0) {
        picture_.clear();
        width_ = height_ = 0;
        placeholder_ = false;
        return;
    }
    const uint8_t codec = frames[static_cast<size_t>(target)].codec;
    if (!media::decodableVideoCodec(codec)) {
        picture_.clear();
        width_ = height_ = 0;
        placeholder_ = true;
        return;
    }
    int from = decodedIndex_ + 1;
    if (!decoder_ || codec != decoderCodec_ || target < decodedIndex_) {
        // Inter frames build on their predecessors: start at the last key frame.
        decoder_ = media::makeVideoDecoder(codec, maxPixels);
        decoderCodec_ = codec;
        from = 0;
        for (int i = target; i >= 0; --i)
            if (frames[static_cast<size_t>(i)].codec == codec && frames[static_cast<size_t>(i)].key) {
                from = i;
                break;
            }
    }
    std::string error;
    for (int i = from; i <= target; ++i) {
        const VideoStream::Frame& f = frames[static_cast<size_t>(i)];
        if (f.codec == codec)
            decoder_->decode(f.packet, f.key, error);  // a bad frame keeps the last picture
    }
    decodedIndex_ = target;
    if (decoder_->hasImage()) {
        const media::VideoImage& image = decoder_->image();
        picture_ = image.pixels;
        width_ = image.width;
        height_ = image.height;
        placeholder_ = false;
    } else {
        picture_.clear();
        width_ = height_ = 0;
        placeholder_ = true;
    }
}

}  // namespace refplayer::engine
