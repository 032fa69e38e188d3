// Cases that run alone: the keyboard focus, typing, and what a layered form
// shows on the screen, which any other test's window could take away or cover.
#include <gtest/gtest.h>

#include "components_support.h"

using namespace comptest;

// Every case ends with nothing of the players left (BackEndCase).
using PlayerWndFocus = nstest::BackEndCase;
using FlashLayerScreen = nstest::BackEndCase;

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

TEST_F(PlayerWndFocus, TypedKeysReachTheMovieAsTheyAreTyped)
{
    FocusForm f;
    f.player->LoadMovie(WriteFile(L"focus-typing.swf", InputMovie()));
    Step(1);
    f.Press(WM_LBUTTONDOWN, WM_LBUTTONUP, 30, 94);  // the input field, and the focus
    ASSERT_TRUE(f.player->Focused());
    Player().ClearLog();
    SendKey('K');
    SendKey(0, L'\x00E9');  // a character typed without a key of the layout
    const std::string log = PlayerLog();
    EXPECT_TRUE(LogHasEvent(log, WM_KEYDOWN, 'K')) << log;
    EXPECT_TRUE(LogHasEvent(log, WM_KEYUP, 'K')) << log;
    EXPECT_TRUE(LogHasEvent(log, WM_CHAR, 'k')) << log;
    EXPECT_TRUE(LogHasEvent(log, WM_CHAR, 0xE9)) << "one byte in the plug-in's code page: " << log;
    EXPECT_EQ(f.player->GetVariable(L"typed").substr(0, 1), L"k");
}

// Under Wine on an X server without a compositing manager a layered window
// shows fully transparent pixels as holes and the others with their
// premultiplied colour, unblended: only opaque and fully transparent pixels
// are compared. The screen DC gives the picture; PrintWindow and the window's
// own DC do not.
TEST_F(FlashLayerScreen, TheDesktopShowsThroughWhereTheMovieDrawsNothing)
{
    Owned<TForm> backdrop = NewForm(240, 200, bsNone, 20, 20);
    backdrop->SetColor(static_cast<TColor>(RGB(0, 0, 0xC0)));
    backdrop->Show();
    Owned<TForm> form = NewForm(100, 100, bsNone, 80, 70);
    auto* layer = new TkvFlashLayer(form.get());
    layer->SetParent(form.get());
    form->Show();
    layer->LoadMovie(WriteFile(L"screen.swf", RectMovie(0xF0A000)));
    Step(1);
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
TEST_F(FlashLayerScreen, AFormLayeredBySomeoneElseShowsTheMovieAndIsGivenBackAsItWas)
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
        layer->LoadMovie(WriteFile(L"taken.swf", RectMovie(0xF0A000)));
        Step(1);
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

}  // namespace
