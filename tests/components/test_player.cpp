// Every player component on both back-ends, through the reference players:
// the graphic player resized and switched between transparent and opaque
// while it plays, each component at design time, and input as the player
// receives it (the player's call log).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "components_support.h"

using namespace comptest;

namespace {

class GraphicPlayerOn : public BothBackEnds {};
class DesignTimeOn : public BothBackEnds {};
class InputOn : public BothBackEnds {};

constexpr std::uint32_t kFormColour = 0x306090, kPlayerColour = 0x404040;

std::uint32_t Opaque(std::uint32_t rgb) { return 0xFF000000u | rgb; }
COLORREF Screen(std::uint32_t rgb) { return RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// A shown form (client 200 x 150, colour kFormColour) with an opaque graphic
// player of 100 x 100 at (10, 10).
struct GraphicForm {
    Owned<TForm> form = NewForm(200, 150);
    TkvFlashPlayer* player = new TkvFlashPlayer(form.get());
    explicit GraphicForm(TFormBorderStyle border = bsSizeable)
    {
        form->SetBorderStyle(border);
        form->SetClientSize(200, 150);
        form->SetColor(static_cast<TColor>(Screen(kFormColour)));
        player->SetTransparent(false);
        player->SetColor(static_cast<TColor>(Screen(kPlayerColour)));
        player->SetBounds(10, 10, 100, 100);
        player->SetParent(form.get());
    }
    void Show()
    {
        form->Show();
        Pump();
    }
};

// Two frames of a 100 x 100 movie: a `first` rectangle over (20, 20)-(80, 80)
// that the second frame replaces with a `second` one.
std::vector<std::uint8_t> TwoFrameMovie(std::uint32_t first, std::uint32_t second)
{
    sw::Movie movie(8, 100, 100, 12.0);
    std::uint16_t ids[2];
    for (int i = 0; i < 2; ++i) {
        sw::ShapeBuilder shape(3);
        shape.rectangle(20 * 20, 20 * 20, 60 * 20, 60 * 20, shape.addFill(sw::Rgba::rgb(i ? second : first)), 0);
        ids[i] = movie.defineShape(shape);
    }
    sw::PlaceObject p;
    p.depth = 1;
    p.character = ids[0];
    movie.place(p);
    movie.showFrame();
    p.move = true;
    p.character = ids[1];
    movie.place(p);
    movie.showFrame();
    return movie.build();
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(BothBackEnds, GraphicPlayerOn, ::testing::ValuesIn(kBothBackEnds), BackEndName);
INSTANTIATE_TEST_SUITE_P(BothBackEnds, DesignTimeOn, ::testing::ValuesIn(kBothBackEnds), BackEndName);
INSTANTIATE_TEST_SUITE_P(BothBackEnds, InputOn, ::testing::ValuesIn(kBothBackEnds), BackEndName);

TEST_P(GraphicPlayerOn, ALivePlayerFollowsResizingAndTransparencySwitches)
{
    GraphicForm f;
    f.Show();
    Use(f.player);
    TkvFlashDriver* d = f.player->Driver;
    f.player->LoadMovie(WriteFile(L"live-switches.swf", RectMovie(0xC02020)));
    Steps(1);
    EXPECT_EQ(Pixel(d, 5, 5), Opaque(kPlayerColour)) << Log();
    EXPECT_EQ(Pixel(d, 50, 50), Opaque(0xC02020));
    HWND wnd = f.form->Handle();
    EXPECT_EQ(WindowPixel(wnd, 15, 15), Screen(kPlayerColour));

    // Transparent: the whole buffer is drawn again over the form's picture
    // (which the form paints as GDI does, with no alpha).
    f.player->SetTransparent(true);
    EXPECT_EQ(f.player->Driver, d);
    EXPECT_EQ(Pixel(d, 5, 5), kFormColour);
    EXPECT_EQ(Pixel(d, 50, 50), Opaque(0xC02020));
    Steps(1);
    EXPECT_EQ(WindowPixel(wnd, 15, 15), Screen(kFormColour));
    EXPECT_EQ(WindowPixel(wnd, 60, 60), Screen(0xC02020));
    // And back: the player's colour under the movie again.
    f.player->SetTransparent(false);
    EXPECT_EQ(Pixel(d, 5, 5), Opaque(kPlayerColour));
    EXPECT_EQ(Pixel(d, 50, 50), Opaque(0xC02020));

    // Resized while it plays: the same driver, a buffer of the new size,
    // the movie drawn into it on the next frame (scaled, centred), the
    // player's colour to its edges.
    f.player->SetBounds(10, 10, 160, 120);
    EXPECT_EQ(f.player->Driver, d);
    ASSERT_TRUE(d->Width == 160 && d->Height == 120) << d->Width << " x " << d->Height;
    Steps(1);
    EXPECT_EQ(Pixel(d, 80, 60), Opaque(0xC02020)) << Log();
    EXPECT_EQ(Pixel(d, 1, 1), Opaque(kPlayerColour));
    EXPECT_EQ(Pixel(d, 159, 119), Opaque(kPlayerColour));
    EXPECT_EQ(WindowPixel(wnd, 10 + 80, 10 + 60), Screen(0xC02020));
    EXPECT_EQ(WindowPixel(wnd, 10 + 158, 10 + 118), Screen(kPlayerColour));
    // Smaller again, and transparent while smaller.
    f.player->SetBounds(10, 10, 50, 40);
    f.player->SetTransparent(true);
    ASSERT_TRUE(d->Width == 50 && d->Height == 40);
    Steps(1);
    EXPECT_EQ(Pixel(d, 25, 20), Opaque(0xC02020));
    EXPECT_EQ(Pixel(d, 1, 1), kFormColour);
    EXPECT_EQ(WindowPixel(wnd, 10 + 55, 10 + 20), Screen(kFormColour)) << "the form beside the smaller player";
}

// At design time a player loads its movie and pauses it at once; new frames
// are not shown (the graphic and windowed players show the buffer when
// their window is painted, which also gives the driver their hooks again),
// and the off-screen player raises no OnPaint.
TEST_P(DesignTimeOn, EachPlayerPausesAfterLoadingAndShowsNoFrames)
{
    const char* const stopPlay = activeX() ? "< IkvFlashPlayer.StopPlay" : "< invoke StopPlay";
    const std::wstring movie = WriteFile(L"designed.swf", TwoFrameMovie(0x20C040, 0xE0A010));

    // Checks what a player at design time shows and how its hooks come back.
    auto checkShown = [&](TkvFlashDriver* d, HWND wnd, int x, int y, std::uint32_t before) {
        // The first frame is in the buffer, and stays there: paused.
        EXPECT_EQ(Pixel(d, 50, 50), Opaque(0x20C040)) << Log();
        Steps(2);
        EXPECT_EQ(Pixel(d, 50, 50), Opaque(0x20C040)) << "paused";
        EXPECT_EQ(WindowPixel(wnd, x, y), Screen(before)) << "no frame is shown by itself";
        // A repaint shows the buffer and hands the driver its hooks again.
        d->OnPaint = TkvPaintEvent();
        d->OnEraseBackground = TkvEraseBackgroundEvent();
        InvalidateRect(wnd, nullptr, TRUE);
        EXPECT_EQ(WindowPixel(wnd, x, y), Screen(0x20C040));
        EXPECT_TRUE(d->OnPaint.Assigned());
        EXPECT_TRUE(d->OnEraseBackground.Assigned());
    };

    {
        SCOPED_TRACE("TkvFlashPlayer");
        GraphicForm f;
        f.form->SetDesigning(true);
        f.Show();
        Use(f.player);
        Pump();
        ClearLog();
        f.player->LoadMovie(movie);
        EXPECT_GE(LineOf(Log(), {stopPlay}), 0) << Log();
        EXPECT_FALSE(f.player->GetIsPlaying());
        checkShown(f.player->Driver, f.form->Handle(), 10 + 50, 10 + 50, kPlayerColour);
    }
    {
        SCOPED_TRACE("TkvFlashPlayerWnd");
        Owned<TForm> form = NewForm(200, 150);
        auto* wnd = new TkvFlashPlayerWnd(form.get());
        wnd->SetBounds(10, 10, 100, 100);
        wnd->SetColor(static_cast<TColor>(Screen(kPlayerColour)));
        wnd->SetParent(form.get());
        form->SetDesigning(true);
        form->Show();
        Pump();
        Use(wnd);
        Pump();
        ClearLog();
        wnd->LoadMovie(movie);
        EXPECT_GE(LineOf(Log(), {stopPlay}), 0) << Log();
        EXPECT_FALSE(wnd->GetIsPlaying());
        checkShown(wnd->Driver, wnd->Handle(), 50, 50, kPlayerColour);
    }
    {
        SCOPED_TRACE("TkvFlashPlayerComp");
        Owned<TForm> form = NewForm(200, 150);
        auto* comp = new TkvFlashPlayerComp(form.get());
        form->SetDesigning(true);
        Use(comp);
        int painted = 0;
        comp->OnPaint = TkvPaintEvent([&](TObject*, const TRect&) { ++painted; });
        ClearLog();
        comp->LoadMovie(movie);
        EXPECT_GE(LineOf(Log(), {stopPlay}), 0) << Log();
        EXPECT_FALSE(comp->GetIsPlaying());
        EXPECT_EQ(static_cast<std::uint32_t*>(comp->GetScanline(50))[50], Opaque(0x20C040)) << "drawn all the same";
        Steps(2);
        comp->Driver->ForceUpdate();
        EXPECT_EQ(static_cast<std::uint32_t*>(comp->GetScanline(50))[50], Opaque(0x20C040)) << "paused";
        EXPECT_EQ(painted, 0);
    }
    {
        SCOPED_TRACE("TkvFlashLayer");
        LayerRecorder recorder;
        Owned<TForm> form = NewForm(100, 100, bsNone, 60, 50);
        auto* layer = new TkvFlashLayer(form.get());
        layer->SetParent(form.get());
        form->SetDesigning(true);
        form->Show();
        Pump();
        Use(layer);
        ClearLog();
        layer->LoadMovie(movie);
        EXPECT_GE(LineOf(Log(), {stopPlay}), 0) << Log();
        EXPECT_FALSE(layer->GetIsPlaying());
        Steps(2);
        EXPECT_EQ(Pixel(layer->Driver, 50, 50) & 0x00FFFFFFu, 0x20C040u) << "paused";
        EXPECT_TRUE(recorder.Calls().empty()) << "nothing goes to the screen as a layer";
    }
}

namespace {

// Lines of the player's log that tell it received the window message `msg`
// with exactly these parameters, as each player logs them.
std::string Received(TkvPlugin backEnd, UINT msg, std::uint32_t wParam, std::uint32_t lParam)
{
    char line[160];
    if (backEnd == kvActiveX) {
        const char* name = msg == WM_MOUSEWHEEL     ? "WM_MOUSEWHEEL"
                           : msg == WM_MOUSEMOVE    ? "WM_MOUSEMOVE"
                           : msg == WM_LBUTTONDOWN  ? "WM_LBUTTONDOWN"
                           : msg == WM_RBUTTONDOWN  ? "WM_RBUTTONDOWN"
                           : msg == WM_RBUTTONUP    ? "WM_RBUTTONUP"
                           : msg == WM_KEYDOWN      ? "WM_KEYDOWN"
                           : msg == WM_KEYUP        ? "WM_KEYUP"
                           : msg == WM_SETCURSOR    ? "WM_SETCURSOR"
                                                    : "?";
        std::snprintf(line, sizeof line, "< IOleInPlaceObjectWindowless.OnWindowMessage %s wParam=%u lParam=0x%08X",
                      name, wParam, lParam);
    } else {
        std::snprintf(line, sizeof line, "< NPP_HandleEvent event=0x%04X wParam=%u lParam=%u", msg, wParam, lParam);
    }
    return line;
}

// The index of the line of `log` that is exactly `line`, or -1.
int ExactLine(const std::string& log, const std::string& line)
{
    int index = 0;
    for (size_t start = 0; start <= log.size(); ++index) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        std::string_view l(log.data() + start, end - start);
        if (!l.empty() && l.back() == '\r')
            l.remove_suffix(1);
        if (l == line)
            return index;
        if (end == log.size())
            break;
        start = end + 1;
    }
    return -1;
}

constexpr std::uint32_t MakeLong(int low, int high)
{
    return static_cast<std::uint32_t>(static_cast<std::uint16_t>(low)) |
           static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16;
}

}  // namespace

// The off-screen player's calls give the exact input: the key-state flags of
// Ctrl, Shift and the buttons (Alt only for the control), the wheel's delta in
// the high word, positions cut to 16 bits each, and the key codes as given
// (the control takes a key it handled: the key is then 0).
TEST_P(InputOn, TheOffScreenPlayersCallsReachThePlayerEncoded)
{
    Owned<TkvFlashPlayerComp> comp(new TkvFlashPlayerComp(nullptr));
    Use(comp.get());
    comp->LoadMovie(WriteFile(L"input-codes.swf", InputMovie()));
    Steps(1);
    ClearLog();
    const std::uint32_t alt = activeX() ? 0x20 : 0;

    bool handled = false;
    comp->CallMouseWheel(TShiftState{ssShift, ssCtrl}, 30, 40, -120, handled);
    EXPECT_FALSE(handled) << "left as it was";
    comp->CallMouseWheel(TShiftState{ssAlt, ssLeft}, 31, 41, 240, handled);
    comp->CallMouseMove(TShiftState{ssRight}, -3, 7);
    comp->CallMouseDown(mbLeft, TShiftState{ssLeft, ssShift, ssAlt}, 5, 6);
    std::uint16_t down = 'A', up = 'Z';
    comp->CallKeyDown(down, TShiftState{ssCtrl});
    comp->CallKeyUp(up, TShiftState{ssShift, ssAlt});
    const std::string log = Log();
    const std::vector<std::string> expected = {
        Received(backEnd(), WM_MOUSEWHEEL, MakeLong(MK_SHIFT | MK_CONTROL, -120), MakeLong(30, 40)),
        Received(backEnd(), WM_MOUSEWHEEL, MakeLong(MK_LBUTTON | alt, 240), MakeLong(31, 41)),
        Received(backEnd(), WM_MOUSEMOVE, MK_RBUTTON, MakeLong(-3, 7)),
        Received(backEnd(), WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT | alt, MakeLong(5, 6)),
        Received(backEnd(), WM_KEYDOWN, 'A', MK_CONTROL),
        Received(backEnd(), WM_KEYUP, 'Z', MK_SHIFT | alt),
    };
    int last = -1;
    for (const std::string& line : expected) {
        const int at = ExactLine(log, line);
        EXPECT_GT(at, last) << line << "\n" << log;
        last = std::max(last, at);
    }
    if (activeX()) {
        // Each mouse message the control took is followed by the cursor's.
        EXPECT_EQ(CountLines(log, {Received(backEnd(), WM_SETCURSOR, 0, MakeLong(HTCLIENT, WM_MOUSEMOVE))}), 2)
            << "after the move and the press; the wheel is not taken\n" << log;
        EXPECT_TRUE(down == 0 && up == 0) << "keys the control took";
    } else {
        EXPECT_TRUE(down == 'A' && up == 'Z');
    }
}

// A right press on the graphic player: with the menu enabled the plug-in gets
// screen coordinates (the parent window's rectangle plus the player's place
// in it), the control the parent window's client coordinates and, once, the
// parent window; with the menu disabled the plug-in gets no press at all and
// the control an unmoved one and no window. The release is never moved. The
// wheel arrives with the screen position the framework gives.
TEST_P(InputOn, TheGraphicPlayersRightButtonAndWheelReachThePlayerEncoded)
{
    GraphicForm f;
    f.Show();
    Use(f.player);
    f.player->LoadMovie(WriteFile(L"input-right.swf", InputMovie()));
    Steps(1);
    HWND wnd = f.form->Handle();
    RECT window{};
    GetWindowRect(wnd, &window);
    POINT client{0, 0};
    ClientToScreen(wnd, &client);

    f.player->SetDisableFlashMenu(false);
    ClearLog();
    {
        MenuCloser closer;
        SendMessageW(wnd, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(10 + 30, 10 + 40));
    }
    SendMessageW(wnd, WM_RBUTTONUP, 0, MAKELPARAM(10 + 30, 10 + 40));
    std::string log = Log();
    const std::uint32_t pressedAt =
        activeX() ? MakeLong(10 + 30, 10 + 40) : MakeLong(window.left + 10 + 30, window.top + 10 + 40);
    const int press = ExactLine(log, Received(backEnd(), WM_RBUTTONDOWN, MK_RBUTTON, pressedAt));
    EXPECT_GE(press, 0) << log;
    EXPECT_GT(ExactLine(log, Received(backEnd(), WM_RBUTTONUP, 0, MakeLong(30, 40))), press) << log;
    if (activeX()) {
        EXPECT_GE(LineOf(log, {"context menu at (40,50) over the container's window"}), 0) << log;
    }

    f.player->SetDisableFlashMenu(true);
    ClearLog();
    SendMessageW(wnd, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(10 + 30, 10 + 40));
    SendMessageW(wnd, WM_RBUTTONUP, 0, MAKELPARAM(10 + 30, 10 + 40));
    log = Log();
    if (activeX()) {
        EXPECT_GE(ExactLine(log, Received(backEnd(), WM_RBUTTONDOWN, MK_RBUTTON, MakeLong(30, 40))), 0) << log;
        EXPECT_GE(LineOf(log, {"context menu at (30,40) without a window"}), 0) << log;
    } else {
        EXPECT_LT(LineOf(log, {"event=0x0204 "}), 0) << log;
    }
    EXPECT_GE(ExactLine(log, Received(backEnd(), WM_RBUTTONUP, 0, MakeLong(30, 40))), 0) << log;

    // The wheel over the player, at a screen position.
    ClearLog();
    const int sx = client.x + 10 + 25, sy = client.y + 10 + 35;
    SendMessageW(wnd, WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, static_cast<WORD>(-240)), MAKELPARAM(sx, sy));
    log = Log();
    EXPECT_GE(ExactLine(log, Received(backEnd(), WM_MOUSEWHEEL, MakeLong(MK_CONTROL, -240), MakeLong(sx, sy))), 0)
        << log;
}

// The windowed player's keys carry Alt from the key data (the control's
// flags have it, the plug-in's do not); a key the control takes reaches the
// framework's OnKeyDown as 0, while the plug-in leaves it as it was. Its right press goes to the plug-in at screen
// coordinates (its window's own rectangle) and unmoved to the control.
TEST_P(InputOn, TheWindowedPlayersKeysAndRightButtonReachThePlayerEncoded)
{
    Owned<TForm> form = NewForm(200, 150);
    auto* wnd = new TkvFlashPlayerWnd(form.get());
    wnd->SetBounds(10, 10, 100, 100);
    wnd->SetParent(form.get());
    form->Show();
    Pump();
    Use(wnd);
    wnd->LoadMovie(WriteFile(L"input-wnd.swf", InputMovie()));
    Steps(1);
    std::vector<std::uint16_t> framework;
    wnd->OnKeyDown = TKeyEvent([&](TObject*, std::uint16_t& k, TShiftState) { framework.push_back(k); });
    HWND h = wnd->Handle();

    ClearLog();
    SendMessageW(h, WM_KEYDOWN, 'Q', 1 | LPARAM(1) << 29);
    SendMessageW(h, WM_KEYUP, 'Q', static_cast<LPARAM>(0xC0000001u));  // released, was down
    std::string log = Log();
    const std::uint32_t alt = activeX() ? 0x20 : 0;
    const int down = ExactLine(log, Received(backEnd(), WM_KEYDOWN, 'Q', alt));
    EXPECT_GE(down, 0) << log;
    EXPECT_GT(ExactLine(log, Received(backEnd(), WM_KEYUP, 'Q', 0)), down) << log;
    EXPECT_EQ(framework, std::vector<std::uint16_t>{activeX() ? std::uint16_t(0) : std::uint16_t('Q')});

    wnd->SetDisableFlashMenu(false);
    ClearLog();
    {
        MenuCloser closer;
        SendMessageW(h, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(30, 40));
    }
    log = Log();
    POINT screen{30, 40};
    ClientToScreen(h, &screen);
    const std::uint32_t pressedAt = activeX() ? MakeLong(30, 40) : MakeLong(screen.x, screen.y);
    EXPECT_GE(ExactLine(log, Received(backEnd(), WM_RBUTTONDOWN, MK_RBUTTON, pressedAt)), 0) << log;
    if (activeX()) {
        EXPECT_GE(LineOf(log, {"context menu at (30,40) over the container's window"}), 0) << log;
    }
}
