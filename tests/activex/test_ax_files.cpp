// Files reach the ActiveX control through the system's URL service, which
// this program finds in the urlmon stand-in beside it (Wine's own lacks it).
#include <gtest/gtest.h>

#include "ax_support.h"

using namespace axtest;
using namespace nstest;

namespace {

// Lets the download's callbacks run until `done` holds or 10 s pass.
template <class F>
bool PumpUntil(F done)
{
    for (int i = 0; i < 1000 && !done(); ++i) {
        Pump();
        Sleep(10);
    }
    return done();
}

TEST(ActiveXFiles, AMovieFileIsFetchedInPiecesAndDrawn)
{
    auto form = NewActiveXForm();
    ASSERT_TRUE(Control().Loaded());
    TkvFlashDriver* d = form->Player->Driver;
    // Big enough to arrive in several pieces.
    sw::ActionAssembler padding;
    padding.setPath("pad", sw::PushValue(std::string(40000, 'x')));
    const std::wstring path = WriteFile(L"file movie.swf", RectMovie(0x20A040, 255, padding));
    form->Player->LoadMovie(path);
    EXPECT_TRUE(PumpUntil([&] {
        StepControls(1);
        return (Pixel(d, 50, 50) & 0xFFFFFF) == 0x20A040u;
    })) << ControlLog();
    EXPECT_EQ(form->Player->GetMovie(), path);
    EXPECT_EQ(form->Player->GetVariable(L"pad").size(), 40000u);
}

TEST(ActiveXFiles, AMissingFileDrawsNothingAndLeavesTheDriverWorking)
{
    auto form = NewActiveXForm();
    ASSERT_TRUE(Control().Loaded());
    TkvFlashDriver* d = form->Player->Driver;
    form->Player->LoadMovie(TempFolder() + L"no such movie.swf");
    PumpUntil([&] { return ControlLog().find("failed") != std::string::npos; });
    StepControls(1);
    EXPECT_EQ(Pixel(d, 50, 50) & 0xFFFFFF, 0x404040u);
    const std::wstring path = WriteFile(L"after.swf", RectMovie(0x1020C0));
    form->Player->LoadMovie(path);
    EXPECT_TRUE(PumpUntil([&] {
        StepControls(1);
        return (Pixel(d, 50, 50) & 0xFFFFFF) == 0x1020C0u;
    })) << ControlLog();
}

}  // namespace
