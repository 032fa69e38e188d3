// The windowed and the off-screen players: painting through the window,
// colour changes, keys for the driver, pixels with alpha, stored forms; what
// plays a movie runs on both back-ends. (The movie's own reaction to typing
// and clicks is in test_serial.cpp.)
#include <gtest/gtest.h>

#include "components_support.h"

using namespace comptest;

// Every case ends with nothing of the players left (BackEndCase).
using PlayerWnd = nstest::BackEndCase;
using StoredComponents = nstest::BackEndCase;
class PlayerWndOn : public BothBackEnds {};
class PlayerCompOn : public BothBackEnds {};
INSTANTIATE_TEST_SUITE_P(BothBackEnds, PlayerWndOn, ::testing::ValuesIn(kBothBackEnds), BackEndName);
INSTANTIATE_TEST_SUITE_P(BothBackEnds, PlayerCompOn, ::testing::ValuesIn(kBothBackEnds), BackEndName);

namespace {

// A shown form with a windowed player of 100 x 100 at (10, 10).
struct WndForm {
    Owned<TForm> form = NewForm(200, 150);
    TkvFlashPlayerWnd* player = new TkvFlashPlayerWnd(form.get());
    explicit WndForm(COLORREF colour = RGB(0x20, 0x40, 0x60))
    {
        player->SetBounds(10, 10, 100, 100);
        player->SetColor(static_cast<TColor>(colour));
        player->SetParent(form.get());
        form->Show();
        Pump();
    }
};

TEST_P(PlayerWndOn, ItsWindowShowsTheMovieOverItsColourAndFollowsColourChangesAndResizing)
{
    WndForm f;
    TkvFlashDriver* d = Use(f.player)->Driver;
    f.player->LoadMovie(WriteFile(L"wnd-rect.swf", RectMovie(0x3366CC)));
    Steps(1);
    HWND wnd = f.player->Handle();
    EXPECT_EQ(WindowPixel(wnd, 5, 5), RGB(0x20, 0x40, 0x60));
    EXPECT_EQ(WindowPixel(wnd, 50, 50), RGB(0x33, 0x66, 0xCC));
    f.player->SetColor(static_cast<TColor>(RGB(0x90, 0x10, 0x10)));
    Pump();
    EXPECT_EQ(Pixel(d, 5, 5), 0xFF901010u) << "the background is redrawn, opaque, under the movie";
    EXPECT_EQ(WindowPixel(wnd, 5, 5), RGB(0x90, 0x10, 0x10));
    EXPECT_EQ(WindowPixel(wnd, 50, 50), RGB(0x33, 0x66, 0xCC));

    // Resized while it plays: the same driver, a buffer of the new size, the
    // movie scaled into it with the next frame and the colour to its edges.
    f.player->SetBounds(10, 10, 150, 120);
    EXPECT_EQ(f.player->Driver, d);
    ASSERT_TRUE(d->Width == 150 && d->Height == 120) << d->Width << " x " << d->Height;
    Steps(1);
    EXPECT_EQ(WindowPixel(wnd, 75, 60), RGB(0x33, 0x66, 0xCC)) << Log();
    EXPECT_EQ(WindowPixel(wnd, 148, 118), RGB(0x90, 0x10, 0x10));
    EXPECT_EQ(WindowPixel(wnd, 1, 1), RGB(0x90, 0x10, 0x10));
}

TEST_F(PlayerWnd, WithoutAFlashPlayerTheWindowShowsItsColour)
{
    DriverScope noPlayer(true);
    WndForm f(RGB(0x11, 0x99, 0x22));
    EXPECT_EQ(WindowPixel(f.player->Handle(), 50, 50), RGB(0x11, 0x99, 0x22));
    f.player->SetColor(static_cast<TColor>(RGB(0xAA, 0xBB, 0xCC)));
    Pump();
    EXPECT_EQ(WindowPixel(f.player->Handle(), 50, 50), RGB(0xAA, 0xBB, 0xCC));
}

TEST_P(PlayerWndOn, FramesDrawnBeforeTheControlHasAWindowMakeNone)
{
    std::vector<std::string> errors;
    Application->OnException = TExceptionEvent([&](TObject*, const std::exception& e) { errors.push_back(e.what()); });
    Owned<TkvFlashPlayerWnd> player(new TkvFlashPlayerWnd(nullptr));  // no parent: no window possible
    Use(player.get());
    player->LoadMovie(WriteFile(L"wnd-nowindow.swf", RectMovie(0x00FF00)));
    Steps(2);
    Application->OnException = TExceptionEvent();
    EXPECT_FALSE(player->HandleAllocated());
    EXPECT_TRUE(errors.empty()) << errors.front();
    Owned<TForm> form = NewForm(150, 150);
    player->SetParent(form.get());
    form->Show();
    Pump();
    EXPECT_EQ(WindowPixel(player->Handle(), 50, 50), RGB(0, 0xFF, 0)) << "the first paint shows the frame";
    player->SetParent(nullptr);
}

TEST_F(PlayerWnd, KeysReachTheDriverFirstAndCharactersOnlyFromSpaceOnAsUtf16)
{
    DriverScope recorder;
    WndForm f;
    std::vector<std::wstring> framework;
    f.player->OnKeyDown = TKeyEvent([&](TObject*, std::uint16_t& k, TShiftState) {
        framework.push_back(L"OnKeyDown " + std::to_wstring(k));
    });
    HWND wnd = f.player->Handle();
    TInputRecorder::Log.clear();
    TInputRecorder::KeyDownBecomes = 'B';
    SendMessageW(wnd, WM_KEYDOWN, 'A', 1);
    EXPECT_EQ(TInputRecorder::Log, std::vector<std::wstring>{L"KeyDown 65"});
    EXPECT_EQ(framework, std::vector<std::wstring>{L"OnKeyDown 66"}) << "the framework sees the driver's key";
    TInputRecorder::Log.clear();
    for (wchar_t c : {L'a', L' ', L'\x0416', L'\b', L'\r', L'\t', L'\x1B'})
        SendMessageW(wnd, WM_CHAR, c, 1);
    EXPECT_EQ(TInputRecorder::Log, (std::vector<std::wstring>{L"KeyPress 97", L"KeyPress 32", L"KeyPress 1046"}));
    EXPECT_EQ(SendMessageW(wnd, WM_GETDLGCODE, VK_TAB, 0), DLGC_WANTARROWS | DLGC_WANTTAB | DLGC_WANTCHARS);
}

TEST_P(PlayerCompOn, ItsBufferHoldsTheMovieWithAlphaAndItsInputComesThroughTheCalls)
{
    Owned<TkvFlashPlayerComp> comp(new TkvFlashPlayerComp(nullptr));
    Use(comp.get());
    auto* base = static_cast<std::uint8_t*>(comp->GetBuffer());
    GdiFlush();
    EXPECT_EQ(*reinterpret_cast<std::uint32_t*>(base + 99 * 400 + 99 * 4), 0u) << "transparent before any movie";
    EXPECT_EQ(comp->GetScanline(1), base + 400);
    EXPECT_EQ(comp->GetScanline(100), nullptr) << "no row beyond the buffer";
    EXPECT_EQ(comp->GetScanline(-1), nullptr);

    std::vector<TRect> changed;
    std::uint32_t seen = 0;
    comp->OnPaint = TkvPaintEvent([&](TObject* sender, const TRect& r) {
        EXPECT_EQ(sender, comp->Driver);
        changed.push_back(r);
        seen = static_cast<std::uint32_t*>(comp->GetScanline(50))[50];
    });
    comp->LoadMovie(WriteFile(L"comp-half.swf", RectMovie(0xFF0000, 128)));
    Steps(1);
    ASSERT_FALSE(changed.empty()) << Log();
    EXPECT_EQ(seen, 0x80800000u) << "premultiplied red at half coverage, readable in the handler";
    EXPECT_EQ(static_cast<std::uint32_t*>(comp->GetScanline(5))[5], 0u);

    std::wstring got;
    comp->Driver->OnFSCommand =
        TkvFSCommandEvent([&](TObject*, const WideString& c, const WideString&) { got = c; });
    comp->LoadMovie(WriteFile(L"comp-input.swf", InputMovie()));
    Steps(1);
    for (int y : {50, 94}) {
        comp->CallMouseDown(mbLeft, TShiftState{ssLeft}, 30, y);
        comp->CallMouseUp(mbLeft, TShiftState{}, 30, y);
    }
    wchar_t key = L'h';
    comp->CallKeyPress(key, TShiftState{});
    EXPECT_EQ(got, L"clicked");
    EXPECT_EQ(comp->GetVariable(L"typed"), L"h");

    // The requested size is kept as given; rows follow the buffer's real size.
    comp->SetWidth(0);
    EXPECT_EQ(comp->GetWidth(), 0);
    EXPECT_EQ(comp->GetScanline(1), static_cast<std::uint8_t*>(comp->GetBuffer()) + 4);
}

TEST_F(StoredComponents, AFormReadsBackItsPlayersWhichLoadTheirMoviesOnceInLoaded)
{
    DriverScope recorder;
    TMemoryStream stream;
    {
        Owned<TForm> form = NewForm(200, 150);
        auto* wnd = new TkvFlashPlayerWnd(form.get());
        wnd->SetName(L"Wnd1");
        wnd->SetParent(form.get());
        wnd->SetTabStop(false);
        wnd->LoadMovie(L"window.swf");
        auto* comp = new TkvFlashPlayerComp(form.get());
        comp->SetName(L"Comp1");
        comp->SetWidth(64);
        comp->LoadMovie(L"offscreen.swf");
        form->SaveToStream(stream);
    }
    TInputRecorder::Log.clear();
    stream.SetPosition(0);
    Owned<TForm> form(new TForm(nullptr));
    form->AfterConstruction();
    form->LoadFromStream(stream);
    auto* wnd = dynamic_cast<TkvFlashPlayerWnd*>(form->FindComponent(L"Wnd1"));
    auto* comp = dynamic_cast<TkvFlashPlayerComp*>(form->FindComponent(L"Comp1"));
    ASSERT_TRUE(wnd && comp);
    EXPECT_FALSE(wnd->TabStop());
    EXPECT_EQ(comp->Driver->Width, 64);
    EXPECT_EQ(std::count(TInputRecorder::Log.begin(), TInputRecorder::Log.end(), L"LoadMovie window.swf"), 1);
    EXPECT_EQ(std::count(TInputRecorder::Log.begin(), TInputRecorder::Log.end(), L"LoadMovie offscreen.swf"), 1);
}

}  // namespace
