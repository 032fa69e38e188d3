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

// The player reads the two bytes as one character of code page 932 and the
// movie's field holds that character.
TEST_F(NetscapeCodePage, ADoubleByteCharacterReachesTheMoviesFieldAsText)
{
    ASSERT_EQ(GetACP(), 932u) << "run with LC_ALL=ja_JP.UTF-8";
    auto form = NewPlayerForm();
    TkvFlashDriver* d = form->Player->Driver;
    d->LoadMovie(WriteFile(L"cp-field.swf", TextFieldMovie()));
    Step(1);
    d->MouseDown(mbLeft, TShiftState{ssLeft}, 30, 94);  // focus the field
    d->MouseUp(mbLeft, TShiftState{}, 30, 94);
    Player().ClearLog();
    for (wchar_t c : std::wstring(L"a\u3042\u65E5b")) {  // a, HIRAGANA LETTER A, the kanji for day, b
        wchar_t key = c;
        d->KeyPress(key, TShiftState{});
    }
    const std::string log = PlayerLog();
    EXPECT_GE(LineOf(log, {"# typed U+3042 read in code page 932"}), 0) << log;
    EXPECT_GE(LineOf(log, {"# typed U+65E5 read in code page 932"}), 0) << log;
    EXPECT_EQ(d->GetVariable(L"typed"), L"a\u3042\u65E5b") << log;
}

}  // namespace
