// kvrender's platform-free half: the command line, the movie header, the
// frame plan and the pixel conversions.
#include <gtest/gtest.h>

#include "kvrender_core.h"
#include "swfwriter/swf_writer.h"

#include <cstring>

namespace sw = refplayer::swfwriter;
using namespace kvrender;

namespace {

Options Parse(std::vector<std::wstring> args) { return ParseCommandLine(args); }

std::vector<std::uint8_t> Movie(std::uint16_t w, std::uint16_t h, double rate, int frames,
                                std::optional<std::uint32_t> background,
                                sw::Compression compression = sw::Compression::None)
{
    sw::Movie movie(8, w, h, rate);
    if (background)
        movie.setBackgroundColor(sw::Rgba::rgb(*background));
    for (int i = 0; i < frames; ++i)
        movie.showFrame();
    return movie.build(compression);
}

TEST(KvrenderCommandLine, ReadsEveryOption_InBothForms)
{
    const Options o = Parse({L"--frames", L"30", L"intro.swf", L"--size=320x240", L"--transparent", L"--plugin",
                             L"netscape", L"--out=frames", L"--every", L"3", L"--goto", L"--var", L"a=1",
                             L"--var=b=x=y", L"--var", L"empty="});
    EXPECT_EQ(o.movie, L"intro.swf");
    EXPECT_EQ(o.frames, 30);
    EXPECT_FALSE(o.seconds);
    EXPECT_EQ(o.width, 320);
    EXPECT_EQ(o.height, 240);
    EXPECT_TRUE(o.transparent);
    EXPECT_EQ(o.plugin, Backend::Netscape);
    EXPECT_EQ(o.outDir, L"frames");
    EXPECT_EQ(o.every, 3);
    EXPECT_TRUE(o.gotoFrames);
    ASSERT_EQ(o.vars.size(), 3u);
    // Only the first '=' separates: values may hold more, or be empty.
    EXPECT_EQ(o.vars[1].first, L"b");
    EXPECT_EQ(o.vars[1].second, L"x=y");
    EXPECT_EQ(o.vars[2].second, L"");

    const Options d = Parse({L"m.swf", L"--seconds", L"2.5", L"--plugin=activex"});
    EXPECT_EQ(d.seconds, 2.5);
    EXPECT_EQ(d.plugin, Backend::ActiveX);
    EXPECT_FALSE(d.width);
    EXPECT_FALSE(d.transparent);
    EXPECT_FALSE(d.gotoFrames);
    EXPECT_EQ(d.outDir, L".");
    EXPECT_EQ(d.every, 1);

    // --help needs no movie.
    EXPECT_TRUE(Parse({L"--help"}).help);
    EXPECT_NE(std::wstring(UsageText()).find(L"--goto"), std::wstring::npos);
}

TEST(KvrenderCommandLine, RefusesBadArguments_WithUsageError)
{
    const std::vector<std::vector<std::wstring>> bad = {
        {},                                          // no movie
        {L"a.swf", L"b.swf"},                        // two movies
        {L"a.swf", L"--fast"},                       // unknown option
        {L"a.swf", L"--frames"},                     // value missing at the end
        {L"a.swf", L"--frames", L"0"},
        {L"a.swf", L"--frames", L"-3"},
        {L"a.swf", L"--frames", L"12x"},
        {L"a.swf", L"--frames", L"1000001"},
        {L"a.swf", L"--frames", L"99999999999"},     // beyond int
        {L"a.swf", L"--frames=5", L"--seconds=1"},   // one or the other
        {L"a.swf", L"--seconds", L"0"},
        {L"a.swf", L"--seconds", L"-1"},
        {L"a.swf", L"--seconds", L"nan"},
        {L"a.swf", L"--size", L"320"},
        {L"a.swf", L"--size", L"0x240"},
        {L"a.swf", L"--size", L"320x0"},
        {L"a.swf", L"--size", L"8193x10"},
        {L"a.swf", L"--size", L"10x8193"},
        {L"a.swf", L"--size", L"4097x4096"},         // one pixel row beyond 2^24
        {L"a.swf", L"--size", L"\u0663x2"},          // not ASCII digits
        {L"a.swf", L"--plugin", L"flash"},
        {L"a.swf", L"--every", L"0"},
        {L"a.swf", L"--var", L"novalue"},
        {L"a.swf", L"--var", L"=v"},
        {L"a.swf", L"--transparent=yes"},            // a switch takes no value
        {L"a.swf", L"--goto=1"},
        {L"a.swf", L"--out="},
        {L""},
    };
    for (const auto& args : bad) {
        std::wstring joined;
        for (const auto& a : args)
            joined += a + L" ";
        SCOPED_TRACE(std::string(joined.begin(), joined.end()));
        EXPECT_THROW(Parse(args), UsageError);
    }
}

TEST(KvrenderCommandLine, PictureLimits_AreInclusive)
{
    EXPECT_NO_THROW(CheckPictureSize(1, 1));
    EXPECT_NO_THROW(CheckPictureSize(8192, 2048));  // exactly 2^24 pixels
    EXPECT_NO_THROW(CheckPictureSize(4096, 4096));
    EXPECT_NO_THROW(CheckPictureSize(8192, 1));
    EXPECT_THROW(CheckPictureSize(8192, 2049), InputError);
    EXPECT_THROW(CheckPictureSize(0, 1), InputError);
    EXPECT_THROW(CheckPictureSize(1, -1), InputError);
    const Options o = Parse({L"a.swf", L"--size", L"8192X2048"});  // either x
    EXPECT_EQ(o.width, 8192);
}

TEST(KvrenderMovieFacts, ReadsStageRateFramesAndBackground_PlainAndCompressed)
{
    for (auto compression : {sw::Compression::None, sw::Compression::Zlib}) {
        const auto file = Movie(550, 400, 24.5, 7, 0x336699u, compression);
        ASSERT_EQ(file[0], compression == sw::Compression::Zlib ? 'C' : 'F');
        const MovieFacts f = ReadMovieFacts(file);
        EXPECT_EQ(f.version, 8);
        EXPECT_EQ(f.stageWidth, 550);
        EXPECT_EQ(f.stageHeight, 400);
        EXPECT_DOUBLE_EQ(f.frameRate, 24.5);
        EXPECT_EQ(f.frameCount, 7);
        EXPECT_EQ(f.background, 0xFF336699u);
        EXPECT_EQ(f.OpaqueBackground(), 0xFF336699u);
    }
    // Without a background the player paints white.
    const MovieFacts plain = ReadMovieFacts(Movie(10, 10, 12, 1, std::nullopt));
    EXPECT_FALSE(plain.background);
    EXPECT_EQ(plain.OpaqueBackground(), 0xFFFFFFFFu);
}

TEST(KvrenderMovieFacts, OddHeaders_ReadAsPlayersReadThem)
{
    // A stored rate of 0 stands for the slowest rate.
    auto file = Movie(100, 100, 12, 2, std::nullopt);
    // The rate follows the stage RECT: 5 bits of field size, four fields.
    auto rectBytes = [](const std::vector<std::uint8_t>& f) { return (5 + 4 * (f[8] >> 3) + 7) / 8; };
    const size_t rateAt = 8 + rectBytes(file);
    ASSERT_EQ(file[rateAt + 1], 12);
    file[rateAt] = file[rateAt + 1] = 0;
    EXPECT_DOUBLE_EQ(ReadMovieFacts(file).frameRate, 1.0 / 256);

    // Tags damaged after the header: the header still reads, the background
    // search stops where the damage starts.
    // Cut after the rate, the count and the SetBackgroundColor tag's header,
    // one byte into its body.
    auto cut = Movie(64, 48, 30, 3, 0x112233u);
    cut.resize(8 + rectBytes(cut) + 4 + 2 + 1);
    const MovieFacts f = ReadMovieFacts(cut);
    EXPECT_EQ(f.stageWidth, 64);
    EXPECT_EQ(f.frameCount, 3);
    EXPECT_FALSE(f.background);

    // A stage of odd twips is truncated to whole pixels, as the player sizes it:
    // RECT nbits=15, xmax 2019 twips (100.95 px), ymax 1010 twips (50.5 px).
    std::vector<std::uint8_t> odd = {'F', 'W', 'S', 6, 0, 0, 0, 0};
    const std::uint32_t bits = 15;
    const std::uint32_t fields[4] = {0, 2019, 0, 1010};
    std::vector<bool> stream;
    for (int i = 4; i >= 0; --i)
        stream.push_back((bits >> i) & 1);
    for (auto v : fields)
        for (int i = 14; i >= 0; --i)
            stream.push_back((v >> i) & 1);
    for (size_t i = 0; i < stream.size(); i += 8) {
        std::uint8_t byte = 0;
        for (size_t j = 0; j < 8; ++j)
            byte = static_cast<std::uint8_t>(byte << 1 | (i + j < stream.size() && stream[i + j]));
        odd.push_back(byte);
    }
    odd.insert(odd.end(), {0, 12, 1, 0, 0, 0});  // rate 12, 1 frame, End
    const MovieFacts o = ReadMovieFacts(odd);
    EXPECT_EQ(o.stageWidth, 100);
    EXPECT_EQ(o.stageHeight, 50);
    EXPECT_EQ(o.version, 6);
}

TEST(KvrenderMovieFacts, RefusesWhatIsNotAMovieItReads)
{
    const auto good = Movie(100, 100, 12, 1, std::nullopt);
    auto bytes = [](const char* text) { return std::vector<std::uint8_t>(text, text + std::strlen(text)); };
    std::vector<std::vector<std::uint8_t>> bad = {
        {},
        bytes("FW"),
        bytes("hello, world"),
        bytes("FLV\x01\x05"),                       // a video
        bytes("ZWS\x0d\x10\x00\x00\x00"),            // LZMA
        std::vector<std::uint8_t>(good.begin(), good.begin() + 7),   // file header cut
        std::vector<std::uint8_t>(good.begin(), good.begin() + 12),  // RECT cut
    };
    // A compressed body that is no zlib stream.
    auto cws = Movie(100, 100, 12, 1, std::nullopt, sw::Compression::Zlib);
    for (size_t i = 8; i < cws.size(); ++i)
        cws[i] = 0xFF;
    bad.push_back(cws);
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_THROW(ReadMovieFacts(bad[i]), InputError);
    }
}

TEST(KvrenderFramePlan, CountsFramesFromTheOptionGiven)
{
    MovieFacts movie;
    movie.frameRate = 12;
    movie.frameCount = 40;
    Options o;
    EXPECT_EQ(PlanFrames(o, movie).count, 40);  // the movie's own count
    o.seconds = 1.0;
    EXPECT_EQ(PlanFrames(o, movie).count, 12);
    o.seconds = 0.25;  // 3 frames exactly
    EXPECT_EQ(PlanFrames(o, movie).count, 3);
    o.seconds = 0.26;  // 3.12 frames: the fourth is begun, so it is taken
    EXPECT_EQ(PlanFrames(o, movie).count, 4);
    o.seconds = 0.001;
    EXPECT_EQ(PlanFrames(o, movie).count, 1);
    o.seconds.reset();
    o.frames = 90;
    EXPECT_EQ(PlanFrames(o, movie).count, 90);  // real time may play past the end

    // Frame by frame, only frames the movie has.
    o.gotoFrames = true;
    EXPECT_THROW(PlanFrames(o, movie), InputError);
    o.frames = 40;
    EXPECT_EQ(PlanFrames(o, movie).count, 40);

    movie.frameCount = 0;
    o = Options{};
    EXPECT_THROW(PlanFrames(o, movie), InputError);
    o.seconds = 1e7;
    movie.frameRate = 120;
    EXPECT_THROW(PlanFrames(o, movie), InputError);
}

TEST(KvrenderFramePlan, KeepsEveryKthFrame_AndNamesThem)
{
    FramePlan plan{10, 3};
    std::vector<int> kept;
    for (int k = 0; k < plan.count; ++k)
        if (plan.Kept(k))
            kept.push_back(k);
    EXPECT_EQ(kept, (std::vector<int>{0, 3, 6, 9}));
    EXPECT_EQ(plan.KeptCount(), 4);
    EXPECT_EQ((FramePlan{9, 3}.KeptCount()), 3);
    EXPECT_EQ((FramePlan{1, 5}.KeptCount()), 1);

    EXPECT_DOUBLE_EQ(CaptureTime(0, 10), 0.05);
    EXPECT_DOUBLE_EQ(CaptureTime(3, 10), 0.35);

    EXPECT_EQ(FrameFileName(L"intro", 7), L"intro-00007.png");
    EXPECT_EQ(FrameFileName(L"intro", 123456), L"intro-123456.png");
}

TEST(KvrenderPixels, StraightAlpha_RoundTripsEveryPremultipliedValue)
{
    // Every alpha and every colour value a premultiplied pixel can hold comes
    // back exactly when the straight value is multiplied again.
    std::vector<std::uint32_t> in;
    for (std::uint32_t a = 0; a < 256; ++a)
        for (std::uint32_t c = 0; c <= a; ++c)
            in.push_back(a << 24 | c << 16 | (a - c) << 8 | c / 2);
    std::vector<std::uint8_t> out(in.size() * 4);
    ToStraightBgra(in, out.data());
    for (size_t i = 0; i < in.size(); ++i) {
        const std::uint32_t a = in[i] >> 24;
        ASSERT_EQ(out[i * 4 + 3], a);
        for (int ch = 0; ch < 3; ++ch) {
            const std::uint32_t premul = (in[i] >> (8 * ch)) & 0xFF;
            const std::uint32_t back = (out[i * 4 + ch] * a + 127) / 255;
            ASSERT_EQ(back, a == 0 ? 0u : premul) << "pixel " << std::hex << in[i] << " channel " << ch;
        }
    }
    // Fully transparent is all zero; opaque is unchanged; order B, G, R, A.
    const std::vector<std::uint32_t> fixed = {0x00000000u, 0xFF102030u, 0x80400000u};
    ToStraightBgra(fixed, out.data());
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 12),
              (std::vector<std::uint8_t>{0, 0, 0, 0, 0x30, 0x20, 0x10, 0xFF, 0, 0, 128, 0x80}));
}

TEST(KvrenderPixels, Opaque_ComposesOverTheBackground)
{
    const std::vector<std::uint32_t> in = {
        0x00000000u,  // uncovered: the background
        0xFF0000FFu,  // opaque blue: itself
        0x80800000u,  // half-covered red over blue-grey
        0x80000000u,  // half-covered black
    };
    std::vector<std::uint8_t> out(in.size() * 3);
    ToOpaqueBgr(in, 0xFF336699u, out.data());
    EXPECT_EQ(out, (std::vector<std::uint8_t>{
                       0x99, 0x66, 0x33,                          //
                       0xFF, 0x00, 0x00,                          //
                       (0x99 * 127 + 127) / 255, (0x66 * 127 + 127) / 255, 0x80 + (0x33 * 127 + 127) / 255,  //
                       (0x99 * 127 + 127) / 255, (0x66 * 127 + 127) / 255, (0x33 * 127 + 127) / 255}));
}

}  // namespace
