// TWinControl and TCustomControl: real windows around the control model.
#include <windowsx.h>

#include <algorithm>
#include <set>

#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/winstreams.h"
#include "internal.h"

namespace kvinternal {
int g_messageDepth = 0;
}
using kvinternal::g_captureControl;

namespace {
const wchar_t kControlProp[] = L"KvFramework.Control";
// The control whose window CreateWindowEx is making: messages arrive before
// CreateWindowEx returns (WM_GETMINMAXINFO comes even before WM_NCCREATE).
thread_local TWinControl* t_creating = nullptr;

// Moves the logical origin so that (dx, dy) becomes the new (0, 0).
void MoveWindowOrg(HDC dc, int dx, int dy) {
  POINT org;
  GetWindowOrgEx(dc, &org);
  SetWindowOrgEx(dc, org.x - dx, org.y - dy, nullptr);
}
}  // namespace

const TClassInfo& TWinControl::StaticClass() {
  using T = TWinControl;
  static const TClassInfo info = TClassBuilder<T>(L"TWinControl")
                                     .Bool(L"TabStop", &T::TabStop, &T::SetTabStop)
                                     .Default(false)
                                     .Publishable()
                                     .Event(L"OnKeyDown", &T::OnKeyDown)
                                     .Publishable()
                                     .Event(L"OnKeyUp", &T::OnKeyUp)
                                     .Publishable()
                                     .Event(L"OnKeyPress", &T::OnKeyPress)
                                     .Publishable()
                                     .Event(L"OnEnter", &T::OnEnter)
                                     .Publishable()
                                     .Event(L"OnExit", &T::OnExit)
                                     .Publishable();
  return info;
}

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  DestroyHandle();
  // Child controls go with their parent, whoever owns them.
  while (!controls_.empty()) {
    TControl* c = controls_.back();
    RemoveControl(c);
    try {
      Free(c);
    } catch (...) {
    }
  }
  if (Parent()) Parent()->RemoveControl(this);
}

TWinControl* TWinControl::FindControl(HWND wnd) {
  return wnd ? static_cast<TWinControl*>(GetPropW(wnd, kControlProp)) : nullptr;
}

HWND TWinControl::Handle() {
  HandleNeeded();
  return handle_;
}

void TWinControl::HandleNeeded() {
  if (!handle_) CreateHandle();
}

void TWinControl::CreateHandle() {
  if (!handle_) CreateWnd();
  // The children's windows follow the parent's.
  for (TControl* c : std::vector<TControl*>(controls_))
    if (auto* w = dynamic_cast<TWinControl*>(c); w && !w->handle_) w->CreateHandle();
}

void TWinControl::CreateParams(TCreateParams& p) {
  p.Caption.clear();
  p.Style = WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  if (Visible()) p.Style |= WS_VISIBLE;
  if (tabStop_) p.Style |= WS_TABSTOP;
  if (!Enabled()) p.Style |= WS_DISABLED;
  p.ExStyle = 0;
  p.X = Left();
  p.Y = Top();
  p.Width = Width();
  p.Height = Height();
  p.WndParent = Parent() ? Parent()->Handle() : nullptr;
  p.ClassStyle = CS_DBLCLKS;
  p.WinClassName = L"Kv." + ClassName();
}

void TWinControl::CreateWnd() {
  TCreateParams p;
  CreateParams(p);
  if ((p.Style & WS_CHILD) && !p.WndParent)
    throw EInvalidOperation(L"Control '" + Name() + L"' has no parent window");
  HINSTANCE instance = ThisModule();
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (!GetClassInfoExW(instance, p.WinClassName.c_str(), &existing)) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = p.ClassStyle;
    wc.lpfnWndProc = &TWinControl::StdWndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = p.WinClassName.c_str();
    if (!RegisterClassExW(&wc))
      throw EOSError(L"Cannot register the window class " + p.WinClassName + L": " + SysErrorMessage(GetLastError()),
                     GetLastError());
  }
  TWinControl* saved = t_creating;
  t_creating = this;
  HWND wnd = CreateWindowExW(p.ExStyle, p.WinClassName.c_str(), p.Caption.c_str(), p.Style, p.X, p.Y, p.Width,
                             p.Height, p.WndParent, nullptr, instance, nullptr);
  DWORD err = GetLastError();
  t_creating = saved;
  if (!wnd) {
    handle_ = nullptr;
    throw EOSError(L"Cannot create the window of '" + Name() + L"': " + SysErrorMessage(err), err);
  }
  handle_ = wnd;
  UpdateBoundsFromWindow();
  ClientSizeMaybeChanged();
}

void TWinControl::DestroyWnd() {
  if (handle_) DestroyWindow(handle_);
}

void TWinControl::DestroyHandle() {
  if (!handle_) return;
  kvinternal::ControlMoved(this);
  for (TControl* c : controls_) kvinternal::ControlMoved(c);
  DestroyWnd();
  // WM_NCDESTROY clears handle_; a window destroyed elsewhere may not have told us.
  if (handle_ && !IsWindow(handle_)) handle_ = nullptr;
}

void TWinControl::RecreateWnd() {
  if (!handle_) return;
  DestroyHandle();
  HandleNeeded();
}

TControl* TWinControl::Controls(int Index) const {
  if (Index < 0 || Index >= ControlCount())
    throw EListError(L"List index out of bounds (" + IntToStr(Index) + L")");
  return controls_[static_cast<std::size_t>(Index)];
}

void TWinControl::InsertControl(TControl* AControl) {
  if (!AControl || AControl->parent_ == this) return;
  controls_.push_back(AControl);
  AControl->parent_ = this;
  if (AControl->ParentColor()) AControl->Perform(CM_PARENTCOLORCHANGED, 0, 0);
  if (AControl->ParentShowHint()) AControl->Perform(CM_PARENTSHOWHINTCHANGED, 0, 0);
  if (auto* w = dynamic_cast<TWinControl*>(AControl)) {
    if (handle_) {
      if (w->handle_) {
        ::SetParent(w->handle_, handle_);
        SetWindowPos(w->handle_, nullptr, w->Left(), w->Top(), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      } else {
        // Not now: the control may still be under construction (SetParent in
        // a constructor), and its CreateHandle override must run.
        PostMessageW(handle_, CM_CREATECHILDREN, 0, 0);
      }
    }
  } else {
    AControl->Invalidate();
  }
  if (AControl->Align() != alNone) Realign();
}

void TWinControl::RemoveControl(TControl* AControl) {
  auto it = std::find(controls_.begin(), controls_.end(), AControl);
  if (it == controls_.end()) return;
  if (g_captureControl == AControl) {
    g_captureControl = nullptr;
    ReleaseCapture();
  }
  kvinternal::ControlMoved(AControl);
  if (!dynamic_cast<TWinControl*>(AControl)) AControl->Invalidate();
  controls_.erase(std::find(controls_.begin(), controls_.end(), AControl));
  AControl->parent_ = nullptr;
  if (auto* w = dynamic_cast<TWinControl*>(AControl)) w->DestroyHandle();
  if (AControl->Align() != alNone && !(ComponentState().Contains(csDestroying))) Realign();
}

bool TWinControl::ContainsControl(const TControl* c) const {
  for (; c; c = c->Parent())
    if (c == this) return true;
  return false;
}

TControl* TWinControl::ControlAtPos(TPoint Pos, bool AllowWinControls) {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    TControl* c = *it;
    if (!c->Visible()) continue;
    if (!AllowWinControls && dynamic_cast<TWinControl*>(c)) continue;
    if (c->BoundsRect().Contains(Pos)) return c;
  }
  return nullptr;
}

void TWinControl::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  TComponent::GetChildren(proc, root);
  for (TControl* c : std::vector<TControl*>(controls_))
    if (c->Owner() == root) proc(c);
}

void TWinControl::SetTabStop(bool v) {
  if (v == tabStop_) return;
  tabStop_ = v;
  if (handle_) {
    LONG_PTR style = GetWindowLongPtrW(handle_, GWL_STYLE);
    SetWindowLongPtrW(handle_, GWL_STYLE, v ? (style | WS_TABSTOP) : (style & ~LONG_PTR(WS_TABSTOP)));
  }
}

void TWinControl::SetFocus() {
  if (!CanFocus()) throw EInvalidOperation(L"Cannot focus a disabled or invisible window");
  ::SetFocus(Handle());
}

bool TWinControl::Focused() const { return handle_ && GetFocus() == handle_; }

bool TWinControl::CanFocus() const {
  for (const TControl* c = this; c; c = c->Parent())
    if (!c->Visible() || !c->Enabled()) return false;
  return true;
}

bool TWinControl::Showing() const {
  if (!Visible()) return false;
  return Parent() ? Parent()->Showing() : true;
}

TRect TWinControl::ClientRect() {
  if (handle_) {
    RECT r;
    GetClientRect(handle_, &r);
    return TRect(r);
  }
  return TControl::ClientRect();
}

TPoint TWinControl::ClientOrigin() {
  if (handle_) {
    POINT p{0, 0};
    ::ClientToScreen(handle_, &p);
    return TPoint(p);
  }
  return TControl::ClientOrigin();
}

void TWinControl::SetClientSize(int AWidth, int AHeight) {
  TRect c = ClientRect();
  SetBounds(Left(), Top(), Width() + (AWidth - c.Width()), Height() + (AHeight - c.Height()));
}

void TWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  if (AWidth < 0) AWidth = 0;
  if (AHeight < 0) AHeight = 0;
  if (ALeft == Left() && ATop == Top() && AWidth == Width() && AHeight == Height()) return;
  bool sizeChanged = AWidth != Width() || AHeight != Height();
  UpdateBoundsFields(ALeft, ATop, AWidth, AHeight);
  kvinternal::ControlMoved(this);
  for (TControl* c : controls_) kvinternal::ControlMoved(c);
  if (handle_)
    SetWindowPos(handle_, nullptr, ALeft, ATop, AWidth, AHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  ClientSizeMaybeChanged();
  if (Align() != alNone) RequestAlign();
  if (sizeChanged) Resize();
}

void TWinControl::UpdateBoundsFromWindow() {
  if (!handle_) return;
  RECT r;
  GetWindowRect(handle_, &r);
  if (GetWindowLongPtrW(handle_, GWL_STYLE) & WS_CHILD) {
    HWND parent = GetParent(handle_);
    if (parent) MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  }
  int w = r.right - r.left, h = r.bottom - r.top;
  if (r.left == Left() && r.top == Top() && w == Width() && h == Height()) return;
  bool sizeChanged = w != Width() || h != Height();
  UpdateBoundsFields(r.left, r.top, w, h);
  kvinternal::ControlMoved(this);
  if (sizeChanged) Resize();
}

void TWinControl::ClientSizeMaybeChanged() {
  TRect c = ClientRect();
  if (c.Width() == lastClientW_ && c.Height() == lastClientH_) return;
  int oldW = lastClientW_, oldH = lastClientH_;
  lastClientW_ = c.Width();
  lastClientH_ = c.Height();
  if (oldW >= 0) ApplyAnchors(oldW, oldH);
  DoAlign();
}

void TWinControl::ApplyAnchors(int oldClientW, int oldClientH) {
  int dw = lastClientW_ - oldClientW, dh = lastClientH_ - oldClientH;
  if (dw == 0 && dh == 0) return;
  aligning_ = true;
  try {
    for (TControl* c : std::vector<TControl*>(controls_)) {
      if (c->Align() != alNone) continue;
      TAnchors a = c->Anchors();
      int l = c->Left(), t = c->Top(), w = c->Width(), h = c->Height();
      if (a.Contains(akRight)) {
        if (a.Contains(akLeft))
          w += dw;
        else
          l += dw;
      } else if (!a.Contains(akLeft)) {
        l += dw / 2;
      }
      if (a.Contains(akBottom)) {
        if (a.Contains(akTop))
          h += dh;
        else
          t += dh;
      } else if (!a.Contains(akTop)) {
        t += dh / 2;
      }
      c->SetBounds(l, t, w, h);
    }
  } catch (...) {
    aligning_ = false;
    throw;
  }
  aligning_ = false;
}

void TWinControl::Realign() { DoAlign(); }

void TWinControl::EnableAlign() {
  if (alignDisabled_ > 0 && --alignDisabled_ == 0 && ControlState().Contains(csAlignmentNeeded)) DoAlign();
}

void TWinControl::DoAlign() {
  if (alignDisabled_ > 0) {
    SetControlState(ControlState() + csAlignmentNeeded);
    return;
  }
  if (aligning_) return;
  SetControlState(ControlState() - csAlignmentNeeded);
  aligning_ = true;
  try {
    TRect r = ClientRect();
    AlignControls(nullptr, r);
  } catch (...) {
    aligning_ = false;
    throw;
  }
  aligning_ = false;
}

void TWinControl::AlignControls(TControl*, TRect& r) {
  auto place = [&](TAlign align) {
    std::vector<TControl*> list;
    for (TControl* c : controls_)
      if (c->Visible() && c->Align() == align) list.push_back(c);
    // Controls of one alignment stack in the order of their positions.
    std::stable_sort(list.begin(), list.end(), [align](TControl* a, TControl* b) {
      switch (align) {
        case alTop: return a->Top() < b->Top();
        case alBottom: return a->Top() + a->Height() > b->Top() + b->Height();
        case alLeft: return a->Left() < b->Left();
        case alRight: return a->Left() + a->Width() > b->Left() + b->Width();
        default: return false;
      }
    });
    for (TControl* c : list) {
      int w = std::max<LONG>(0, r.Width()), h = std::max<LONG>(0, r.Height());
      switch (align) {
        case alTop:
          c->SetBounds(r.left, r.top, w, c->Height());
          r.top += c->Height();
          break;
        case alBottom:
          c->SetBounds(r.left, r.bottom - c->Height(), w, c->Height());
          r.bottom -= c->Height();
          break;
        case alLeft:
          c->SetBounds(r.left, r.top, c->Width(), h);
          r.left += c->Width();
          break;
        case alRight:
          c->SetBounds(r.right - c->Width(), r.top, c->Width(), h);
          r.right -= c->Width();
          break;
        case alClient:
          c->SetBounds(r.left, r.top, w, h);
          break;
        default:
          break;
      }
    }
  };
  place(alTop);
  place(alBottom);
  place(alLeft);
  place(alRight);
  place(alClient);
}

void TWinControl::Invalidate() {
  if (handle_) InvalidateRect(handle_, nullptr, !ControlStyle().Contains(csOpaque));
}

void TWinControl::Update() {
  if (handle_) UpdateWindow(handle_);
}

void TWinControl::Repaint() {
  Invalidate();
  Update();
}

void TWinControl::KeyDown(std::uint16_t& Key, TShiftState Shift) { OnKeyDown(this, Key, Shift); }

void TWinControl::KeyUp(std::uint16_t& Key, TShiftState Shift) { OnKeyUp(this, Key, Shift); }

void TWinControl::KeyPress(wchar_t& Key) { OnKeyPress(this, Key); }

void TWinControl::PaintWindow(HDC) {}

void TWinControl::EraseBackground(HDC dc) {
  TRect r = ClientRect();
  // PaintTo may erase a control whose window does not exist yet.
  if (!handle_) r = TRect(0, 0, Width(), Height());
  THBrush brush(CreateSolidBrush(ColorToRGB(Color())));
  FillRect(dc, &r, brush.Get());
}

void TWinControl::PaintControls(HDC dc) {
  for (TControl* c : std::vector<TControl*>(controls_)) {
    if (!c->Visible() || dynamic_cast<TWinControl*>(c)) continue;
    TRect bounds = c->BoundsRect();
    if (bounds.IsEmpty() || !RectVisible(dc, &bounds)) continue;
    TSaveDC save(dc);
    MoveWindowOrg(dc, c->Left(), c->Top());
    IntersectClipRect(dc, 0, 0, c->Width(), c->Height());
    c->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
  }
}

void TWinControl::PaintHandler(TMessage& m) {
  HDC dc = reinterpret_cast<HDC>(m.WParam);
  if (dc) {
    PaintWindow(dc);
    PaintControls(dc);
    m.Result = 0;
    return;
  }
  PAINTSTRUCT ps;
  dc = BeginPaint(handle_, &ps);
  // A DC held by our canvas outside painting would paint over what comes now.
  kvinternal::ControlMoved(this);
  try {
    PaintWindow(dc);
    PaintControls(dc);
  } catch (...) {
    EndPaint(handle_, &ps);
    throw;
  }
  EndPaint(handle_, &ps);
  m.Result = 0;
}

void TWinControl::PaintTo(HDC dc, int X, int Y) {
  TControlState state = ControlState();
  SetControlState(state + csPaintCopy);
  struct Restore {
    TWinControl* self;
    TControlState state;
    ~Restore() { self->SetControlState(state); }
  } restore{this, state};
  TSaveDC save(dc);
  MoveWindowOrg(dc, X, Y);
  TRect client = handle_ ? ClientRect() : TRect(0, 0, Width(), Height());
  IntersectClipRect(dc, 0, 0, client.Width(), client.Height());
  Perform(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
  for (TControl* c : std::vector<TControl*>(controls_))
    if (auto* w = dynamic_cast<TWinControl*>(c); w && w->Visible()) w->PaintTo(dc, w->Left(), w->Top());
}

bool TWinControl::RouteMouseToGraphic(TMessage& m) {
  TControl* target = nullptr;
  if (g_captureControl && g_captureControl->Parent() == this) {
    target = g_captureControl;
  } else if (!(handle_ && GetCapture() == handle_)) {
    TControl* c = ControlAtPos(TPoint(GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)));
    if (c && c->Enabled()) target = c;
  }
  if (!target) return false;
  TMessage cm = m;
  int x = GET_X_LPARAM(m.LParam) - target->Left(), y = GET_Y_LPARAM(m.LParam) - target->Top();
  cm.LParam = MAKELPARAM(static_cast<WORD>(static_cast<short>(x)), static_cast<WORD>(static_cast<short>(y)));
  target->WndProc(cm);
  m.Result = cm.Result;
  return true;
}

void TWinControl::DefaultHandler(TMessage& m) {
  if (handle_)
    m.Result = DefWindowProcW(handle_, m.Msg, m.WParam, m.LParam);
  else
    m.Result = 0;
}

void TWinControl::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_PAINT:
    case WM_PRINTCLIENT:
      PaintHandler(m);
      return;
    case WM_ERASEBKGND:
      EraseBackground(reinterpret_cast<HDC>(m.WParam));
      m.Result = 1;
      return;
    case WM_MOUSEWHEEL: {
      TPoint screen(GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam));
      TShiftState shift = KeysToShiftState(GET_KEYSTATE_WPARAM(m.WParam));
      int delta = GET_WHEEL_DELTA_WPARAM(m.WParam);
      TControl* target = ControlAtPos(ScreenToClient(screen));
      if (target && target->Enabled() && target->DoMouseWheel(shift, delta, screen)) {
        m.Result = 0;
        return;
      }
      if (DoMouseWheel(shift, delta, screen)) {
        m.Result = 0;
        return;
      }
      DefaultHandler(m);  // on to the parent window
      return;
    }
    case WM_CONTEXTMENU: {
      TPoint screen(GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam));
      if (screen.x != -1 || screen.y != -1) {
        TControl* target = ControlAtPos(ScreenToClient(screen));
        if (target && target->PopupMenu()) {
          target->WndProc(m);
          return;
        }
      }
      break;
    }
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(m.WParam) == handle_ && LOWORD(m.LParam) == HTCLIENT) {
        POINT p;
        GetCursorPos(&p);
        TControl* under = ControlAtPos(ScreenToClient(TPoint(p)));
        TCursor cursor = under && under->Cursor() != crDefault ? under->Cursor() : Cursor();
        if (cursor != crDefault) {
          ::SetCursor(CursorHandle(cursor));
          m.Result = TRUE;
          return;
        }
      }
      break;
    case WM_SIZE:
      DefaultHandler(m);
      UpdateBoundsFromWindow();
      ClientSizeMaybeChanged();
      return;
    case WM_MOVE:
      DefaultHandler(m);
      UpdateBoundsFromWindow();
      return;
    case WM_SETFOCUS:
      if (TCustomForm* form = GetParentForm(this)) form->FocusChanged(this);
      DefaultHandler(m);
      OnEnter(this);
      return;
    case WM_KILLFOCUS:
      DefaultHandler(m);
      OnExit(this);
      return;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      std::uint16_t key = static_cast<std::uint16_t>(m.WParam);
      TShiftState shift = KeyDataToShiftState(m.LParam);
      if (m.Msg == WM_KEYDOWN || m.Msg == WM_SYSKEYDOWN)
        KeyDown(key, shift);
      else
        KeyUp(key, shift);
      if (key == 0) {
        m.Result = 0;
        return;
      }
      m.WParam = key;
      DefaultHandler(m);
      return;
    }
    case WM_CHAR: {
      wchar_t key = static_cast<wchar_t>(m.WParam);
      KeyPress(key);
      if (key == 0) {
        m.Result = 0;
        return;
      }
      m.WParam = static_cast<WPARAM>(static_cast<std::uint16_t>(key));
      DefaultHandler(m);
      return;
    }
    case WM_CAPTURECHANGED:
      if (g_captureControl && g_captureControl->Parent() == this &&
          reinterpret_cast<HWND>(m.LParam) != handle_)
        g_captureControl = nullptr;
      break;
    case WM_NCDESTROY:
      DefaultHandler(m);
      RemovePropW(handle_, kControlProp);
      handle_ = nullptr;
      lastClientW_ = lastClientH_ = -1;
      return;
    case CM_CREATECHILDREN:
      if (handle_)
        for (TControl* c : std::vector<TControl*>(controls_))
          if (auto* w = dynamic_cast<TWinControl*>(c); w && !w->handle_ && w->Parent() == this) w->HandleNeeded();
      m.Result = 0;
      return;
    case CM_COLORCHANGED:
      TControl::WndProc(m);
      for (TControl* c : std::vector<TControl*>(controls_)) c->Perform(CM_PARENTCOLORCHANGED, 0, 0);
      return;
    case CM_SHOWHINTCHANGED:
      TControl::WndProc(m);
      for (TControl* c : std::vector<TControl*>(controls_)) c->Perform(CM_PARENTSHOWHINTCHANGED, 0, 0);
      return;
    case CM_VISIBLECHANGED:
      if (handle_) ShowWindow(handle_, m.WParam ? SW_SHOWNA : SW_HIDE);
      m.Result = 0;
      return;
    case CM_ENABLEDCHANGED:
      if (handle_) EnableWindow(handle_, Enabled());
      m.Result = 0;
      return;
    default:
      if (kvinternal::IsMouseMessage(m.Msg) && RouteMouseToGraphic(m)) return;
      break;
  }
  TControl::WndProc(m);
}

LRESULT CALLBACK TWinControl::StdWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  TWinControl* control = FindControl(wnd);
  if (!control) {
    control = t_creating;
    if (!control) return DefWindowProcW(wnd, msg, wp, lp);
    t_creating = nullptr;
    control->handle_ = wnd;
    SetPropW(wnd, kControlProp, control);
  }
  TMessage m{msg, wp, lp, 0};
  ++kvinternal::g_messageDepth;
  try {
    control->WndProc(m);
  } catch (...) {
    // No exception unwinds through Windows: the application object reports it.
    Application->HandleException(control);
    m.Result = 0;
  }
  if (--kvinternal::g_messageDepth == 0) TControlCanvas::FreeAllDeviceContexts();
  return m.Result;
}

// ---------------------------------------------------------------------------
// TCustomControl
// ---------------------------------------------------------------------------
const TClassInfo& TCustomControl::StaticClass() {
  static const TClassInfo info = TClassBuilder<TCustomControl>(L"TCustomControl");
  return info;
}

TCustomControl::TCustomControl(TComponent* AOwner)
    : TWinControl(AOwner), canvas_(std::make_unique<TControlCanvas>(this)) {}

TCustomControl::~TCustomControl() {
  // The window goes before the canvas that paints it.
  DestroyHandle();
  canvas_->FreeHandle();
}

void TCustomControl::PaintWindow(HDC dc) {
  HDC outer = canvas_->BeginPaintWith(dc);
  try {
    Paint();
  } catch (...) {
    canvas_->EndPaintWith(outer);
    throw;
  }
  canvas_->EndPaintWith(outer);
}
