// TControl, TGraphicControl and the control canvas.
#include "framework/controls.h"

#include <windowsx.h>

#include <algorithm>

#include "framework/forms.h"
#include "framework/menus.h"
#include "internal.h"

const TEnumInfo& AlignInfo() {
  static const TEnumInfo info{L"TAlign", {L"alNone", L"alTop", L"alBottom", L"alLeft", L"alRight", L"alClient"}, 0};
  return info;
}

const TEnumInfo& AnchorKindInfo() {
  static const TEnumInfo info{L"TAnchorKind", {L"akLeft", L"akTop", L"akRight", L"akBottom"}, 0};
  return info;
}

const TEnumInfo& DragModeInfo() {
  static const TEnumInfo info{L"TDragMode", {L"dmManual", L"dmAutomatic"}, 0};
  return info;
}

const TClassInfo& TDragObject::StaticClass() {
  static const TClassInfo info = TClassBuilder<TDragObject>(L"TDragObject");
  return info;
}

namespace kvinternal {
TControl* g_captureControl = nullptr;
}
using kvinternal::g_captureControl;

// ---------------------------------------------------------------------------
// TControl
// ---------------------------------------------------------------------------
const TClassInfo& TControl::StaticClass() {
  using T = TControl;
  static const TClassInfo info =
      TClassBuilder<T>(L"TControl")
          .Integer(L"Left", &T::Left, &T::SetLeft)
          .Integer(L"Top", &T::Top, &T::SetTop)
          .Integer(L"Width", &T::Width, &T::SetWidth)
          .Integer(L"Height", &T::Height, &T::SetHeight)
          .Integer(L"Cursor", &T::Cursor, &T::SetCursor)
          .Default(crDefault)
          .WideStr(L"Hint", &T::Hint, &T::SetHint)
          // Kept for descendants to publish:
          .Enum(L"Align", AlignInfo(), &T::Align, &T::SetAlign).Default(alNone).Publishable()
          .Set(L"Anchors", AnchorKindInfo(), &T::Anchors, &T::SetAnchors).Default(TAnchors{akLeft, akTop}).Publishable()
          .Color(L"Color", &T::Color, &T::SetColor).Default(clWindow).Stored([](T& c) { return !c.ParentColor(); }).Publishable()
          .Bool(L"ParentColor", &T::ParentColor, &T::SetParentColor).Default(true).Publishable()
          .Bool(L"Visible", &T::Visible, &T::SetVisible).Default(true).Publishable()
          .Bool(L"Enabled", &T::Enabled, &T::SetEnabled).Default(true).Publishable()
          .Integer(L"DragCursor", &T::DragCursor, &T::SetDragCursor).Default(crDrag).Publishable()
          .Enum(L"DragMode", DragModeInfo(), &T::DragMode, &T::SetDragMode).Default(dmManual).Publishable()
          .Bool(L"ParentShowHint", &T::ParentShowHint, &T::SetParentShowHint).Default(true).Publishable()
          .Bool(L"ShowHint", &T::ShowHint, &T::SetShowHint).Stored([](T& c) { return !c.ParentShowHint(); }).Publishable()
          .Component(L"PopupMenu", &T::PopupMenu, &T::SetPopupMenu).Publishable()
          .Event(L"OnClick", &T::OnClick).Publishable()
          .Event(L"OnDblClick", &T::OnDblClick).Publishable()
          .Event(L"OnMouseDown", &T::OnMouseDown).Publishable()
          .Event(L"OnMouseMove", &T::OnMouseMove).Publishable()
          .Event(L"OnMouseUp", &T::OnMouseUp).Publishable()
          .Event(L"OnMouseWheel", &T::OnMouseWheel).Publishable()
          .Event(L"OnResize", &T::OnResize).Publishable()
          .Event(L"OnDragDrop", &T::OnDragDrop).Publishable()
          .Event(L"OnDragOver", &T::OnDragOver).Publishable()
          .Event(L"OnEndDrag", &T::OnEndDrag).Publishable()
          .Event(L"OnStartDrag", &T::OnStartDrag).Publishable();
  return info;
}

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
  if (g_captureControl == this) {
    g_captureControl = nullptr;
    ReleaseCapture();
  }
  if (popupMenu_) popupMenu_->RemoveFreeNotification(this);
  if (parent_) parent_->RemoveControl(this);
}

TComponent* TControl::GetParentComponent() const { return parent_; }

void TControl::SetParentComponent(TComponent* Value) {
  if (auto* w = dynamic_cast<TWinControl*>(Value)) SetParent(w);
}

void TControl::SetParent(TWinControl* AParent) {
  if (AParent == parent_) return;
  for (TControl* p = AParent; p; p = p->parent_)
    if (p == this) throw EInvalidOperation(L"A control cannot be its own parent or its children's child");
  if (parent_) parent_->RemoveControl(this);
  if (AParent) AParent->InsertControl(this);
}

TRect TControl::ClientRect() { return TRect(0, 0, width_, height_); }

void TControl::SetClientSize(int AWidth, int AHeight) { SetBounds(left_, top_, AWidth, AHeight); }

TPoint TControl::ClientOrigin() {
  if (!parent_) return TPoint(left_, top_);
  TPoint p = parent_->ClientOrigin();
  return TPoint(p.x + left_, p.y + top_);
}

TPoint TControl::OffsetInWindow() const { return TPoint(left_, top_); }

void TControl::InvalidateControl(bool wasVisible) {
  if (!wasVisible || !parent_ || !parent_->HandleAllocated()) return;
  TRect r = BoundsRect();
  InvalidateRect(parent_->Handle(), &r, !controlStyle_.Contains(csOpaque));
}

void TControl::RequestAlign() {
  if (parent_ && !parent_->aligning_) parent_->Realign();
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  if (AWidth < 0) AWidth = 0;
  if (AHeight < 0) AHeight = 0;
  if (ALeft == left_ && ATop == top_ && AWidth == width_ && AHeight == height_) return;
  bool sizeChanged = AWidth != width_ || AHeight != height_;
  InvalidateControl(visible_);
  UpdateBoundsFields(ALeft, ATop, AWidth, AHeight);
  InvalidateControl(visible_);
  kvinternal::ControlMoved(this);
  if (align_ != alNone) RequestAlign();
  if (sizeChanged) Resize();
}

void TControl::Resize() { OnResize(this); }

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  if (!v) InvalidateControl(true);
  visible_ = v;
  Perform(CM_VISIBLECHANGED, v ? 1 : 0, 0);
  if (v) InvalidateControl(true);
  if (align_ != alNone || (parent_ && !v)) RequestAlign();
}

bool TControl::Showing() const { return visible_ && parent_ && parent_->Showing(); }

void TControl::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  Perform(CM_ENABLEDCHANGED, 0, 0);
}

void TControl::SetColor(TColor v) {
  if (v == color_) return;
  color_ = v;
  parentColor_ = false;
  Perform(CM_COLORCHANGED, 0, 0);
}

void TControl::SetParentColor(bool v) {
  if (v == parentColor_) return;
  parentColor_ = v;
  if (v && parent_) Perform(CM_PARENTCOLORCHANGED, 0, 0);
}

void TControl::SetAlign(TAlign v) {
  if (v == align_) return;
  TAlign old = align_;
  align_ = v;
  // Aligned controls ignore anchors; a control leaving alignment keeps its place.
  if (old != alNone || v != alNone) RequestAlign();
}

void TControl::SetAnchors(TAnchors v) { anchors_ = v; }

void TControl::SetShowHint(bool v) {
  parentShowHint_ = false;
  if (v == showHint_) return;
  showHint_ = v;
  Perform(CM_SHOWHINTCHANGED, 0, 0);
}

void TControl::SetParentShowHint(bool v) {
  if (v == parentShowHint_) return;
  parentShowHint_ = v;
  if (v && parent_) Perform(CM_PARENTSHOWHINTCHANGED, 0, 0);
}

void TControl::SetPopupMenu(TPopupMenu* v) {
  if (v == popupMenu_) return;
  if (popupMenu_) popupMenu_->RemoveFreeNotification(this);
  popupMenu_ = v;
  if (v) v->FreeNotification(this);
}

void TControl::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == popupMenu_) popupMenu_ = nullptr;
}

void TControl::Invalidate() { InvalidateControl(visible_); }

void TControl::Update() {
  if (parent_) parent_->Update();
}

void TControl::Repaint() {
  Invalidate();
  Update();
}

void TControl::BringToFront() {
  if (!parent_) return;
  auto& list = parent_->controls_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  // Windowed controls always cover graphic ones; among its kind this one goes on top.
  list.push_back(this);
  if (auto* w = dynamic_cast<TWinControl*>(this); w && w->HandleAllocated())
    SetWindowPos(w->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  Invalidate();
}

void TControl::SendToBack() {
  if (!parent_) return;
  auto& list = parent_->controls_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  list.insert(list.begin(), this);
  if (auto* w = dynamic_cast<TWinControl*>(this); w && w->HandleAllocated())
    SetWindowPos(w->Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  Invalidate();
}

bool TControl::MouseCapture() {
  if (auto* w = dynamic_cast<TWinControl*>(this)) return w->HandleAllocated() && GetCapture() == w->Handle();
  return g_captureControl == this;
}

void TControl::SetMouseCapture(bool v) {
  if (v == MouseCapture()) return;
  if (auto* w = dynamic_cast<TWinControl*>(this)) {
    if (v)
      SetCapture(w->Handle());
    else
      ReleaseCapture();
    return;
  }
  if (v) {
    if (!parent_ || !parent_->HandleAllocated()) return;
    SetCapture(parent_->Handle());
    g_captureControl = this;
  } else {
    g_captureControl = nullptr;
    ReleaseCapture();
  }
}

LRESULT TControl::Perform(UINT Msg, WPARAM WParam, LPARAM LParam) {
  TMessage m{Msg, WParam, LParam, 0};
  WndProc(m);
  return m.Result;
}

void TControl::DefaultHandler(TMessage& Message) { Message.Result = 0; }

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  OnMouseDown(this, Button, Shift, X, Y);
}

void TControl::MouseMove(TShiftState Shift, int X, int Y) { OnMouseMove(this, Shift, X, Y); }

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) { OnMouseUp(this, Button, Shift, X, Y); }

bool TControl::DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) {
  bool handled = false;
  OnMouseWheel(this, Shift, WheelDelta, MousePos, handled);
  return handled;
}

void TControl::Click() { OnClick(this); }

void TControl::DblClick() { OnDblClick(this); }

void TControl::HandleMouseMessage(TMessage& m) {
  int x = GET_X_LPARAM(m.LParam), y = GET_Y_LPARAM(m.LParam);
  TShiftState shift = KeysToShiftState(m.WParam);
  switch (m.Msg) {
    case WM_MOUSEMOVE:
      MouseMove(shift, x, y);
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (controlStyle_.Contains(csCaptureMouse)) SetMouseCapture(true);
      if (m.Msg == WM_LBUTTONDBLCLK) {
        shift.Include(ssDouble);
        if (controlStyle_.Contains(csDoubleClicks)) DblClick();
      } else if (controlStyle_.Contains(csClickEvents)) {
        controlState_.Include(csClicked);
      }
      controlState_.Include(csLButtonDown);
      MouseDown(mbLeft, shift, x, y);
      break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
      if (m.Msg == WM_RBUTTONDBLCLK) shift.Include(ssDouble);
      MouseDown(mbRight, shift, x, y);
      break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
      if (m.Msg == WM_MBUTTONDBLCLK) shift.Include(ssDouble);
      MouseDown(mbMiddle, shift, x, y);
      break;
    case WM_LBUTTONUP: {
      controlState_.Exclude(csLButtonDown);
      if (controlStyle_.Contains(csCaptureMouse)) SetMouseCapture(false);
      bool clicked = controlState_.Contains(csClicked);
      controlState_.Exclude(csClicked);
      // Click before MouseUp, and only for a release inside the control.
      if (clicked && ClientRect().Contains(TPoint(x, y))) Click();
      MouseUp(mbLeft, shift, x, y);
      break;
    }
    case WM_RBUTTONUP:
      MouseUp(mbRight, shift, x, y);
      break;
    case WM_MBUTTONUP:
      MouseUp(mbMiddle, shift, x, y);
      break;
  }
  m.Result = 0;
}

namespace kvinternal {
bool IsMouseMessage(UINT msg) {
  switch (msg) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
      return true;
  }
  return false;
}
}  // namespace kvinternal

void TControl::WndProc(TMessage& m) {
  if (kvinternal::IsMouseMessage(m.Msg)) {
    if (enabled_) {
      HandleMouseMessage(m);
      // The framework's default handling follows for windows (cursor, activation).
      if (dynamic_cast<TWinControl*>(this)) DefaultHandler(m);
      return;
    }
    DefaultHandler(m);
    return;
  }
  switch (m.Msg) {
    case WM_CONTEXTMENU:
      if (popupMenu_) {
        int x = GET_X_LPARAM(m.LParam), y = GET_Y_LPARAM(m.LParam);
        if (x == -1 && y == -1) {
          TPoint c = ClientToScreen(TPoint(width_ / 2, height_ / 2));
          x = c.x;
          y = c.y;
        }
        popupMenu_->Popup(x, y);
        m.Result = 1;
        return;
      }
      break;
    case CM_COLORCHANGED:
      Invalidate();
      m.Result = 0;
      return;
    case CM_PARENTCOLORCHANGED:
      if (parentColor_ && parent_) {
        SetColor(parent_->Color());
        parentColor_ = true;
      }
      m.Result = 0;
      return;
    case CM_PARENTSHOWHINTCHANGED:
      if (parentShowHint_ && parent_) {
        SetShowHint(parent_->ShowHint());
        parentShowHint_ = true;
      }
      m.Result = 0;
      return;
    case CM_VISIBLECHANGED:
    case CM_ENABLEDCHANGED:
    case CM_SHOWHINTCHANGED:
      m.Result = 0;
      return;
  }
  DefaultHandler(m);
}

// ---------------------------------------------------------------------------
// TControlCanvas: DCs acquired outside painting are released after the
// message being handled (and when the control moves or paints).
// ---------------------------------------------------------------------------
namespace {
std::vector<TControlCanvas*>& HeldCanvases() {
  static std::vector<TControlCanvas*> list;
  return list;
}
}  // namespace

namespace kvinternal {
void ControlMoved(TControl* c) {
  for (TControlCanvas* canvas : std::vector<TControlCanvas*>(HeldCanvases()))
    if (canvas->Control() == c) canvas->FreeHandle();
}
}  // namespace kvinternal

const TClassInfo& TControlCanvas::StaticClass() {
  static const TClassInfo info = TClassBuilder<TControlCanvas>(L"TControlCanvas");
  return info;
}

TControlCanvas::~TControlCanvas() { FreeHandle(); }

void TControlCanvas::CreateHandle() {
  HWND wnd;
  TPoint offset;
  if (auto* w = dynamic_cast<TWinControl*>(control_)) {
    wnd = w->Handle();
  } else {
    TWinControl* parent = control_->Parent();
    if (!parent) throw EInvalidOperation(L"Control '" + control_->Name() + L"' has no parent window");
    wnd = parent->Handle();
    offset = TPoint(control_->Left(), control_->Top());
  }
  HDC dc = GetDC(wnd);
  if (!dc) throw EOutOfResources(L"Cannot get a device context for '" + control_->Name() + L"'");
  SetWindowOrgEx(dc, -offset.x, -offset.y, nullptr);
  IntersectClipRect(dc, 0, 0, control_->Width(), control_->Height());
  window_ = wnd;
  HeldCanvases().push_back(this);
  SetHandle(dc);
}

void TControlCanvas::FreeHandle() {
  if (!window_) {
    TCanvas::FreeHandle();
    return;
  }
  HDC dc = HandleAllocated() ? Handle() : nullptr;
  TCanvas::FreeHandle();
  // Leave the cached DC as GetDC gave it.
  if (dc) {
    SetWindowOrgEx(dc, 0, 0, nullptr);
    SelectClipRgn(dc, nullptr);
    ReleaseDC(window_, dc);
  }
  window_ = nullptr;
  auto& list = HeldCanvases();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TControlCanvas::FreeAllDeviceContexts() {
  for (TControlCanvas* canvas : std::vector<TControlCanvas*>(HeldCanvases())) canvas->FreeHandle();
}

HDC TControlCanvas::BeginPaintWith(HDC dc) {
  HDC outer = HandleAllocated() && !window_ ? Handle() : nullptr;
  FreeHandle();
  SetHandle(dc);
  return outer;
}

void TControlCanvas::EndPaintWith(HDC outer) {
  // Paint may have painted its parent into a DC of its own, and the parent
  // this control with it: the nested paint left the canvas without a DC, and
  // the next drawing took one with GetDC. Only FreeHandle gives that back.
  FreeHandle();
  if (outer) SetHandle(outer);
}

// ---------------------------------------------------------------------------
// TGraphicControl
// ---------------------------------------------------------------------------
const TClassInfo& TGraphicControl::StaticClass() {
  static const TClassInfo info = TClassBuilder<TGraphicControl>(L"TGraphicControl");
  return info;
}

TGraphicControl::TGraphicControl(TComponent* AOwner)
    : TControl(AOwner), canvas_(std::make_unique<TControlCanvas>(this)) {}

TGraphicControl::~TGraphicControl() {
  canvas_->FreeHandle();
  // Leave the parent now: its repaint must not find a half-destroyed control.
  if (Parent()) Parent()->RemoveControl(this);
}

void TGraphicControl::WndProc(TMessage& Message) {
  if (Message.Msg == WM_PAINT && Message.WParam) {
    // The parent paints us into its DC, origin and clip already set to our area.
    HDC outer = canvas_->BeginPaintWith(reinterpret_cast<HDC>(Message.WParam));
    try {
      Paint();
    } catch (...) {
      canvas_->EndPaintWith(outer);
      throw;
    }
    canvas_->EndPaintWith(outer);
    Message.Result = 0;
    return;
  }
  TControl::WndProc(Message);
}
