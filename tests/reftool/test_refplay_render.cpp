// `refplay render` and the command line: SWF frames drawn by the engine, FLV
// frames picked by time, and errors reported without harm. Pictures are
// checked through the PNG file, decoded independently.
#include "refplay.h"
#include "reftool_test_support.h"
#include "media_clips.h"

#include "media/flv.h"
#include "media/screen_video.h"
#include "swfwriter/swf_text.h"
#include "swfwriter/swf_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

using namespace reftooltest;
using refplayer::tool::ToolError;
namespace sw = refplayer::swfwriter;
namespace media = refplayer::media;
namespace tool = refplayer::tool;
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

DecodedPng Png(const tool::Image& image) { return decodePng(tool::encodePng(image)); }

uint16_t Rect(sw::Movie& m, int x, int y, int w, int h, sw::Rgba color)
{
    sw::ShapeBuilder shape(3);
    shape.rectangle(x * 20, y * 20, w * 20, h * 20, shape.addFill(color), 0);
    return m.defineShape(shape);
}

// 40 x 30, dark blue background; frame 0 a red box at (10,10) 20x10, frame 1
// a green one in its place, frame 2 nothing.
std::vector<uint8_t> ThreeFrames()
{
    sw::Movie m(8, 40, 30, 12);
    m.setBackgroundColor(sw::Rgba::rgb(0x102030));
    const uint16_t red = Rect(m, 10, 10, 20, 10, sw::Rgba::rgb(0xFF0000));
    const uint16_t green = Rect(m, 10, 10, 20, 10, sw::Rgba::rgb(0x00FF00));
    m.place(sw::PlaceObject{.depth = 1, .character = red}).showFrame();
    m.place(sw::PlaceObject{.depth = 1, .move = true, .character = green}).showFrame();
    m.removeObject2(1).showFrame();
    return m.build(sw::Compression::Zlib);
}

media::VideoImage Picture(int w, int h, uint32_t seed)
{
    media::VideoImage image{w, h, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.pixels.push_back(0xFF000000u | ((x * 5 + seed) & 0xFF) << 16 | ((y * 7 + seed * 3) & 0xFF) << 8 | ((x ^ y) & 0xFF));
    return image;
}

void ExpectPicture(const DecodedPng& png, const media::VideoImage& expected)
{
    ASSERT_EQ(png.width, expected.width);
    ASSERT_EQ(png.height, expected.height);
    for (int y = 0; y < png.height; ++y)
        for (int x = 0; x < png.width; ++x)
            ASSERT_EQ(png.argb(x, y), expected.pixels[static_cast<size_t>(y) * expected.width + x]) << x << "," << y;
}

std::string ErrorOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const ToolError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(RefplayRender, SwfFrameTicksChooseTheFrameOpaqueAtStageSize)
{
    const std::vector<uint8_t> swf = ThreeFrames();
    const uint32_t background = 0xFF102030u;
    const uint32_t expectedAt[] = {0xFFFF0000u, 0xFF00FF00u, background, 0xFFFF0000u};  // the root loops
    for (int frames = 0; frames < 4; ++frames) {
        SCOPED_TRACE(frames);
        const DecodedPng png = Png(tool::renderSwf(swf, tool::RenderOptions{.frames = frames}));
        ASSERT_EQ(png.width, 40);
        ASSERT_EQ(png.height, 30);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                const bool inBox = x >= 10 && x < 30 && y >= 10 && y < 20;
                ASSERT_EQ(png.argb(x, y), inBox ? expectedAt[frames] : background) << x << "," << y;
            }
    }
}

TEST(RefplayRender, SwfSizeScalesTheStageAndTransparentKeepsStraightAlpha)
{
    sw::Movie m(8, 40, 30, 12);
    m.setBackgroundColor(sw::Rgba::rgb(0xFFFFFF));
    m.place(sw::PlaceObject{.depth = 1, .character = Rect(m, 0, 0, 20, 30, sw::Rgba{200, 100, 50, 128})}).showFrame();
    const std::vector<uint8_t> swf = m.build();

    const DecodedPng big = Png(tool::renderSwf(swf, tool::RenderOptions{.width = 80, .height = 60}));
    ASSERT_EQ(big.width, 80);
    ASSERT_EQ(big.height, 60);
    const uint32_t overWhite = big.argb(5, 5);
    EXPECT_EQ(overWhite >> 24, 0xFFu);
    EXPECT_NEAR(int((overWhite >> 16) & 0xFF), 200 * 128 / 255 + 255 - 128 * 255 / 255, 2);
    EXPECT_EQ(big.argb(39, 59), overWhite);  // the box now covers 40 of 80 columns
    EXPECT_EQ(big.argb(40, 0), 0xFFFFFFFFu);

    const DecodedPng clear = Png(tool::renderSwf(swf, tool::RenderOptions{.transparent = true}));
    const uint32_t p = clear.argb(3, 3);
    EXPECT_EQ(p >> 24, 128u);
    EXPECT_NEAR(int((p >> 16) & 0xFF), 200, 1);  // the shape's own colour, not darkened by alpha
    EXPECT_NEAR(int((p >> 8) & 0xFF), 100, 1);
    EXPECT_NEAR(int(p & 0xFF), 50, 1);
    EXPECT_EQ(clear.argb(30, 3), 0u);
}

TEST(RefplayRender, SwfRefusesUnplayableMoviesAndViewsTooLarge)
{
    std::vector<uint8_t> swf = ThreeFrames();
    EXPECT_THAT(ErrorOf([&] { tool::renderSwf(std::vector<uint8_t>(swf.begin(), swf.end() - 9), {}); }),
                HasSubstr("not a playable SWF"));
    EXPECT_THAT(ErrorOf([&] { tool::renderSwf(swf, tool::RenderOptions{.width = 9000, .height = 10}); }),
                HasSubstr("cannot be rendered"));
    EXPECT_THAT(ErrorOf([&] { tool::renderSwf(swf, tool::RenderOptions{.frames = tool::kMaxFrameTicks + 1}); }),
                HasSubstr("frame ticks"));
    // A stage of 0 x 0 pixels needs a size from the caller.
    sw::Movie empty(8, 0, 0, 12);
    empty.showFrame();
    EXPECT_THAT(ErrorOf([&] { tool::renderSwf(empty.build(), {}); }), HasSubstr("give --size"));
}

TEST(RefplayRender, FlvScreenVideoFrameShownAtATimeIsDecodedExactly)
{
    // Frames at 0, 100, 200 and 300 ms; 1 and 3 are inter frames that change one block.
    media::VideoImage frames[4] = {Picture(70, 40, 1), {}, Picture(70, 40, 9), {}};
    frames[1] = frames[0];
    frames[3] = frames[2];
    for (int i = 0; i < 16; ++i) {
        frames[1].pixels[static_cast<size_t>(i) * 70 + 50] = 0xFF0000FFu;
        frames[3].pixels[static_cast<size_t>(35 + i % 5) * 70 + i] = 0xFFFFFF00u;
    }
    media::ScreenVideoEncoder encoder(media::ScreenVideoEncoderOptions{.blockWidth = 32, .blockHeight = 16});
    media::FlvWriter w(false, true);
    for (int i = 0; i < 4; ++i) {
        const bool key = i % 2 == 0;
        const std::vector<uint8_t> packet = encoder.encode(frames[i], key);
        ASSERT_EQ(encoder.keyFrameEncoded(), key);
        w.videoTag(static_cast<uint32_t>(i * 100), key ? media::video_frame::Key : media::video_frame::Inter,
                   media::video_codec::ScreenVideo, packet);
    }
    const std::vector<uint8_t> flv = w.take();

    const std::pair<double, int> cases[] = {{0, 0}, {0.0999, 0}, {0.1, 1}, {0.15, 1}, {0.2, 2}, {0.35, 3}, {60, 3}};
    for (auto [seconds, frame] : cases) {
        SCOPED_TRACE(seconds);
        ExpectPicture(Png(tool::renderFlv(flv, seconds, {})), frames[frame]);
    }
}

TEST(RefplayRender, SorensonFlvFromAnotherEncoderShowsTheFrameAtThatTime)
{
    // 58 x 42 at 12 frames per second, key frames at 0 and 8: 0.6 s is frame 7,
    // six inter frames on. The size comes from the picture header.
    const auto flv = media_clips::clip("spark_58x42.flv");
    constexpr int W = 58, H = 42;
    const auto yuv = media_clips::yuvFrames("spark_58x42.yuv", W, H);
    ASSERT_EQ(yuv.frames(), 12u);
    const DecodedPng png = Png(tool::renderFlv(std::vector<uint8_t>(flv.begin(), flv.end()), 0.6, {}));
    ASSERT_EQ(png.width, W);
    ASSERT_EQ(png.height, H);
    auto meanDifference = [&](int frame) {
        double sum = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const auto e = yuv.rgb(size_t(frame), x, y);
                const uint32_t p = png.argb(x, y);
                const int got[3] = {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
                for (int k = 0; k < 3; ++k)
                    sum += std::abs(got[k] - e[k]);
            }
        return sum / (3.0 * W * H);
    };
    EXPECT_LT(meanDifference(7), 2.0);
    EXPECT_LT(meanDifference(7), meanDifference(6));
    EXPECT_LT(meanDifference(7), meanDifference(8));
}

TEST(RefplayRender, FlvWithoutAPictureShowsTheEnginePlaceholder)
{
    // Screen Video that starts late: before its first frame only the placeholder shows.
    media::FlvWriter late(false, true);
    media::ScreenVideoEncoder encoder;
    late.videoTag(500, media::video_frame::Key, media::video_codec::ScreenVideo, encoder.encode(Picture(32, 24, 3), true));
    const DecodedPng early = Png(tool::renderFlv(late.take(), 0.2, {}));
    ASSERT_EQ(early.width, 32);
    ASSERT_EQ(early.height, 24);
    const uint32_t placeholder = early.argb(0, 0);
    EXPECT_EQ(placeholder >> 24, 0xFFu);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(early.argb(x, y), placeholder);

    // A codec the engine does not decode: the same placeholder, sized by onMetaData.
    media::FlvWriter vp6(false, true);
    vp6.scriptTag("onMetaData", media::AmfValue::makeEcmaArray({{"width", media::AmfValue::makeNumber(64)},
                                                                  {"height", media::AmfValue::makeNumber(48)}}));
    vp6.videoTag(0, media::video_frame::Key, media::video_codec::Vp6, std::vector<uint8_t>{0, 0, 0x84, 0});
    const DecodedPng other = Png(tool::renderFlv(vp6.take(), 1, {}));
    ASSERT_EQ(other.width, 64);
    ASSERT_EQ(other.height, 48);
    EXPECT_EQ(other.argb(0, 0), placeholder);
    EXPECT_EQ(other.argb(63, 47), placeholder);

    // Without metadata nothing tells its size; without video there is nothing to show.
    media::FlvWriter bare(false, true);
    bare.videoTag(0, media::video_frame::Key, media::video_codec::Vp6, std::vector<uint8_t>{0, 1, 2, 3});
    EXPECT_THAT(ErrorOf([&] { tool::renderFlv(bare.take(), 0, {}); }), HasSubstr("cannot tell the size"));
    media::FlvWriter audioOnly(true, false);
    audioOnly.tag(media::FlvTagType::Audio, 0, std::vector<uint8_t>{0x2F, 0});
    EXPECT_THAT(ErrorOf([&] { tool::renderFlv(audioOnly.take(), 0, {}); }), HasSubstr("no video"));
}

// --- the command line ------------------------------------------------------------------------

class RefplayCommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("refplay-" + std::string(info->name()) + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::vector<uint8_t>& data) const
    {
        std::ofstream(dir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    std::vector<uint8_t> Read(const std::string& name) const
    {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    int Run(std::vector<std::string> args)
    {
        out_.str({});
        err_.str({});
        return tool::run(args, out_, err_);
    }
    // Exactly one line, naming the tool.
    void ExpectOneErrorLine(const std::string& containing) const
    {
        const std::string e = err_.str();
        EXPECT_THAT(e, StartsWith("refplay: "));
        EXPECT_THAT(e, HasSubstr(containing));
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
        EXPECT_EQ(e.back(), '\n');
    }

    fs::path dir_;
    std::ostringstream out_, err_;
};

TEST_F(RefplayCommandLine, InfoAndRenderSucceedWritingJsonAndPng)
{
    Write("movie.swf", ThreeFrames());
    ASSERT_EQ(Run({"info", Path("movie.swf")}), 0) << err_.str();
    EXPECT_EQ(parseJson(out_.str())["frameCount"].num(), 3);
    EXPECT_TRUE(err_.str().empty());

    ASSERT_EQ(Run({"render", Path("movie.swf"), Path("one.png"), "--frames", "1", "--size=80x60"}), 0) << err_.str();
    const DecodedPng png = decodePng(Read("one.png"));
    EXPECT_EQ(png.width, 80);
    EXPECT_EQ(png.argb(40, 30), 0xFF00FF00u);
    ASSERT_EQ(Run({"render", "--transparent", Path("movie.swf"), Path("two.png"), "--frames=2"}), 0) << err_.str();
    EXPECT_EQ(decodePng(Read("two.png")).argb(20, 15), 0u);
}

TEST_F(RefplayCommandLine, BadInputFailsWithOneLineAndLeavesTheOutputAlone)
{
    const std::vector<uint8_t> swf = ThreeFrames();
    Write("cut.swf", std::vector<uint8_t>(swf.begin(), swf.begin() + 20));
    Write("junk.bin", std::vector<uint8_t>{'G', 'I', 'F', '8', '9', 'a'});
    Write("keep.png", std::vector<uint8_t>{1, 2, 3});

    EXPECT_EQ(Run({"info", Path("absent.swf")}), 1);
    ExpectOneErrorLine("absent.swf");
    EXPECT_EQ(Run({"info", Path("junk.bin")}), 1);
    ExpectOneErrorLine("not a SWF or FLV");
    EXPECT_EQ(Run({"info", dir_.string()}), 1);
    ExpectOneErrorLine("directory");
    EXPECT_EQ(Run({"render", Path("cut.swf"), Path("keep.png")}), 1);
    ExpectOneErrorLine("cut.swf: ");
    EXPECT_EQ(Read("keep.png"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(out_.str().empty());
    EXPECT_EQ(Run({"render", Path("absent.swf"), Path("new.png")}), 1);
    EXPECT_FALSE(fs::exists(dir_ / "new.png"));
}

TEST_F(RefplayCommandLine, WrongCommandLinesExitWithTwo)
{
    Write("movie.swf", ThreeFrames());
    media::FlvWriter w(false, true);
    media::ScreenVideoEncoder encoder;
    w.videoTag(0, media::video_frame::Key, media::video_codec::ScreenVideo, encoder.encode(Picture(16, 16, 0), true));
    Write("clip.flv", w.take());
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"play", Path("movie.swf")},
        {"info"},
        {"info", Path("movie.swf"), Path("movie.swf")},
        {"render", Path("movie.swf")},
        {"render", Path("movie.swf"), Path("o.png"), "--frames", "two"},
        {"render", Path("movie.swf"), Path("o.png"), "--frames", "-1"},
        {"render", Path("movie.swf"), Path("o.png"), "--size", "80"},
        {"render", Path("movie.swf"), Path("o.png"), "--size", "0x5"},
        {"render", Path("movie.swf"), Path("o.png"), "--frames"},
        {"render", Path("movie.swf"), Path("o.png"), "--loud"},
        {"render", Path("movie.swf"), Path("o.png"), "--time", "1"},
        {"render", Path("clip.flv"), Path("o.png")},
        {"render", Path("clip.flv"), Path("o.png"), "--time", "-2"},
        {"render", Path("clip.flv"), Path("o.png"), "--time", "soon"},
    };
    for (const auto& args : wrong) {
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(Run(args), 2);
        ExpectOneErrorLine("--help");
        EXPECT_FALSE(fs::exists(dir_ / "o.png"));
    }
    EXPECT_EQ(Run({"render", Path("clip.flv"), Path("o.png"), "--time", "0.5"}), 0) << err_.str();
    EXPECT_EQ(decodePng(Read("o.png")).argb(3, 4), Picture(16, 16, 0).pixels[4 * 16 + 3]);
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_THAT(out_.str(), HasSubstr("usage: refplay info"));
}

namespace {

// A file of the engine's test data (tests/engine/data), or nothing.
std::optional<std::vector<uint8_t>> EngineData(const std::string& name)
{
    std::ifstream in(std::string(KV_BITMAP_DATA_DIR) + "/" + name, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// How a picture differs from a reference of its size: the channel values
// that differ and the largest difference.
struct PictureDifference {
    int differing = 0, worst = 0;
};

PictureDifference Compare(const DecodedPng& got, const DecodedPng& want)
{
    PictureDifference d;
    for (size_t i = 0; i < got.rgba.size() && i < want.rgba.size(); ++i) {
        const int delta = std::abs(int(got.rgba[i]) - int(want.rgba[i]));
        d.differing += delta != 0;
        d.worst = std::max(d.worst, delta);
    }
    return d;
}

// Compiles a description of the engine's test data and renders it at the size
// of the native build's picture of it: every build must draw the same pixels,
// within one level per channel where the platform's floating point is allowed
// to differ.
void ExpectDescriptionMatchesNativePicture(const std::string& description, const std::string& picture)
{
    SCOPED_TRACE(description);
    const auto text = EngineData(description);
    const auto golden = EngineData(picture);
    ASSERT_TRUE(text && golden);
    const sw::TextCompileResult swf = sw::compileSwfText(std::string(text->begin(), text->end()), EngineData);
    ASSERT_TRUE(swf.ok) << swf.error;
    const DecodedPng want = decodePng(*golden);
    const DecodedPng got = Png(tool::renderSwf(swf.swf, tool::RenderOptions{.width = want.width, .height = want.height}));
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    const PictureDifference d = Compare(got, want);
    EXPECT_LE(d.worst, 1) << d.differing << " channel values differ";
}

}  // namespace

// Bitmap fills of every kind (nearest, tiled, smoothed, rotated, ffmpeg's JPEG,
// alpha) against the picture the native build made.
TEST(RefplayRender, BitmapFillsMatchTheNativeBuildsPicture)
{
    ExpectDescriptionMatchesNativePicture("bitmap_fills.txt", "bitmap_fills.png");
}

// Device text in the serif, typewriter and sans faces, bold, slanted and both,
// and a word made bold by script: the bold faces and the slant come out the
// same in every build.
TEST(RefplayRender, DeviceTextStylesMatchTheNativeBuildsPicture)
{
    ExpectDescriptionMatchesNativePicture("text_styles.txt", "text_styles.png");
}

// A mask movie (nested masks, a moving sprite mask) and a morph movie (edges,
// colours, a line width and a gradient between their ends) against the
// pictures the native build made: every build draws the same pixels.
TEST(RefplayRender, MasksAndMorphsMatchTheNativeBuildsPictures)
{
    const struct {
        const char* movie;
        const char* picture;
        int frames;
    } cases[] = {{"masks.swf", "masks_f1.png", 1}, {"morph.swf", "morph_f2.png", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.movie);
        const auto movie = EngineData(c.movie);
        const auto golden = EngineData(c.picture);
        ASSERT_TRUE(movie && golden);
        const DecodedPng want = decodePng(*golden);
        const DecodedPng got = Png(tool::renderSwf(*movie, tool::RenderOptions{.frames = c.frames}));
        ASSERT_EQ(got.width, want.width);
        ASSERT_EQ(got.height, want.height);
        EXPECT_EQ(Compare(got, want).differing, 0);
    }
}

// Fonts and text: a DefineFont2 with DefineText, a field in that font's
// outlines and a field of device text (with a Latin-1 letter), laid out by
// hand (text_fonts.swf), against the native build's picture: glyph outlines,
// curves and the device font's anti-aliasing come out the same in every build.
TEST(RefplayRender, TextInFontsMatchesTheNativeBuildsPicture)
{
    const auto swf = EngineData("text_fonts.swf");
    const auto golden = EngineData("text_fonts.png");
    ASSERT_TRUE(swf && golden);
    const DecodedPng want = decodePng(*golden);
    const DecodedPng got = Png(tool::renderSwf(*swf, tool::RenderOptions{.width = want.width, .height = want.height}));
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    const PictureDifference d = Compare(got, want);
    EXPECT_LE(d.worst, 1) << d.differing << " channel values differ";
    const auto ink = std::count_if(got.rgba.begin(), got.rgba.end(), [](uint8_t v) { return v < 128; });
    EXPECT_GT(ink, 1000);  // the picture is not blank
}
