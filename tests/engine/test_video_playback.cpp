// The playback movie the package embeds, played by the engine: the video
// player object it builds, the downloads that setting its members starts,
// frames on the player's clock, the host's pause and play calls and the skin.
// The movies are the ones the build compiles for the package.
#include "engine_test_support.h"

#include "media/flv.h"
#include "media/screen_video.h"
#include "media_clips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

using namespace enginetest;
namespace media = refplayer::media;

namespace {

std::vector<uint8_t> readMovie(const std::string& name)
{
    std::ifstream in(std::string(KV_MOVIES_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Frame k of the test video: 110 x 80, left half one colour, right half
// another, so a stretched or shifted picture shows.
media::VideoImage Picture(int k)
{
    media::VideoImage img;
    img.width = 110;
    img.height = 80;
    img.pixels.resize(110 * 80);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 110; ++x)
            img.pixels[y * 110 + x] = x < 55 ? 0xFF000000u | (0x10u * (k + 1)) << 16 : 0xFF000000u | (0x20u * (k + 1));
    return img;
}
uint32_t Left(int k) { return 0xFF000000u | (0x10u * (k + 1)) << 16; }
uint32_t Right(int k) { return 0xFF000000u | (0x20u * (k + 1)); }

// Four frames at 12 per second: timestamps 0, 83, 167, 250; playback ends at 333 ms.
std::vector<uint8_t> Video(int frames = 4)
{
    std::vector<media::VideoImage> images;
    for (int k = 0; k < frames; ++k)
        images.push_back(Picture(k));
    media::ScreenVideoFlvOptions o;
    o.keyFrameInterval = 2;
    return media::writeScreenVideoFlv(images, o);
}

constexpr const char* kVideoUrl = "http://kvs/C:/videos/clip.flv";

std::string Invoke(const std::string& name)
{
    return "<invoke name=\"" + name + "\" returntype=\"xml\"><arguments><string>ignored</string></arguments></invoke>";
}

// The playback movie in a 550 x 400 view (scale 1), as the package loads it.
struct Playback : ::testing::Test {
    RecordingHost host;
    Player player{host};

    void SetUp() override
    {
        player.setViewSize(550, 400);
        ASSERT_TRUE(player.loadRootBytes(readMovie("flvplayback.swf"), "flvplayback.swf")) << player.lastError();
    }
    std::vector<RecordingHost::Request> media() const
    {
        std::vector<RecordingHost::Request> out;
        for (const auto& r : host.requests)
            if (r.kind == RequestKind::Media)
                out.push_back(r);
        return out;
    }
    const RecordingHost::Request* lastRequestFor(const std::string& url) const
    {
        for (auto it = host.requests.rbegin(); it != host.requests.rend(); ++it)
            if (it->url == url)
                return &*it;
        return nullptr;
    }
    void playVideo(const std::vector<uint8_t>& flv = Video())
    {
        player.setVariable("flv.contentPath", kVideoUrl);
        const auto* r = lastRequestFor(kVideoUrl);
        ASSERT_NE(r, nullptr);
        ASSERT_TRUE(player.deliverUrl(r->id, flv)) << player.lastError();
    }
    // The video is stretched 5 x over the whole 550 x 400 object.
    void expectFrame(int k)
    {
        View v = render(player, 550, 400);
        EXPECT_EQ(v.at(0, 0), Left(k)) << "frame " << k;
        EXPECT_EQ(v.at(274, 200), Left(k)) << "frame " << k;
        EXPECT_EQ(v.at(275, 200), Right(k)) << "frame " << k;
        EXPECT_EQ(v.at(549, 399), Right(k)) << "frame " << k;
    }
};

}  // namespace

TEST_F(Playback, BuildsThePlayerObjectWithItsInitialSettings)
{
    const std::pair<const char*, const char*> settings[] = {
        {"autoPlay", "true"},      {"autoRewind", "true"},    {"autoSize", "false"},
        {"bufferTime", "0.1"},     {"contentPath", ""},       {"isLive", "false"},
        {"maintainAspectRatio", "false"}, {"skin", "ClearOverAll.swf"}, {"skinAutoHide", "true"},
        {"totalTime", "0"},        {"volume", "100"},
    };
    for (auto [name, value] : settings)
        EXPECT_EQ(player.getVariable(std::string("flv.") + name), value) << name;
    EXPECT_EQ(player.getVariable("flv.width"), "550");
    // The host's text volume is kept (the driver sends its own before any video).
    player.setVariable("flv.volume", "80");
    EXPECT_EQ(player.getVariable("flv.volume"), "80");
    EXPECT_EQ(player.getVariable("flv.height"), "400");
    // The default skin goes out at once, as a movie for the skin's clip; the
    // video only once a path is set.
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.requests[0].url, "ClearOverAll.swf");
    EXPECT_EQ(host.requests[0].kind, RequestKind::Movie);
    EXPECT_TRUE(media().empty());
    // Nothing to show yet: the white stage.
    EXPECT_EQ(render(player, 550, 400).at(10, 10), 0xFFFFFFFFu);
    // The playback movie holds on its second frame.
    player.tick();
    player.tick();
    EXPECT_EQ(player.currentFrame(), 1);
}

TEST_F(Playback, ContentPathFetchesTheVideoThroughTheHostAndPlaysItOnTheClock)
{
    playVideo();
    EXPECT_EQ(media().back().url, kVideoUrl);
    EXPECT_EQ(player.getVariable("flv.state"), "playing");
    EXPECT_EQ(player.getVariable("flv.totalTime"), "0.333333333333333");  // onMetaData: 4 frames at 12 per second
    expectFrame(0);
    player.tick();  // 83 ms
    expectFrame(1);
    player.tick();  // 167 ms
    expectFrame(2);
    player.tick();  // 250 ms
    expectFrame(3);
    // At the end autoRewind takes it back to the start, stopped.
    player.tick();
    EXPECT_EQ(player.getVariable("flv.state"), "stopped");
    expectFrame(0);
    player.tick();
    expectFrame(0);

    // Without autoRewind the last frame stays.
    player.setVariable("flv.autoRewind", "false");
    player.callFunction(Invoke("playflv"));
    for (int i = 0; i < 6; ++i)
        player.tick();
    expectFrame(3);
}

TEST_F(Playback, MaintainAspectRatioAndAutoSizePlaceThePictureByTheVideosSize)
{
    // A square video, 40 x 40, one colour.
    media::VideoImage square{40, 40, std::vector<uint32_t>(40 * 40, 0xFF3060C0u)};
    const auto flv = media::writeScreenVideoFlv({square, square}, media::ScreenVideoFlvOptions{});
    constexpr uint32_t kWhite = 0xFFFFFFFFu, kSquare = 0xFF3060C0u;
    playVideo(flv);
    // Stretched over the whole object by default.
    View v = render(player, 550, 400);
    EXPECT_EQ(v.at(2, 200), kSquare);
    EXPECT_EQ(v.at(547, 200), kSquare);

    // Fitted: 400 x 400 in the middle of the 550 x 400 object.
    player.setVariable("flv.maintainAspectRatio", "true");
    player.tick();
    v = render(player, 550, 400);
    EXPECT_EQ(v.at(70, 200), kWhite);
    EXPECT_EQ(v.at(80, 2), kSquare);
    EXPECT_EQ(v.at(470, 397), kSquare);
    EXPECT_EQ(v.at(480, 200), kWhite);

    // Its own size, at the top left, whatever the aspect setting.
    player.setVariable("flv.autoSize", "true");
    player.tick();
    v = render(player, 550, 400);
    EXPECT_EQ(v.at(38, 38), kSquare);
    EXPECT_EQ(v.at(42, 20), kWhite);
    EXPECT_EQ(v.at(20, 42), kWhite);

    // Both off again ("false" as the host writes it): stretched.
    player.setVariable("flv.autoSize", "false");
    player.setVariable("flv.maintainAspectRatio", "false");
    player.tick();
    EXPECT_EQ(render(player, 550, 400).at(547, 397), kSquare);
}

TEST_F(Playback, RepaintsOnlyWhenTheShownFrameChanges)
{
    playVideo();
    host.invalidations.clear();
    player.tick();
    ASSERT_EQ(host.invalidations.size(), 1u);
    EXPECT_EQ(host.invalidations[0].right, 550);
    EXPECT_EQ(host.invalidations[0].bottom, 400);
    player.callFunction(Invoke("stopflv"));
    host.invalidations.clear();
    player.tick();
    player.tick();
    EXPECT_TRUE(host.invalidations.empty());
}

TEST_F(Playback, StopflvAndPlayflvPauseAndResume)
{
    playVideo();
    player.tick();
    expectFrame(1);
    EXPECT_EQ(player.callFunction(Invoke("stopflv")), "<string></string>");
    EXPECT_EQ(player.getVariable("flv.state"), "paused");
    player.tick();
    player.tick();
    expectFrame(1);
    EXPECT_EQ(player.callFunction(Invoke("playflv")), "<string></string>");
    player.tick();
    expectFrame(2);
    // Without an argument the callbacks still answer.
    EXPECT_EQ(player.callFunction("<invoke name=\"stopflv\" returntype=\"xml\"></invoke>"), "<string></string>");
    player.tick();
    expectFrame(2);
}

TEST_F(Playback, TheHostPlayingTheTimelineAgainKeepsThePlayerObject)
{
    // The driver's Play (with playflv) sets the stopped root timeline going;
    // it loops through the frame that made the object.
    playVideo();
    player.play();
    player.tick();
    player.tick();
    expectFrame(2);
    EXPECT_EQ(player.getVariable("flv.contentPath"), kVideoUrl);
}

TEST_F(Playback, ANewPathReplacesTheVideoAndAutoPlayDecidesWhetherItStarts)
{
    playVideo();
    player.tick();
    player.setVariable("flv.autoPlay", "false");
    player.setVariable("flv.contentPath", "second.flv");
    // The old picture goes at once.
    EXPECT_EQ(render(player, 550, 400).at(10, 10), 0xFFFFFFFFu);
    const auto* r = lastRequestFor("second.flv");
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(player.deliverUrl(r->id, Video(2)));
    // autoPlay off: the first frame, held.
    EXPECT_EQ(player.getVariable("flv.state"), "stopped");
    player.tick();
    expectFrame(0);
    player.callFunction(Invoke("playflv"));
    player.tick();
    expectFrame(1);
}

TEST_F(Playback, StaleAndBrokenVideosLoseNothing)
{
    // An answer for a path that was replaced meanwhile is dropped.
    player.setVariable("flv.contentPath", "old.flv");
    const RequestId old = lastRequestFor("old.flv")->id;
    playVideo();
    EXPECT_TRUE(player.deliverUrl(old, Video(1)));
    player.tick();
    expectFrame(1);

    // Bytes that are not an FLV are refused with a reason; the state says so.
    player.setVariable("flv.contentPath", "bad.flv");
    const std::vector<uint8_t> junk = {'F', 'W', 'S', 8, 0, 0, 0, 0};
    EXPECT_FALSE(player.deliverUrl(lastRequestFor("bad.flv")->id, junk));
    EXPECT_NE(player.lastError().find("FLV"), std::string::npos) << player.lastError();
    EXPECT_EQ(player.getVariable("flv.state"), "connectionError");
    // Nothing is drawn for it.
    EXPECT_EQ(render(player, 550, 400).at(10, 10), 0xFFFFFFFFu);

    // A file cut short plays the frames before the cut.
    std::vector<uint8_t> cut = Video();
    cut.resize(cut.size() - 40);
    player.setVariable("flv.contentPath", "cut.flv");
    ASSERT_TRUE(player.deliverUrl(lastRequestFor("cut.flv")->id, cut));
    expectFrame(0);
    player.tick();
    player.tick();
    expectFrame(2);
}

TEST_F(Playback, OtherCodecsShowAPlaceholder)
{
    media::FlvWriter w(false, true);
    const uint8_t vp6[] = {0x00, 0x11, 0x22, 0x33};
    w.videoTag(0, media::video_frame::Key, media::video_codec::Vp6, vp6);
    w.videoTag(100, media::video_frame::Inter, media::video_codec::Vp6, vp6);
    playVideo(w.take());
    View v = render(player, 550, 400);
    EXPECT_EQ(v.at(0, 0), 0xFF202020u);
    EXPECT_EQ(v.at(549, 399), 0xFF202020u);
}

TEST_F(Playback, SorensonVideoFromAnotherEncoderPlaysFrameByFrame)
{
    // 64 x 48, 12 frames at 12 per second, key frames at 0 and 6; beside it
    // the encoder's own decode. The encoder asks for deblocking, which moves
    // samples near block edges only: compare block interiors, stretched over
    // the 550 x 400 object, sampled at picture pixel centres.
    const auto flv = media_clips::clip("spark_64x48.flv");
    constexpr int W = 64, H = 48, kFrames = 12;
    const auto yuv = media_clips::yuvFrames("spark_64x48.yuv", W, H);
    ASSERT_EQ(yuv.frames(), size_t(kFrames));
    playVideo(std::vector<uint8_t>(flv.begin(), flv.end()));
    EXPECT_EQ(player.getVariable("flv.state"), "playing");
    for (int k = 0; k < kFrames; ++k) {
        const View view = render(player, 550, 400);
        double own = 0, nearestOther = 1e9;
        int worst = 0;
        for (int other = 0; other < kFrames; ++other) {
            double sum = 0;
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    if (x % 8 < 2 || x % 8 > 5 || y % 8 < 2 || y % 8 > 5)
                        continue;
                    const uint32_t p = view.at(int((x + 0.5) * 550 / W), int((y + 0.5) * 400 / H));
                    const auto e = yuv.rgb(size_t(other), x, y);
                    const int got[3] = {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
                    for (int ch = 0; ch < 3; ++ch) {
                        const double d = std::abs(got[ch] - e[ch]);
                        sum += d;
                        if (other == k)
                            worst = std::max(worst, static_cast<int>(std::lround(d)));
                    }
                }
            if (other == k)
                own = sum;
            else
                nearestOther = std::min(nearestOther, sum);
        }
        EXPECT_LE(worst, 6) << "frame " << k;
        EXPECT_LT(own, nearestOther) << "frame " << k;
        player.tick();
    }
}

TEST_F(Playback, SkinIsFetchedThroughTheHostAndShownOverThePictureWhileThePointerIsOver)
{
    playVideo();
    player.setVariable("flv.skin", "SteelOverAll.swf");
    const auto* r = lastRequestFor("SteelOverAll.swf");
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(player.deliverUrl(r->id, readMovie("steeloverall.swf"))) << player.lastError();
    // The skin's 720 x 400 stage is stretched over the 550 x 400 object: its
    // bar (#5A6673) covers the bottom 40 rows; the picture stays above it.
    constexpr uint32_t kSteelBar = 0xFF5A6673u;
    // skinAutoHide: hidden until the pointer comes over the object.
    EXPECT_EQ(render(player, 550, 400).at(382, 362), Right(0));
    player.mouseMove(100, 100);
    View v = render(player, 550, 400);
    EXPECT_EQ(v.at(382, 362), kSteelBar);
    EXPECT_EQ(v.at(300, 355), Right(0));
    EXPECT_EQ(player.getVariable("flv.skin_mc.skinName"), "SteelOverAll");
    // The pointer leaves the object: the skin hides again.
    player.mouseMove(600, 100);
    EXPECT_EQ(render(player, 550, 400).at(382, 362), Right(0));
    player.mouseMove(100, 390);
    EXPECT_EQ(render(player, 550, 400).at(382, 362), kSteelBar);
    // Without autoHide it stays, pointer or not.
    player.setVariable("flv.skinAutoHide", "false");
    player.mouseMove(600, 100);
    EXPECT_EQ(render(player, 550, 400).at(382, 362), kSteelBar);
    // An answer for the skin it replaced is dropped.
    const auto* first = lastRequestFor("ClearOverAll.swf");
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(player.deliverUrl(first->id, readMovie("clearoverall.swf")));
    EXPECT_EQ(player.getVariable("flv.skin_mc.skinName"), "SteelOverAll");
}

TEST_F(Playback, TheSkinShowsThePositionAndWhatHasArrived)
{
    playVideo();
    const auto* r = lastRequestFor("ClearOverAll.swf");
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(player.deliverUrl(r->id, readMovie("clearoverall.swf"))) << player.lastError();
    player.tick();
    // The whole file is in hand: the buffering bar is full; the seek bar's
    // played part follows the playhead (83 of 333 ms).
    EXPECT_EQ(player.getVariable("flv.skin_mc.bufferingBar_mc.filled_mc._xscale"), "100");
    EXPECT_NEAR(std::stod(player.getVariable("flv.skin_mc.seekBar_mc.played_mc._xscale").value_or("nan")), 25, 0.5);
    EXPECT_EQ(player.getVariable("flv.skin_mc.playPause_mc.pauseMark_mc._visible"), "true");
    player.callFunction(Invoke("stopflv"));
    player.tick();
    EXPECT_EQ(player.getVariable("flv.skin_mc.playPause_mc.pauseMark_mc._visible"), "false");
    EXPECT_EQ(player.getVariable("flv.skin_mc.playPause_mc.playMark_mc._visible"), "true");
    // A press on the seek bar, 80 % along (84 + 320 of the skin's
    // 720, on row 374), seeks to 267 of 333 ms: the fourth frame.
    player.mouseMove(int((84 + 320) * 550.0 / 720), 374);
    player.mouseDown(refplayer::MouseButton::Left, int((84 + 320) * 550.0 / 720), 374);
    player.mouseUp(refplayer::MouseButton::Left, int((84 + 320) * 550.0 / 720), 374);
    View v = render(player, 550, 400);
    EXPECT_EQ(v.at(0, 0), Left(3));
    EXPECT_EQ(v.at(275, 200), Right(3));
    // Still paused there.
    player.tick();
    EXPECT_EQ(render(player, 550, 400).at(0, 0), Left(3));
}

TEST(PlaybackClass, ThePlayerHasNoBuiltInVideoPlayerClass)
{
    // A Flash Player has no video player class of its own: the playback
    // movie builds its object from NetStream and the rest. attachMovie of a
    // symbol the movie does not export attaches nothing, by any name.
    auto m = movie(200, 100);
    sw::ActionAssembler a;
    a.push({"attached"});
    a.callMethod("this", "attachMovie", {sw::PushValue("FLVPlayback"), sw::PushValue("video"), 3}, true);
    a.typeOf().setVariable();
    a.push({"package"});
    a.getPath("mx");
    a.typeOf().setVariable();
    m.doAction(a).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 200, 100);
    EXPECT_EQ(p.getVariable("attached"), "undefined");
    EXPECT_EQ(p.getVariable("package"), "undefined");
    EXPECT_EQ(p.getVariable("video"), std::nullopt);
    EXPECT_TRUE(host.requests.empty());
}
