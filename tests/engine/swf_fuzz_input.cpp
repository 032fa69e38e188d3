// One fuzz input for the engine: parses the bytes as a movie and, when they
// load, plays the first frame's scripts, draws it and feeds it a little input.
// The fuzzer and the regression tests share it.
#include "swf_fuzz_input.h"

#include "player.h"

#include <cstdint>
#include <vector>

namespace {

struct QuietHost : refplayer::PlayerHost {
    void requestUrl(refplayer::RequestId, refplayer::RequestKind, const std::string&, const std::string&,
                    const std::string&) override
    {
    }
    void fsCommand(const std::string&, const std::string&) override {}
    std::optional<std::string> externalCall(const std::string&, const std::string&) override { return std::nullopt; }
    void invalidate(const refplayer::IRect&) override {}
};

}  // namespace

void runSwfFuzzInput(const uint8_t* data, size_t size)
{
    QuietHost host;
    refplayer::Player player(host);
    player.setViewSize(48, 40);
    if (!player.loadRootBytes({data, size}, "http://fuzz.test/movie.swf"))
        return;
    std::vector<uint32_t> pixels(48 * 40, 0xFF808080u);
    refplayer::Surface surface{pixels.data(), 48, 40, 48 * 4};
    player.render(surface, {0, 0, 48, 40});
    player.mouseMove(20, 20);
    player.mouseDown(refplayer::MouseButton::Left, 20, 20);
    player.charInput('a');
    player.mouseUp(refplayer::MouseButton::Left, 20, 20);
    player.tick();
    player.render(surface, {3, 5, 40, 30});
}
