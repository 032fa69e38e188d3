// Forms and the application object.
#pragma once

#include <windows.h>

#include <exception>

#include "framework/controls.h"
#include "framework/filer.h"

enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
const TEnumInfo& FormBorderStyleInfo();

using TCloseEvent = TEvent<TObject*, TCloseAction&>;
using TCloseQueryEvent = TEvent<TObject*, bool&>;

// A top-level window that owns its components. Its WM_PAINT fills the
// background with Color, then runs Paint (OnPaint), then paints the graphic
// controls. The window's extended style may be changed by others (e.g. made
// layered with SetWindowLongPtr); the form leaves it alone until the window
// is recreated.
class TCustomForm : public TWinControl {
  KV_CLASS(TCustomForm, TWinControl)
public:
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;
  void AfterConstruction() override;   // fires OnCreate
  void BeforeDestruction() override;   // fires OnDestroy

  const WideString& Caption() const { return caption_; }
  void SetCaption(const WideString& v);
  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle v);
  TCanvas* Canvas() { return canvas_.get(); }

  // Show: Visible and brought to the front; Close asks OnCloseQuery, then
  // OnClose decides (caHide by default; the main form ends the application).
  void Show();
  void Close();
  bool CloseQuery();
  // Frees the form once the messages being handled are done.
  void Release();

  TWinControl* ActiveControl() const { return activeControl_; }
  void SetActiveControl(TWinControl* c);
  // Moves the focus to the next (or previous) control with TabStop.
  void SelectNext(TWinControl* Current, bool GoForward);
  // Focus notifications from child windows.
  void FocusChanged(TWinControl* c) { activeControl_ = c; }

  // The form and everything it owns, in the format of TWriter/TReader.
  void SaveToStream(TStream& Stream);
  void LoadFromStream(TStream& Stream);

  TRect ClientRect() override;
  void SetClientSize(int AWidth, int AHeight) override;
  TPoint ClientOrigin() override;
  bool Showing() const override;
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  void WndProc(TMessage& Message) override;

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnPaint;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

  // Fires OnPaint; descendants draw a custom background here.
  virtual void Paint();

protected:
  void CreateParams(TCreateParams& Params) override;
  void PaintWindow(HDC dc) override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  WideString caption_;
  TFormBorderStyle borderStyle_ = bsSizeable;
  std::unique_ptr<TControlCanvas> canvas_;
  TWinControl* activeControl_ = nullptr;
  bool createFired_ = false;
};

// Publishes the form's settings: Caption, BorderStyle, ClientWidth,
// ClientHeight, Color (clBtnFace), Visible (false), OnCreate, OnDestroy,
// OnShow, OnHide, OnPaint, OnClose, OnCloseQuery, OnClick, OnMouseDown,
// OnMouseMove, OnMouseUp, OnResize.
class TForm : public TCustomForm {
  KV_CLASS(TForm, TCustomForm)
public:
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
};

TCustomForm* GetParentForm(TControl* Control);

using TExceptionEvent = TEvent<TObject*, const std::exception&>;
using TIdleEvent = TEvent<TObject*, bool&>;

class TApplication : public TComponent {
  KV_CLASS(TApplication, TComponent)
public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  void Initialize();
  // Creates a form owned by the application; the first becomes MainForm.
  template <class T>
  void CreateForm(T*& Reference) {
    Reference = nullptr;
    T* form = new T(this);
    if (!mainForm_) mainForm_ = form;
    form->AfterConstruction();
    Reference = form;
  }
  TCustomForm* MainForm() const { return mainForm_; }
  void SetMainForm(TCustomForm* form) { mainForm_ = form; }

  // Shows the main form and handles messages until Terminate (closing the
  // main form terminates).
  void Run();
  // Handles every waiting message, then returns.
  void ProcessMessages();
  // Handles one message, waiting for one (after OnIdle) when none waits.
  void HandleMessage();
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Call inside a catch handler: passes the current exception to
  // OnException, or to ShowException when none is assigned.
  void HandleException(TObject* Sender) noexcept;
  // Writes the message to stderr; inside Run it also shows a message box.
  void ShowException(const std::exception& E) noexcept;

  const WideString& Title() const { return title_; }
  void SetTitle(const WideString& v) { title_ = v; }

  TExceptionEvent OnException;
  TIdleEvent OnIdle;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  bool ProcessMessage(MSG& msg);
  bool IsDialogKey(MSG& msg);
  TCustomForm* mainForm_ = nullptr;
  bool terminated_ = false;
  int runDepth_ = 0;
  WideString title_;
};

// The process's application object, created on first use (also usable from
// other units' start code).
struct TApplicationRef {
  TApplication* operator->() const { return Get(); }
  TApplication& operator*() const { return *Get(); }
  operator TApplication*() const { return Get(); }
  static TApplication* Get();
};
inline constexpr TApplicationRef Application{};

// Runs fn; an exception it throws goes to Application->HandleException(Sender)
// instead of further up. For window procedures and callbacks from Windows or
// a plug-in, which must not let exceptions out. Answers false after an exception.
template <class F>
bool GuardedCall(TObject* Sender, F&& fn) noexcept {
  try {
    fn();
    return true;
  } catch (...) {
    Application->HandleException(Sender);
    return false;
  }
}
