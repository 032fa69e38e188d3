// Arbitrary bytes as the video of the playback movie's player object: they
// are refused cleanly or played, frame by frame, forwards and back, and drawn.
#include "player.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

struct Host : refplayer::PlayerHost {
    refplayer::RequestId video = 0;
    void requestUrl(refplayer::RequestId id, refplayer::RequestKind kind, const std::string& url, const std::string&,
                    const std::string&) override
    {
        if (kind == refplayer::RequestKind::Media && url == "fuzz.flv")
            video = id;
    }
    void fsCommand(const std::string&, const std::string&) override {}
    std::optional<std::string> externalCall(const std::string&, const std::string&) override { return std::nullopt; }
    void invalidate(const refplayer::IRect&) override {}
};

const std::vector<uint8_t>& playbackMovie()
{
    static const std::vector<uint8_t> bytes = [] {
        std::ifstream in(KV_MOVIES_DIR "/flvplayback.swf", std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Host host;
    refplayer::Player player(host);
    player.setViewSize(55, 40);
    if (!player.loadRootBytes(playbackMovie(), "flvplayback.swf"))
        __builtin_trap();  // the build's own movie must load
    player.setVariable("flv.contentPath", "fuzz.flv");
    if (!host.video || !player.deliverUrl(host.video, {data, size}))
        return 0;
    std::vector<uint32_t> pixels(55 * 40);
    refplayer::Surface surface{pixels.data(), 55, 40, 55 * 4};
    for (int i = 0; i < 6; ++i) {
        player.render(surface, {0, 0, 55, 40});
        player.tick();
    }
    player.setVariable("flv.maintainAspectRatio", "true");
    player.callFunction("<invoke name=\"stopflv\" returntype=\"xml\"></invoke>");
    player.setVariable("flv.autoSize", "true");
    player.render(surface, {0, 0, 55, 40});
    return 0;
}
