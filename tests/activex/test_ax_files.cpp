// Local files reach the ActiveX control through the driver itself, on every
// route a name can take, with the system's own URL service (Wine's lacks a
// working URLOpenPullStreamW): the program runs with no stand-in for it.
#include <gtest/gtest.h>

#include "ax_support.h"
#include "kv_hostfiles.h"
#include "media/screen_video.h"

using namespace axtest;
using namespace nstest;

namespace {

constexpr std::uint32_t kPlayerColour = 0x404040;

// Lets the control's work run until `done` holds or 10 s pass.
template <class F>
bool PumpUntil(F done)
{
    for (int i = 0; i < 1000 && !done(); ++i) {
        Pump();
        Sleep(10);
    }
    return done();
}

class ActiveXFiles : public BackEndCase {
protected:
    void SetUp() override
    {
        BackEndCase::SetUp();
        form = NewActiveXForm();
        ASSERT_TRUE(Control().Loaded()) << "the reference control is not registered in this prefix";
        ASSERT_STREQ(form->Player->Driver->DriverClass().ClassName(), L"TkvFlashDriverActiveX");
        Control().ClearLog();
    }
    void TearDown() override
    {
        form.reset();
        BackEndCase::TearDown();
    }
    TkvFlashDriver* driver() { return form->Player->Driver; }
    // The movie's rectangle shows in the buffer (the control draws on its
    // frames, so they are stepped while waiting).
    bool Shows(std::uint32_t colour)
    {
        return PumpUntil([&] {
            StepControls(1);
            return (Pixel(driver(), 50, 50) & 0xFFFFFF) == colour;
        });
    }
    std::unique_ptr<TPlayerForm, FormDeleter> form;
};

TEST_F(ActiveXFiles, ALargeMovieFileArrivesInPiecesAndDraws)
{
    // Big enough to arrive in several pieces.
    sw::ActionAssembler padding;
    for (const char* name : {"pad1", "pad2", "pad3"})
        padding.setPath(name, sw::PushValue(std::string(50000, 'x')));
    const std::wstring path = WriteFile(L"file movie.swf", RectMovie(0x20A040, 255, padding));
    form->Player->LoadMovie(path);
    EXPECT_TRUE(Shows(0x20A040)) << ControlLog();
    const std::string log = ControlLog();
    EXPECT_EQ(form->Player->GetMovie(), path);
    EXPECT_EQ(form->Player->GetVariable(L"pad3").size(), 50000u);
    // One binding through the driver's bind host; each piece, first, between
    // and last, follows its progress report inside it. (The idle messages of
    // the frames stepped meanwhile are not part of it.)
    ExpectSequence(log,
                   {"< IkvFlashPlayer.LoadMovie 0 ", "> IServiceProvider.QueryService IBindHost = 0x00000000",
                    "> IBindHost.CreateMoniker ", "< IBindStatusCallback.OnStartBinding",
                    "< IBindStatusCallback.OnProgress 65536/150121 status=5",
                    "< IBindStatusCallback.OnDataAvailable flags=1 size=65536 ",
                    "< IBindStatusCallback.OnProgress 131072/150121 status=5",
                    "< IBindStatusCallback.OnDataAvailable flags=2 size=131072 ",
                    "< IBindStatusCallback.OnProgress 150121/150121 status=6",
                    "< IBindStatusCallback.OnDataAvailable flags=4 size=150121 ",
                    "< IBindStatusCallback.OnStopBinding 0x00000000", "> IMoniker.BindToStorage ",
                    "> _IkvFlashPlayerEvents.Invoke 1958 100 = 0x00000000",
                    "> _IkvFlashPlayerEvents.Invoke -609 4 = 0x00000000"},
                   {"< QueryInterface", "< IViewObject.Draw", "> IOleInPlaceSiteWindowless.InvalidateRect",
                    "> IOleInPlaceSiteWindowless.GetDC", "> IOleInPlaceSiteWindowless.ReleaseDC",
                    "< RefControl_StepFrames", "< IOleInPlaceObjectWindowless.OnWindowMessage WM_NULL"});
    EXPECT_GE(LineOf(log, {"delivered", "file movie.swf"}), 0) << log;
}

TEST_F(ActiveXFiles, EveryLocalRouteOfANameDeliversTheFile)
{
    // A file URL with an escaped blank.
    const std::wstring spaced = WriteFile(L"route url.swf", RectMovie(0x2040F0));
    std::wstring url = L"file:///";
    for (wchar_t c : spaced)
        url += c == L'\\' ? std::wstring(L"/") : c == L' ' ? std::wstring(L"%20") : std::wstring(1, c);
    form->Player->LoadMovie(url);
    EXPECT_TRUE(Shows(0x2040F0)) << "file URL\n" << ControlLog();

    // A bare name of a file beside the program.
    const std::wstring beside = ExecutableFolder() + L"kv-beside-program.swf";
    {
        const auto bytes = RectMovie(0x30C0C0);
        TFileStream f(beside, fmCreate);
        f.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }
    form->Player->LoadMovie(L"kv-beside-program.swf");
    EXPECT_TRUE(Shows(0x30C0C0)) << "program folder\n" << ControlLog();
    DeleteFileW(beside.c_str());

    // A path relative to the current folder.
    CreateDirectoryW((TempFolder() + L"sub").c_str(), nullptr);
    WriteFile(L"sub\\relative.swf", RectMovie(0xC0A030));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(TempFolder().c_str());
    form->Player->LoadMovie(L"sub\\relative.swf");
    const bool relative = Shows(0xC0A030);
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(relative) << "current folder\n" << ControlLog();

    // A movie that loads another file by its absolute path.
    const std::wstring child = WriteFile(L"child.swf", RectMovie(0x6010E0));
    std::string childPath;
    for (wchar_t c : child)
        childPath += static_cast<char>(c);  // a temporary folder's path: ASCII
    sw::ActionAssembler loads;
    loads.push({sw::PushValue(childPath)}).push({"_level0"}).getUrl2(sw::SendVars::None, false, false);
    form->Player->LoadMovie(WriteFile(L"parent.swf", RectMovie(0xA0A0A0, 255, loads)));
    EXPECT_TRUE(Shows(0x6010E0)) << "loaded by the movie\n" << ControlLog();

    // None of it went to the download service.
    EXPECT_LT(LineOf(ControlLog(), {"failed"}), 0) << ControlLog();
}

TEST_F(ActiveXFiles, AVideoFilePlaysThroughThePlaybackMovie)
{
    std::vector<refplayer::media::VideoImage> images;
    for (int k = 0; k < 2; ++k)
        images.push_back({110, 80, std::vector<std::uint32_t>(110 * 80, 0xFF20C040u)});
    const std::wstring path = WriteFile(L"clip.flv", refplayer::media::writeScreenVideoFlv(images, {}));
    form->Player->LoadMovie(path);
    EXPECT_TRUE(PumpUntil([&] {
        StepControls(1);
        return LineOf(ControlLog(), {"delivered", "clip.flv"}) >= 0;
    })) << ControlLog();
    std::wstring contentPath = path;
    for (wchar_t& c : contentPath)
        if (c == L'\\')
            c = L'/';
    EXPECT_EQ(form->Player->GetVariable(L"flv.contentPath"), L"http://kvs/" + contentPath);
    EXPECT_LT(LineOf(ControlLog(), {"failed"}), 0) << ControlLog();
}

TEST_F(ActiveXFiles, AMissingFileDrawsNothingAndLeavesTheDriverWorking)
{
    form->Player->LoadMovie(TempFolder() + L"no such movie.swf");
    EXPECT_TRUE(PumpUntil([&] { return LineOf(ControlLog(), {"failed"}) >= 0; })) << ControlLog();
    StepControls(1);
    EXPECT_EQ(Pixel(driver(), 50, 50) & 0xFFFFFF, kPlayerColour);
    form->Player->LoadMovie(WriteFile(L"after.swf", RectMovie(0x1020C0)));
    EXPECT_TRUE(Shows(0x1020C0)) << ControlLog();
}

TEST_F(ActiveXFiles, ANetworkUrlFailsCleanlyWhereTheDownloadServiceIsMissing)
{
    // Nobody listens on the discard port; under Wine the service is not
    // there at all. Either way the control hears of the failure at once.
    const DWORD start = GetTickCount();
    form->Player->LoadMovie(L"http://127.0.0.1:9/net.swf");
    EXPECT_TRUE(PumpUntil([&] { return LineOf(ControlLog(), {"request", "net.swf", "failed"}) >= 0; }))
        << ControlLog();
    EXPECT_LT(GetTickCount() - start, 5000u) << "nothing waits for an answer that never comes";
    form->Player->LoadMovie(WriteFile(L"after-net.swf", RectMovie(0x10A0C0)));
    EXPECT_TRUE(Shows(0x10A0C0)) << ControlLog();
}

}  // namespace
