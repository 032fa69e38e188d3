// The driver base: buffers, background changes, pause/volume, hooks, and the
// choice of back-end.
#include <gtest/gtest.h>

#include <memory>

#include "core_test_support.h"
#include "kv_package.h"

namespace {

struct DriverDeleter {
    void operator()(TkvFlashDriver* d) const
    {
        TkvFlashDriver* p = d;
        FreeFlashDriver(p);
    }
};
using DriverPtr = std::unique_ptr<TkvFlashDriver, DriverDeleter>;

template <class D = TFakeAppDriver>
std::unique_ptr<D, DriverDeleter> MakeDriver(int w, int h, std::uint32_t bg)
{
    return std::unique_ptr<D, DriverDeleter>(static_cast<D*>(D::ClassRef().Create(w, h, bg)));
}

TEST(DriverBuffer, FirstResizeAtConstructionReachesTheBackEndsOverrides)
{
    auto d = MakeDriver(30, 20, 0xFF000000u);
    EXPECT_EQ(d->CreateBufferCalls, 1);
    EXPECT_EQ(d->ResizeBufferCalls, 1);
    ASSERT_NE(d->Bits, nullptr);
    EXPECT_NE(d->BufferDC, nullptr);
    EXPECT_EQ(d->WhiteBits, nullptr) << "opaque background: no secondary buffer";
    EXPECT_EQ(d->BitmapInfo.bmiHeader.biWidth, 30);
    EXPECT_EQ(d->BitmapInfo.bmiHeader.biHeight, -20) << "top-down";
    EXPECT_EQ(d->BitmapInfo.bmiHeader.biBitCount, 32);

    // The buffer is the DIB selected into BufferDC: a GDI fill shows in Bits at
    // index y * Width + x.
    RECT r{5, 7, 6, 8};
    HBRUSH brush = CreateSolidBrush(RGB(0x12, 0x34, 0x56));
    FillRect(d->BufferDC, &r, brush);
    DeleteObject(brush);
    GdiFlush();
    EXPECT_EQ(static_cast<std::uint32_t*>(d->Bits)[7 * 30 + 5] & 0xFFFFFFu, 0x123456u);
}

TEST(DriverBuffer, FreeBufferReleasesTheSecondBufferWhenTheFirstCouldNotBeMade)
{
    auto d = MakeDriver(8, 8, 0x00000000u);
    ASSERT_NE(d->WhiteBitmap, nullptr);
    // The primary buffer as if the system had refused it.
    DeleteDC(d->BufferDC);
    DeleteObject(d->BufferBitmap);
    d->BufferDC = nullptr;
    d->BufferBitmap = nullptr;
    d->Bits = nullptr;
    HBITMAP white = d->WhiteBitmap;
    HDC whiteDC = d->WhiteDC;
    d->FreeBuffer();
    EXPECT_EQ(GetObjectType(white), 0u) << "the bitmap was deleted";
    EXPECT_EQ(GetObjectType(whiteDC), 0u) << "and its DC";
    EXPECT_EQ(d->WhiteBitmap, nullptr);
    EXPECT_EQ(d->WhiteDC, nullptr);
    EXPECT_EQ(d->WhiteBits, nullptr);
}

TEST(DriverBuffer, ZeroSizeIsClampedAndAskingAgainRebuilds)
{
    auto d = MakeDriver(0, 0, 0xFF000000u);
    EXPECT_EQ(d->CreateBufferCalls, 0) << "0 x 0 equals the initial size: no buffer yet";
    EXPECT_EQ(d->Bits, nullptr);

    d->Resize(0, -5);
    EXPECT_EQ(d->Width, 1);
    EXPECT_EQ(d->Height, 1);
    EXPECT_EQ(d->CreateBufferCalls, 1);
    ASSERT_NE(d->Bits, nullptr);

    d->Resize(0, -5);
    EXPECT_EQ(d->CreateBufferCalls, 2) << "compared against the clamped size, so it rebuilds";
    d->Resize(1, 1);
    EXPECT_EQ(d->CreateBufferCalls, 2) << "same size: nothing";
    EXPECT_EQ(d->ResizeBufferCalls, 2);
}

TEST(DriverBuffer, BackgroundAlphaDecidesTheSecondaryBuffer)
{
    auto d = MakeDriver(8, 4, 0xFF102030u);
    std::vector<TRect> erased;
    d->OnEraseBackground = TkvEraseBackgroundEvent([&](TObject* sender, const TRect& r) {
        EXPECT_EQ(sender, d.get());
        erased.push_back(r);
    });

    d->SetBackground(0xFF405060u);  // opaque to opaque: buffers kept
    EXPECT_EQ(d->CreateBufferCalls, 1);
    EXPECT_EQ(d->Background, 0xFF405060u);
    EXPECT_TRUE(erased.empty());

    d->SetBackground(0x00000000u);  // transparent: rebuilt with a secondary buffer, erased whole
    EXPECT_EQ(d->CreateBufferCalls, 2);
    EXPECT_NE(d->WhiteBits, nullptr);
    EXPECT_NE(d->WhiteDC, nullptr);
    EXPECT_NE(d->WhiteBits, d->Bits);
    ASSERT_EQ(erased.size(), 1u);
    EXPECT_EQ(erased[0], Rect(0, 0, 8, 4));
    EXPECT_EQ(d->ResizeBufferCalls, 1) << "a background change is not a resize";

    d->SetBackground(0xFF000000u);  // back to opaque: no secondary buffer
    EXPECT_EQ(d->CreateBufferCalls, 3);
    EXPECT_EQ(d->WhiteBits, nullptr);
    EXPECT_EQ(d->WhiteDC, nullptr);

    d->SetBackground(0x80000000u);  // alpha 0xFF -> 0x80: rebuilt, still no secondary buffer
    EXPECT_EQ(d->CreateBufferCalls, 4);
    EXPECT_EQ(d->WhiteBits, nullptr);
    d->SetBackground(0x80000000u);  // equal: nothing
    EXPECT_EQ(d->CreateBufferCalls, 4);
}

TEST(DriverBuffer, ShowUpdateRectsFramesTheRectangleInRed)
{
    auto d = MakeDriver(10, 10, 0xFF000000u);
    FillLongword(d->Bits, 100, 0xFF000000u);
    d->DrawUpdateRect(Rect(2, 2, 6, 6));
    GdiFlush();
    auto px = [&](int x, int y) { return static_cast<std::uint32_t*>(d->Bits)[y * 10 + x] & 0xFFFFFFu; };
    EXPECT_EQ(px(4, 4), 0u) << "nothing drawn while ShowUpdateRects is off";

    d->ShowUpdateRects = true;
    d->DrawUpdateRect(Rect(2, 2, 6, 6));
    GdiFlush();
    EXPECT_EQ(px(2, 2), 0xFF0000u);
    EXPECT_EQ(px(5, 2), 0xFF0000u);
    EXPECT_EQ(px(2, 5), 0xFF0000u);
    EXPECT_EQ(px(5, 5), 0xFF0000u);
    EXPECT_EQ(px(3, 3), 0u) << "a frame, not a fill";
    EXPECT_EQ(px(6, 6), 0u) << "right and bottom are exclusive";
}

TEST(DriverOperations, PauseAndVolumeTalkToTheVideoOnlyWhenThereIsOne)
{
    auto d = MakeDriver(4, 4, 0xFF000000u);
    DriverLog().clear();
    d->SetPause(true);
    EXPECT_TRUE(d->Pause);
    EXPECT_EQ(DriverLog(), std::vector<std::wstring>{L"TRecordingApp.StopPlay"});

    DriverLog().clear();
    d->IsVideo = true;
    d->SetPause(true);
    d->SetPause(false);
    EXPECT_EQ(DriverLog(), (std::vector<std::wstring>{
                               L"TRecordingApp.StopPlay",
                               L"TRecordingApp.CallFunction(<invoke name=\"stopflv\" returntype=\"xml\"></invoke>)",
                               L"TRecordingApp.Play",
                               L"TRecordingApp.CallFunction(<invoke name=\"playflv\" returntype=\"xml\"></invoke>)",
                           }));
    EXPECT_FALSE(d->Pause);

    DriverLog().clear();
    d->IsVideo = false;
    d->SetVolume(80);
    EXPECT_EQ(d->Volume, 80);
    EXPECT_TRUE(DriverLog().empty());
    d->IsVideo = true;
    d->SetVolume(-3);
    EXPECT_EQ(DriverLog(), std::vector<std::wstring>{L"TRecordingApp.SetVariable(flv.volume,-3)"});
}

TEST(DriverOperations, TheBaseDriverAnswersNothingAndStartsFromItsDefaults)
{
    DriverPtr d(TkvFlashDriver::ClassRef().Create(5, 5, 0xFF000000u));
    EXPECT_FALSE(TkvFlashDriver::ClassRef().PluginExists());
    EXPECT_EQ(d->GetVariable(L"x"), L"");
    EXPECT_EQ(d->CallFunction(L"<invoke name=\"f\"/>"), L"");
    EXPECT_FALSE(d->GetIsPlaying());
    EXPECT_FALSE(d->GetLoop());
    EXPECT_EQ(d->GetTotalFrames(), 0);
    EXPECT_EQ(d->GetCurrentFrame(), 0);
    EXPECT_TRUE(d->DisableFlashMenu);
    EXPECT_FALSE(d->DisableFlashCursor);
    EXPECT_FALSE(d->ShowUpdateRects);
    EXPECT_EQ(d->Skin, L"ClearOverAll");
    EXPECT_EQ(d->Volume, 50);
    EXPECT_FALSE(d->Pause);
    EXPECT_EQ(d->GetParentHandle(), nullptr);
    EXPECT_EQ(d->GetParentOffset(), TPoint(0, 0));
}

TEST(DriverOperations, HandlersSeeTheDriverAsSender)
{
    auto d = MakeDriver(4, 4, 0xFF000000u);
    d->DoFSCommand(L"cmd", L"args");  // no handler: nothing happens
    TObject* sender = nullptr;
    std::wstring got;
    d->OnFSCommand = TkvFSCommandEvent([&](TObject* s, const WideString& c, const WideString& a) {
        sender = s;
        got = c + L"|" + a;
    });
    d->DoFSCommand(L"cmd", L"args");
    EXPECT_EQ(sender, d.get());
    EXPECT_EQ(got, L"cmd|args");
    d->OnFlashCall = TkvFlashCallEvent([&](TObject* s, const WideString& r) {
        sender = s;
        got = r;
    });
    sender = nullptr;
    d->DoFlashCall(L"<invoke/>");
    EXPECT_EQ(sender, d.get());
    EXPECT_EQ(got, L"<invoke/>");
}

TEST(DriverLifetime, ADriverReleasedDuringACallFromThePlayerDiesOnceTheCallsHaveReturned)
{
    TkvFlashDriver* held = TFakeAppDriver::ClassRef().Create(4, 4, 0xFF000000u);
    const int destroyedBefore = TFakeAppDriver::Destroyed;
    held->OnFSCommand = TkvFSCommandEvent([](TObject*, const WideString&, const WideString&) {});
    {
        TkvDriverBusy busy(held);
        TkvFlashDriver* variable = held;
        FreeFlashDriver(variable);  // e.g. a handler changing the component's Plugin
        EXPECT_EQ(variable, nullptr);
        EXPECT_EQ(TFakeAppDriver::Destroyed, destroyedBefore) << "still inside the call";
        EXPECT_TRUE(busy.Released());
        EXPECT_FALSE(held->OnFSCommand.Assigned()) << "cut off from its host at once";
        EXPECT_EQ(held->Control, nullptr);
    }
    EXPECT_EQ(TFakeAppDriver::Destroyed, destroyedBefore) << "the player's own code may still be on the stack";
    PumpMessages();
    EXPECT_EQ(TFakeAppDriver::Destroyed, destroyedBefore + 1) << "gone once the message loop comes back";
}

// --- back-end selection -----------------------------------------------------

const wchar_t* Chosen(TkvPlugin plugin)
{
    TkvFlashDriver* d = nullptr;
    ChangePlugin(d, plugin, L"", 2, 2, 0xFF000000u, nullptr, {}, {}, {}, {});
    const wchar_t* name = d->DriverClass().ClassName();
    FreeFlashDriver(d);
    return name;
}

TEST(BackendSelection, FollowsWhichPlayersAreAvailable)
{
    {
        BackendScope scope(false, false);
        EXPECT_STREQ(Chosen(kvDefault), L"TkvFlashDriver");
        EXPECT_STREQ(Chosen(kvNetscape), L"TkvFlashDriver");
        EXPECT_STREQ(Chosen(kvActiveX), L"TkvFlashDriver");
    }
    {
        BackendScope scope(true, false);  // only the plug-in library
        EXPECT_STREQ(Chosen(kvDefault), L"TRecordingNS");
        EXPECT_STREQ(Chosen(kvNetscape), L"TRecordingNS");
        EXPECT_STREQ(Chosen(kvActiveX), L"TRecordingNS");
    }
    {
        BackendScope scope(false, true);  // only the control
        EXPECT_STREQ(Chosen(kvDefault), L"TRecordingAX");
        EXPECT_STREQ(Chosen(kvNetscape), L"TRecordingAX");
        EXPECT_STREQ(Chosen(kvActiveX), L"TRecordingAX");
    }
    {
        BackendScope scope(true, true);  // both; the probe made the control the default
        DefaultFlashDriverClass = &TFakeActiveX::ClassRef();
        EXPECT_STREQ(Chosen(kvDefault), L"TRecordingAX");
        EXPECT_STREQ(Chosen(kvActiveX), L"TRecordingAX");
        EXPECT_STREQ(Chosen(kvNetscape), L"TRecordingNS");
    }
}

TEST(BackendSelection, AnApplicationsDefaultClassCountsOnlyWhenItsPlayerExists)
{
    BackendScope scope(true, false);
    DefaultFlashDriverClass = &TFakeAppDriver::ClassRef();
    TFakeAppDriver::Available = false;
    EXPECT_STREQ(Chosen(kvDefault), L"TRecordingNS");
    TFakeAppDriver::Available = true;
    EXPECT_STREQ(Chosen(kvDefault), L"TRecordingApp");
    EXPECT_STREQ(Chosen(kvNetscape), L"TRecordingNS") << "only kvDefault uses the default class";
    TFakeAppDriver::Available = false;
}

TEST(BackendSelection, ChangePluginFreesTheOldDriverWiresTheNewOneAndLoadsTheMovie)
{
    BackendScope scope(true, false);
    std::vector<std::wstring> order;
    TkvEraseBackgroundEvent erase([&](TObject*, const TRect& r) {
        order.push_back(L"erase " + IntToStr(r.right) + L"x" + IntToStr(r.bottom));
    });
    TkvFlashDriver* d = nullptr;
    ChangePlugin(d, kvDefault, L"first.swf", 12, 9, 0xFF000000u, nullptr, {}, erase, {}, {});
    const int destroyed = TFakeNetscape::Destroyed;
    ChangePlugin(d, kvDefault, L"", 12, 9, 0xFF000000u, nullptr, {}, erase, {}, {});
    EXPECT_EQ(TFakeNetscape::Destroyed, destroyed + 1) << "the old driver is freed";
    EXPECT_TRUE(d->OnEraseBackground.Assigned());
    EXPECT_EQ(d->Width, 12);
    EXPECT_EQ(order, (std::vector<std::wstring>{L"erase 12x9", L"erase 12x9"}));
    EXPECT_EQ(DriverLog(), (std::vector<std::wstring>{L"TRecordingNS.LoadMovie(first.swf)",
                                                      L"TRecordingNS.LoadMovie()"}))
        << "LoadMovie is called with an empty name too";
    FreeFlashDriver(d);
}

}  // namespace

namespace {

TEST(PackageFrame, StartsOnceAndCarriesItsResourcesInTheProgram)
{
    EXPECT_TRUE(KvPackageStarted());
    KvPackageStart();  // a second start does nothing
    EXPECT_TRUE(KvPackageStarted());
    EXPECT_EQ(DefaultFlashDriverClass, &TkvFlashDriver::ClassRef());
    // The package is linked into this program, so its resources are here.
    HRSRC version = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    EXPECT_NE(version, nullptr);
    EXPECT_NE(std::wstring(KvVersionText()).find(L"Korvel Flash components"), std::wstring::npos);
}

}  // namespace
