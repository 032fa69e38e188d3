#include "win_test_support.h"

#include <cstdio>

const TClassInfo& TBlock::StaticClass() {
  static const TClassInfo info = TClassBuilder<TBlock>(L"TBlock")
                                     .Publish(L"Color")
                                     .Publish(L"ParentColor")
                                     .Publish(L"Align")
                                     .Publish(L"Anchors")
                                     .Publish(L"PopupMenu")
                                     .Publish(L"OnClick");
  return info;
}

void TBlock::Paint() {
  Canvas()->Brush()->SetColor(FillColor);
  Canvas()->FillRect(ClientRect());
}

void TBlock::PaintNow(TColor c) {
  Canvas()->Brush()->SetColor(c);
  Canvas()->FillRect(TRect(-500, -500, 500, 500));
}

void TBlock::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "down %d %d %d", static_cast<int>(Button), X, Y);
  Log.push_back(buf);
  TGraphicControl::MouseDown(Button, Shift, X, Y);
}

void TBlock::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "up %d %d %d", static_cast<int>(Button), X, Y);
  Log.push_back(buf);
  TGraphicControl::MouseUp(Button, Shift, X, Y);
}

bool TBlock::DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "wheel %d %ld %ld", WheelDelta, static_cast<long>(MousePos.x),
                static_cast<long>(MousePos.y));
  Log.push_back(buf);
  TGraphicControl::DoMouseWheel(Shift, WheelDelta, MousePos);
  return true;
}

void TBlock::WndProc(TMessage& Message) {
  if (Message.Msg == CM_COLORCHANGED) ++ColorChanges;
  TGraphicControl::WndProc(Message);
}

const TClassInfo& TPanelish::StaticClass() {
  static const TClassInfo info = TClassBuilder<TPanelish>(L"TPanelish")
                                     .Publish(L"Color")
                                     .Publish(L"ParentColor")
                                     .Publish(L"Align")
                                     .Publish(L"TabStop")
                                     .Publish(L"Visible");
  return info;
}

void TPanelish::Paint() {
  Canvas()->Brush()->SetColor(Color());
  Canvas()->FillRect(ClientRect());
}

void TPanelish::CreateHandle() {
  ++CreateHandleCalls;
  TCustomControl::CreateHandle();
  if (MakeUnicode) {
    LONG_PTR proc = GetWindowLongPtrA(Handle(), GWLP_WNDPROC);
    SetWindowLongPtrW(Handle(), GWLP_WNDPROC, proc);
  }
}

void TPanelish::KeyDown(std::uint16_t& Key, TShiftState Shift) {
  KeysDown.push_back(Key);
  TCustomControl::KeyDown(Key, Shift);
}

void TPanelish::KeyPress(wchar_t& Key) {
  Chars.push_back(Key);
  TCustomControl::KeyPress(Key);
}

void TPanelish::WndProc(TMessage& Message) {
  if (Message.Msg == CM_COLORCHANGED) ++ColorChanges;
  if (Message.Msg == WM_GETDLGCODE && DlgCode != -1) {
    TCustomControl::WndProc(Message);
    Message.Result = DlgCode;
    return;
  }
  TCustomControl::WndProc(Message);
}

void RegisterWinTestClasses() { RegisterClasses<TBlock, TPanelish, TPopupMenu, TForm>(); }

TForm* NewForm(int clientWidth, int clientHeight, TColor color) {
  TForm* form = nullptr;
  Application->CreateForm(form);
  form->SetBorderStyle(bsNone);
  form->SetBounds(100, 100, clientWidth, clientHeight);
  form->SetClientSize(clientWidth, clientHeight);
  form->SetColor(color);
  return form;
}

void Pump() {
  for (int i = 0; i < 5; ++i) {
    Application->ProcessMessages();
    Sleep(1);
  }
}

std::unique_ptr<TDibSection> CaptureClient(TWinControl* control) {
  TRect r = control->ClientRect();
  auto dib = std::make_unique<TDibSection>(r.Width(), r.Height());
  TWindowDC dc(control->Handle());
  BitBlt(dib->DC(), 0, 0, r.Width(), r.Height(), dc.Get(), 0, 0, SRCCOPY);
  GdiFlush();
  return dib;
}

std::uint32_t Rgb(TColor c) {
  COLORREF v = ColorToRGB(c);
  return (GetRValue(v) << 16) | (GetGValue(v) << 8) | GetBValue(v);
}

void TWinTest::SetUp() {
  RegisterWinTestClasses();
  Application->OnException = TExceptionEvent([this](TObject*, const std::exception& e) { errors.push_back(e.what()); });
}

void TWinTest::TearDown() {
  Free(form);
  Application->OnException = TExceptionEvent();
  EXPECT_TRUE(errors.empty()) << errors.front();
}
