// The player's context menu: a modal popup menu that runs its own message
// loop from inside the host's NPP_HandleEvent, as the real player's does for
// the right button. The host's other windows and timers keep running while it
// is open; the call returns when the menu closes.
#pragma once

#include <windows.h>

namespace refplugin {

enum class MenuCommand { None, Play, Loop, Rewind, Forward, Back, About };

// What the menu shows about the movie.
struct MenuState {
    bool hasMovie = false;
    bool playing = false;
    bool loop = false;
};

// Runs the menu at the screen point (x, y), owned by `owner`, or by a hidden
// window of the player's own when the host gave none. Answers the command
// chosen (None when the menu was dismissed or could not be shown; `error`
// then holds GetLastError, 0 for a plain dismissal).
MenuCommand runContextMenu(HWND owner, int x, int y, const MenuState& state, DWORD* error);

// The name of a command, for the call log.
const char* menuCommandName(MenuCommand command);

// At library shutdown: the hidden owner window and its class go.
void destroyMenuOwner();

}  // namespace refplugin
