// FLV video through a player component: the Netscape back-end loads the
// package's playback movie in place of the video, the reference plug-in asks
// for the skin and the video, the back-end serves them (the skin from the
// package's own resources), and the frames land in the component's buffer on
// the player's clock. Pause and volume reach the playback movie only while it
// plays a video.
#include <gtest/gtest.h>

#include "media/screen_video.h"
#include "ns_support.h"

using namespace nstest;
namespace media = refplayer::media;

namespace {

constexpr int kWidth = 550, kHeight = 400;  // the playback movie's stage: drawn at scale 1

// Frame k of the test video, 110 x 80: the player object stretches it 5 x
// over the whole stage. Left half one colour, right half another.
std::uint32_t Left(int k) { return 0xFF000000u | (0x18u * (k + 1)) << 16 | 0x0800u; }
std::uint32_t Right(int k) { return 0xFF000000u | 0x080000u | (0x24u * (k + 1)); }

std::vector<std::uint8_t> Flv(int frames = 4)
{
    std::vector<media::VideoImage> images;
    for (int k = 0; k < frames; ++k) {
        media::VideoImage img{110, 80, std::vector<std::uint32_t>(110 * 80)};
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 110; ++x)
                img.pixels[y * 110 + x] = x < 55 ? Left(k) : Right(k);
        images.push_back(std::move(img));
    }
    media::ScreenVideoFlvOptions o;
    o.keyFrameInterval = 2;
    return media::writeScreenVideoFlv(images, o);  // 12 frames per second, as the playback movie
}

class TVideoForm : public TForm {
public:
    explicit TVideoForm(TComponent* owner) : TForm(owner)
    {
        SetClientSize(kWidth + 20, kHeight + 20);
        Player = new TkvFlashPlayer(this);
        // The ActiveX control may be installed too; this program tests the plug-in.
        Player->SetPlugin(kvNetscape);
        Player->SetTransparent(false);
        Player->SetBounds(10, 10, kWidth, kHeight);
        Player->SetParent(this);
    }
    TkvFlashPlayer* Player = nullptr;
};

class Video : public BackEndCase {
protected:
    void SetUp() override
    {
        BackEndCase::SetUp();
        ASSERT_TRUE(Player().Loaded()) << "npswf32.dll was not loaded from beside the test program";
        form.reset(new TVideoForm(nullptr));
        form->AfterConstruction();
        form->Show();
        Pump();
        ASSERT_STREQ(player()->Driver->DriverClass().ClassName(), L"TkvFlashDriverNS");
        Player().ClearLog();
    }
    void TearDown() override
    {
        form.reset();
        BackEndCase::TearDown();
    }
    TkvFlashPlayer* player() { return form->Player; }
    TkvFlashDriver* driver() { return player()->Driver; }
    void ExpectFrame(int k)
    {
        Pump();
        EXPECT_EQ(Pixel(driver(), 0, 0), Left(k)) << "frame " << k << "\n" << PlayerLog();
        EXPECT_EQ(Pixel(driver(), 274, 200), Left(k)) << "frame " << k;
        EXPECT_EQ(Pixel(driver(), 275, 200), Right(k)) << "frame " << k;
        EXPECT_EQ(Pixel(driver(), kWidth - 1, kHeight - 1), Right(k)) << "frame " << k;
    }
    std::wstring Var(const wchar_t* name) { return driver()->GetVariable(name); }
    std::unique_ptr<TVideoForm, FormDeleter> form;
};

}  // namespace

TEST_F(Video, AFileNamedFlvPlaysItsFramesOnThePlayersClock)
{
    const std::wstring path = WriteFile(L"clip.flv", Flv());
    player()->LoadMovie(path);
    EXPECT_TRUE(driver()->IsVideo);
    const std::string log = PlayerLog();
    // The playback movie comes from the package's resources; the video's
    // pseudo-URL leads back to the file.
    EXPECT_GE(LineOf(log, {"delivered", "flvplayback.swf"}), 0) << log;
    EXPECT_GE(LineOf(log, {"delivered", "clip.flv"}), 0) << log;
    EXPECT_EQ(Var(L"flv.contentPath"), L"http://kvs" + path);
    EXPECT_EQ(Var(L"flv.state"), L"playing");
    ExpectFrame(0);
    Step(1);
    ExpectFrame(1);
    Step(2);
    ExpectFrame(3);
    // autoRewind: the end goes back to the first frame and stays there.
    Step(1);
    ExpectFrame(0);
    Step(2);
    ExpectFrame(0);
    EXPECT_EQ(Var(L"flv.state"), L"stopped");
}

TEST_F(Video, FlvBytesFromAStreamPlayToo)
{
    const auto bytes = Flv(2);
    {
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        stream.SetPosition(0);
        player()->LoadMovieFromStream(&stream);
    }
    EXPECT_TRUE(driver()->IsVideo);
    EXPECT_GE(LineOf(PlayerLog(), {"delivered", "<stream>", ".flv"}), 0) << PlayerLog();
    ExpectFrame(0);
    Step(1);
    ExpectFrame(1);
}

TEST_F(Video, TheSkinIsRequestedByNameAndServedFromThePackage)
{
    player()->SetSkin("SteelOverAll");
    player()->LoadMovie(WriteFile(L"skinned.flv", Flv(1)));
    const std::string log = PlayerLog();
    EXPECT_GE(LineOf(log, {"> NPN_GetURLNotify", "url=\"SteelOverAll.swf\""}), 0) << log;
    EXPECT_GE(LineOf(log, {"delivered \"SteelOverAll.swf\""}), 0) << log;
    // The skin hides until the pointer comes over it; shown for good, its
    // control bar (#5A6673) covers the bottom of the picture.
    ExpectFrame(0);
    player()->SetVariable(L"flv.skinAutoHide", L"false");
    Pump();
    EXPECT_EQ(Pixel(driver(), 382, 362), 0xFF5A6673u);
    EXPECT_EQ(Pixel(driver(), 382, 350), Right(0));
    EXPECT_EQ(Var(L"flv.skin_mc.skinName"), L"SteelOverAll");

    // A skin with no resource is asked for all the same; nothing serves it.
    Player().ClearLog();
    player()->SetSkin("NoSuchSkin");
    player()->LoadMovie(WriteFile(L"unskinned.flv", Flv(1)));
    EXPECT_GE(LineOf(PlayerLog(), {"> NPN_GetURLNotify", "url=\"NoSuchSkin.swf\""}), 0) << PlayerLog();
    ExpectFrame(0);
}

TEST_F(Video, PauseSendsStopflvAndPlayflvAndTheFramesFollow)
{
    player()->LoadMovie(WriteFile(L"paused.flv", Flv()));
    Step(1);
    ExpectFrame(1);
    Player().ClearLog();
    player()->SetPause(true);
    EXPECT_GE(LineOf(PlayerLog(), {"stopflv"}), 0) << PlayerLog();
    EXPECT_EQ(Var(L"flv.state"), L"paused");
    Step(2);
    ExpectFrame(1);
    player()->SetPause(false);
    EXPECT_GE(LineOf(PlayerLog(), {"playflv"}), 0) << PlayerLog();
    Step(1);
    ExpectFrame(2);
}

TEST_F(Video, VolumeReachesThePlayerObjectOnlyWhileAVideoPlays)
{
    player()->SetVolume(30);
    player()->LoadMovie(WriteFile(L"loud.flv", Flv(1)));
    EXPECT_EQ(Var(L"flv.volume"), L"30");
    player()->SetVolume(80);
    EXPECT_EQ(Var(L"flv.volume"), L"80");

    // A movie: the volume is only kept for the next video.
    player()->LoadMovie(WriteFile(L"plain.swf", RectMovie(0x102030)));
    EXPECT_FALSE(driver()->IsVideo);
    Player().ClearLog();
    player()->SetVolume(65);
    EXPECT_LT(LineOf(PlayerLog(), {"flv.volume"}), 0) << PlayerLog();
    player()->LoadMovie(WriteFile(L"again.flv", Flv(1)));
    EXPECT_EQ(Var(L"flv.volume"), L"65");
}

TEST_F(Video, AnUpperCaseFlvNameIsAMovieNotAVideo)
{
    player()->LoadMovie(WriteFile(L"SHOUT.FLV", Flv(1)));
    EXPECT_FALSE(driver()->IsVideo);
    // The plug-in is handed the FLV as a movie and refuses it: nothing plays.
    EXPECT_GE(LineOf(PlayerLog(), {"refused"}), 0) << PlayerLog();
    EXPECT_LT(LineOf(PlayerLog(), {"flvplayback.swf"}), 0) << PlayerLog();
    EXPECT_EQ(Var(L"flv.volume"), L"");
}
