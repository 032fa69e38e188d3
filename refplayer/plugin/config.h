// The plug-in's settings: HKEY_CURRENT_USER\Software\KorvelRef\Plugin (the
// values shared with the control are listed in host_config.h), read when the
// library is initialised and again for each new instance. For a script method
// ("Play", "GetVariable", ...) any non-zero Fail value makes the invoke fail.
//
// The plug-in's own values switch the real player's habits towards its host
// (REG_DWORD, 0 off, non-zero on; docs/npapi-contract.md lists them):
//   ThrottleHidden      on:  an instance whose clip rectangle is empty is
//                            taken for invisible: a few frames a second, no
//                            drawing
//   ContextMenu         on:  the right button runs the player's modal menu
//   RequestTwice        on:  every URL the movie needs is asked for twice
//   SmallWrites         on:  NPP_WriteReady answers small numbers and
//                            NPP_Write takes only part of each piece
//   DecodeTypedText     on:  WM_CHAR bytes are read in the system code page
//   FramesAsDoubles     on:  frame numbers are answered as doubles
//   RepaintInSetWindow  0:   n: each of an instance's first n NPP_SetWindow
//                            calls asks for a repaint of the whole view from
//                            inside the call
#pragma once

#include "host_config.h"

namespace refplugin {

inline constexpr const wchar_t* kConfigKey = L"Software\\KorvelRef\\Plugin";

struct Config : refhost::Config {
    bool throttleHidden = true;
    bool contextMenu = true;
    bool requestTwice = true;
    bool smallWrites = true;
    bool decodeTypedText = true;
    bool framesAsDoubles = true;
    int repaintInSetWindow = 0;
};

Config readConfig();

// The configuration in force: replaced by refreshConfig().
const Config& config();
void refreshConfig();

}  // namespace refplugin
