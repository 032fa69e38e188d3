#include "video_playback.h"

#include "display.h"
#include "player_core.h"
#include "int_conv.h"

#include "media/video_decoder.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace refplayer::engine {

namespace {

// The skin lies on the object's own display list, above nothing else of it.
constexpr int kSkinDepth = 1;
constexpr int kMaxSidePx = 8192;

}  // namespace

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

// --- the object ---------------------------------------------------------------------------------

VideoPlayback::VideoPlayback(MovieClip& owner) : owner_(owner) {}

VideoPlayback::~VideoPlayback() = default;

std::string VideoPlayback::text(const char* member) const { return owner_.core.scripting().clipText(owner_, member); }

double VideoPlayback::number(const char* member, double fallback) const
{
    double v = owner_.core.scripting().clipNumber(owner_, member);
    return std::isfinite(v) ? v : fallback;
}

bool VideoPlayback::flag(const char* member) const { return owner_.core.scripting().clipFlag(owner_, member); }

void VideoPlayback::setState(const char* state)
{
    if (text("state") != state)
        owner_.core.scripting().setClipVariable(owner_, "state", state);
}

void VideoPlayback::play()
{
    if (!stream_) {
        wantPlay_ = true;  // plays once the video arrives, whatever autoPlay says
        return;
    }
    if (playheadMs_ >= stream_->endMs)
        playheadMs_ = 0;
    playing_ = true;
    setState("playing");
}

void VideoPlayback::pause()
{
    wantPlay_ = false;
    playing_ = false;
    if (stream_)
        setState("paused");
}

void VideoPlayback::stop()
{
    wantPlay_ = false;
    playing_ = false;
    playheadMs_ = 0;
    if (stream_)
        setState("stopped");
}

void VideoPlayback::seek(double seconds)
{
    if (!stream_)
        return;
    playheadMs_ = std::clamp(seconds * 1000.0, 0.0, stream_->endMs);
}

void VideoPlayback::advance(double ms)
{
    if (!playing_ || !stream_ || !(ms > 0))
        return;
    playheadMs_ += ms;
    if (playheadMs_ + 1e-6 < stream_->endMs)
        return;
    // Complete: back to the start with autoRewind, else hold the last frame.
    playing_ = false;
    playheadMs_ = flag("autoRewind") ? 0 : stream_->endMs;
    setState("stopped");
}

void VideoPlayback::sync()
{
    Scripting& script = owner_.core.scripting();
    double w = number("width", widthPx_), h = number("height", heightPx_);
    widthPx_ = num::roundClamp<int>(w, 0, kMaxSidePx);  // script-set: NaN reads as 0
    heightPx_ = num::roundClamp<int>(h, 0, kMaxSidePx);
    const int pictureW = picture_.width(), pictureH = picture_.height();
    if (flag("autoSize") && pictureW > 0 && pictureH > 0 && (pictureW != widthPx_ || pictureH != heightPx_)) {
        // The object takes the video's own size.
        widthPx_ = pictureW;
        heightPx_ = pictureH;
        script.setClipNumber(owner_, "width", widthPx_);
        script.setClipNumber(owner_, "height", heightPx_);
    }
    // The host writes the volume as text; script reads a number, as the class's setter makes it.
    if (const avm1::Property* p = owner_.variables() ? owner_.variables()->findOwn("volume") : nullptr;
        p && p->value.isString()) {
        if (double v = script.clipNumber(owner_, "volume"); std::isfinite(v))
            script.setClipNumber(owner_, "volume", v);
    }
    maintainAspect_ = flag("maintainAspectRatio");

    std::string path = text("contentPath");
    if (path != contentPath_) {
        contentPath_ = path;
        loadVideo(path);
    }
    std::string skin = text("skin");
    if (skin != skinUrl_) {
        skinUrl_ = skin;
        loadSkin(skin);
    }
    placeSkin();
    showFrameAt(playheadMs_);
    script.setClipNumber(owner_, "playheadTime", playheadMs_ / 1000.0);
}

void VideoPlayback::loadVideo(const std::string& url)
{
    ++videoGeneration_;
    stream_.reset();
    picture_.reset();
    playheadMs_ = 0;
    playing_ = false;
    owner_.core.scripting().setClipNumber(owner_, "totalTime", 0);
    if (url.empty()) {
        setState("disconnected");
        return;
    }
    setState("loading");
    owner_.core.requestMedia(owner_, Slot::Video, videoGeneration_, owner_.core.resolveMediaUrl(url));
}

void VideoPlayback::takeVideo(uint32_t generation, std::shared_ptr<const VideoStream> stream)
{
    if (generation != videoGeneration_ || !stream || stream_)
        return;
    stream_ = std::move(stream);
    double total = stream_->endMs / 1000.0;
    if (stream_->metadata && stream_->metadata->duration && std::isfinite(*stream_->metadata->duration))
        total = std::max(0.0, *stream_->metadata->duration);
    owner_.core.scripting().setClipNumber(owner_, "totalTime", total);
    playheadMs_ = 0;
    playing_ = wantPlay_ || flag("autoPlay");
    wantPlay_ = false;
    setState(playing_ ? "playing" : "stopped");
    showFrameAt(0);
}

void VideoPlayback::requestFailed(Slot slot, uint32_t generation)
{
    if (slot == Slot::Video && generation == videoGeneration_ && !stream_)
        setState("connectionError");
}

void VideoPlayback::showFrameAt(double ms)
{
    if (stream_)
        picture_.showAt(*stream_, ms, owner_.core.limits.videoPixels);
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

// --- the skin -------------------------------------------------------------------------------------

void VideoPlayback::loadSkin(const std::string& url)
{
    ++skinGeneration_;
    if (auto it = owner_.children.find(kSkinDepth); it != owner_.children.end()) {
        std::shared_ptr<DisplayObject> old = std::move(it->second);
        owner_.children.erase(it);
        owner_.core.release(std::move(old));
    }
    skin_.reset();
    if (!url.empty())
        owner_.core.requestMedia(owner_, Slot::Skin, skinGeneration_, owner_.core.resolveMediaUrl(url));
}

void VideoPlayback::takeSkin(uint32_t generation, std::shared_ptr<const MovieDef> skin, const std::string& url)
{
    PlayerCore& core = owner_.core;
    if (generation != skinGeneration_ || !skin || !skin_.expired() || owner_.removed)
        return;
    if (owner_.nesting + 1 > core.limits.clipNesting || !core.mayCreateInstance())
        return;
    auto clip = std::make_shared<MovieClip>(core, skin, nullptr, skin->timeline, owner_.nesting + 1);
    clip->container = &owner_;
    clip->depth = kSkinDepth;
    clip->DisplayObject::name = "skin_mc";
    clip->dynamic = true;
    clip->url = url;
    skinStage_ = skin->stage;
    owner_.children[kSkinDepth] = clip;
    skin_ = clip;
    placeSkin();
    clip->enterFirstFrame();
}

void VideoPlayback::placeSkin()
{
    auto skin = skin_.lock();
    if (!skin || skin->removed)
        return;
    // The skin's stage is stretched over the object's area.
    const double sw = skinStage_.xMax - skinStage_.xMin, sh = skinStage_.yMax - skinStage_.yMin;
    Matrix m;
    if (sw > 0 && sh > 0) {
        m.a = widthPx_ * 20.0 / sw;
        m.d = heightPx_ * 20.0 / sh;
        m.tx = -skinStage_.xMin * m.a;
        m.ty = -skinStage_.yMin * m.d;
    }
    skin->matrix = m;
    skin->scriptMoved = true;
    bool shown = true;
    if (flag("skinAutoHide")) {
        // Shown while the pointer is over the object, as the class does.
        PlayerCore& core = owner_.core;
        shown = false;
        if (core.mouseSeen()) {
            Point local = owner_.stageMatrix().inverted().apply(core.mouseStage());
            shown = local.x >= 0 && local.y >= 0 && local.x < widthPx_ * 20.0 && local.y < heightPx_ * 20.0;
        }
    }
    skin->visible = shown;
}

// --- drawing ------------------------------------------------------------------------------------

Box VideoPlayback::bounds() const
{
    Box b;
    b.add(Point{0, 0});
    b.add(Point{widthPx_ * 20.0, heightPx_ * 20.0});
    return b;
}

Box VideoPlayback::pictureBox() const
{
    Box b = bounds();
    const int pictureW = picture_.width(), pictureH = picture_.height();
    if (!maintainAspect_ || pictureW <= 0 || pictureH <= 0 || widthPx_ <= 0 || heightPx_ <= 0)
        return b;
    // Fitted inside the object's area, centred.
    const double s = std::min(double(widthPx_) / pictureW, double(heightPx_) / pictureH);
    const double w = pictureW * s * 20.0, h = pictureH * s * 20.0;
    const double x = std::round((widthPx_ * 20.0 - w) / 2), y = std::round((heightPx_ * 20.0 - h) / 2);
    Box fitted;
    fitted.add(Point{x, y});
    fitted.add(Point{x + w, y + h});
    return fitted;
}

uint64_t VideoPlayback::contentKey() const
{
    uint64_t h = 0xCBF29CE484222325ull;
    auto mix = [&h](uint64_t v) {
        h ^= v;
        h *= 0x100000001B3ull;
    };
    mix(videoGeneration_);
    mix(static_cast<uint64_t>(picture_.shownIndex() + 1));
    mix(picture_.placeholder());
    mix(static_cast<uint64_t>(picture_.width()) << 32 | static_cast<uint32_t>(picture_.height()));
    mix(static_cast<uint64_t>(widthPx_) << 32 | static_cast<uint32_t>(heightPx_));
    mix(maintainAspect_);
    return h;
}

}  // namespace refplayer::engine
