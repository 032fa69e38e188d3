// The real player's hard habits, played by the reference plug-in with the
// setting that switches each: the back-end survives every one of them and
// keeps its promises (each case first checks, in the player's log, that the
// habit fired).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "ns_support.h"

using namespace nstest;

namespace {

struct DriverDeleter {
    void operator()(TkvFlashDriver* d) const
    {
        TkvFlashDriver* p = d;
        FreeFlashDriver(p);
    }
};
using DriverPtr = std::unique_ptr<TkvFlashDriver, DriverDeleter>;

class NetscapeHabits : public BackEndCase {
protected:
    void SetUp() override
    {
        BackEndCase::SetUp();
        ASSERT_TRUE(Player().Loaded()) << "npswf32.dll was not loaded from beside the test program";
        Player().ClearLog();
    }
};

NPRect Area(int left, int top, int right, int bottom)
{
    NPRect r{};
    r.left = static_cast<std::uint16_t>(left);
    r.top = static_cast<std::uint16_t>(top);
    r.right = static_cast<std::uint16_t>(right);
    r.bottom = static_cast<std::uint16_t>(bottom);
    return r;
}

// ---- invalidations from inside NPP_SetWindow -------------------------------------

// On a transparent background the back-end hands the player each buffer in
// turn through NPP_SetWindow inside the paint; a player that asks for a
// repaint from there is painted by the running paint, in a bounded number of
// passes, and what it asked for is drawn, not lost.
TEST_F(NetscapeHabits, ARepaintAskedInsideSetWindowDuringAPaintIsDrawnByItInBoundedPasses)
{
    DriverPtr d(TkvFlashDriverNS::ClassRef().Create(100, 100, 0));
    auto* ns = static_cast<TkvFlashDriverNS*>(d.get());
    {
        const PlayerSetting always(L"RepaintInSetWindow", 1000);
        ns->LoadMovie(WriteFile(L"setwindow.swf", RectMovie(0xFF0000, 128)));
    }
    Step(1);
    ASSERT_EQ(Pixel(d.get(), 50, 50), 0x80800000u) << PlayerLog();

    std::vector<TRect> painted;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) { painted.push_back(r); });
    // Spoil a pixel far from the area asked for: only the repaint asked from
    // inside NPP_SetWindow covers it.
    static_cast<std::uint32_t*>(d->Bits)[50 * 100 + 50] = 0x12345678u;
    Player().ClearLog();
    ns->InvalidateArea(Area(10, 10, 20, 20));
    const std::string log = PlayerLog();
    EXPECT_GE(CountLines(log, {"repaint asked from inside NPP_SetWindow"}), 1) << log;
    ASSERT_EQ(painted.size(), 1u) << log;
    EXPECT_EQ(painted[0], Rect(0, 0, 100, 100)) << "the area asked for inside the paint is in its report";
    EXPECT_EQ(CountLines(log, {"< NPP_SetWindow"}), 8) << "four passes at most, two buffers each\n" << log;
    EXPECT_EQ(CountLines(log, {"< NPP_HandleEvent event=0x000F"}), 8) << log;
    EXPECT_EQ(Pixel(d.get(), 50, 50), 0x80800000u) << "the spoilt pixel was drawn again";
    EXPECT_EQ(Pixel(d.get(), 5, 5), 0u);
}

// A player that is still asking when a paint reaches its pass limit: what it
// asked for last is painted by the next paint, and only then reported.
TEST_F(NetscapeHabits, ARepaintLeftOverAtThePassLimitIsPaintedByTheNextPaint)
{
    // How many repaints the player asks for from inside NPP_SetWindow while
    // the movie loads and draws its first frame: the same for every driver.
    auto start = [](DWORD repaints) {
        DriverPtr d(TkvFlashDriverNS::ClassRef().Create(100, 100, 0));
        const PlayerSetting setting(L"RepaintInSetWindow", repaints);
        static_cast<TkvFlashDriverNS*>(d.get())->LoadMovie(WriteFile(L"leftover.swf", RectMovie(0xFF0000, 128)));
        return d;
    };
    int beforeTheCase = 0;
    {
        Player().ClearLog();
        DriverPtr probe = start(1000);
        Step(1);
        beforeTheCase = CountLines(PlayerLog(), {"repaint asked from inside NPP_SetWindow"});
    }
    Pump();
    // Enough for one more paint's four passes, over black and over white.
    DriverPtr d = start(static_cast<DWORD>(beforeTheCase + 8));
    auto* ns = static_cast<TkvFlashDriverNS*>(d.get());
    Step(1);
    std::vector<TRect> painted;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) { painted.push_back(r); });
    Player().ClearLog();
    ns->InvalidateArea(Area(10, 10, 20, 20));
    ASSERT_EQ(CountLines(PlayerLog(), {"repaint asked from inside NPP_SetWindow"}), 8) << PlayerLog();

    // The player asked once more during the last pass; nothing paints it yet.
    static_cast<std::uint32_t*>(d->Bits)[50 * 100 + 50] = 0x12345678u;
    painted.clear();
    Player().ClearLog();
    ns->InvalidateArea(Area(30, 30, 35, 35));
    const std::string log = PlayerLog();
    EXPECT_EQ(CountLines(log, {"repaint asked from inside NPP_SetWindow"}), 0) << log;
    EXPECT_EQ(CountLines(log, {"< NPP_HandleEvent event=0x000F rect=0,0,100,100"}), 2) << log;
    ASSERT_EQ(painted.size(), 1u) << log;
    EXPECT_EQ(painted[0], Rect(0, 0, 100, 100)) << "the left-over area came with the next paint";
    EXPECT_EQ(Pixel(d.get(), 50, 50), 0x80800000u);
}

// On an opaque background the window reset hands the window over outside any
// paint: the repaint asked from inside that call is painted there and then.
TEST_F(NetscapeHabits, ARepaintAskedInsideTheWindowResetIsPaintedAtOnce)
{
    auto form = NewPlayerForm();
    auto* ns = dynamic_cast<TkvFlashDriverNS*>(form->Player->Driver);
    ASSERT_NE(ns, nullptr);
    {
        // Two window resets come with the movie (the player asks for it twice).
        const PlayerSetting thrice(L"RepaintInSetWindow", 3);
        ns->LoadMovie(WriteFile(L"reset.swf", RectMovie(0x00C000)));
    }
    Step(1);
    std::vector<TRect> painted;
    bool insidePaint = false;
    ns->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) {
        painted.push_back(r);
        insidePaint = insidePaint || ns->IsPainting();
    });
    static_cast<std::uint32_t*>(ns->Bits)[50 * 100 + 50] = 0x12345678u;
    Player().ClearLog();
    ns->ResetWindow();
    const std::string log = PlayerLog();
    EXPECT_EQ(CountLines(log, {"repaint asked from inside NPP_SetWindow"}), 1) << log;
    EXPECT_FALSE(insidePaint);
    ASSERT_GE(painted.size(), 1u) << log;
    EXPECT_EQ(painted[0], Rect(0, 0, 100, 100));
    EXPECT_EQ(Pixel(ns, 50, 50), 0xFF00C000u);
}

// ---- throttling -------------------------------------------------------------------

// The back-end shows the whole buffer, so its clip rectangle says so: the
// player plays at the movie's rate and draws. The same instance handed an
// empty clip rectangle drops to a few frames a second and draws nothing.
TEST_F(NetscapeHabits, AShownPlayerIsNotThrottledAndPlaysEveryFrame)
{
    auto form = NewPlayerForm();
    auto* ns = dynamic_cast<TkvFlashDriverNS*>(form->Player->Driver);
    ASSERT_NE(ns, nullptr);
    ns->LoadMovie(WriteFile(L"frames.swf", FramesMovie(40)));
    Step(1);
    std::string log = PlayerLog();
    ASSERT_GE(LineOf(log, {"# clip rectangle 0,0,100,100: full rate"}), 0) << log;
    EXPECT_LT(LineOf(log, {"throttled"}), 0) << log;

    const int before = ns->GetCurrentFrame();
    int paints = 0;
    ns->OnPaint = TkvPaintEvent([&](TObject*, const TRect&) { ++paints; });
    Player().ClearLog();
    Step(12);
    log = PlayerLog();
    EXPECT_EQ(ns->GetCurrentFrame() - before, 12) << "twelve ticks, twelve frames\n" << log;
    EXPECT_EQ(CountLines(log, {"frame held"}), 0) << log;
    EXPECT_EQ(CountLines(log, {"paint skipped"}), 0) << log;
    EXPECT_GE(paints, 12);

    // What an empty clip rectangle would cost: four frames a second where
    // the movie asks for twelve, and no drawing at all.
    ns->PluginWindow.clipRect = NPRect{};
    ns->NppSetWindow();
    Player().ClearLog();
    const int throttledFrom = ns->GetCurrentFrame();
    Step(12);
    log = PlayerLog();
    EXPECT_GE(LineOf(log, {"frame held: throttled"}), 0) << log;
    EXPECT_EQ(ns->GetCurrentFrame() - throttledFrom, 4) << log;
    ns->ForceUpdate();
    EXPECT_GE(LineOf(PlayerLog(), {"paint skipped: throttled"}), 0);
    EXPECT_NE(Pixel(ns, 50, 50), 0xFF2080C0u) << "a throttled player draws nothing over the background";

    // The next window reset shows it again.
    ns->ResetWindow();
    EXPECT_EQ(Pixel(ns, 50, 50), 0xFF2080C0u);
    Player().ClearLog();
    const int shownFrom = ns->GetCurrentFrame();
    Step(12);
    EXPECT_EQ(ns->GetCurrentFrame() - shownFrom, 12) << PlayerLog();
}

// ---- the context menu ----------------------------------------------------------------

// The right button opens the player's modal menu from inside NPP_HandleEvent.
// The back-end has no page window to give it, so the player owns the menu
// itself. While the menu's loop runs, another player on the form goes on
// playing and painting from its own timer; after it closes, the first player
// paints as before.
TEST_F(NetscapeHabits, TheMoviesMenuRunsItsLoopWhileOtherPlayersGoOnPainting)
{
    auto form = NewPlayerForm();
    TkvFlashPlayer* first = form->Player;
    first->LoadMovie(WriteFile(L"menu-first.swf", RectMovie(0x3060C0)));
    Step(1);
    auto* second = new TkvFlashPlayer(form.get());
    second->SetPlugin(kvNetscape);
    second->SetTransparent(false);
    second->SetBounds(110, 10, 80, 80);
    second->SetParent(form.get());
    // The second player plays on its own frame timer, as in an application.
    Player().SetManualClock(0);
    struct ClockBack {
        ~ClockBack() { Player().SetManualClock(1); }
    } clockBack;
    second->LoadMovie(WriteFile(L"menu-second.swf", FramesMovie(40)));
    int secondPaints = 0;
    bool menuOpen = false;
    int paintsWhileOpen = 0;
    second->Driver->OnPaint = TkvPaintEvent([&](TObject*, const TRect&) {
        ++secondPaints;
        if (menuOpen)
            ++paintsWhileOpen;
    });
    const DWORD until = GetTickCount() + 5000;
    while (secondPaints == 0 && GetTickCount() < until) {
        Sleep(5);
        Pump();
    }
    ASSERT_GT(secondPaints, 0) << "the second player's timer never ran";

    first->Driver->DisableFlashMenu = false;
    Player().ClearLog();
    {
        const MenuCloser closer([&] {
            menuOpen = LineOf(PlayerLog(), {"# context menu opened"}) >= 0;
            return paintsWhileOpen >= 2;
        });
        first->Driver->MouseDown(mbRight, TShiftState{ssRight}, 40, 40);
        EXPECT_FALSE(closer.TimedOut()) << "the other player did not paint while the menu was open\n" << PlayerLog();
    }
    menuOpen = false;
    const std::string log = PlayerLog();
    RECT wr{};
    GetWindowRect(form->Handle(), &wr);
    const std::string at = std::to_string(wr.left + 10 + 40) + "," + std::to_string(wr.top + 10 + 40);
    const int opened = LineOf(log, {"# context menu opened at " + at + ", owned by the player's own window"});
    const int closed = LineOf(log, {"# context menu closed: nothing"});
    ASSERT_GE(opened, 0) << log;
    ASSERT_GT(closed, opened) << log;
    EXPECT_LT(LineOf(log, {"# context menu closed", "error"}), 0) << log;
    EXPECT_GE(paintsWhileOpen, 2);
    const int press = LineOf(log, {"< NPP_HandleEvent event=0x0204"});
    const int otherTick = LineOf(log, {"> NPN_InvalidateRect"});
    EXPECT_LT(press, opened);
    EXPECT_GT(otherTick, opened) << "the other player's frames ran inside the menu's loop\n" << log;

    // Afterwards the first player paints as before.
    int firstPaints = 0;
    first->Driver->OnPaint = TkvPaintEvent([&](TObject*, const TRect&) { ++firstPaints; });
    static_cast<std::uint32_t*>(first->Driver->Bits)[50 * 100 + 50] = 0x12345678u;
    first->Driver->ForceUpdate();
    EXPECT_EQ(firstPaints, 1);
    EXPECT_EQ(Pixel(first->Driver, 50, 50), 0xFF3060C0u);
    first->Driver->MouseUp(mbRight, TShiftState{}, 40, 40);
}

// ---- streams ---------------------------------------------------------------------------

// A movie large enough to need many pieces: the rectangle movie with an
// unknown tag of `padding` bytes that the player skips.
std::vector<std::uint8_t> PaddedMovie(std::uint32_t colour, size_t padding)
{
    sw::Movie movie(8, 100, 100, 12.0);
    std::vector<std::uint8_t> filler(padding);
    for (size_t i = 0; i < padding; ++i)
        filler[i] = static_cast<std::uint8_t>((i * 131 + i / 251) & 0xFF);
    movie.rawTag(1000, filler, true);
    sw::ShapeBuilder shape(3);
    shape.rectangle(20 * 20, 20 * 20, 60 * 20, 60 * 20, shape.addFill(sw::Rgba::rgb(colour)), 0);
    sw::PlaceObject place;
    place.depth = 1;
    place.character = movie.defineShape(shape);
    movie.place(place);
    movie.showFrame();
    return movie.build();
}

// Checks that the log shows `url`'s body arriving whole, in order, once per
// stream, for both of the player's requests, and that the player took only
// part of what it was offered.
void ExpectDeliveredWhole(const std::string& log, const std::string& url, const std::vector<std::uint8_t>& bytes)
{
    EXPECT_EQ(CountLines(log, {"> NPN_GetURLNotify", url}), 2) << "asked for twice\n" << log;
    EXPECT_GE(LineOf(log, {"# took "}), 0) << "the player took parts of pieces\n" << log;
    const std::string sum = Checksum(bytes);
    EXPECT_GE(LineOf(log, {"# checksum of", url, sum}), 0) << log;
    EXPECT_GE(LineOf(log, {"# second answer for", url, "dropped: " + std::to_string(bytes.size()) + " bytes",
                           sum}),
              0)
        << log;
    int streams = 0;
    for (const StreamSeen& s : StreamsSeen(log)) {
        if (s.url.find(url) == std::string::npos)
            continue;
        ++streams;
        EXPECT_EQ(s.taken, static_cast<std::int64_t>(bytes.size())) << s.url;
        EXPECT_TRUE(s.contiguous) << "each piece starts where the taken bytes ended: " << s.url;
        EXPECT_GE(s.notifyLine, 0);
        EXPECT_GT(s.destroyLine, s.notifyLine);
    }
    EXPECT_EQ(streams, 2) << log;
}

TEST_F(NetscapeHabits, EveryByteOfAFileArrivesOnceInOrderWhenThePlayerTakesPartsAndAsksTwice)
{
    auto form = NewPlayerForm();
    const auto bytes = PaddedMovie(0xA03050, 40000);
    form->Player->LoadMovie(WriteFile(L"padded.swf", bytes));
    Step(1);
    EXPECT_EQ(Pixel(form->Player->Driver, 50, 50), 0xFFA03050u) << PlayerLog();
    ExpectDeliveredWhole(PlayerLog(), "padded.swf", bytes);
}

TEST_F(NetscapeHabits, EveryByteOfAStreamCopyArrivesOnceInOrderWhenThePlayerTakesPartsAndAsksTwice)
{
    auto form = NewPlayerForm();
    const auto bytes = PaddedMovie(0x30A050, 25000);
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    stream.SetPosition(0);
    form->Player->LoadMovieFromStream(&stream);
    Step(1);
    EXPECT_EQ(Pixel(form->Player->Driver, 50, 50), 0xFF30A050u) << PlayerLog();
    ExpectDeliveredWhole(PlayerLog(), "<stream>", bytes);
}

TEST_F(NetscapeHabits, ABodyThePlayerStopsTakingEndsAsFailedNotDone)
{
    auto form = NewPlayerForm();
    const auto bytes = PaddedMovie(0x5030A0, 5000);
    {
        // Every NPP_Write answers -1: the player wants no more of the body.
        const PlayerSetting refuse(L"NPP_Write", 1, L"Fail");
        form->Player->LoadMovie(WriteFile(L"refused.swf", bytes));
        Step(1);
    }
    const std::string log = PlayerLog();
    ASSERT_GE(LineOf(log, {"< NPP_Write url=", "refused.swf"}), 0) << log;
    EXPECT_EQ(CountLines(log, {"< NPP_Write url=", "refused.swf"}),
              CountLines(log, {"< NPP_NewStream", "refused.swf"}))
        << "one refused write per stream, nothing offered again\n" << log;
    EXPECT_GE(LineOf(log, {"< NPP_URLNotify", "refused.swf", "reason=1"}), 0) << log;
    EXPECT_GE(LineOf(log, {"< NPP_DestroyStream", "refused.swf", "reason=1"}), 0) << log;
    EXPECT_LT(LineOf(log, {"< NPP_URLNotify", "refused.swf", "reason=0"}), 0) << log;
}

// ---- typed text ------------------------------------------------------------------------------

TEST_F(NetscapeHabits, TypedLatinCharactersReachTheMoviesFieldAsText)
{
    ASSERT_EQ(GetACP(), 1252u);
    auto form = NewPlayerForm();
    TkvFlashDriver* d = form->Player->Driver;
    d->LoadMovie(WriteFile(L"latin.swf", TextFieldMovie()));
    Step(1);
    d->MouseDown(mbLeft, TShiftState{ssLeft}, 30, 94);  // focus the field
    d->MouseUp(mbLeft, TShiftState{}, 30, 94);
    Player().ClearLog();
    for (wchar_t c : std::wstring(L"Caf\u00E9 \u00DF\u00E4")) {
        wchar_t key = c;
        d->KeyPress(key, TShiftState{});
    }
    const std::string log = PlayerLog();
    EXPECT_GE(LineOf(log, {"# typed U+00E9 read in code page 1252"}), 0) << log;
    EXPECT_GE(LineOf(log, {"# typed U+00DF read in code page 1252"}), 0) << log;
    EXPECT_EQ(d->GetVariable(L"typed"), L"Caf\u00E9 \u00DF\u00E4") << log;
}

// ---- frame numbers ---------------------------------------------------------------------------

TEST_F(NetscapeHabits, FrameNumbersAnsweredAsDoublesReadAsWholeNumbers)
{
    auto form = NewPlayerForm();
    TkvFlashDriver* d = form->Player->Driver;
    d->LoadMovie(WriteFile(L"doubles.swf", FramesMovie(30)));
    Step(1);
    d->StopPlay();
    d->SetCurrentFrame(17);
    Player().ClearLog();
    EXPECT_EQ(d->GetCurrentFrame(), 17);
    EXPECT_EQ(d->GetTotalFrames(), 30);
    const std::string log = PlayerLog();
    EXPECT_GE(LineOf(log, {"# CurrentFrame answered as a double"}), 0) << log;
    EXPECT_GE(LineOf(log, {"# TotalFrames answered as a double"}), 0) << log;
}

}  // namespace
