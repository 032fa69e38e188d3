// Controls and helpers for the framework's Windows tests.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/framework.h"

// A graphic control that fills itself with FillColor and records its input.
class TBlock : public TGraphicControl {
  KV_CLASS(TBlock, TGraphicControl)
public:
  explicit TBlock(TComponent* AOwner) : TGraphicControl(AOwner) {}
  TColor FillColor = clBlue;
  std::vector<std::string> Log;  // "down 1 2", "up 3 4", "move 5 6", "wheel 120 x y"
  int ColorChanges = 0;
  void Paint() override;
  // Draws right away through the canvas, outside any WM_PAINT, as a player
  // callback would; the fill reaches far beyond the control to prove the clip.
  void PaintNow(TColor c);
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  bool DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) override;
  void WndProc(TMessage& Message) override;
};

// A windowed control painting its Color, with optional keyboard wishes.
class TPanelish : public TCustomControl {
  KV_CLASS(TPanelish, TCustomControl)
public:
  explicit TPanelish(TComponent* AOwner) : TCustomControl(AOwner) {}
  int ColorChanges = 0;
  LRESULT DlgCode = -1;        // answered to WM_GETDLGCODE when not -1
  bool MakeUnicode = false;    // redo the window procedure A -> W in CreateHandle
  int CreateHandleCalls = 0;
  std::vector<std::uint16_t> KeysDown;
  std::vector<wchar_t> Chars;
  void Paint() override;
  void CreateHandle() override;
  void KeyDown(std::uint16_t& Key, TShiftState Shift) override;
  void KeyPress(wchar_t& Key) override;
  void WndProc(TMessage& Message) override;
};

void RegisterWinTestClasses();

// A fixture for cases on real windows: the test classes are registered, the
// form made in the case is freed afterwards, and every exception the
// application object sees fails the case.
class TWinTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  TForm* form = nullptr;
  std::vector<std::string> errors;
};

// A form at a fixed place on the screen, owned by the application.
TForm* NewForm(int clientWidth, int clientHeight, TColor color = clRed);
// Lets queued messages run.
void Pump();
// The form's client area as the screen shows it.
std::unique_ptr<TDibSection> CaptureClient(TWinControl* control);
// 0x00RRGGBB of a TColor without system colours.
std::uint32_t Rgb(TColor c);
