#include "framework/forms.h"

#include <algorithm>

#include "internal.h"

const TEnumInfo& FormBorderStyleInfo() {
  static const TEnumInfo info{
      L"TFormBorderStyle", {L"bsNone", L"bsSingle", L"bsSizeable", L"bsDialog", L"bsToolWindow", L"bsSizeToolWin"}, 0};
  return info;
}

const TClassInfo& TCustomForm::StaticClass() {
  static const TClassInfo info = TClassBuilder<TCustomForm>(L"TCustomForm");
  return info;
}

const TClassInfo& TForm::StaticClass() {
  using T = TForm;
  static const TClassInfo info =
      TClassBuilder<T>(L"TForm")
          .WideStr(L"Caption", &T::Caption, &T::SetCaption)
          .Enum(L"BorderStyle", FormBorderStyleInfo(), &T::BorderStyle, &T::SetBorderStyle)
          .Default(bsSizeable)
          .Integer(L"ClientWidth", &T::ClientWidth, &T::SetClientWidth)
          .Integer(L"ClientHeight", &T::ClientHeight, &T::SetClientHeight)
          .Publish(L"Color")
          .Default(clBtnFace)
          .Publish(L"Visible")
          .Default(false)
          .Event(L"OnCreate", &T::OnCreate)
          .Event(L"OnDestroy", &T::OnDestroy)
          .Event(L"OnShow", &T::OnShow)
          .Event(L"OnHide", &T::OnHide)
          .Event(L"OnPaint", &T::OnPaint)
          .Event(L"OnClose", &T::OnClose)
          .Event(L"OnCloseQuery", &T::OnCloseQuery)
          .Publish(L"OnClick")
          .Publish(L"OnMouseDown")
          .Publish(L"OnMouseMove")
          .Publish(L"OnMouseUp")
          .Publish(L"OnResize");
  return info;
}

TCustomForm::TCustomForm(TComponent* AOwner)
    : TWinControl(AOwner), canvas_(std::make_unique<TControlCanvas>(this)) {
  UpdateBoundsFields(0, 0, 320, 240);
  // A form is its own top: it shows when asked, with its own colour.
  TControl::SetVisible(false);
  SetColor(clBtnFace);
}

TCustomForm::~TCustomForm() {
  if (!createFired_) createFired_ = true;  // nothing to pair with
  DestroyHandle();
  canvas_->FreeHandle();
}

void TCustomForm::AfterConstruction() {
  TWinControl::AfterConstruction();
  if (createFired_) return;
  createFired_ = true;
  OnCreate(this);
}

void TCustomForm::BeforeDestruction() {
  bool first = !ComponentState().Contains(csDestroying);
  TWinControl::BeforeDestruction();
  if (first) {
    // OnDestroy runs while the whole form still exists.
    GuardedCall(this, [&] { OnDestroy(this); });
  }
}

void TCustomForm::CreateParams(TCreateParams& p) {
  TWinControl::CreateParams(p);
  p.Caption = caption_;
  p.WndParent = nullptr;
  p.ExStyle = 0;
  p.ClassStyle = CS_DBLCLKS;
  switch (borderStyle_) {
    case bsNone:
      p.Style = WS_POPUP;
      break;
    case bsSingle:
      p.Style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_BORDER;
      break;
    case bsSizeable:
      p.Style = WS_OVERLAPPEDWINDOW;
      break;
    case bsDialog:
      p.Style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
      p.ExStyle = WS_EX_DLGMODALFRAME;
      break;
    case bsToolWindow:
      p.Style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
      p.ExStyle = WS_EX_TOOLWINDOW;
      break;
    case bsSizeToolWin:
      p.Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
      p.ExStyle = WS_EX_TOOLWINDOW;
      break;
  }
  p.Style |= WS_CLIPCHILDREN;
  // Shown by Show/Visible, after the window is complete.
  p.Style &= ~DWORD(WS_VISIBLE);
}

void TCustomForm::SetCaption(const WideString& v) {
  if (v == caption_) return;
  caption_ = v;
  if (HandleAllocated()) SetWindowTextW(Handle(), v.c_str());
  Perform(CM_TEXTCHANGED, 0, 0);
}

void TCustomForm::SetBorderStyle(TFormBorderStyle v) {
  if (v == borderStyle_) return;
  TRect client = ClientRect();
  borderStyle_ = v;
  RecreateWnd();
  SetClientSize(client.Width(), client.Height());
}

namespace {
// Non-client sizes for the style a form's window has or will have.
TRect NonClient(TCustomForm* form, const TCreateParams& p) {
  RECT r{0, 0, 0, 0};
  AdjustWindowRectEx(&r, p.Style, FALSE, p.ExStyle);
  (void)form;
  return TRect(r);
}
}  // namespace

TRect TCustomForm::ClientRect() {
  if (HandleAllocated()) return TWinControl::ClientRect();
  TCreateParams p;
  CreateParams(p);
  TRect nc = NonClient(this, p);
  return TRect(0, 0, std::max<LONG>(0, Width() - nc.Width()), std::max<LONG>(0, Height() - nc.Height()));
}

void TCustomForm::SetClientSize(int AWidth, int AHeight) {
  if (HandleAllocated()) {
    TWinControl::SetClientSize(AWidth, AHeight);
    return;
  }
  TCreateParams p;
  CreateParams(p);
  TRect nc = NonClient(this, p);
  SetBounds(Left(), Top(), AWidth + nc.Width(), AHeight + nc.Height());
}

TPoint TCustomForm::ClientOrigin() {
  if (HandleAllocated()) return TWinControl::ClientOrigin();
  TCreateParams p;
  CreateParams(p);
  TRect nc = NonClient(this, p);
  return TPoint(Left() - nc.left, Top() - nc.top);
}

bool TCustomForm::Showing() const { return Visible(); }

void TCustomForm::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  TWinControl::GetChildren(proc, root);
}

void TCustomForm::Show() {
  SetVisible(true);
  if (HandleAllocated()) {
    // Show again: to the front.
    SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  OnCloseQuery(this, canClose);
  return canClose;
}

void TCustomForm::Close() {
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  OnClose(this, action);
  if (action == caNone) return;
  if (Application->MainForm() == this) {
    Application->Terminate();
    if (action != caFree) Hide();
    return;
  }
  switch (action) {
    case caHide:
      Hide();
      break;
    case caMinimize:
      if (HandleAllocated()) ShowWindow(Handle(), SW_MINIMIZE);
      break;
    case caFree:
      Release();
      break;
    default:
      break;
  }
}

void TCustomForm::Release() { PostMessageW(Handle(), CM_RELEASE, 0, 0); }

void TCustomForm::SetActiveControl(TWinControl* c) {
  if (c && !ContainsControl(c)) throw EInvalidOperation(L"The control is not on this form");
  activeControl_ = c;
  if (c && HandleAllocated() && Visible() && c->CanFocus()) c->SetFocus();
}

void TCustomForm::SelectNext(TWinControl* Current, bool GoForward) {
  std::vector<TWinControl*> order;
  std::function<void(TWinControl*)> collect = [&](TWinControl* parent) {
    for (int i = 0; i < parent->ControlCount(); ++i) {
      if (auto* w = dynamic_cast<TWinControl*>(parent->Controls(i))) {
        order.push_back(w);
        collect(w);
      }
    }
  };
  collect(this);
  if (order.empty()) return;
  auto it = std::find(order.begin(), order.end(), Current);
  std::size_t start = it == order.end() ? (GoForward ? order.size() - 1 : 0) : static_cast<std::size_t>(it - order.begin());
  for (std::size_t step = 1; step <= order.size(); ++step) {
    std::size_t i = GoForward ? (start + step) % order.size() : (start + order.size() - step % order.size()) % order.size();
    TWinControl* w = order[i];
    if (w->TabStop() && w->CanFocus()) {
      w->SetFocus();
      return;
    }
  }
}

void TCustomForm::SaveToStream(TStream& Stream) { WriteComponent(Stream, this); }

void TCustomForm::LoadFromStream(TStream& Stream) { ReadComponent(Stream, this); }

void TCustomForm::Paint() { OnPaint(this); }

void TCustomForm::PaintWindow(HDC dc) {
  HDC outer = canvas_->BeginPaintWith(dc);
  try {
    Paint();
  } catch (...) {
    canvas_->EndPaintWith(outer);
    throw;
  }
  canvas_->EndPaintWith(outer);
}

void TCustomForm::Notification(TComponent* AComponent, TOperation Operation) {
  TWinControl::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == activeControl_) activeControl_ = nullptr;
}

void TCustomForm::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_CLOSE:
      Close();
      m.Result = 0;
      return;
    case CM_RELEASE:
      Free(this);
      return;
    case CM_VISIBLECHANGED:
      if (m.WParam) {
        HandleNeeded();
        ShowWindow(Handle(), SW_SHOW);
        OnShow(this);
      } else {
        if (HandleAllocated()) ShowWindow(Handle(), SW_HIDE);
        OnHide(this);
      }
      m.Result = 0;
      return;
    case WM_ACTIVATE:
      TWinControl::WndProc(m);
      if (LOWORD(m.WParam) != WA_INACTIVE && activeControl_ && activeControl_->CanFocus() &&
          activeControl_->HandleAllocated())
        ::SetFocus(activeControl_->Handle());
      return;
  }
  TWinControl::WndProc(m);
}

TCustomForm* GetParentForm(TControl* Control) {
  TControl* c = Control;
  while (c && c->Parent()) c = c->Parent();
  return dynamic_cast<TCustomForm*>(c);
}
