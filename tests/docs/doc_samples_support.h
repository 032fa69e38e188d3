// What the documentation's code fragments may take for granted: they are
// written as if inside a method of an application's main form that has a
// graphic player and a few handlers.
#pragma once

#include <windows.h>

#include "framework/framework.h"
#include "kv_driver_activex.h"
#include "kv_driver_netscape.h"
#include "kv_flashplayer.h"
#include "kv_flashreg.h"
#include "kv_flashstore.h"
#include "kv_layer.h"
#include "kv_package.h"

class TSampleForm : public TForm {
public:
    explicit TSampleForm(TComponent* AOwner) : TForm(AOwner) {}
    TkvFlashPlayer* Player = nullptr;

    void GameCommand(TObject*, const WideString&, const WideString&) {}
    void MovieCommand(TObject*, const WideString&, const WideString&) {}
    void MovieCall(TObject*, const WideString&) {}
};
// The samples name the form class as an application would.
using TMainForm = TSampleForm;

// Stands for whatever the application does with an off-screen player's pixels.
inline void UploadToTexture(TkvFlashPlayerComp*, const TRect&) {}
