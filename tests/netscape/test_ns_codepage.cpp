// Characters outside the 8-bit range travel to the plug-in as the bytes of
// the process's ANSI code page: this program runs with code page 932.
#include <gtest/gtest.h>

#include "ns_support.h"

using namespace nstest;

// Every case ends with nothing of the players left (BackEndCase).
using NetscapeCodePage = nstest::BackEndCase;

namespace {

TEST_F(NetscapeCodePage, ADoubleByteCharacterArrivesAsTwoCharMessages)
{
    ASSERT_EQ(GetACP(), 932u) << "run with LC_ALL=ja_JP.UTF-8";
    auto form = NewPlayerForm();
    TkvFlashDriver* d = form->Player->Driver;
    d->LoadMovie(WriteFile(L"cp.swf", RectMovie(0x123456)));
    Step(1);
    Player().ClearLog();
    wchar_t key = L'\u3042';  // HIRAGANA LETTER A: 0x82 0xA0 in code page 932
    d->KeyPress(key, TShiftState{});
    const std::string log = PlayerLog();
    const int first = LineOf(log, {"event=0x0102", "wParam=130 "});
    const int second = LineOf(log, {"event=0x0102", "wParam=160 "});
    ASSERT_GE(first, 0) << log;
    ASSERT_GE(second, 0) << log;
    EXPECT_LT(first, second);
}

}  // namespace
