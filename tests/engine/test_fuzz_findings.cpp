// Every input kept for the movie fuzzer (samples and past findings) replays
// through the same steps the fuzzer takes, without a fault.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "player.h"
#include "swf_fuzz_input.h"

namespace {

std::vector<uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(SwfFuzzFindings, SeedsReplayWithoutFault) {
    const std::filesystem::path dir = std::filesystem::path(KV_FUZZ_SEEDS_DIR) / "fuzz_swf_parse";
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        SCOPED_TRACE(entry.path().string());
        const std::vector<uint8_t> bytes = readAll(entry.path());
        ASSERT_FALSE(bytes.empty());
        runSwfFuzzInput(bytes.data(), bytes.size());
        ++replayed;
    }
    EXPECT_GE(replayed, 6);
}

// A movie whose first frame calls chr() with -5.5e303: it must load and run
// that script (the fault sat in the script, not in the parser).
TEST(SwfFuzzFindings, HugeCharCodeMovie_LoadsAndPlays) {
    struct Host : refplayer::PlayerHost {
        void requestUrl(refplayer::RequestId, refplayer::RequestKind, const std::string&, const std::string&,
                        const std::string&) override {}
        void fsCommand(const std::string&, const std::string&) override {}
        std::optional<std::string> externalCall(const std::string&, const std::string&) override { return {}; }
        void invalidate(const refplayer::IRect&) override {}
    } host;
    const std::vector<uint8_t> bytes =
        readAll(std::filesystem::path(KV_FUZZ_SEEDS_DIR) / "fuzz_swf_parse" / "chr_out_of_range.swf");
    ASSERT_FALSE(bytes.empty());
    refplayer::Player player(host);
    player.setViewSize(48, 40);
    ASSERT_TRUE(player.loadRootBytes(bytes, "http://fuzz.test/movie.swf"));
    std::vector<uint32_t> pixels(48 * 40, 0);
    player.render(refplayer::Surface{pixels.data(), 48, 40, 48 * 4}, {0, 0, 48, 40});
    player.tick();
}

}  // namespace
