// The Netscape Plug-in API as seen from both sides: basic types, records and
// selector values. Written from the published API (version 0.18 of the
// browser table); layouts follow the published Windows declarations, so these
// records can be handed to any plug-in library built against them.
//
// Plain C-compatible declarations in the global namespace, without
// <windows.h>: platform handles travel as void*.
#ifndef KV_NPAPI_NPAPI_H
#define KV_NPAPI_NPAPI_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Exports of the plug-in library use the system calling convention (on 32-bit
// Windows __stdcall); the entries of the two function tables use the default
// C convention.
#if defined(_WIN32)
#define NP_OSCALL __stdcall
#else
#define NP_OSCALL
#endif

#define NP_VERSION_MAJOR 0
#define NP_VERSION_MINOR 18  // the browser table version this package offers

typedef unsigned char NPBool;
typedef int16_t NPError;
typedef int16_t NPReason;
typedef char* NPMIMEType;

// ---- instance and records -------------------------------------------------

// One plug-in instance: pdata belongs to the plug-in, ndata to the browser.
typedef struct _NPP {
    void* pdata;
    void* ndata;
} NPP_t;
typedef NPP_t* NPP;

typedef struct _NPStream {
    void* pdata;               // plug-in's
    void* ndata;               // browser's
    const char* url;
    uint32_t end;              // length in bytes, 0 when unknown
    uint32_t lastmodified;
    void* notifyData;          // as given to NPN_GetURLNotify
    const char* headers;       // response headers, or null
} NPStream;

typedef struct _NPByteRange {
    int32_t offset;            // negative: from the end
    uint32_t length;
    struct _NPByteRange* next;
} NPByteRange;

typedef struct _NPSavedData {
    int32_t len;
    void* buf;
} NPSavedData;

typedef struct _NPRect {
    uint16_t top;
    uint16_t left;
    uint16_t bottom;
    uint16_t right;
} NPRect;

typedef struct _NPSize {
    int32_t width;
    int32_t height;
} NPSize;

typedef enum {
    NPWindowTypeWindow = 1,    // window is an HWND
    NPWindowTypeDrawable = 2   // window is an HDC (windowless)
} NPWindowType;

typedef struct _NPWindow {
    void* window;              // HWND or HDC, by type
    int32_t x;                 // plug-in's origin in the window or drawable
    int32_t y;
    uint32_t width;
    uint32_t height;
    NPRect clipRect;
    NPWindowType type;
} NPWindow;

typedef struct _NPFullPrint {
    NPBool pluginPrinted;
    NPBool printOne;
    void* platformPrint;
} NPFullPrint;

typedef struct _NPEmbedPrint {
    NPWindow window;
    void* platformPrint;
} NPEmbedPrint;

typedef struct _NPPrint {
    uint16_t mode;             // NP_FULL or NP_EMBED
    union {
        NPFullPrint fullPrint;
        NPEmbedPrint embedPrint;
    } print;
} NPPrint;

// A Windows message for NPP_HandleEvent. wParam and lParam are pointer-sized,
// as the window procedure's are: a paint event carries an HDC and a RECT*.
typedef struct _NPEvent {
    uint16_t event;
    uintptr_t wParam;
    uintptr_t lParam;
} NPEvent;

typedef void* NPRegion;        // HRGN

// ---- selector values --------------------------------------------------------

#define NP_EMBED 1
#define NP_FULL 2

#define NP_NORMAL 1
#define NP_SEEK 2
#define NP_ASFILE 3
#define NP_ASFILEONLY 4

#define NP_MAXREADY (((unsigned)(~0) << 1) >> 1)

#define NPERR_NO_ERROR 0
#define NPERR_GENERIC_ERROR 1
#define NPERR_INVALID_INSTANCE_ERROR 2
#define NPERR_INVALID_FUNCTABLE_ERROR 3
#define NPERR_MODULE_LOAD_FAILED_ERROR 4
#define NPERR_OUT_OF_MEMORY_ERROR 5
#define NPERR_INVALID_PLUGIN_ERROR 6
#define NPERR_INVALID_PLUGIN_DIR_ERROR 7
#define NPERR_INCOMPATIBLE_VERSION_ERROR 8
#define NPERR_INVALID_PARAM 9
#define NPERR_INVALID_URL 10
#define NPERR_FILE_NOT_FOUND 11
#define NPERR_NO_DATA 12
#define NPERR_STREAM_NOT_SEEKABLE 13

#define NPRES_DONE 0
#define NPRES_NETWORK_ERR 1
#define NPRES_USER_BREAK 2

#define NPVERS_HAS_STREAMOUTPUT 8
#define NPVERS_HAS_NOTIFICATION 9
#define NPVERS_HAS_LIVECONNECT 9
#define NPVERS_HAS_WINDOWLESS 11
#define NPVERS_HAS_XPCONNECT_SCRIPTING 13
#define NPVERS_HAS_NPRUNTIME_SCRIPTING 14
#define NPVERS_HAS_FORM_VALUES 15
#define NPVERS_HAS_POPUPS_ENABLED_STATE 16
#define NPVERS_HAS_RESPONSE_HEADERS 17
#define NPVERS_HAS_NPOBJECT_ENUM 18

// What the browser asks of the plug-in (NPP_GetValue) and what the plug-in
// tells the browser (NPN_SetValue).
typedef enum {
    NPPVpluginNameString = 1,
    NPPVpluginDescriptionString = 2,
    NPPVpluginWindowBool = 3,
    NPPVpluginTransparentBool = 4,
    NPPVjavaClass = 5,
    NPPVpluginWindowSize = 6,
    NPPVpluginTimerInterval = 7,
    NPPVpluginScriptableInstance = 10,
    NPPVpluginScriptableIID = 11,
    NPPVjavascriptPushCallerBool = 12,
    NPPVpluginKeepLibraryInMemory = 13,
    NPPVpluginNeedsXEmbed = 14,
    NPPVpluginScriptableNPObject = 15,
    NPPVformValue = 16,
    NPPVpluginUrlRequestsDisplayedBool = 17,
    NPPVpluginWantsAllNetworkStreams = 18,
    NPPVpluginNativeAccessibleAtkPlugId = 19,
    NPPVpluginCancelSrcStream = 20
} NPPVariable;

// What the plug-in asks of the browser (NPN_GetValue).
typedef enum {
    NPNVxDisplay = 1,
    NPNVxtAppContext = 2,
    NPNVnetscapeWindow = 3,
    NPNVjavascriptEnabledBool = 4,
    NPNVasdEnabledBool = 5,
    NPNVisOfflineBool = 6,
    NPNVserviceManager = 10,
    NPNVDOMElement = 11,
    NPNVDOMWindow = 12,
    NPNVToolkit = 13,
    NPNVSupportsXEmbedBool = 14,
    NPNVWindowNPObject = 15,
    NPNVPluginElementNPObject = 16,
    NPNVSupportsWindowless = 17,
    NPNVprivateModeBool = 18
} NPNVariable;

#ifdef __cplusplus
}  // extern "C"

// Published 64-bit Windows layouts (LLP64; the same on an LP64 native build,
// as no field is a long).
#if UINTPTR_MAX == UINT64_MAX
#include <cstddef>
static_assert(sizeof(NPP_t) == 16);
static_assert(sizeof(NPStream) == 48 && offsetof(NPStream, url) == 16 && offsetof(NPStream, end) == 24 &&
              offsetof(NPStream, lastmodified) == 28 && offsetof(NPStream, notifyData) == 32 &&
              offsetof(NPStream, headers) == 40);
static_assert(sizeof(NPByteRange) == 16);
static_assert(sizeof(NPSavedData) == 16 && offsetof(NPSavedData, buf) == 8);
static_assert(sizeof(NPRect) == 8 && offsetof(NPRect, left) == 2 && offsetof(NPRect, right) == 6);
static_assert(sizeof(NPWindowType) == 4);
static_assert(sizeof(NPWindow) == 40 && offsetof(NPWindow, x) == 8 && offsetof(NPWindow, width) == 16 &&
              offsetof(NPWindow, clipRect) == 24 && offsetof(NPWindow, type) == 32);
static_assert(sizeof(NPFullPrint) == 16 && sizeof(NPEmbedPrint) == 48);
static_assert(sizeof(NPPrint) == 56 && offsetof(NPPrint, print) == 8);
static_assert(sizeof(NPEvent) == 24 && offsetof(NPEvent, wParam) == 8 && offsetof(NPEvent, lParam) == 16);
#endif
#endif  // __cplusplus

#endif  // KV_NPAPI_NPAPI_H
