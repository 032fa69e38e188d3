// Video streams in SWF timelines as another encoder writes them (Debian's
// ffmpeg, tools/make_video_clips.sh): each frame shows the picture its
// placement's ratio names, compared with that encoder's own decode.
#include "engine_test_support.h"
#include "media_clips.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace enginetest;

namespace {

// How far a rendered view is from one RGB frame: the mean and the largest
// channel difference.
struct Distance {
    double mean = 0;
    int worst = 0;
};

Distance distance(const View& v, const uint8_t* rgb) {
    Distance d;
    double sum = 0;
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x) {
            const uint32_t p = v.at(x, y);
            const uint8_t* q = rgb + (size_t(y) * v.width + x) * 3;
            const int diff[3] = {std::abs(int((p >> 16) & 0xFF) - q[0]), std::abs(int((p >> 8) & 0xFF) - q[1]),
                                 std::abs(int(p & 0xFF) - q[2])};
            for (int c : diff) {
                sum += c;
                d.worst = std::max(d.worst, c);
            }
        }
    d.mean = sum / (3.0 * v.width * v.height);
    return d;
}

}  // namespace

TEST(EmbeddedVideo, AnotherEncodersStreamsShowTheFrameEachRatioNames) {
    struct Clip {
        const char* swf;
        const char* rgb;
        int width, height;
        bool lossless;
    };
    for (const Clip& c : {Clip{"embedded_flashsv_50x38.swf", "embedded_flashsv_50x38.rgb", 50, 38, true},
                          Clip{"embedded_spark_58x42.swf", "embedded_spark_58x42.rgb", 58, 42, false}}) {
        SCOPED_TRACE(c.swf);
        const auto swf = media_clips::clip(c.swf);
        const auto rgb = media_clips::clip(c.rgb);
        const size_t frameBytes = size_t(c.width) * c.height * 3;
        ASSERT_FALSE(swf.empty());
        ASSERT_EQ(rgb.size() % frameBytes, 0u);
        const int frames = static_cast<int>(rgb.size() / frameBytes);
        ASSERT_EQ(frames, 6);

        RecordingHost host;
        Player player(host);
        load(player, std::vector<uint8_t>(swf.begin(), swf.end()), c.width, c.height);
        double worstMean = 0;
        int worst = 0;
        // Every frame in order, then round the loop to the first again: going
        // back starts decoding over.
        for (int step = 0; step <= frames; ++step) {
            const int shown = step % frames;
            const View v = render(player, c.width, c.height);
            const Distance own = distance(v, rgb.data() + size_t(shown) * frameBytes);
            worstMean = std::max(worstMean, own.mean);
            worst = std::max(worst, own.worst);
            if (c.lossless)
                EXPECT_EQ(own.worst, 0) << "frame " << shown;
            else
                EXPECT_LT(own.mean, 2.0) << "frame " << shown;
            // Nearer to its own frame than to any other.
            for (int other = 0; other < frames; ++other) {
                if (other != shown) {
                    EXPECT_LT(own.mean, distance(v, rgb.data() + size_t(other) * frameBytes).mean)
                        << "frame " << shown << " looks like frame " << other;
                }
            }
            player.tick();
        }
        std::printf("%s: against the encoder's decode, mean difference %.2f at most, largest %d\n", c.swf, worstMean,
                    worst);
    }
}
