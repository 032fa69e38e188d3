// FLV video through a player component, on both back-ends: the driver loads
// the package's playback movie in place of the video, the reference player
// asks for the skin and the video, the driver serves them (the skin from the
// package's own resources), and the frames land in the component's buffer on
// the player's clock. Pause and volume reach the playback movie only while it
// plays a video. What the back-ends do differently (the order of the three
// variables, the video's pseudo-URL, CurrentMovie) is expected per back-end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <source_location>

#include "ax_support.h"
#include "kv_flashstore.h"
#include "kv_layer.h"
#include "media/screen_video.h"
#include "media_clips.h"

using namespace nstest;
using namespace axtest;
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
    TVideoForm(TComponent* owner, TkvPlugin backEnd) : TForm(owner)
    {
        SetClientSize(kWidth + 20, kHeight + 20);
        Player = new TkvFlashPlayer(this);
        Player->SetPlugin(backEnd);
        Player->SetTransparent(false);
        Player->SetBounds(10, 10, kWidth, kHeight);
        Player->SetParent(this);
    }
    TkvFlashPlayer* Player = nullptr;
};

// The name a file is known by in the ActiveX driver's pseudo-URL and
// CurrentMovie: its path with forward slashes.
std::wstring Slashed(std::wstring path)
{
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path;
}

class Video : public BackEndCase, public ::testing::WithParamInterface<TkvPlugin> {
protected:
    void SetUp() override
    {
        BackEndCase::SetUp();
        ASSERT_TRUE(Player().Loaded()) << "npswf32.dll was not loaded from beside the test program";
        form.reset(new TVideoForm(nullptr, backEnd()));
        form->AfterConstruction();
        UseControlClock();
        if (backEnd() == kvActiveX) {
            ASSERT_TRUE(Control().Loaded()) << "the reference control is not registered in this prefix";
        }
        form->Show();
        Pump();
        ASSERT_STREQ(player()->Driver->DriverClass().ClassName(), DriverClassOf(backEnd()));
        ClearLogOf(backEnd());
    }
    void TearDown() override
    {
        form.reset();
        BackEndCase::TearDown();
    }
    TkvPlugin backEnd() const { return GetParam(); }
    bool activeX() const { return backEnd() == kvActiveX; }
    std::string Log() const { return LogOf(backEnd()); }
    void Steps(int n) { StepOn(backEnd(), n); }
    TkvFlashPlayer* player() { return form->Player; }
    TkvFlashDriver* driver() { return player()->Driver; }
    void ExpectFrame(int k)
    {
        Pump();
        EXPECT_EQ(Pixel(driver(), 0, 0), Left(k)) << "frame " << k << "\n" << Log();
        EXPECT_EQ(Pixel(driver(), 274, 200), Left(k)) << "frame " << k;
        EXPECT_EQ(Pixel(driver(), 275, 200), Right(k)) << "frame " << k;
        EXPECT_EQ(Pixel(driver(), kWidth - 1, kHeight - 1), Right(k)) << "frame " << k;
    }
    // The picture above the skin's control bar, which covers the bottom rows
    // while the skin shows.
    void ExpectPictureAbove(int k)
    {
        Pump();
        EXPECT_EQ(Pixel(driver(), 0, 0), Left(k)) << "frame " << k << "\n" << Log();
        EXPECT_EQ(Pixel(driver(), 274, 200), Left(k)) << "frame " << k;
        EXPECT_EQ(Pixel(driver(), 275, 200), Right(k)) << "frame " << k;
    }
    // Real mouse messages to the form at a point of the player's area, which
    // the form routes to the graphic player and its driver to the player.
    void Hover(int x, int y)
    {
        SendMessageW(form->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(10 + x, 10 + y));
        Pump();
    }
    void Click(int x, int y)
    {
        Hover(x, y);
        SendMessageW(form->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10 + x, 10 + y));
        SendMessageW(form->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(10 + x, 10 + y));
        Pump();
    }
    std::wstring Var(const wchar_t* name) { return driver()->GetVariable(name); }
    // The names of the playback movie's variables in the order the driver set
    // them, as the player's log shows the calls.
    std::vector<std::string> VariablesSet(const std::string& log) const
    {
        const char* const call = activeX() ? "< IkvFlashPlayer.SetVariable" : "SetVariable";
        std::vector<std::pair<int, std::string>> found;
        for (const char* name : {"flv.skin", "flv.volume", "flv.contentPath"}) {
            const std::string quoted = std::string("\"") + name + "\"";
            const int at = LineOf(log, {call, quoted});
            if (at >= 0)
                found.emplace_back(at, name);
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> names;
        for (auto& f : found)
            names.push_back(f.second);
        return names;
    }
    std::unique_ptr<TVideoForm, FormDeleter> form;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(BothBackEnds, Video, ::testing::ValuesIn(kBothBackEnds), BackEndName);

TEST_P(Video, AFileNamedFlvPlaysItsFramesOnThePlayersClock)
{
    const std::wstring path = WriteFile(L"clip.flv", Flv());
    ASSERT_NE(path.find(L'\\'), std::wstring::npos) << "a path with backslashes";
    player()->LoadMovie(path);
    EXPECT_TRUE(driver()->IsVideo);
    const std::string log = Log();
    // The playback movie comes from the package's resources; the video's
    // pseudo-URL leads back to the file.
    EXPECT_GE(LineOf(log, {"delivered", "flvplayback.swf"}), 0) << log;
    EXPECT_GE(LineOf(log, {"delivered", "clip.flv"}), 0) << log;
    EXPECT_EQ(VariablesSet(log), (std::vector<std::string>{"flv.skin", "flv.volume", "flv.contentPath"})) << log;
    // The Netscape driver puts the name straight after the host and leaves
    // CurrentMovie alone; the ActiveX driver turns backslashes into slashes
    // after a "/", and remembers the name so.
    if (activeX()) {
        EXPECT_EQ(Var(L"flv.contentPath"), L"http://kvs/" + Slashed(path));
        EXPECT_EQ(driver()->CurrentMovie, Slashed(path));
    } else {
        EXPECT_EQ(Var(L"flv.contentPath"), L"http://kvs" + path);
        EXPECT_EQ(driver()->CurrentMovie, L"");
    }
    EXPECT_EQ(Var(L"flv.state"), L"playing");
    ExpectFrame(0);
    Steps(1);
    ExpectFrame(1);
    Steps(2);
    ExpectFrame(3);
    // autoRewind: the end goes back to the first frame and stays there.
    Steps(1);
    ExpectFrame(0);
    Steps(2);
    ExpectFrame(0);
    EXPECT_EQ(Var(L"flv.state"), L"stopped");
}

TEST_P(Video, ASorensonFlvFromAnotherEncoderPlaysFrameByFrame)
{
    // 64 x 48, 12 frames at 12 per second (Debian's ffmpeg), stretched over the
    // 550 x 400 stage, beside the encoder's own decode. Compared at the centres
    // of block-interior pixels, which the deblocking the clip asks for leaves.
    const auto clip = media_clips::clip("spark_64x48.flv");
    constexpr int W = 64, H = 48, kFrames = 12;
    const auto yuv = media_clips::yuvFrames("spark_64x48.yuv", W, H);
    ASSERT_EQ(yuv.frames(), size_t(kFrames));
    // Summed channel differences from frame `frame`, and the largest.
    auto compare = [&](int frame, int& worst) {
        double sum = 0;
        worst = 0;
        // Rows and columns 2 to 5 of every 8 x 8 block.
        for (int y = 2; y < H; y += (y % 8 == 5 ? 5 : 1))
            for (int x = 2; x < W; x += (x % 8 == 5 ? 5 : 1)) {
                const auto e = yuv.rgb(size_t(frame), x, y);
                const std::uint32_t p = Pixel(driver(), int((x + 0.5) * kWidth / W), int((y + 0.5) * kHeight / H));
                const int got[3] = {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
                for (int k = 0; k < 3; ++k) {
                    const double d = std::abs(got[k] - e[k]);
                    sum += d;
                    worst = std::max(worst, static_cast<int>(std::lround(d)));
                }
            }
        return sum;
    };
    const std::wstring path = WriteFile(L"spark.flv", std::vector<std::uint8_t>(clip.begin(), clip.end()));
    player()->LoadMovie(path);
    EXPECT_TRUE(driver()->IsVideo);
    EXPECT_EQ(Var(L"flv.state"), L"playing");
    for (int k : {0, 1, 2, 5, 6, 9}) {
        if (k > 0)
            Steps(k == 5 || k == 9 ? 3 : 1);
        Pump();
        int worst = 0, ignored = 0;
        const double own = compare(k, worst);
        EXPECT_LE(worst, 6) << "frame " << k;
        for (int other = 0; other < kFrames; ++other)
            if (other != k)
                EXPECT_LT(own, compare(other, ignored)) << "frame " << k << " looks like frame " << other;
    }
}

// The calls of one binding of `url` by the control, through the driver's bind
// host, delivered whole inside BindToStorage.
std::vector<std::string> ControlBinding(const std::string& url)
{
    const std::string q = "\"" + url + "\"";
    return {"> IServiceProvider.QueryService IBindHost = 0x00000000",
            "> IBindHost.CreateMoniker " + q + " = 0x00000000",
            "< IBindStatusCallback.OnStartBinding " + q,
            "< IBindStatusCallback.OnProgress 100/100 status=6 " + q,
            "< IBindStatusCallback.OnDataAvailable flags=5 size=",
            "< IBindStatusCallback.OnStopBinding 0x00000000 " + q,
            "> IMoniker.BindToStorage " + q + " = 0x00000000"};
}

// The calls of one request of `url` by the plug-in, answered inside it, the
// notification before the stream's end, then the window again. The player
// asks for each name twice (and drops the second answer); the writes, in the
// parts the player takes, are checked by the delivery tests.
std::vector<std::string> PluginRequest(const std::string& url, const std::string& streamUrl)
{
    std::vector<std::string> once = {"> NPN_GetURLNotify url=\"" + url + "\"",
                                     "< NPP_NewStream type=\"application/x-shockwave-flash\" url=\"" + streamUrl + "\"",
                                     "< NPP_URLNotify url=\"" + streamUrl + "\" reason=0",
                                     "< NPP_DestroyStream url=\"" + streamUrl + "\"",
                                     "< NPP_SetWindow type=2 x=0 y=0 width=550 height=400 window=set"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    return twice;
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& calls)
{
    to.insert(to.end(), calls.begin(), calls.end());
}

void ExpectCalls(const std::string& log, const std::vector<std::string>& expected,
                 const std::vector<std::string_view>& ignored,
                 std::source_location where = std::source_location::current())
{
    ExpectSequence(log, std::vector<std::string_view>(expected.begin(), expected.end()), ignored, where);
}

// Painting, the tests' clock, the plug-in's identifier lookups and its
// writes may come anywhere; the order of the rest is the handshake.
const std::vector<std::string_view> kPluginBeside = {"< NPP_HandleEvent", "> NPN_InvalidateRect",
                                                     "> NPN_UTF8FromIdentifier", "< RefPlayer_StepFrames",
                                                     "< NPP_WriteReady", "< NPP_Write "};
const std::vector<std::string_view> kControlBeside = {"< QueryInterface", "< IViewObject.Draw",
                                                      "> IOleInPlaceSiteWindowless.InvalidateRect",
                                                      "> IOleInPlaceSiteWindowless.GetDC",
                                                      "> IOleInPlaceSiteWindowless.ReleaseDC",
                                                      "< RefControl_StepFrames", "> _IkvFlashPlayerEvents.Invoke"};

// The playback movie is loaded, and arrives, before the driver sets its
// variables; the playback movie asks for its skin first (its own default) and
// for the video once the content path is set. By name, the plug-in's
// instance is made afresh and the control is nudged with WM_NULL at the end;
// from a stream, the ActiveX driver sets the content path first.
TEST_P(Video, TheLoadingHandshakeRunsInItsOrder)
{
    const std::wstring path = WriteFile(L"handshake.flv", Flv(1));
    player()->LoadMovie(path);
    std::vector<std::string> expected;
    if (activeX()) {
        const std::string video = "http://kvs/" + WideToUtf8(Slashed(path));
        expected = {"< IkvFlashPlayer.LoadMovie 0 \"flvplayback.swf\""};
        Append(expected, ControlBinding("flvplayback.swf"));
        Append(expected, ControlBinding("ClearOverAll.swf"));
        Append(expected, {"< IkvFlashPlayer.SetVariable \"flv.skin\" \"ClearOverAll.swf\"",
                          "< IkvFlashPlayer.SetVariable \"flv.volume\" \"50\"",
                          "< IkvFlashPlayer.SetVariable \"flv.contentPath\" \"" + video + "\""});
        Append(expected, ControlBinding(video));
        Append(expected, {"< IOleInPlaceObjectWindowless.OnWindowMessage WM_NULL wParam=0 lParam=0x00000000"});
        ExpectCalls(Log(), expected, kControlBeside);
    } else {
        // The log doubles the backslashes of the names it quotes.
        std::string quoted;
        for (char c : WideToUtf8(path))
            quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
        expected = {"< NPP_Destroy", "> NPN_ReleaseObject", "< NPP_New type=\"application/x-shockwave-flash\" mode=1",
                    "> NPN_SetValue variable=3 value=null", "> NPN_SetValue variable=4 value=1",
                    "< NPP_GetValue variable=15", "> NPN_CreateObject", "> NPN_RetainObject",
                    "< invoke LoadMovie args=[int:0,\"flvplayback.swf\"]"};
        Append(expected, PluginRequest("flvplayback.swf", "flvplayback.swf"));
        Append(expected, PluginRequest("ClearOverAll.swf", "ClearOverAll.swf"));
        Append(expected, {"< invoke SetVariable args=[\"flv.skin\",\"ClearOverAll.swf\"]",
                          "< invoke SetVariable args=[\"flv.volume\",\"50\"]",
                          "< invoke SetVariable args=[\"flv.contentPath\",\"http://kvs" + quoted + "\"]"});
        Append(expected, PluginRequest("http://kvs" + quoted, quoted));
        ExpectCalls(Log(), expected, kPluginBeside);
    }

    ClearLogOf(backEnd());
    const auto bytes = Flv(1);
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    stream.SetPosition(0);
    player()->LoadMovieFromStream(&stream);
    const std::string video = WideToUtf8(Var(L"flv.contentPath"));
    ASSERT_EQ(video.rfind("http://kvs/<stream>", 0), 0u) << video;
    if (activeX()) {
        expected = {"< IkvFlashPlayer.LoadMovie 0 \"flvplayback.swf\""};
        Append(expected, ControlBinding("flvplayback.swf"));
        Append(expected, ControlBinding("ClearOverAll.swf"));
        Append(expected, {"< IkvFlashPlayer.SetVariable \"flv.contentPath\" \"" + video + "\""});
        Append(expected, ControlBinding(video));
        Append(expected, {"< IkvFlashPlayer.SetVariable \"flv.skin\" \"ClearOverAll.swf\"",
                          "< IkvFlashPlayer.SetVariable \"flv.volume\" \"50\"",
                          "< IkvFlashPlayer.GetVariable \"flv.contentPath\""});
        ExpectCalls(Log(), expected, kControlBeside);
    } else {
        // The same instance plays the stream; the stream's URL reaches the
        // player without the host.
        expected = {"< invoke LoadMovie args=[int:0,\"flvplayback.swf\"]"};
        Append(expected, PluginRequest("flvplayback.swf", "flvplayback.swf"));
        Append(expected, PluginRequest("ClearOverAll.swf", "ClearOverAll.swf"));
        Append(expected, {"< invoke SetVariable args=[\"flv.skin\",\"ClearOverAll.swf\"]",
                          "< invoke SetVariable args=[\"flv.volume\",\"50\"]",
                          "< invoke SetVariable args=[\"flv.contentPath\",\"" + video + "\"]"});
        Append(expected, PluginRequest(video, video.substr(std::string("http://kvs").size())));
        Append(expected, {"< invoke GetVariable args=[\"flv.contentPath\"]"});
        ExpectCalls(Log(), expected, kPluginBeside);
    }
}

TEST_P(Video, FlvBytesFromAStreamPlayToo)
{
    // A name loaded first: the stream's load forgets it.
    player()->LoadMovie(WriteFile(L"before-stream.swf", RectMovie(0x102030)));
    ClearLogOf(backEnd());
    const auto bytes = Flv(2);
    {
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        stream.SetPosition(0);
        player()->LoadMovieFromStream(&stream);
    }
    EXPECT_TRUE(driver()->IsVideo);
    const std::string log = Log();
    EXPECT_GE(LineOf(log, {"delivered", "<stream>", ".flv"}), 0) << log;
    EXPECT_EQ(driver()->CurrentMovie, L"");
    EXPECT_EQ(player()->GetMovie(), L"");
    const std::wstring contentPath = Var(L"flv.contentPath");
    EXPECT_EQ(contentPath.rfind(L"http://kvs/<stream>", 0), 0u) << WideToUtf8(contentPath);
    EXPECT_EQ(contentPath.size(), std::wstring(L"http://kvs/<stream>").size() + 8 + 4);
    // The ActiveX driver points the movie at the stream before it sets the
    // skin and the volume.
    EXPECT_EQ(VariablesSet(log), activeX()
                                     ? (std::vector<std::string>{"flv.contentPath", "flv.skin", "flv.volume"})
                                     : (std::vector<std::string>{"flv.skin", "flv.volume", "flv.contentPath"}))
        << log;
    ExpectFrame(0);
    Steps(1);
    ExpectFrame(1);
}

TEST_P(Video, TheSkinIsRequestedByNameAndServedFromThePackage)
{
    const char* const request = activeX() ? "> IBindHost.CreateMoniker" : "> NPN_GetURLNotify";
    player()->SetSkin("SteelOverAll");
    player()->LoadMovie(WriteFile(L"skinned.flv", Flv(1)));
    const std::string log = Log();
    EXPECT_GE(LineOf(log, {request, "SteelOverAll.swf\""}), 0) << log;
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
    ClearLogOf(backEnd());
    player()->SetSkin("NoSuchSkin");
    player()->LoadMovie(WriteFile(L"unskinned.flv", Flv(1)));
    EXPECT_GE(LineOf(Log(), {request, "NoSuchSkin.swf\""}), 0) << Log();
    EXPECT_LT(LineOf(Log(), {"delivered \"NoSuchSkin.swf\""}), 0) << Log();
    ExpectFrame(0);
}

TEST_P(Video, PauseSendsStopflvAndPlayflvAndTheFramesFollow)
{
    player()->LoadMovie(WriteFile(L"paused.flv", Flv()));
    Steps(1);
    ExpectFrame(1);
    ClearLogOf(backEnd());
    player()->SetPause(true);
    EXPECT_GE(LineOf(Log(), {"stopflv"}), 0) << Log();
    EXPECT_EQ(Var(L"flv.state"), L"paused");
    Steps(2);
    ExpectFrame(1);
    player()->SetPause(false);
    EXPECT_GE(LineOf(Log(), {"playflv"}), 0) << Log();
    Steps(1);
    ExpectFrame(2);
}

TEST_P(Video, VolumeReachesThePlayerObjectOnlyWhileAVideoPlays)
{
    player()->SetVolume(30);
    player()->LoadMovie(WriteFile(L"loud.flv", Flv(1)));
    EXPECT_EQ(Var(L"flv.volume"), L"30");
    player()->SetVolume(80);
    EXPECT_EQ(Var(L"flv.volume"), L"80");

    // A movie: the volume is only kept for the next video.
    player()->LoadMovie(WriteFile(L"plain.swf", RectMovie(0x102030)));
    EXPECT_FALSE(driver()->IsVideo);
    ClearLogOf(backEnd());
    player()->SetVolume(65);
    EXPECT_LT(LineOf(Log(), {"flv.volume"}), 0) << Log();
    player()->LoadMovie(WriteFile(L"again.flv", Flv(1)));
    EXPECT_EQ(Var(L"flv.volume"), L"65");
}

TEST_P(Video, AnUpperCaseFlvNameIsAMovieNotAVideo)
{
    const std::wstring path = WriteFile(L"SHOUT.FLV", Flv(1));
    player()->LoadMovie(path);
    EXPECT_FALSE(driver()->IsVideo);
    // Handed to the player as a movie, it plays nothing: the plug-in refuses
    // the bytes; the ActiveX driver knows no marker in the name and leaves
    // the request to the control.
    if (activeX()) {
        EXPECT_GE(LineOf(Log(), {"> IBindHost.CreateMoniker", "SHOUT.FLV", "= 0x80004001"}), 0) << Log();
    } else {
        EXPECT_GE(LineOf(Log(), {"refused"}), 0) << Log();
    }
    EXPECT_LT(LineOf(Log(), {"flvplayback.swf"}), 0) << Log();
    // No video variable was set: the control fails reading an undefined
    // variable (the driver raises), the plug-in answers empty text.
    if (activeX()) {
        EXPECT_ANY_THROW(Var(L"flv.volume"));
    } else {
        EXPECT_EQ(Var(L"flv.volume"), L"");
    }
    // The ActiveX driver remembers the name as given, backslashes and all.
    EXPECT_EQ(driver()->CurrentMovie, activeX() ? path : L"");
}

// The other three components play a video the same way: the windowed player
// over its colour, the off-screen player and the layered window over nothing,
// so their pixels carry the video's full alpha.
TEST_P(Video, EveryComponentPlaysAVideoOnThePlayersClock)
{
    const std::wstring path = WriteFile(L"components.flv", Flv(2));
    auto check = [&](TkvFlashDriver* d, const char* what) {
        SCOPED_TRACE(what);
        ASSERT_STREQ(d->DriverClass().ClassName(), DriverClassOf(backEnd()));
        EXPECT_TRUE(d->IsVideo);
        ASSERT_TRUE(d->Width == kWidth && d->Height == kHeight);
        for (int k : {0, 1}) {
            Pump();
            EXPECT_EQ(Pixel(d, 0, 0), Left(k)) << "frame " << k << "\n" << Log();
            EXPECT_EQ(Pixel(d, 274, 200), Left(k)) << "frame " << k;
            EXPECT_EQ(Pixel(d, 275, 200), Right(k)) << "frame " << k;
            EXPECT_EQ(Pixel(d, kWidth - 1, kHeight - 1), Right(k)) << "frame " << k;
            Steps(1);
        }
    };
    form.reset();  // one component at a time
    {
        std::unique_ptr<TForm, FormDeleter> holder(new TForm(nullptr));
        holder->AfterConstruction();
        holder->SetClientSize(kWidth, kHeight);
        auto* wnd = new TkvFlashPlayerWnd(holder.get());
        wnd->SetPlugin(backEnd());
        wnd->SetBounds(0, 0, kWidth, kHeight);
        wnd->SetParent(holder.get());
        holder->Show();
        Pump();
        wnd->LoadMovie(path);
        check(wnd->Driver, "TkvFlashPlayerWnd");
    }
    {
        std::unique_ptr<TkvFlashPlayerComp, FormDeleter> comp(new TkvFlashPlayerComp(nullptr));
        comp->SetPlugin(backEnd());
        comp->SetWidth(kWidth);
        comp->SetHeight(kHeight);
        comp->LoadMovie(path);
        check(comp->Driver, "TkvFlashPlayerComp");
    }
    {
        std::unique_ptr<TForm, FormDeleter> holder(new TForm(nullptr));
        holder->AfterConstruction();
        holder->SetBorderStyle(bsNone);
        holder->SetClientSize(kWidth, kHeight);
        auto* layer = new TkvFlashLayer(holder.get());
        layer->SetPlugin(backEnd());
        layer->SetParent(holder.get());
        holder->Show();
        Pump();
        layer->LoadMovie(path);
        check(layer->Driver, "TkvFlashLayer");
    }
}

// Where the skins' parts lie on the 550 x 400 player: the skin's 720 x 400
// stage is stretched across, its control bar along the bottom 40 rows.
constexpr double kSkinX = 550.0 / 720.0;
int SkinX(double x) { return static_cast<int>(x * kSkinX); }

// Each skin draws its control bar in its own colours, hidden until the pointer
// comes over the video (real mouse messages), the picture still showing above.
TEST_P(Video, EachSkinShowsItsOwnBarWhileThePointerIsOverTheVideo)
{
    const std::wstring path = WriteFile(L"skins.flv", Flv(1));
    const struct {
        const char* name;
        std::uint32_t bar;  // 0: translucent, lighter than the picture below
    } skins[] = {{"ClearOverAll", 0}, {"SteelOverAll", 0xFF5A6673u}, {"MojaveOverAll", 0xFFB08850u},
                 {"ArcticOverAll", 0xFFDCEAF5u}};
    for (const auto& skin : skins) {
        SCOPED_TRACE(skin.name);
        player()->SetSkin(skin.name);
        player()->LoadMovie(path);
        EXPECT_EQ(WideToUtf8(Var(L"flv.skin_mc.skinName")), skin.name);
        Pump();
        EXPECT_EQ(Pixel(driver(), 382, 362), Right(0)) << "hidden until the pointer comes";
        Hover(100, 100);
        const std::uint32_t bar = Pixel(driver(), 382, 362);
        if (skin.bar) {
            EXPECT_EQ(bar, skin.bar);
        } else {
            for (int shift : {0, 8, 16})
                EXPECT_GT(bar >> shift & 0xFF, Right(0) >> shift & 0xFF) << std::hex << bar;
        }
        ExpectPictureAbove(0);
        Hover(600, 100);  // off the player: the form keeps it
    }
}

// The skin's controls, pressed with real mouse messages: the seek bar moves
// the video to the share of its length pressed, the play/pause toggle pauses
// and resumes, the volume bar sets what the playback movie's Sound reports,
// the mute control silences it, back goes to the start.
TEST_P(Video, TheSkinsControlsWorkWithRealMouseMessages)
{
    player()->LoadMovie(WriteFile(L"controls.flv", Flv()));
    ExpectPictureAbove(0);
    // Four frames over 333 ms: 80 % along the seek bar (at 84 to 484 on the
    // skin's stage, rows 370 to 378) is 267 ms, the fourth frame.
    Click(SkinX(84 + 0.8 * 400), 374);
    ExpectPictureAbove(3);
    Click(SkinX(20), 380);  // back
    ExpectPictureAbove(0);
    Steps(1);
    ExpectPictureAbove(1);

    Click(SkinX(61), 380);  // play/pause
    EXPECT_EQ(Var(L"flv.state"), L"paused");
    Steps(2);
    ExpectPictureAbove(1);
    Click(SkinX(61), 380);
    EXPECT_EQ(Var(L"flv.state"), L"playing");
    Steps(1);
    ExpectPictureAbove(2);

    // The volume bar: 130 wide from 540; a quarter along is 25.
    EXPECT_EQ(Var(L"flv.volume"), L"50");
    Click(SkinX(540 + 0.25 * 130), 380);
    EXPECT_EQ(Var(L"flv.volume"), L"25");
    Click(SkinX(515), 380);  // mute
    EXPECT_EQ(Var(L"flv.volume"), L"0");
    player()->SetVolume(70);  // kept for when the mute ends
    EXPECT_EQ(Var(L"flv.volume"), L"0");
    Click(SkinX(515), 380);
    EXPECT_EQ(Var(L"flv.volume"), L"70");
}

// An application's own playback movie: a stored movie named
// "flvplayback.swf" comes before the package's resource on both back-ends,
// and the driver sets its variables all the same.
TEST_P(Video, AStoredFlvplaybackMovieTakesThePackagesPlace)
{
    // A 100 x 100 movie with a green square and its own object "flv".
    sw::ActionAssembler own;
    own.setPath("flv", sw::Emitter([](sw::ActionAssembler& e) { e.push({0, "Object"}).newObject(); }));
    own.setPath("flv.maker", sw::PushValue("application"));
    const auto bytes = RectMovie(0x20A040, 255, own);
    TkvFlashList store(form.get());
    TkvFlashStream* item = store.Flashs()->Add();
    item->DataStream()->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    item->SetFlashStore(L"flvplayback.swf");

    const std::wstring path = WriteFile(L"own.flv", Flv(1));
    player()->LoadMovie(path);
    EXPECT_TRUE(driver()->IsVideo);
    Pump();
    EXPECT_EQ(Var(L"flv.maker"), L"application");
    EXPECT_EQ(Var(L"flv.skin"), L"ClearOverAll.swf");
    EXPECT_EQ(Var(L"flv.volume"), L"50");
    EXPECT_EQ(Var(L"flv.contentPath"), activeX() ? L"http://kvs/" + Slashed(path) : L"http://kvs" + path);
    // Shown at scale 4 in the middle of the 550 x 400 player.
    EXPECT_EQ(Pixel(driver(), 275, 200), 0xFF20A040u) << Log();
    // The package's playback movie would have asked for its skin.
    EXPECT_LT(LineOf(Log(), {"delivered \"ClearOverAll.swf\""}), 0) << Log();
}
