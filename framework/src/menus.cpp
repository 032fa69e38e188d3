#include "framework/menus.h"

#include "framework/forms.h"

const TClassInfo& TPopupMenu::StaticClass() {
  static const TClassInfo info = TClassBuilder<TPopupMenu>(L"TPopupMenu")
                                     .WideStr(L"Items", &TPopupMenu::GetItemsText, &TPopupMenu::SetItemsText)
                                     .Event(L"OnPopup", &TPopupMenu::OnPopup)
                                     .Event(L"OnItemClick", &TPopupMenu::OnItemClick);
  return info;
}

TPopupMenu::TPopupMenu(TComponent* AOwner) : TComponent(AOwner) {}

TPopupMenu::~TPopupMenu() = default;

int TPopupMenu::Popup(int X, int Y) {
  OnPopup(this);
  HMENU menu = CreatePopupMenu();
  if (!menu) throw EOutOfResources(L"Cannot create a menu");
  struct MenuOwner {
    HMENU menu;
    HWND wnd = nullptr;
    ~MenuOwner() {
      DestroyMenu(menu);
      if (wnd) DestroyWindow(wnd);
    }
  } owner{menu};
  for (int i = 0; i < items_.Count(); ++i) {
    const WideString& text = items_.Strings(i);
    if (text == L"-")
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    else
      AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(i + 1), text.c_str());
  }
  // The menu needs a window of this thread to report to.
  HWND wnd = GetActiveWindow();
  if (!wnd) {
    owner.wnd = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    wnd = owner.wnd;
  }
  int cmd = static_cast<int>(TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, X, Y, wnd, nullptr));
  if (cmd <= 0) return -1;
  OnItemClick(this, cmd - 1);
  return cmd - 1;
}
