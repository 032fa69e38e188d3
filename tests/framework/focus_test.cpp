// The keyboard focus on real windows. These cases run alone: any other test's
// window that comes up activates itself and takes the focus away.
#include <gtest/gtest.h>

#include "win_test_support.h"

namespace {

using FocusTest = TWinTest;

TEST_F(FocusTest, TabMovesTheFocusUnlessTheControlWantsTabs) {
  form = NewForm(200, 150);
  auto* first = new TPanelish(form);
  auto* second = new TPanelish(form);
  auto* third = new TPanelish(form);
  for (TPanelish* p : {first, second, third}) {
    p->SetTabStop(true);
    p->SetParent(form);
  }
  third->SetBounds(0, 100, 10, 10);
  form->Show();
  SetForegroundWindow(form->Handle());
  first->SetFocus();
  Pump();
  ASSERT_TRUE(first->Focused());

  PostMessageW(first->Handle(), WM_KEYDOWN, VK_TAB, 1);
  Pump();
  EXPECT_TRUE(second->Focused());
  EXPECT_TRUE(first->KeysDown.empty());

  second->DlgCode = DLGC_WANTARROWS | DLGC_WANTTAB | DLGC_WANTCHARS;
  PostMessageW(second->Handle(), WM_KEYDOWN, VK_TAB, 1);
  PostMessageW(second->Handle(), WM_KEYDOWN, VK_RIGHT, 1);
  Pump();
  EXPECT_TRUE(second->Focused());
  EXPECT_EQ(second->KeysDown, (std::vector<std::uint16_t>{VK_TAB, VK_RIGHT}));

  // A key handler that swallows the key keeps it from the default handling.
  second->OnKeyDown = TKeyEvent([](TObject*, std::uint16_t& key, TShiftState) { key = 0; });
  EXPECT_EQ(second->Perform(WM_KEYDOWN, 'A', 1), 0);
}

}  // namespace
