// Controls: TControl (position, parent, colour, alignment, mouse, the
// virtual message handler), TGraphicControl (no window; painted by its
// parent), TWinControl (a real window, created lazily) and TCustomControl
// (a window with a canvas and Paint).
//
// Messages. Every message a control gets, from Windows or from Perform,
// goes through the virtual WndProc(TMessage&). A descendant overrides it,
// handles what it wants and calls the inherited WndProc for the framework's
// handling, which ends in DefaultHandler (DefWindowProc for a window).
// Exceptions thrown while a message is handled are caught at the window
// procedure's edge and passed to Application->HandleException; they never
// unwind through Windows.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "framework/classes.h"
#include "framework/graphics.h"
#include "framework/types.h"

class TWinControl;
class TPopupMenu;

struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

// The framework's own messages (WM_APP range).
constexpr UINT CM_BASE = 0xB000;
constexpr UINT CM_COLORCHANGED = CM_BASE + 1;         // the control's Color changed
constexpr UINT CM_PARENTCOLORCHANGED = CM_BASE + 2;   // the parent's Color changed
constexpr UINT CM_VISIBLECHANGED = CM_BASE + 3;       // WParam: new Visible
constexpr UINT CM_ENABLEDCHANGED = CM_BASE + 4;
constexpr UINT CM_SHOWHINTCHANGED = CM_BASE + 5;
constexpr UINT CM_PARENTSHOWHINTCHANGED = CM_BASE + 6;
constexpr UINT CM_MOUSEENTER = CM_BASE + 7;
constexpr UINT CM_MOUSELEAVE = CM_BASE + 8;
constexpr UINT CM_RELEASE = CM_BASE + 9;              // a form frees itself
constexpr UINT CM_TEXTCHANGED = CM_BASE + 10;
constexpr UINT CM_CREATECHILDREN = CM_BASE + 11;     // posted: create missing child windows

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
const TEnumInfo& AlignInfo();
enum TAnchorKind { akLeft, akTop, akRight, akBottom };
using TAnchors = TSet<TAnchorKind>;
const TEnumInfo& AnchorKindInfo();
enum TDragMode { dmManual, dmAutomatic };
const TEnumInfo& DragModeInfo();
enum TDragState { dsDragEnter, dsDragLeave, dsDragMove };

enum TControlStateItem { csLButtonDown, csClicked, csPaintCopy, csCreating, csAlignmentNeeded, csFocusing };
using TControlState = TSet<TControlStateItem>;
enum TControlStyleItem { csAcceptsControls, csCaptureMouse, csClickEvents, csDoubleClicks, csOpaque };
using TControlStyle = TSet<TControlStyleItem>;

// A dragged object, for the drag events. The framework stores drag settings
// and events but starts no drag operations of its own.
class TDragObject : public TObject {
  KV_CLASS(TDragObject, TObject)
};

using TMouseEvent = TEvent<TObject*, TMouseButton, TShiftState, int, int>;
using TMouseMoveEvent = TEvent<TObject*, TShiftState, int, int>;
// (Sender, Shift, WheelDelta, MousePos in screen coordinates, Handled)
using TMouseWheelEvent = TEvent<TObject*, TShiftState, int, TPoint, bool&>;
using TKeyEvent = TEvent<TObject*, std::uint16_t&, TShiftState>;
using TKeyPressEvent = TEvent<TObject*, wchar_t&>;
using TDragDropEvent = TEvent<TObject*, TObject*, int, int>;
using TDragOverEvent = TEvent<TObject*, TObject*, int, int, TDragState, bool&>;
using TEndDragEvent = TEvent<TObject*, TObject*, int, int>;
using TStartDragEvent = TEvent<TObject*, TDragObject*&>;

// Published by TControl: Name, Tag (from TComponent), Left, Top, Width,
// Height, Cursor, Hint. Publishable by descendants (TClassBuilder::Publish):
// Align (alNone), Anchors ([akLeft, akTop]), Color (clWindow), ParentColor
// (true), Visible (true), Enabled (true), DragCursor (crDrag), DragMode
// (dmManual), ShowHint (stored when ParentShowHint is false), ParentShowHint
// (true), PopupMenu, OnClick, OnDblClick, OnMouseDown, OnMouseMove,
// OnMouseUp, OnMouseWheel, OnResize, OnDragDrop, OnDragOver, OnEndDrag,
// OnStartDrag.
class TControl : public TComponent {
  KV_CLASS(TControl, TComponent)
public:
  explicit TControl(TComponent* AOwner);
  // Leaves the parent (which repaints the vacated area).
  ~TControl() override;

  // Position in the parent's client coordinates.
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  // Every change of position or size comes here. Negative sizes become 0.
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  TRect BoundsRect() const { return Bounds(left_, top_, width_, height_); }
  void SetBoundsRect(const TRect& r) { SetBounds(r.left, r.top, r.Width(), r.Height()); }
  virtual TRect ClientRect();
  int ClientWidth() { return ClientRect().right; }
  int ClientHeight() { return ClientRect().bottom; }
  virtual void SetClientSize(int AWidth, int AHeight);
  void SetClientWidth(int v) { SetClientSize(v, ClientHeight()); }
  void SetClientHeight(int v) { SetClientSize(ClientWidth(), v); }
  // Screen position of the client area's origin.
  virtual TPoint ClientOrigin();
  TPoint ClientToScreen(TPoint p) { TPoint o = ClientOrigin(); return TPoint(p.x + o.x, p.y + o.y); }
  TPoint ScreenToClient(TPoint p) { TPoint o = ClientOrigin(); return TPoint(p.x - o.x, p.y - o.y); }

  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* AParent);
  bool HasParent() const override { return parent_ != nullptr; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* Value) override;

  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible, and every parent up to a top-level window visible too.
  virtual bool Showing() const;
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);

  // Setting Color clears ParentColor and sends CM_COLORCHANGED; a parent's
  // change reaches the children with ParentColor the same way.
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool v);

  // alClient fills the parent's client area (and follows its size); alTop,
  // alBottom, alLeft and alRight stack along the edges first. Anchors keep
  // the distance of anchored edges to the parent's edges when it resizes.
  TAlign Align() const { return align_; }
  void SetAlign(TAlign v);
  TAnchors Anchors() const { return anchors_; }
  void SetAnchors(TAnchors v);

  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor v) { cursor_ = v; }
  const WideString& Hint() const { return hint_; }
  void SetHint(const WideString& v) { hint_ = v; }
  TCursor DragCursor() const { return dragCursor_; }
  void SetDragCursor(TCursor v) { dragCursor_ = v; }
  TDragMode DragMode() const { return dragMode_; }
  void SetDragMode(TDragMode v) { dragMode_ = v; }
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool v);  // clears ParentShowHint
  bool ParentShowHint() const { return parentShowHint_; }
  void SetParentShowHint(bool v);
  TPopupMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* v);

  // Painting: Invalidate marks the control's area for the next WM_PAINT;
  // Update paints what is invalid now; Repaint does both.
  virtual void Invalidate();
  virtual void Update();
  virtual void Repaint();
  void Refresh() { Repaint(); }
  void BringToFront();
  void SendToBack();

  TControlState ControlState() const { return controlState_; }
  void SetControlState(TControlState v) { controlState_ = v; }
  TControlStyle ControlStyle() const { return controlStyle_; }
  void SetControlStyle(TControlStyle v) { controlStyle_ = v; }
  bool MouseCapture();
  void SetMouseCapture(bool v);

  // Sends a message straight to WndProc; answers its Result.
  LRESULT Perform(UINT Msg, WPARAM WParam = 0, LPARAM LParam = 0);
  virtual void WndProc(TMessage& Message);
  virtual void DefaultHandler(TMessage& Message);

  // Input handlers: the base fires the matching event. Coordinates are
  // client coordinates of the control.
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseMove(TShiftState Shift, int X, int Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  // MousePos in screen coordinates, as WM_MOUSEWHEEL delivers it. Fires
  // OnMouseWheel; answers whether the wheel was handled.
  virtual bool DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos);
  // Fires OnClick: a left press and release inside the control.
  virtual void Click();
  virtual void DblClick();

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnResize;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;
  TMouseWheelEvent OnMouseWheel;
  TDragDropEvent OnDragDrop;
  TDragOverEvent OnDragOver;
  TEndDragEvent OnEndDrag;
  TStartDragEvent OnStartDrag;

protected:
  virtual void Resize();
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Where the control's pixels are in its nearest window's client area.
  TPoint OffsetInWindow() const;
  // Asks the parent to realign (a no-op without a parent).
  void RequestAlign();
  void InvalidateControl(bool wasVisible);
  void UpdateBoundsFields(int l, int t, int w, int h) {
    left_ = l;
    top_ = t;
    width_ = w;
    height_ = h;
  }

private:
  friend class TWinControl;
  void HandleMouseMessage(TMessage& m);

  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  TColor color_ = clWindow;
  bool parentColor_ = true;
  TAlign align_ = alNone;
  TAnchors anchors_{akLeft, akTop};
  TCursor cursor_ = crDefault;
  WideString hint_;
  TCursor dragCursor_ = crDrag;
  TDragMode dragMode_ = dmManual;
  bool showHint_ = false;
  bool parentShowHint_ = true;
  TPopupMenu* popupMenu_ = nullptr;
  TControlState controlState_;
  TControlStyle controlStyle_{csCaptureMouse, csClickEvents, csDoubleClicks};
};

// The canvas of a control. Inside Paint it is the paint DC. Elsewhere its
// Handle is a DC of the control's window (of the parent's window for a
// graphic control, with the origin moved to the control's top-left corner
// and the drawing clipped to it); the framework releases such a DC after the
// message being handled, at the next paint, or when the control moves.
class TControlCanvas : public TCanvas {
  KV_CLASS(TControlCanvas, TCanvas)
public:
  explicit TControlCanvas(TControl* Control) : control_(Control) {}
  ~TControlCanvas() override;
  TControl* Control() const { return control_; }
  // Releases a DC acquired outside painting.
  void FreeHandle() override;
  static void FreeAllDeviceContexts();
  // A paint that draws through the painter's DC: BeginPaintWith lets go of a
  // DC the canvas took itself, attaches dc and answers the DC an outer paint
  // of the same control had attached (or nullptr). EndPaintWith releases what
  // the canvas holds by then, a DC Paint made it take included, and gives
  // the outer paint its DC back.
  HDC BeginPaintWith(HDC dc);
  void EndPaintWith(HDC outer);

protected:
  void CreateHandle() override;

private:
  TControl* control_;
  HWND window_ = nullptr;  // set while holding a DC of this window
};

// A control without a window: its parent paints it (through Paint, with the
// canvas origin at Left/Top and clipped to the control) and routes the mouse
// messages under it to it.
class TGraphicControl : public TControl {
  KV_CLASS(TGraphicControl, TControl)
public:
  explicit TGraphicControl(TComponent* AOwner);
  ~TGraphicControl() override;
  TCanvas* Canvas() { return canvas_.get(); }
  void WndProc(TMessage& Message) override;
  virtual void Paint() {}

private:
  std::unique_ptr<TControlCanvas> canvas_;
};

struct TCreateParams {
  WideString Caption;
  DWORD Style = 0;
  DWORD ExStyle = 0;
  int X = 0, Y = 0, Width = 0, Height = 0;
  HWND WndParent = nullptr;
  UINT ClassStyle = 0;
  WideString WinClassName;
};

// A control with a window. The window is created when first needed
// (Handle, HandleNeeded, showing a form, a parent's window being created)
// by the virtual CreateHandle, never from the constructor.
class TWinControl : public TControl {
  KV_CLASS(TWinControl, TControl)
public:
  explicit TWinControl(TComponent* AOwner);
  // Destroys the window, then the child controls.
  ~TWinControl() override;

  HWND Handle();  // creates the window when needed
  bool HandleAllocated() const { return handle_ != nullptr; }
  void HandleNeeded();
  // Creates the window (CreateWnd) and the windows of the child controls.
  // Descendants extend it; it runs again whenever the window is recreated.
  virtual void CreateHandle();
  void DestroyHandle();
  void RecreateWnd();
  // The control owning a framework window, or nullptr.
  static TWinControl* FindControl(HWND wnd);

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int Index) const;  // in z-order, bottom first
  void InsertControl(TControl* AControl);
  void RemoveControl(TControl* AControl);
  // The topmost visible child under Pos (client coordinates).
  TControl* ControlAtPos(TPoint Pos, bool AllowWinControls = false);
  bool ContainsControl(const TControl* c) const;

  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool v);
  virtual void SetFocus();
  bool Focused() const;
  bool CanFocus() const;

  // Paints the control and all its child controls (graphic and windowed,
  // recursively) into dc with the control's top-left corner at (X, Y).
  // Honours a clip region selected into dc; leaves the DC's state as it was.
  // The windows need not exist.
  void PaintTo(HDC dc, int X, int Y);

  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
  TRect ClientRect() override;
  TPoint ClientOrigin() override;
  void SetClientSize(int AWidth, int AHeight) override;
  // Owned components without a parent when this is the root, then the
  // child controls that root owns.
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  void Invalidate() override;
  void Update() override;
  void Repaint() override;
  bool Showing() const override;
  void WndProc(TMessage& Message) override;
  void DefaultHandler(TMessage& Message) override;

  void Realign();
  void DisableAlign() { ++alignDisabled_; }
  void EnableAlign();

  // Keyboard: the base fires the events.
  virtual void KeyDown(std::uint16_t& Key, TShiftState Shift);
  virtual void KeyUp(std::uint16_t& Key, TShiftState Shift);
  virtual void KeyPress(wchar_t& Key);

  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;

protected:
  virtual void CreateParams(TCreateParams& Params);
  virtual void CreateWnd();
  virtual void DestroyWnd();
  // Paints the window's own content into dc (the base: nothing); the graphic
  // children follow.
  virtual void PaintWindow(HDC dc);
  // Fills the background with Color.
  virtual void EraseBackground(HDC dc);
  void PaintControls(HDC dc);
  virtual void AlignControls(TControl* AControl, TRect& Rect);
  // Takes the position and size from the window (moved or sized from outside).
  void UpdateBoundsFromWindow();
  // Realigns the children when the client area's size changed.
  void ClientSizeMaybeChanged();

private:
  friend class TControl;
  void PaintHandler(TMessage& m);
  bool RouteMouseToGraphic(TMessage& m);
  void DoAlign();
  void ApplyAnchors(int oldClientW, int oldClientH);
  static LRESULT CALLBACK StdWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

  HWND handle_ = nullptr;
  std::vector<TControl*> controls_;
  bool tabStop_ = false;
  int alignDisabled_ = 0;
  bool aligning_ = false;
  int lastClientW_ = -1, lastClientH_ = -1;
};

// A window with a canvas, painted by the virtual Paint.
class TCustomControl : public TWinControl {
  KV_CLASS(TCustomControl, TWinControl)
public:
  explicit TCustomControl(TComponent* AOwner);
  ~TCustomControl() override;
  TCanvas* Canvas() { return canvas_.get(); }
  virtual void Paint() {}

protected:
  void PaintWindow(HDC dc) override;

private:
  std::unique_ptr<TControlCanvas> canvas_;
};
