#include <cstdio>

#include "framework/forms.h"
#include "internal.h"

const TClassInfo& TApplication::StaticClass() {
  static const TClassInfo info = TClassBuilder<TApplication>(L"TApplication");
  return info;
}

TApplication* TApplicationRef::Get() {
  // Created on first use and kept for the life of the process: other units'
  // start and stop code may use it in any order.
  static TApplication* app = new TApplication(nullptr);
  return app;
}

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

TApplication::~TApplication() = default;

void TApplication::Initialize() {}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == mainForm_) mainForm_ = nullptr;
}

void TApplication::Run() {
  ++runDepth_;
  try {
    if (mainForm_ && !mainForm_->Visible()) mainForm_->Show();
    while (!terminated_) HandleMessage();
  } catch (...) {
    --runDepth_;
    throw;
  }
  --runDepth_;
  // The application is over: its forms go now, while everything they use still exists.
  DestroyComponents();
}

bool TApplication::IsDialogKey(MSG& msg) {
  if (msg.message != WM_KEYDOWN) return false;
  bool tab = msg.wParam == VK_TAB;
  bool arrow = msg.wParam == VK_LEFT || msg.wParam == VK_RIGHT || msg.wParam == VK_UP || msg.wParam == VK_DOWN;
  if (!tab && !arrow) return false;
  if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
  TWinControl* control = TWinControl::FindControl(msg.hwnd);
  if (!control) return false;
  bool handled = false;
  GuardedCall(control, [&] {
    LRESULT code = control->Perform(WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg));
    LRESULT wanted = tab ? DLGC_WANTTAB : DLGC_WANTARROWS;
    if (code & (wanted | DLGC_WANTALLKEYS | DLGC_WANTMESSAGE)) return;
    TCustomForm* form = GetParentForm(control);
    if (!form) return;
    bool forward = tab ? GetKeyState(VK_SHIFT) >= 0 : (msg.wParam == VK_RIGHT || msg.wParam == VK_DOWN);
    form->SelectNext(control, forward);
    handled = true;
  });
  return handled;
}

bool TApplication::ProcessMessage(MSG& msg) {
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return true;
  }
  if (!IsDialogKey(msg)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  TControlCanvas::FreeAllDeviceContexts();
  return true;
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (ProcessMessage(msg)) {
  }
}

void TApplication::HandleMessage() {
  MSG msg;
  if (ProcessMessage(msg)) return;
  bool done = true;
  GuardedCall(this, [&] { OnIdle(this, done); });
  if (done && !terminated_) WaitMessage();
}

void TApplication::Terminate() {
  if (terminated_) return;
  terminated_ = true;
  PostQuitMessage(0);
}

void TApplication::HandleException(TObject* Sender) noexcept {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    if (OnException.Assigned()) {
      try {
        OnException(Sender, e);
        return;
      } catch (const std::exception& inner) {
        ShowException(inner);
        return;
      } catch (...) {
      }
    }
    ShowException(e);
  } catch (...) {
    Exception unknown(L"An exception of an unknown type was raised");
    if (OnException.Assigned()) {
      try {
        OnException(Sender, unknown);
        return;
      } catch (...) {
      }
    }
    ShowException(unknown);
  }
}

void TApplication::ShowException(const std::exception& E) noexcept {
  try {
    WideString text;
    if (auto* ex = dynamic_cast<const Exception*>(&E))
      text = ex->Message();
    else
      text = Utf8ToWide(E.what());
    std::fprintf(stderr, "Exception: %s\n", WideToUtf8(text).c_str());
    std::fflush(stderr);
    OutputDebugStringW((L"Exception: " + text + L"\n").c_str());
    // A dialog only for a running application; elsewhere (tests, start-up
    // code) nobody may be there to close it.
    if (runDepth_ > 0) MessageBoxW(nullptr, text.c_str(), title_.empty() ? L"Error" : title_.c_str(), MB_OK | MB_ICONSTOP);
  } catch (...) {
  }
}
