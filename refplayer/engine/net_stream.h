// A NetStream as the engine plays it: an FLV fetched through the host (the
// answer comes whole), a playhead on the player's clock, the picture at the
// playhead for the video objects attached to it, and the status events
// script hears through onStatus and onMetaData.
#pragma once

#include "../script/avm1_host.h"
#include "video_playback.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace refplayer::engine {

class PlayerCore;

class NetStreamPlayback {
public:
    NetStreamPlayback(PlayerCore& core, uint32_t id) : core_(core), id_(id) {}

    uint32_t id() const { return id_; }

    // --- script's calls -----------------------------------------------------------------
    // Fetches `url` (already resolved) and plays it from its start.
    void play(const std::string& url);
    void pause(std::optional<bool> pause);
    void seek(double seconds);
    void close();
    void setBufferTime(double seconds) { bufferTime_ = seconds; }
    avm1::Host::StreamState state() const;

    // --- the engine's calls ----------------------------------------------------------------
    // The download's answer (`bytes` long) or its failure; a stale one (play
    // was called again since) is dropped.
    void take(uint32_t generation, std::shared_ptr<const VideoStream> stream, size_t bytes);
    void failed(uint32_t generation);
    void advance(double ms);

    // What happened since the last call, in order, for onStatus and onMetaData.
    struct Event {
        std::string code;   // empty: the metadata
        std::string level;
        std::vector<std::pair<std::string, avm1::PropertyValue>> metadata;
    };
    std::vector<Event> takeEvents() { return std::exchange(events_, {}); }
    bool hasEvents() const { return !events_.empty(); }

    // The picture at the playhead; `pictureKey` changes whenever it does.
    const StreamPicture& picture() const { return picture_; }
    uint64_t pictureKey() const { return (static_cast<uint64_t>(generation_) << 32) ^ static_cast<uint32_t>(picture_.shownIndex() + 1); }

private:
    void status(const char* code, const char* level = "status");
    void show();

    PlayerCore& core_;
    const uint32_t id_;
    uint32_t generation_ = 0;  // of the download in flight or in hand
    std::shared_ptr<const VideoStream> stream_;
    bool loading_ = false;
    bool playing_ = false;
    bool paused_ = false;
    double playheadMs_ = 0;
    double bufferTime_ = 0.1;
    double bytes_ = 0;
    StreamPicture picture_;
    std::vector<Event> events_;
};

}  // namespace refplayer::engine
