// The video player object of the playback movie (the class
// mx.video.FLVPlayback as script sees it): a movie clip that plays an FLV
// stream fetched through the host, and shows a skin movie, also fetched
// through the host, over the picture.
//
// Script and the host steer it through members of its clip (contentPath,
// skin, volume, width, height, autoPlay, autoRewind, autoSize,
// maintainAspectRatio, skinAutoHide ...), which it reads back after every
// outside call, and through the methods play(), pause(), stop() and seek().
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

class MovieClip;

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

class VideoPlayback {
public:
    explicit VideoPlayback(MovieClip& owner);
    ~VideoPlayback();
    VideoPlayback(const VideoPlayback&) = delete;
    VideoPlayback& operator=(const VideoPlayback&) = delete;

    // Which of the object's two downloads an answer belongs to.
    enum class Slot : uint8_t { Video, Skin };

    // --- script methods ---------------------------------------------------------
    void play();
    void pause();
    void stop();  // pauses and goes back to the start
    void seek(double seconds);

    // --- the engine's calls ------------------------------------------------------
    // Takes in what script or the host changed on the clip's members and
    // follows it: new downloads, size, skin visibility, the shown picture.
    void sync();
    // One frame tick of the player's clock.
    void advance(double ms);
    // Answers of the downloads asked for through PlayerCore::requestMedia; a
    // stale answer (the setting changed since) is dropped.
    void takeVideo(uint32_t generation, std::shared_ptr<const VideoStream> stream);
    void takeSkin(uint32_t generation, std::shared_ptr<const MovieDef> skin, const std::string& url);
    void requestFailed(Slot slot, uint32_t generation);

    // --- drawing -------------------------------------------------------------------
    // The object's area in its own coordinates (twips).
    Box bounds() const;
    // Where the picture goes (twips), and the picture (0xFFRRGGBB rows) when one
    // is decoded; `placeholder` when frames exist that cannot be decoded.
    Box pictureBox() const;
    const std::vector<uint32_t>& picture() const { return picture_.picture(); }
    int pictureWidth() const { return picture_.width(); }
    int pictureHeight() const { return picture_.height(); }
    bool placeholder() const { return picture_.placeholder(); }
    bool showsPicture() const { return !picture().empty() || placeholder(); }
    // Changes whenever what the object itself paints changes.
    uint64_t contentKey() const;

    // For tests and the playhead members: the time shown, in milliseconds.
    double playheadMs() const { return playheadMs_; }
    bool playing() const { return playing_; }

private:
    void setState(const char* state);
    void loadVideo(const std::string& url);
    void loadSkin(const std::string& url);
    void placeSkin();
    void showFrameAt(double ms);
    void publishPlayhead();
    std::string text(const char* member) const;
    double number(const char* member, double fallback) const;
    bool flag(const char* member) const;

    MovieClip& owner_;
    // Settings as last taken in.
    std::string contentPath_;
    std::string skinUrl_;
    int widthPx_ = 320, heightPx_ = 240;
    bool maintainAspect_ = false;

    uint32_t videoGeneration_ = 0, skinGeneration_ = 0;
    std::shared_ptr<const VideoStream> stream_;
    bool playing_ = false;
    bool wantPlay_ = false;  // play() before the video arrived
    double playheadMs_ = 0;

    StreamPicture picture_;

    std::weak_ptr<class DisplayObject> skin_;
    Box skinStage_;
};

}  // namespace refplayer::engine
