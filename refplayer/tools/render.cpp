// `refplay render`: a movie drawn by the engine, or an FLV frame drawn by the
// engine as an embedded video stream, to a PNG picture.
#include "png_writer.h"
#include "refplay.h"
#include "tool_internal.h"

#include "player.h"
#include "swf_movie.h"
#include "swfwriter/swf_writer.h"

#include <algorithm>
#include <cmath>

namespace refplayer::tool {

namespace {

// The movie renders offline: requests go unanswered and calls out of the
// movie find no container, as in a page without script.
class SilentHost final : public PlayerHost {
public:
    void requestUrl(RequestId, RequestKind, const std::string&, const std::string&, const std::string&) override {}
    void fsCommand(const std::string&, const std::string&) override {}
    std::optional<std::string> externalCall(const std::string&, const std::string&) override { return std::nullopt; }
    void invalidate(const IRect&) override {}
};

void checkViewSize(int width, int height, const char* what)
{
    if (width <= 0 || height <= 0 || width > kMaxRenderSide || height > kMaxRenderSide ||
        int64_t(width) * height > kMaxRenderPixels)
        throw ToolError(std::string(what) + " of " + std::to_string(width) + "x" + std::to_string(height) +
                        " pixels cannot be rendered (at most " + std::to_string(kMaxRenderSide) + " on a side and " +
                        std::to_string(kMaxRenderPixels) + " pixels)" +
                        (std::string_view(what) == "a stage" ? "; give --size" : ""));
}

struct VideoPacket {
    uint32_t timestamp = 0;
    uint8_t frameType = 0;
    uint8_t codec = 0;
    std::span<const uint8_t> payload;
    bool key() const { return frameType == media::video_frame::Key || frameType == media::video_frame::GeneratedKey; }
};

}  // namespace

Image renderSwf(std::span<const uint8_t> file, const RenderOptions& options)
{
    if (options.frames < 0 || options.frames > kMaxFrameTicks)
        throw ToolError("frame ticks must lie between 0 and " + std::to_string(kMaxFrameTicks));
    SilentHost host;
    Player player(host);
    if (!player.loadRootBytes(file, "file:///movie.swf"))
        throw ToolError(player.lastError());
    const int width = options.width.value_or(player.stageWidthPx());
    const int height = options.height.value_or(player.stageHeightPx());
    checkViewSize(width, height, options.width ? "a view" : "a stage");
    player.setTransparent(options.transparent);
    player.setViewSize(width, height);
    for (int i = 0; i < options.frames; ++i)
        player.tick();

    Image image{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, 0u)};
    // Drawn over transparent black, what the movie leaves uncovered stays transparent.
    player.render(Surface{image.pixels.data(), width, height, width * 4}, IRect{0, 0, width, height});
    return image;
}

Image renderFlv(std::span<const uint8_t> file, double seconds, const RenderOptions& options)
{
    if (options.frames != 0)
        throw ToolError("frame ticks apply to SWF files only; an FLV frame is chosen by time");
    if (!std::isfinite(seconds) || seconds < 0)
        throw ToolError("the time must be a number of seconds, 0 or more");

    std::vector<VideoPacket> packets;
    std::optional<media::FlvMetadata> metadata;
    forEachFlvTag(file, [&](const media::FlvTag& tag) {
        std::string error, name;
        if (tag.type == media::FlvTagType::Video) {
            media::VideoTagHeader h;
            // A damaged video tag shows nowhere, as a bad frame does in the player.
            if (media::parseVideoTagHeader(tag.body, h, error) && h.frameType != media::video_frame::InfoOrCommand)
                packets.push_back(VideoPacket{tag.timestamp, h.frameType, h.codecId, h.payload});
        } else if (tag.type == media::FlvTagType::Script && !metadata) {
            media::AmfValue value;
            if (media::parseScriptTag(tag.body, name, value, error) && name == "onMetaData")
                metadata = media::metadataFrom(value);
        }
    });
    if (packets.empty())
        throw ToolError("the FLV holds no video frames");

    // The frame on screen at `seconds`, and the run of frames from the last key
    // frame before it, which a decoder needs to build it.
    const double ms = seconds * 1000.0;
    size_t end = 0;  // one past the frame shown
    while (end < packets.size() && packets[end].timestamp <= ms + 1e-6)
        ++end;
    const uint8_t codec = packets[end ? end - 1 : 0].codec;
    size_t begin = end;
    while (begin > 0 && packets[begin - 1].codec == codec && !(begin < end && packets[begin].key()))
        --begin;
    const std::span<const VideoPacket> run(packets.data() + begin, end - begin);

    std::optional<PictureSize> size = videoPictureSize(codec, packets[end ? end - 1 : 0].payload);
    if (!size && metadata && metadata->width && metadata->height && *metadata->width >= 1 && *metadata->height >= 1 &&
        *metadata->width <= kMaxRenderSide && *metadata->height <= kMaxRenderSide)
        size = PictureSize{static_cast<int>(std::lround(*metadata->width)), static_cast<int>(std::lround(*metadata->height))};
    if (!size)
        throw ToolError("cannot tell the size of the " + std::string(videoCodecName(codec)) +
                        " video: no picture header gives it and onMetaData has no usable width and height");
    checkViewSize(size->width, size->height, "a video");
    if (run.size() > 0xFFFF)
        throw ToolError("more than 65535 video frames follow the last key frame before that time");
    size_t bytes = 0;
    for (const VideoPacket& p : run)
        bytes += p.payload.size() + 16;
    if (bytes + 1024 > engine::Limits{}.movieBytes)
        throw ToolError("the video from the last key frame to that time is larger than the engine takes in one movie");

    // The frames ride in one SWF frame: the engine decodes a video stream up to
    // the frame its placement's ratio names.
    std::vector<uint8_t> swf;
    try {
        namespace sw = swfwriter;
        sw::Movie movie(8, static_cast<uint16_t>(size->width), static_cast<uint16_t>(size->height), 12);
        // At least one frame declared even before the first one is due: the
        // engine shows its placeholder for a stream with frames it cannot
        // show yet, and nothing for one that declares none.
        const uint16_t declared = static_cast<uint16_t>(std::max<size_t>(run.size(), 1));
        const uint16_t stream = movie.defineVideoStream(sw::VideoStream{.numFrames = declared,
                                                                        .width = static_cast<uint16_t>(size->width),
                                                                        .height = static_cast<uint16_t>(size->height),
                                                                        .codec = codec});
        for (size_t i = 0; i < run.size(); ++i)
            movie.videoFrame(stream, static_cast<uint16_t>(i), run[i].payload);
        sw::PlaceObject place{.depth = 1, .character = stream};
        if (!run.empty())
            place.ratio = static_cast<uint16_t>(run.size() - 1);
        movie.place(place).showFrame();
        swf = movie.build();
    } catch (const swfwriter::Error& e) {
        throw ToolError(std::string("cannot carry the video to the engine: ") + e.what());
    }
    return renderSwf(swf, options);
}

std::vector<uint8_t> encodePng(const Image& image)
{
    try {
        return png::encodeRgba(image.width, image.height, png::straightRgba(image.pixels));
    } catch (const std::invalid_argument& e) {
        throw ToolError(e.what());
    }
}

}  // namespace refplayer::tool
