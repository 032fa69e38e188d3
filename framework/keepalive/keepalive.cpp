// A hidden window that handles messages until the session ends it: while it
// runs, Wine keeps its desktop process, so each test program starts quickly.
#include <windows.h>

namespace {
LRESULT CALLBACK KeepAliveProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(wnd, msg, wp, lp);
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = KeepAliveProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"KvKeepAlive";
  if (!RegisterClassW(&wc)) return 1;
  HWND wnd = CreateWindowExW(0, wc.lpszClassName, L"kv_keepalive", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr,
                             instance, nullptr);
  if (!wnd) return 1;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
