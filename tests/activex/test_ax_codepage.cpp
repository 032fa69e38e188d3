// Characters reach the ActiveX control as bytes of the system's ANSI code
// page. This program runs with LC_ALL=ja_JP.UTF-8, so that is code page 932.
#include <gtest/gtest.h>

#include "ax_support.h"

using namespace axtest;
using namespace nstest;

// Every case ends with nothing of the players left (BackEndCase).
using ActiveXCodePage = nstest::BackEndCase;

namespace {

TEST_F(ActiveXCodePage, ADoubleByteCharacterArrivesAsTwoCharMessages)
{
    ASSERT_EQ(GetACP(), 932u);
    auto form = NewActiveXForm();
    ASSERT_TRUE(Control().Loaded());
    auto* d = form->Player->Driver;
    Control().ClearLog();
    wchar_t key = L'\u3042';  // HIRAGANA LETTER A: 0x82 0xA0 in code page 932
    d->KeyPress(key, {});
    const std::string log = ControlLog();
    const int first = LineOf(log, {"WM_CHAR", "wParam=130 "});
    const int second = LineOf(log, {"WM_CHAR", "wParam=160 "});
    EXPECT_GE(first, 0) << log;
    EXPECT_GT(second, first) << log;
    EXPECT_EQ(log.find("WM_SETCURSOR"), std::string::npos) << "no cursor message after keys";
    EXPECT_EQ(key, 0) << "the control took the character";

    // A key the control does not take stays with the host.
    std::uint16_t vk = VK_F13;
    Control().ClearLog();
    d->KeyDown(vk, {ssShift});
    EXPECT_GE(LineOf(ControlLog(), {"WM_KEYDOWN", "lParam=0x00000004"}), 0) << ControlLog();
}

}  // namespace
