// Small helpers the ActiveX back-end's files share: the control's version gate and the answers of the container's tear-off objects.
#pragma once

#include <windows.h>

#include "framework/winstreams.h"
#include "kv_flashocx.h"
#include "kv_owners.h"

namespace kvax {

// Flash Player 8 appended methods to the control's main interface
// (CallFunction, SetReturnValue, DisableLocalSecurity); an older control's
// table ends before them, so they are called only when the control reports
// major version 8 or later. A failing version query raises.
inline bool HasPlayer8Methods(IkvFlashPlayer* intf)
{
    long version = 0;
    OleCheck(intf->FlashVersion(&version));
    return ((static_cast<unsigned long>(version) >> 16) & 0xFFFF) >= 8;
}

// References the controls hold on the objects their drivers hand them (the
// driver's site and its tear-offs, the event sink, the moniker): every AddRef
// minus every Release, over all drivers. 0 when every control gave back all
// it took, also from drivers that are gone (leak checks).
int SiteReferences();

// A window query of a tear-off that has no window to name.
inline HRESULT NoWindow(HWND* phwnd)
{
    if (phwnd)
        *phwnd = nullptr;
    return S_OK;
}

}  // namespace kvax
