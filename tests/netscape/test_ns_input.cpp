// Drawing with transparency and input through the Netscape back-end.
#include <gtest/gtest.h>

#include "host_config.h"
#include "ns_support.h"

using namespace nstest;

// Every case ends with nothing of the players left (BackEndCase).
using NetscapeDrawing = nstest::BackEndCase;
using NetscapeInput = nstest::BackEndCase;

namespace {

using sw::ActionAssembler;
using sw::PushValue;

struct DriverDeleter {
    void operator()(TkvFlashDriver* d) const
    {
        TkvFlashDriver* p = d;
        FreeFlashDriver(p);
    }
};

TEST_F(NetscapeDrawing, ATransparentDriverHoldsPremultipliedPixelsWithTheMoviesAlpha)
{
    ASSERT_TRUE(Player().Loaded());
    // A driver with a transparent background, hosted by no control.
    std::unique_ptr<TkvFlashDriver, DriverDeleter> d(TkvFlashDriverNS::ClassRef().Create(100, 100, 0));
    ASSERT_NE(d->WhiteBits, nullptr);
    std::vector<TRect> painted;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) { painted.push_back(r); });
    d->LoadMovie(WriteFile(L"half.swf", RectMovie(0xFF0000, 128)));
    Step(1);
    ASSERT_FALSE(painted.empty()) << PlayerLog();
    // Half-covered red: alpha 128 and red premultiplied by it.
    EXPECT_EQ(Pixel(d.get(), 50, 50), 0x80800000u);
    // Where the movie draws nothing the buffer is fully transparent, not black.
    EXPECT_EQ(Pixel(d.get(), 5, 5), 0u);
    EXPECT_EQ(Pixel(d.get(), 95, 95), 0u);

    // An opaque shape stays opaque with its own colour.
    d->LoadMovie(WriteFile(L"opaque.swf", RectMovie(0x3366CC)));
    Step(1);
    EXPECT_EQ(Pixel(d.get(), 50, 50), 0xFF3366CCu);
}

TEST_F(NetscapeDrawing, InvalidationsBeyondTheBufferAreCutToIt)
{
    auto form = NewPlayerForm();
    TkvFlashDriverNS* d = dynamic_cast<TkvFlashDriverNS*>(form->Player->Driver);
    ASSERT_NE(d, nullptr);
    d->LoadMovie(WriteFile(L"cut.swf", RectMovie(0x00FF00)));
    Step(1);
    std::vector<TRect> painted;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) { painted.push_back(r); });
    NPRect r{};
    r.left = 90;
    r.top = 95;
    r.right = 500;
    r.bottom = 400;
    d->InvalidateArea(r);
    ASSERT_EQ(painted.size(), 1u);
    EXPECT_EQ(painted[0], Rect(90, 95, 100, 100));
}

// Counts the lines of a call log that hold `part`.
int Count(const std::string& log, const std::string& part)
{
    int n = 0;
    for (size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + part.size()))
        ++n;
    return n;
}

// A player that asks for a repaint from inside its own drawing (the real one
// does) gets no paint inside the paint: the running paint draws the area too,
// over black and over white, and reports once for everything. A player that
// asks again in every paint is drawn a bounded number of times per paint.
TEST_F(NetscapeDrawing, ARepaintAskedForInsideAPaintIsDrawnByThatPaintBeforeItReports)
{
    ASSERT_TRUE(Player().Loaded());
    const wchar_t* key = L"Software\\KorvelRef\\Plugin";
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    const DWORD always = 1000;
    RegSetValueExW(h, L"RepaintInPaint", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&always), sizeof always);
    RegCloseKey(h);
    refhost::claimConfig(key);
    std::unique_ptr<TkvFlashDriver, DriverDeleter> d(TkvFlashDriverNS::ClassRef().Create(100, 100, 0));
    auto* ns = static_cast<TkvFlashDriverNS*>(d.get());
    // The movie's instance is made now, with the setting.
    ns->LoadMovie(WriteFile(L"nested.swf", RectMovie(0xFF0000, 128)));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"RepaintInPaint");
    Step(1);

    std::vector<TRect> painted;
    bool reportedInsideAPaint = false;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) {
        painted.push_back(r);
        reportedInsideAPaint = reportedInsideAPaint || d->IsPainting();
    });
    Player().ClearLog();
    NPRect r{};
    r.left = 10;
    r.top = 10;
    r.right = 20;
    r.bottom = 20;
    ns->InvalidateArea(r);
    const std::string log = PlayerLog();
    ASSERT_EQ(painted.size(), 1u) << log;
    EXPECT_EQ(painted[0], Rect(0, 0, 100, 100)) << "the area asked for inside the paint is in its report";
    EXPECT_FALSE(reportedInsideAPaint);
    EXPECT_EQ(Count(log, "repaint asked from inside a paint"), 8) << log;
    EXPECT_EQ(Count(log, "NPP_HandleEvent event=0x000F"), 8) << "four passes, each over black and white\n" << log;
    // The last pass recovered the alpha of the whole view.
    EXPECT_EQ(Pixel(d.get(), 50, 50), 0x80800000u);
    EXPECT_EQ(Pixel(d.get(), 5, 5), 0u);
}

TEST_F(NetscapeInput, AClickOnTheGraphicPlayerPressesTheMoviesButton)
{
    auto form = NewPlayerForm();
    std::wstring got;
    form->Player->Driver->OnFSCommand = TkvFSCommandEvent(
        [&](TObject*, const WideString& c, const WideString& a) { got = c + L"|" + a; });
    form->Player->LoadMovie(WriteFile(L"button.swf", TextFieldMovie()));
    Step(1);
    // A real click on the form, where the player shows the button: the form
    // routes it to the graphic control, which hands it to its driver.
    HWND wnd = form->Handle();
    SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(10 + 50, 10 + 50));
    SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10 + 50, 10 + 50));
    SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(10 + 50, 10 + 50));
    Pump();
    EXPECT_EQ(got, L"clicked|button") << PlayerLog();
}

TEST_F(NetscapeInput, CharactersGivenToTheDriverReachAFocusedInputField)
{
    auto form = NewPlayerForm();
    TkvFlashDriver* d = form->Player->Driver;
    d->LoadMovie(WriteFile(L"field.swf", TextFieldMovie()));
    Step(1);
    d->MouseDown(mbLeft, TShiftState{ssLeft}, 30, 94);  // focus the field
    d->MouseUp(mbLeft, TShiftState{}, 30, 94);
    for (wchar_t c : std::wstring(L"ok!")) {
        wchar_t key = c;
        d->KeyPress(key, TShiftState{});
    }
    EXPECT_EQ(d->GetVariable(L"typed"), L"ok!") << PlayerLog();
}

TEST_F(NetscapeInput, TheMenuButtonIsHeldBackWhileTheMoviesMenuIsDisabled)
{
    auto form = NewPlayerForm();
    TkvFlashDriver* d = form->Player->Driver;
    d->LoadMovie(WriteFile(L"menu.swf", RectMovie(0x123456)));
    Step(1);
    Player().ClearLog();
    ASSERT_TRUE(d->DisableFlashMenu);
    d->MouseDown(mbRight, TShiftState{ssRight}, 40, 40);
    d->MouseUp(mbRight, TShiftState{}, 40, 40);
    std::string log = PlayerLog();
    EXPECT_LT(LineOf(log, {"event=0x0204"}), 0) << "no WM_RBUTTONDOWN: " << log;
    EXPECT_GE(LineOf(log, {"event=0x0205"}), 0) << "the release still goes: " << log;

    d->DisableFlashMenu = false;
    Player().ClearLog();
    {
        // The press opens the player's modal menu; it is closed from inside its loop.
        const MenuCloser closer;
        d->MouseDown(mbRight, TShiftState{ssRight}, 40, 40);
    }
    log = PlayerLog();
    EXPECT_GE(LineOf(log, {"event=0x0204"}), 0) << log;
    EXPECT_GE(LineOf(log, {"# context menu closed"}), 0) << log;
}

}  // namespace
