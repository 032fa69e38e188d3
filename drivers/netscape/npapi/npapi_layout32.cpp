// The published 32-bit Windows layouts of the records the package exchanges
// with a plug-in library. Compiled in every Windows configuration; the checks
// bite in the 32-bit one.
#include <cstddef>

#include "flash_plugin.h"

#if UINTPTR_MAX == UINT32_MAX
static_assert(sizeof(NPP_t) == 8);
static_assert(sizeof(NPNetscapeFuncs) == 172, "size/version + 42 browser entries");
static_assert(offsetof(NPNetscapeFuncs, geturl) == 4 && offsetof(NPNetscapeFuncs, geturlnotify) == 4 + 14 * 4 &&
              offsetof(NPNetscapeFuncs, getvalue) == 4 + 16 * 4 &&
              offsetof(NPNetscapeFuncs, invalidaterect) == 4 + 18 * 4 &&
              offsetof(NPNetscapeFuncs, invoke) == 4 + 30 * 4 &&
              offsetof(NPNetscapeFuncs, evaluate) == 4 + 32 * 4 &&
              offsetof(NPNetscapeFuncs, poppopupsenabledstate) == 168);
static_assert(sizeof(NPPluginFuncs) == 60, "size/version + 14 plug-in entries");
static_assert(offsetof(NPPluginFuncs, newp) == 4 && offsetof(NPPluginFuncs, event) == 40 &&
              offsetof(NPPluginFuncs, getvalue) == 52 && offsetof(NPPluginFuncs, setvalue) == 56);
static_assert(sizeof(NPStream) == 28 && offsetof(NPStream, url) == 8 && offsetof(NPStream, end) == 12 &&
              offsetof(NPStream, notifyData) == 20 && offsetof(NPStream, headers) == 24);
static_assert(sizeof(NPWindow) == 32 && offsetof(NPWindow, clipRect) == 20 && offsetof(NPWindow, type) == 28);
static_assert(sizeof(NPRect) == 8);
static_assert(sizeof(NPEvent) == 12 && offsetof(NPEvent, wParam) == 4 && offsetof(NPEvent, lParam) == 8);
static_assert(sizeof(NPSavedData) == 8);
static_assert(sizeof(NPObject) == 8);
// The first twelve 32-bit words of a class are structVersion and allocate..enumerate.
static_assert(sizeof(NPClass) == 52 && offsetof(NPClass, enumerate) == 44 && offsetof(NPClass, construct) == 48);
static_assert(sizeof(NPString) == 8);
static_assert(sizeof(NPVariant) == 16 && offsetof(NPVariant, value) == 8, "a 32-bit type, then an 8-byte value");
#endif

// Something for the object library to hold in every configuration.
extern "C" int kv_npapi_layout_checked() { return static_cast<int>(sizeof(NPNetscapeFuncs)); }
