// Cases that run alone: the keyboard focus, typing, and what a transparent
// player and a layered form show on the screen, which any other test's window
// could take away or cover. What plays a movie runs on both back-ends.
#include <gtest/gtest.h>

#include <cstdlib>

#include "components_support.h"

using namespace comptest;

// Every case ends with nothing of the players left (BackEndCase).
using PlayerWndFocus = nstest::BackEndCase;
class PlayerWndFocusOn : public BothBackEnds {};
class FlashLayerScreenOn : public BothBackEnds {};
class PlayerScreenOn : public BothBackEnds {};
INSTANTIATE_TEST_SUITE_P(BothBackEnds, PlayerWndFocusOn, ::testing::ValuesIn(kBothBackEnds), BackEndName);
INSTANTIATE_TEST_SUITE_P(BothBackEnds, FlashLayerScreenOn, ::testing::ValuesIn(kBothBackEnds), BackEndName);
INSTANTIATE_TEST_SUITE_P(BothBackEnds, PlayerScreenOn, ::testing::ValuesIn(kBothBackEnds), BackEndName);

namespace {

void SendKey(WORD vk, wchar_t unicode = 0)
{
    INPUT in[2]{};
    for (INPUT& i : in) {
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = vk;
        i.ki.wScan = unicode;
        i.ki.dwFlags = unicode ? KEYEVENTF_UNICODE : 0;
    }
    in[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(2, in, sizeof(INPUT));
    Pump();
}

// A shown foreground form: a focusable neighbour and a windowed player.
struct FocusForm {
    Owned<TForm> form = NewForm(220, 150);
    TCustomControl* other = new TCustomControl(form.get());
    TkvFlashPlayerWnd* player = new TkvFlashPlayerWnd(form.get());
    FocusForm()
    {
        other->SetBounds(120, 10, 40, 40);
        other->SetTabStop(true);
        other->SetParent(form.get());
        player->SetBounds(10, 10, 100, 100);
        player->SetParent(form.get());
        form->Show();
        SetForegroundWindow(form->Handle());
        Pump();
    }
    void Press(UINT down, UINT up, int x, int y)
    {
        other->SetFocus();
        Pump();
        PostMessageW(player->Handle(), down, down == WM_LBUTTONDOWN ? MK_LBUTTON : MK_RBUTTON, MAKELPARAM(x, y));
        PostMessageW(player->Handle(), up, 0, MAKELPARAM(x, y));
        Pump();
    }
};

TEST_F(PlayerWndFocus, EveryPressTakesTheFocusWhichKeepsTabAndArrowsForTheMovie)
{
    DriverScope recorder;
    FocusForm f;
    f.Press(WM_LBUTTONDOWN, WM_LBUTTONUP, 20, 30);
    EXPECT_TRUE(f.player->Focused());
    TInputRecorder::Log.clear();
    f.Press(WM_RBUTTONDOWN, WM_RBUTTONUP, 40, 50);
    EXPECT_TRUE(f.player->Focused()) << "the right button too";
    EXPECT_EQ(TInputRecorder::Log.front(), L"MouseDown 1 40,50") << "the driver decides what the movie's menu gets";

    TInputRecorder::Log.clear();
    for (WPARAM key : {VK_TAB, VK_RIGHT, VK_DOWN})
        PostMessageW(f.player->Handle(), WM_KEYDOWN, key, 1);
    Pump();
    EXPECT_TRUE(f.player->Focused()) << "the focus stayed";
    EXPECT_EQ(TInputRecorder::Log, (std::vector<std::wstring>{L"KeyDown 9", L"KeyDown 39", L"KeyDown 40"}));
}

TEST_P(PlayerWndFocusOn, TypedKeysReachTheMovieAsTheyAreTyped)
{
    FocusForm f;
    Use(f.player);
    f.player->LoadMovie(WriteFile(L"focus-typing.swf", InputMovie()));
    Steps(1);
    f.Press(WM_LBUTTONDOWN, WM_LBUTTONUP, 30, 94);  // the input field, and the focus
    ASSERT_TRUE(f.player->Focused());
    ClearLog();
    SendKey('K');
    SendKey(0, L'\x00E9');  // a character typed without a key of the layout
    const std::string log = Log();
    EXPECT_TRUE(LogHasEvent(backEnd(), log, WM_KEYDOWN, 'K')) << log;
    EXPECT_TRUE(LogHasEvent(backEnd(), log, WM_KEYUP, 'K')) << log;
    EXPECT_TRUE(LogHasEvent(backEnd(), log, WM_CHAR, 'k')) << log;
    EXPECT_TRUE(LogHasEvent(backEnd(), log, WM_CHAR, 0xE9)) << "one byte in the player's code page: " << log;
    EXPECT_EQ(f.player->GetVariable(L"typed").substr(0, 1), L"k");
}

// Under Wine on an X server without a compositing manager a layered window
// shows fully transparent pixels as holes and the others with their
// premultiplied colour, unblended: only opaque and fully transparent pixels
// are compared. The screen DC gives the picture; PrintWindow and the window's
// own DC do not.
TEST_P(FlashLayerScreenOn, TheDesktopShowsThroughWhereTheMovieDrawsNothing)
{
    Owned<TForm> backdrop = NewForm(240, 200, bsNone, 20, 20);
    backdrop->SetColor(static_cast<TColor>(RGB(0, 0, 0xC0)));
    backdrop->Show();
    Owned<TForm> form = NewForm(100, 100, bsNone, 80, 70);
    auto* layer = new TkvFlashLayer(form.get());
    layer->SetParent(form.get());
    form->Show();
    Use(layer);
    layer->LoadMovie(WriteFile(L"screen.swf", RectMovie(0xF0A000)));
    Steps(1);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetPixel(screen, 80 + 50, 70 + 50), RGB(0xF0, 0xA0, 0x00)) << "the movie";
    EXPECT_EQ(GetPixel(screen, 80 + 5, 70 + 5), RGB(0, 0, 0xC0)) << "the backdrop through the movie's stage";
    EXPECT_EQ(GetPixel(screen, 25, 25), RGB(0, 0, 0xC0)) << "beside the form";
    ReleaseDC(nullptr, screen);
}

// A form someone else made layered, either with the style alone (it shows
// nothing until it gets a picture) or through SetLayeredWindowAttributes: the
// layer takes it over, and when it leaves (freed, or moved away) the form has
// its style and attributes as they were.
TEST_P(FlashLayerScreenOn, AFormLayeredBySomeoneElseShowsTheMovieAndIsGivenBackAsItWas)
{
    Owned<TForm> backdrop = NewForm(240, 200, bsNone, 20, 20);
    backdrop->SetColor(static_cast<TColor>(RGB(0, 0, 0xC0)));
    backdrop->Show();
    for (bool withAttributes : {false, true}) {
        SCOPED_TRACE(withAttributes ? "SetLayeredWindowAttributes" : "the style alone");
        // Each form over a part of the backdrop of its own: a place a form has just left
        // may not have been drawn again yet.
        const int x = withAttributes ? 140 : 30;
        Owned<TForm> form = NewForm(100, 100, bsNone, x, 70);
        HWND wnd = form->Handle();
        SetWindowLongPtrW(wnd, GWL_EXSTYLE, GetWindowLongPtrW(wnd, GWL_EXSTYLE) | WS_EX_LAYERED);
        if (withAttributes) {
            ASSERT_TRUE(SetLayeredWindowAttributes(wnd, RGB(1, 2, 3), 200, LWA_ALPHA));
        }
        const LONG_PTR style = GetWindowLongPtrW(wnd, GWL_EXSTYLE);
        COLORREF key = 0;
        BYTE alpha = 0;
        DWORD flags = 0;
        const BOOL hadAttributes = GetLayeredWindowAttributes(wnd, &key, &alpha, &flags);
        ASSERT_EQ(hadAttributes != FALSE, withAttributes);
        form->Show();

        auto* layer = new TkvFlashLayer(form.get());
        layer->SetParent(form.get());
        Use(layer);
        layer->LoadMovie(WriteFile(L"taken.swf", RectMovie(0xF0A000)));
        Steps(1);
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(GetPixel(screen, x + 50, 70 + 50), RGB(0xF0, 0xA0, 0x00)) << "the movie";
        EXPECT_EQ(GetPixel(screen, x + 5, 70 + 5), RGB(0, 0, 0xC0)) << "the backdrop through the movie's stage";
        ReleaseDC(nullptr, screen);

        if (withAttributes) {
            auto* box = new TCustomControl(form.get());
            box->SetParent(form.get());
            layer->SetParent(box);
        } else {
            Free(layer);
        }
        Pump();
        EXPECT_EQ(GetWindowLongPtrW(wnd, GWL_EXSTYLE), style);
        COLORREF keyAfter = 0;
        BYTE alphaAfter = 0;
        DWORD flagsAfter = 0;
        const BOOL hasAttributes = GetLayeredWindowAttributes(wnd, &keyAfter, &alphaAfter, &flagsAfter);
        EXPECT_EQ(hasAttributes != FALSE, hadAttributes != FALSE);
        if (hasAttributes && hadAttributes) {
            EXPECT_EQ(keyAfter, key);
            EXPECT_EQ(alphaAfter, alpha);
            EXPECT_EQ(flagsAfter, flags);
        }
    }
}

// The default component over a patterned form: a transparent graphic player
// whose movie draws a half-transparent rectangle on a stage it leaves empty.
// Read back from the screen, the pattern shows unchanged around the
// rectangle and blended with it (within rounding) under it.
TEST_P(PlayerScreenOn, ATransparentPlayerShowsItsFormThroughTheMovieBlended)
{
    constexpr int kLeft = 30, kTop = 40, kPlayerX = 20, kPlayerY = 20;
    constexpr std::uint32_t kMovie = 0x30C060;
    constexpr int kAlpha = 0x80;
    // A checkerboard of 4 x 3 cells.
    auto pattern = [](int x, int y) -> std::uint32_t { return (x / 4 + y / 3) % 2 ? 0xE04020u : 0x2060D0u; };
    Owned<TForm> form = NewForm(160, 140, bsNone, kLeft, kTop);
    form->OnPaint = TNotifyEvent([&](TObject*) {
        HDC dc = form->Canvas()->Handle();
        for (int y = 0; y < 140; y += 3)
            for (int x = 0; x < 160; x += 4) {
                const std::uint32_t c = pattern(x, y);
                HBRUSH brush = CreateSolidBrush(RGB(c >> 16, (c >> 8) & 0xFF, c & 0xFF));
                const RECT cell{x, y, x + 4, y + 3};
                FillRect(dc, &cell, brush);
                DeleteObject(brush);
            }
    });
    auto* player = new TkvFlashPlayer(form.get());
    ASSERT_TRUE(player->GetTransparent()) << "transparent as made";
    player->SetBounds(kPlayerX, kPlayerY, 100, 100);
    player->SetParent(form.get());
    form->Show();
    SetForegroundWindow(form->Handle());
    Pump();
    Use(player);
    player->LoadMovie(WriteFile(L"screen-blend.swf", RectMovie(kMovie, kAlpha)));
    Steps(1);
    Pump();

    // The form's client area as the screen shows it.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 160;
    info.bmiHeader.biHeight = -140;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(dib, nullptr);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, 160, 140, screen, kLeft, kTop, SRCCOPY);
    GdiFlush();
    std::vector<std::uint32_t> shown(static_cast<const std::uint32_t*>(bits),
                                     static_cast<const std::uint32_t*>(bits) + 160 * 140);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    DeleteObject(dib);

    int wrong = 0, blended = 0, through = 0;
    for (int y = 0; y < 140; ++y)
        for (int x = 0; x < 160; ++x) {
            const int px = x - kPlayerX, py = y - kPlayerY;
            // The rectangle's edges may be smoothed: only its inside and the
            // stage clear of it are compared.
            const bool under = px > 20 && px < 79 && py > 20 && py < 79;
            const bool edge = px >= 19 && px <= 80 && py >= 19 && py <= 80 && !under;
            if (edge)
                continue;
            const std::uint32_t p = pattern(x, y), got = shown[y * 160 + x] & 0xFFFFFF;
            std::uint32_t want = p;
            bool ok = got == p;
            if (under) {
                ok = true;
                want = 0;
                for (int shift : {16, 8, 0}) {
                    const int m = (kMovie >> shift) & 0xFF, b = (p >> shift) & 0xFF;
                    const int exact = (m * kAlpha + b * (255 - kAlpha) + 127) / 255;
                    want |= static_cast<std::uint32_t>(exact) << shift;
                    ok = ok && std::abs(static_cast<int>((got >> shift) & 0xFF) - exact) <= 1;
                }
                ++blended;
            } else {
                ++through;
            }
            if (!ok && ++wrong <= 5)
                ADD_FAILURE() << "at (" << x << ", " << y << ") of the form: 0x" << std::hex << got << ", wanted 0x"
                              << want << (under ? " (blended)" : " (the pattern)");
        }
    EXPECT_EQ(wrong, 0) << Log();
    EXPECT_GT(blended, 50 * 50);
    EXPECT_GT(through, 160 * 140 - 100 * 100);
}

}  // namespace
