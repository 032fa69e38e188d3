#include "net_stream.h"

#include "player_core.h"

#include <algorithm>
#include <cmath>

namespace refplayer::engine {

namespace {

// The metadata's top-level numbers, flags and texts, as onMetaData hands them
// to script; nested objects and arrays are left out.
std::vector<std::pair<std::string, avm1::PropertyValue>> metadataFields(const VideoStream& stream)
{
    std::vector<std::pair<std::string, avm1::PropertyValue>> out;
    if (!stream.metadata)
        return out;
    for (const media::AmfProperty& p : stream.metadata->all.properties) {
        switch (p.value.type) {
        case media::AmfValue::Type::Number: out.emplace_back(p.name, p.value.number); break;
        case media::AmfValue::Type::Boolean: out.emplace_back(p.name, p.value.boolean); break;
        case media::AmfValue::Type::String: out.emplace_back(p.name, p.value.string); break;
        default: break;
        }
    }
    return out;
}

}  // namespace

void NetStreamPlayback::status(const char* code, const char* level)
{
    events_.push_back(Event{code, level, {}});
}

void NetStreamPlayback::play(const std::string& url)
{
    ++generation_;
    stream_.reset();
    picture_.reset();
    playheadMs_ = 0;
    playing_ = paused_ = false;
    bytes_ = 0;
    loading_ = !url.empty();
    if (loading_)
        core_.requestStream(id_, generation_, url);
}

void NetStreamPlayback::take(uint32_t generation, std::shared_ptr<const VideoStream> stream, size_t bytes)
{
    if (generation != generation_ || !loading_ || !stream)
        return;
    loading_ = false;
    stream_ = std::move(stream);
    bytes_ = static_cast<double>(bytes);
    playheadMs_ = 0;
    playing_ = true;
    // The whole file is in hand at once: the buffer fills as it starts.
    status("NetStream.Play.Start");
    if (stream_->metadata)
        events_.push_back(Event{{}, {}, metadataFields(*stream_)});
    status("NetStream.Buffer.Full");
    show();
}

void NetStreamPlayback::failed(uint32_t generation)
{
    if (generation != generation_ || !loading_)
        return;
    loading_ = false;
    status("NetStream.Play.StreamNotFound", "error");
}

void NetStreamPlayback::pause(std::optional<bool> pause)
{
    paused_ = pause.value_or(!paused_);
}

void NetStreamPlayback::seek(double seconds)
{
    if (!stream_)
        return;
    // Keyframe-exact seeking is the player's business; this one lands on the time asked.
    playheadMs_ = std::clamp(seconds * 1000.0, 0.0, stream_->endMs);
    if (!playing_ && playheadMs_ < stream_->endMs)
        playing_ = true;  // a seek after the end plays on from there
    status("NetStream.Seek.Notify");
    show();
}

void NetStreamPlayback::close()
{
    ++generation_;
    loading_ = playing_ = paused_ = false;
    stream_.reset();
    picture_.reset();
    playheadMs_ = 0;
    bytes_ = 0;
}

void NetStreamPlayback::advance(double ms)
{
    if (!stream_ || !playing_ || paused_ || !(ms > 0))
        return;
    playheadMs_ += ms;
    if (playheadMs_ + 1e-6 >= stream_->endMs) {
        // The end: the last frame stays up and the buffer runs dry.
        playheadMs_ = stream_->endMs;
        playing_ = false;
        status("NetStream.Play.Stop");
        status("NetStream.Buffer.Flush");
        status("NetStream.Buffer.Empty");
    }
    show();
}

void NetStreamPlayback::show()
{
    if (stream_)
        picture_.showAt(*stream_, std::min(playheadMs_, std::max(0.0, stream_->endMs - 1)), core_.limits.videoPixels);
}

avm1::Host::StreamState NetStreamPlayback::state() const
{
    avm1::Host::StreamState s;
    s.time = playheadMs_ / 1000.0;
    s.bytesLoaded = bytes_;
    s.bytesTotal = bytes_;
    // Everything after the playhead is in hand, up to the buffer's length.
    if (stream_ && playing_)
        s.bufferLength = std::min(bufferTime_, std::max(0.0, (stream_->endMs - playheadMs_) / 1000.0));
    return s;
}

}  // namespace refplayer::engine
