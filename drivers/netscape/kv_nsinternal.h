// Shared by the files of the Netscape back-end only.
#pragma once

#include <urlmon.h>

#include <string>

#include "kv_driver_netscape.h"

namespace kvns {

// The loaded plug-in library's table, filled by NP_GetEntryPoints.
extern NPPluginFuncs PluginFuncs;
// urlmon's URLOpenPullStreamW, or nullptr.
using URLOpenPullStreamWFunc = HRESULT(WINAPI*)(IUnknown*, LPCWSTR, DWORD, IBindStatusCallback*);
extern URLOpenPullStreamWFunc PullStreamProc;

// The browser table handed to the plug-in library.
const NPNetscapeFuncs& BrowserFuncs();

// Browser memory, as NPN_MemAlloc hands it out (zero-filled).
void* MemAlloc(std::uint32_t size);
void MemFree(void* p);
// Blocks handed out by MemAlloc and not yet freed (leak checks).
int MemBlocksInUse();
// References to the page objects (window, top and their locations) handed to
// the plug-in and not yet released by it (leak checks): 0 once every
// instance has given back what it was handed, below 0 after a release too many.
int PageObjectReferences();

// Identifiers: one per distinct name, stable for the process.
NPIdentifier Identifier(const char* name);
// The name of an identifier we issued, or nullptr.
const char* IdentifierName(NPIdentifier id);

// Variants.
NPVariant VoidVariant();
NPVariant StringVariant(const std::string& utf8);  // points into the caller's text
// A string the plug-in may keep: a copy in browser memory.
NPVariant OwnedStringVariant(const std::string& utf8);
std::string VariantToUtf8(const NPVariant& v);
bool VariantToBool(const NPVariant& v);
int VariantToInt(const NPVariant& v);
// Releases what a variant returned by the plug-in owns.
void ReleaseVariant(NPVariant& v);

// The scripting entries (kv_nsscripting.cpp).
bool Invoke(NPP npp, NPObject* obj, NPIdentifier method, const NPVariant* args, std::uint32_t count,
            NPVariant* result) noexcept;
bool Evaluate(NPP npp, NPObject* obj, NPString* script, NPVariant* result) noexcept;

// Requests (kv_nsstreams.cpp).
// A request accepted but not served: NPP_URLNotify with NPRES_NETWORK_ERR
// follows from the message loop, unless the driver's instance goes first.
void NotifyFailureLater(TkvFlashDriverNS* driver, const std::string& url, void* notifyData);
// The driver's instance is going: its downloads go on without it and its
// failure notices are dropped.
void EndRequestsOf(TkvFlashDriverNS* driver);
void ShutdownDownloads();
int DownloadsInFlight();
// Failure notices not yet delivered.
int FailuresWaiting();

std::string ToUtf8(const WideString& text);
WideString FromUtf8(const char* text, std::size_t length);

}  // namespace kvns
