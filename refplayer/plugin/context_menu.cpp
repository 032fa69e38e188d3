#include "context_menu.h"

#include "engine_session.h"

namespace refplugin {
namespace {

const wchar_t kOwnerClass[] = L"KorvelRefPlayerMenuOwner";
HWND ownWindow = nullptr;

// The hidden window that owns the menu when the host has no window to give:
// a popup menu needs an owner of this thread to send its messages to.
HWND menuOwner()
{
    if (ownWindow && IsWindow(ownWindow))
        return ownWindow;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = refhost::thisModule();
    wc.lpszClassName = kOwnerClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    ownWindow = CreateWindowExW(WS_EX_TOOLWINDOW, kOwnerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                refhost::thisModule(), nullptr);
    return ownWindow;
}

enum : UINT { kPlay = 1, kLoop, kRewind, kForward, kBack, kAbout };

class Menu {
public:
    Menu() : menu_(CreatePopupMenu()) {}
    ~Menu()
    {
        if (menu_)
            DestroyMenu(menu_);
    }
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;
    HMENU get() const { return menu_; }

private:
    HMENU menu_;
};

}  // namespace

MenuCommand runContextMenu(HWND owner, int x, int y, const MenuState& state, DWORD* error)
{
    if (error)
        *error = 0;
    if (!owner)
        owner = menuOwner();
    Menu menu;
    if (!owner || !menu.get()) {
        if (error)
            *error = GetLastError();
        return MenuCommand::None;
    }
    const UINT movieItem = state.hasMovie ? MF_STRING : MF_STRING | MF_GRAYED;
    AppendMenuW(menu.get(), movieItem | (state.playing ? MF_CHECKED : 0), kPlay, L"Play");
    AppendMenuW(menu.get(), movieItem | (state.loop ? MF_CHECKED : 0), kLoop, L"Loop");
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), movieItem, kRewind, L"Rewind");
    AppendMenuW(menu.get(), movieItem, kForward, L"Forward");
    AppendMenuW(menu.get(), movieItem, kBack, L"Back");
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), MF_STRING, kAbout, L"About Korvel Reference Player...");
    // The menu's own loop runs here until it closes: the host's messages are
    // dispatched from inside it.
    SetLastError(0);
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenuEx(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN, x, y, owner,
                         nullptr));
    if (!chosen && error)
        *error = GetLastError();
    switch (chosen) {
    case kPlay: return MenuCommand::Play;
    case kLoop: return MenuCommand::Loop;
    case kRewind: return MenuCommand::Rewind;
    case kForward: return MenuCommand::Forward;
    case kBack: return MenuCommand::Back;
    case kAbout: return MenuCommand::About;
    default: return MenuCommand::None;
    }
}

const char* menuCommandName(MenuCommand command)
{
    switch (command) {
    case MenuCommand::Play: return "Play";
    case MenuCommand::Loop: return "Loop";
    case MenuCommand::Rewind: return "Rewind";
    case MenuCommand::Forward: return "Forward";
    case MenuCommand::Back: return "Back";
    case MenuCommand::About: return "About";
    case MenuCommand::None: break;
    }
    return "nothing";
}

void destroyMenuOwner()
{
    if (ownWindow) {
        DestroyWindow(ownWindow);
        ownWindow = nullptr;
    }
    UnregisterClassW(kOwnerClass, refhost::thisModule());
}

}  // namespace refplugin
