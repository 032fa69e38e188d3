#include "kv_package.h"

#include <windows.h>

#include <iterator>

#include "kv_driver_activex.h"
#include "kv_driver_netscape.h"
#include "kv_flashplayer.h"
#include "kv_flashreg.h"
#include "kv_layer.h"

namespace {

struct Unit {
    const char* name;
    void (*start)();
    void (*stop)();
};

void kv_version_Start() {}
void kv_version_Stop() {}

// In start order; stopped in reverse, so the plug-in library is shut down
// after the last driver is gone.
const Unit kUnits[] = {
    {"kv_version", kv_version_Start, kv_version_Stop},
    {"kv_driver_netscape", kv_driver_netscape_Start, kv_driver_netscape_Stop},
    {"kv_driver_activex", kv_driver_activex_Start, kv_driver_activex_Stop},
    {"kv_flashplayer", kv_flashplayer_Start, kv_flashplayer_Stop},
    {"kv_layer", kv_layer_Start, kv_layer_Stop},
    {"kv_flashreg", kv_flashreg_Start, kv_flashreg_Stop},
};

bool g_started = false;

}  // namespace

void KvPackageStart()
{
    if (g_started)
        return;
    g_started = true;
    for (const Unit& unit : kUnits)
        unit.start();
}

void KvPackageStop()
{
    if (!g_started)
        return;
    g_started = false;
    for (auto it = std::rbegin(kUnits); it != std::rend(kUnits); ++it)
        it->stop();
}

bool KvPackageStarted() { return g_started; }

// KV_VERSION comes from the project's version in the build.
#define KV_WIDEN2(x) L##x
#define KV_WIDEN(x) KV_WIDEN2(x)

const wchar_t* KvVersionText() { return L"Korvel Flash components " KV_WIDEN(KV_VERSION); }

void KvAbout(void* ownerWindow)
{
    MessageBoxW(static_cast<HWND>(ownerWindow),
                L"Korvel Flash components " KV_WIDEN(KV_VERSION) L"\n\nFlash movies and video on your forms,\n"
                L"played by the Flash Player installed on the machine.",
                L"About Korvel Flash components", MB_OK | MB_ICONINFORMATION);
}
