// Controls on real windows: graphic controls painted by and routed through
// their parent, colour propagation, alignment, exceptions.
#include <gtest/gtest.h>

#include "win_test_support.h"

namespace {

std::uint32_t Px(const TDibSection& d, int x, int y) { return d.Pixel(x, y) & 0xFFFFFF; }

LPARAM Pos(int x, int y) { return MAKELPARAM(x, y); }

using ControlsTest = TWinTest;

TEST_F(ControlsTest, GraphicControlPaintsAtItsPlaceOnTheParentAlsoOutsidePaint) {
  form = NewForm(200, 150, clRed);
  auto* block = new TBlock(form);
  block->SetBounds(30, 20, 40, 30);
  block->SetParent(form);
  form->Show();
  form->Update();
  Pump();
  auto shot = CaptureClient(form);
  EXPECT_EQ(Px(*shot, 30, 20), Rgb(clBlue));
  EXPECT_EQ(Px(*shot, 69, 49), Rgb(clBlue));
  EXPECT_EQ(Px(*shot, 29, 20), Rgb(clRed));
  EXPECT_EQ(Px(*shot, 70, 20), Rgb(clRed));
  EXPECT_EQ(Px(*shot, 30, 50), Rgb(clRed));

  // From a callback, outside WM_PAINT: drawn at once, clipped to the control.
  block->PaintNow(clLime);
  shot = CaptureClient(form);
  EXPECT_EQ(Px(*shot, 31, 21), Rgb(clLime));
  EXPECT_EQ(Px(*shot, 69, 49), Rgb(clLime));
  EXPECT_EQ(Px(*shot, 29, 21), Rgb(clRed));
  EXPECT_EQ(Px(*shot, 70, 49), Rgb(clRed));
  EXPECT_EQ(Px(*shot, 0, 0), Rgb(clRed));

  // The canvas follows the control when it moves.
  Pump();
  block->SetBounds(100, 60, 20, 20);
  Pump();
  block->PaintNow(clYellow);
  shot = CaptureClient(form);
  EXPECT_EQ(Px(*shot, 105, 65), Rgb(clYellow));
  EXPECT_EQ(Px(*shot, 99, 65), Rgb(clRed));
}

TEST_F(ControlsTest, MouseMessagesOnTheParentReachTheGraphicControlUnderThePointer) {
  form = NewForm(200, 150);
  auto* block = new TBlock(form);
  block->SetBounds(30, 20, 40, 30);
  block->SetParent(form);
  int blockClicks = 0, formClicks = 0;
  block->OnClick = TNotifyEvent([&](TObject* s) { EXPECT_EQ(s, block); ++blockClicks; });
  form->OnClick = TNotifyEvent([&](TObject*) { ++formClicks; });
  form->Show();
  HWND wnd = form->Handle();

  // Press and release inside: client coordinates of the block, one click.
  SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, Pos(45, 30));
  SendMessageW(wnd, WM_LBUTTONUP, 0, Pos(46, 31));
  EXPECT_EQ(block->Log, (std::vector<std::string>{"down 0 15 10", "up 0 16 11"}));
  EXPECT_EQ(blockClicks, 1);

  // Pressed inside, released outside: the release still comes to the block
  // (it holds the mouse), in its coordinates, and is no click.
  block->Log.clear();
  SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, Pos(40, 25));
  SendMessageW(wnd, WM_LBUTTONUP, 0, Pos(150, 120));
  EXPECT_EQ(block->Log, (std::vector<std::string>{"down 0 10 5", "up 0 120 100"}));
  EXPECT_EQ(blockClicks, 1);
  EXPECT_EQ(formClicks, 0);

  // Beside the block the form handles the click itself.
  block->Log.clear();
  SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, Pos(150, 120));
  SendMessageW(wnd, WM_LBUTTONUP, 0, Pos(150, 120));
  EXPECT_TRUE(block->Log.empty());
  EXPECT_EQ(formClicks, 1);

  // The right button and the wheel: the wheel position stays in screen coordinates.
  SendMessageW(wnd, WM_RBUTTONDOWN, MK_RBUTTON, Pos(31, 21));
  TPoint screen = form->ClientToScreen(TPoint(50, 40));
  bool formWheel = false;
  form->OnMouseWheel = TMouseWheelEvent([&](TObject*, TShiftState, int, TPoint, bool&) { formWheel = true; });
  SendMessageW(wnd, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), Pos(screen.x, screen.y));
  char wheel[64];
  std::snprintf(wheel, sizeof wheel, "wheel 120 %ld %ld", static_cast<long>(screen.x), static_cast<long>(screen.y));
  EXPECT_EQ(block->Log, (std::vector<std::string>{"down 1 1 1", wheel}));
  EXPECT_FALSE(formWheel);  // handled by the block
}

TEST_F(ControlsTest, ColourChangesReachChildrenThatFollowTheirParent) {
  form = NewForm(200, 150, clRed);
  auto* panel = new TPanelish(form);
  panel->SetParent(form);
  auto* inner = new TBlock(form);
  inner->SetParent(panel);
  auto* own = new TBlock(form);
  own->SetColor(clAqua);  // its own colour: no longer following
  own->SetParent(panel);
  EXPECT_EQ(panel->Color(), clRed);  // taken over when placed
  EXPECT_EQ(inner->Color(), clRed);
  panel->ColorChanges = inner->ColorChanges = own->ColorChanges = 0;

  form->SetColor(clGreen);
  EXPECT_EQ(panel->Color(), clGreen);
  EXPECT_EQ(inner->Color(), clGreen);  // through the panel
  EXPECT_EQ(own->Color(), clAqua);
  EXPECT_EQ(panel->ColorChanges, 1);
  EXPECT_EQ(inner->ColorChanges, 1);
  EXPECT_EQ(own->ColorChanges, 0);
  EXPECT_TRUE(inner->ParentColor());

  form->SetColor(clGreen);  // no change, no message
  EXPECT_EQ(panel->ColorChanges, 1);

  panel->SetColor(clNavy);
  EXPECT_FALSE(panel->ParentColor());
  EXPECT_EQ(inner->Color(), clNavy);
  form->SetColor(clYellow);
  EXPECT_EQ(panel->Color(), clNavy);
  panel->SetParentColor(true);
  EXPECT_EQ(panel->Color(), clYellow);
  EXPECT_EQ(panel->ColorChanges, 3);
  EXPECT_EQ(inner->Color(), clYellow);
}

TEST_F(ControlsTest, ClientAlignmentFillsAndFollowsAndAnchorsKeepDistances) {
  form = NewForm(200, 150);
  auto* top = new TPanelish(form);
  top->SetHeight(30);
  top->SetAlign(alTop);
  top->SetParent(form);
  auto* client = new TPanelish(form);
  client->SetAlign(alClient);
  client->SetParent(form);
  auto* corner = new TBlock(form);
  corner->SetBounds(170, 120, 20, 20);
  corner->SetAnchors({akRight, akBottom});
  corner->SetParent(form);
  EXPECT_EQ(top->BoundsRect(), Rect(0, 0, 200, 30));
  EXPECT_EQ(client->BoundsRect(), Rect(0, 30, 200, 150));

  form->Show();
  form->SetClientSize(300, 200);
  Pump();
  EXPECT_EQ(client->BoundsRect(), Rect(0, 30, 300, 200));
  EXPECT_EQ(top->Width(), 300);
  EXPECT_EQ(corner->BoundsRect(), Rect(270, 170, 290, 190));
  RECT r;
  GetWindowRect(client->Handle(), &r);
  EXPECT_EQ(r.right - r.left, 300);  // the window follows too

  // Resized by Windows (the user), not by code.
  SetWindowPos(form->Handle(), nullptr, 0, 0, 250, 180, SWP_NOMOVE | SWP_NOZORDER);
  Pump();
  EXPECT_EQ(client->BoundsRect(), Rect(0, 30, 250, 180));
  EXPECT_EQ(corner->BoundsRect(), Rect(220, 150, 240, 170));

  top->SetVisible(false);
  EXPECT_EQ(client->BoundsRect(), Rect(0, 0, 250, 180));
}

TEST_F(ControlsTest, ExceptionsInHandlersStopAtTheWindowProcedure) {
  form = NewForm(100, 100);
  form->OnClick = TNotifyEvent([](TObject*) { throw EInvalidOperation(L"handler failed"); });
  form->Show();
  SendMessageW(form->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, Pos(5, 5));
  SendMessageW(form->Handle(), WM_LBUTTONUP, 0, Pos(5, 5));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "handler failed");
  errors.clear();
  // The window still works.
  EXPECT_TRUE(IsWindow(form->Handle()));
  SendMessageW(form->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, Pos(5, 5));
  SendMessageW(form->Handle(), WM_LBUTTONUP, 0, Pos(5, 5));
  EXPECT_EQ(errors.size(), 1u);
  errors.clear();
}

TEST_F(ControlsTest, WindowsAreMadeLazilyAndAUnicodeWindowProcedureKeepsWorking) {
  form = NewForm(200, 150);
  auto* panel = new TPanelish(form);
  panel->MakeUnicode = true;
  panel->SetBounds(10, 10, 50, 50);
  panel->SetParent(form);
  EXPECT_FALSE(panel->HandleAllocated());  // nothing made by construction or SetParent
  form->Show();
  ASSERT_TRUE(panel->HandleAllocated());
  EXPECT_EQ(panel->CreateHandleCalls, 1);  // the descendant's override ran
  EXPECT_TRUE(IsWindowUnicode(panel->Handle()));
  EXPECT_EQ(TWinControl::FindControl(panel->Handle()), panel);

  SendMessageW(panel->Handle(), WM_CHAR, 0x3042, 1);
  PostMessageW(panel->Handle(), WM_CHAR, L'a', 1);
  Pump();
  EXPECT_EQ(panel->Chars, (std::vector<wchar_t>{wchar_t(0x3042), L'a'}));

  // Added to a parent that has a window: made by the next message pump.
  auto* late = new TPanelish(form);
  late->SetParent(form);
  EXPECT_FALSE(late->HandleAllocated());
  Pump();
  EXPECT_TRUE(late->HandleAllocated());

  panel->RecreateWnd();
  EXPECT_EQ(panel->CreateHandleCalls, 2);
  EXPECT_TRUE(IsWindowUnicode(panel->Handle()));
}

}  // namespace
