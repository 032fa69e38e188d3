// The browser side offered to the plug-in library: finding and initialising
// the library, the browser function table, identifiers, memory and the few
// page objects a movie may ask for.
#include <windows.h>

#include <cmath>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <unordered_set>

#include "kv_boundary.h"
#include "kv_hostfiles.h"
#include "kv_nsinternal.h"
#include "kv_nsscript.h"
#include "kv_owners.h"

namespace kvns {

using kv::Entry;

NPPluginFuncs PluginFuncs{};
URLOpenPullStreamWFunc PullStreamProc = nullptr;

namespace {

HMODULE g_urlmon = nullptr;
HMODULE g_plugin = nullptr;
NP_ShutdownFunc g_shutdown = nullptr;
std::wstring g_libraryPath;
NPNetscapeFuncs g_browserFuncs{};

// ---------------------------------------------------------------------------
// The page objects: window, window.location, top, top.location. They belong
// to the browser: handed out with a count of 1 each time, never destroyed.
// ---------------------------------------------------------------------------

bool NoMethod(NPObject*, NPIdentifier) { return false; }
bool NoInvoke(NPObject*, NPIdentifier, const NPVariant*, std::uint32_t, NPVariant* r)
{
    if (r)
        *r = VoidVariant();
    return false;
}
bool NoInvokeDefault(NPObject*, const NPVariant*, std::uint32_t, NPVariant* r)
{
    if (r)
        *r = VoidVariant();
    return false;
}
bool NoGetProperty(NPObject*, NPIdentifier, NPVariant* r)
{
    if (r)
        *r = VoidVariant();
    return false;
}
bool NoSetProperty(NPObject*, NPIdentifier, const NPVariant*) { return false; }
bool NoEnumerate(NPObject*, NPIdentifier** ids, std::uint32_t* count)
{
    if (ids)
        *ids = nullptr;
    if (count)
        *count = 0;
    return false;
}

// Every operation a plug-in could reach directly answers "nothing here"; the
// objects are only ever reached through the browser entries.
NPClass g_browserObjectClass = {
    .structVersion = NP_CLASS_STRUCT_VERSION_ENUM,
    .allocate = nullptr,
    .deallocate = nullptr,
    .invalidate = nullptr,
    .hasMethod = NoMethod,
    .invoke = NoInvoke,
    .invokeDefault = NoInvokeDefault,
    .hasProperty = NoMethod,
    .getProperty = NoGetProperty,
    .setProperty = NoSetProperty,
    .removeProperty = NoMethod,
    .enumerate = NoEnumerate,
    .construct = nullptr,
};

struct BrowserObject {
    NPObject header;
    std::uintptr_t reserved;  // always 0
};
BrowserObject g_window{}, g_location{}, g_top{}, g_topLocation{};

bool IsBrowserObject(const NPObject* o)
{
    return o == &g_window.header || o == &g_location.header || o == &g_top.header || o == &g_topLocation.header;
}

// References to the page objects the plug-in holds: each handing out and
// each retain adds one, each release takes one. The objects' own counts
// cannot tell, since handing one out again resets its count to 1.
int g_pageReferences = 0;

NPObject* HandOut(BrowserObject& o)
{
    o.header._class = &g_browserObjectClass;
    o.header.referenceCount = 1;
    o.reserved = 0;
    ++g_pageReferences;
    return &o.header;
}

// ---------------------------------------------------------------------------
// Identifiers: interned, so that an identifier outlives the caller's text and
// equal names give equal identifiers.
// ---------------------------------------------------------------------------

std::set<std::string>& Names()
{
    static std::set<std::string> names;
    return names;
}
std::unordered_set<const void*>& Issued()
{
    static std::unordered_set<const void*> issued;
    return issued;
}

// ---------------------------------------------------------------------------
// The browser entries. None lets an exception out to the plug-in: each is
// noexcept, and each that does more than answer a constant runs its body
// through kv::Entry, which answers the entry's failure value.
// ---------------------------------------------------------------------------

NPError NPN_GetURL(NPP, const char*, const char*) noexcept { return NPERR_NO_ERROR; }
// The package sends nothing anywhere. A post without notification has no way
// to hear of its failure later, so it is refused now.
NPError NPN_PostURL(NPP, const char*, const char*, std::uint32_t, const char*, NPBool) noexcept { return NPERR_GENERIC_ERROR; }
NPError NPN_RequestRead(NPStream*, NPByteRange*) noexcept { return NPERR_NO_ERROR; }
NPError NPN_NewStream(NPP, NPMIMEType, const char*, NPStream** stream) noexcept
{
    if (stream)
        *stream = nullptr;
    return NPERR_NO_ERROR;
}
std::int32_t NPN_Write(NPP, NPStream*, std::int32_t, void*) noexcept { return 0; }
NPError NPN_DestroyStream(NPP, NPStream*, NPReason) noexcept { return NPERR_NO_ERROR; }
void NPN_Status(NPP, const char*) noexcept {}
const char* NPN_UserAgent(NPP) noexcept { return NetscapeUserAgent; }
void* NPN_MemAlloc(std::uint32_t size) noexcept { return MemAlloc(size); }
void NPN_MemFree(void* p) noexcept { MemFree(p); }
std::uint32_t NPN_MemFlush(std::uint32_t) noexcept { return 0; }
void NPN_ReloadPlugins(NPBool) noexcept {}
void* NPN_GetJavaEnv() noexcept { return nullptr; }
void* NPN_GetJavaPeer(NPP) noexcept { return nullptr; }

// Every request accepted here ends with exactly one NPP_URLNotify: the movie
// waits for it (a loader, a variables request, a skin). A request that cannot
// be served is accepted and told of its failure from the message loop, never
// from inside the plug-in's own call.
NPError NPN_GetURLNotify(NPP instance, const char* url, const char* target, void* notifyData) noexcept
{
    return Entry("NPN_GetURLNotify", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        if (!url)
            return NPERR_INVALID_URL;
        // Script URLs are refused; a path that merely contains "java" is not one.
        if (IsScriptUrl(url))
            return NPERR_INVALID_URL;
        TkvFlashDriverNS* driver = TkvFlashDriverNS::FromInstance(instance);
        if (target) {
            // A request for a browser window: there is none.
            if (driver)
                GuardedCall(driver, [&] { NotifyFailureLater(driver, url, notifyData); });
            return NPERR_NO_ERROR;
        }
        if (!driver)
            return NPERR_INVALID_INSTANCE_ERROR;
        GuardedCall(driver, [&] { driver->CreateStream(FromUtf8(url, std::strlen(url)), notifyData); });
        return NPERR_NO_ERROR;
    });
}

// Nothing is ever posted: the request is accepted and fails.
NPError NPN_PostURLNotify(NPP instance, const char* url, const char*, std::uint32_t, const char*, NPBool,
                          void* notifyData) noexcept
{
    return Entry("NPN_PostURLNotify", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        if (!url)
            return NPERR_INVALID_URL;
        TkvFlashDriverNS* driver = TkvFlashDriverNS::FromInstance(instance);
        if (!driver)
            return NPERR_INVALID_INSTANCE_ERROR;
        GuardedCall(driver, [&] { NotifyFailureLater(driver, url, notifyData); });
        return NPERR_NO_ERROR;
    });
}

NPError NPN_GetValue(NPP, NPNVariable variable, void* value) noexcept
{
    return Entry("NPN_GetValue", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        if (!value)
            return NPERR_INVALID_PARAM;
        // Each variable is written with its own type and size.
        switch (variable) {
        case NPNVnetscapeWindow:
            *static_cast<HWND*>(value) = nullptr;  // there is no browser window
            break;
        case NPNVjavascriptEnabledBool:
            *static_cast<NPBool*>(value) = 1;
            break;
        case NPNVWindowNPObject:
            *static_cast<NPObject**>(value) = HandOut(g_window);
            break;
        case NPNVSupportsWindowless:
            *static_cast<NPBool*>(value) = 1;
            break;
        default:
            break;
        }
        return NPERR_NO_ERROR;
    });
}

NPError NPN_SetValue(NPP, NPPVariable, void*) noexcept
{
    // Windowless and transparent requests are accepted: the instance is
    // always driven windowless.
    return NPERR_NO_ERROR;
}

void NPN_InvalidateRect(NPP instance, NPRect* rect) noexcept
{
    Entry("NPN_InvalidateRect", [&] {
        TkvFlashDriverNS* driver = TkvFlashDriverNS::FromInstance(instance);
        if (!driver || !rect)
            return;
        GuardedCall(driver, [&] { driver->InvalidateArea(*rect); });
    });
}

void NPN_InvalidateRegion(NPP, NPRegion) noexcept {}
void NPN_ForceRedraw(NPP) noexcept {}

NPIdentifier NPN_GetStringIdentifier(const NPUTF8* name) noexcept
{
    return Entry("NPN_GetStringIdentifier", NPIdentifier(nullptr), [&]() -> NPIdentifier {
        if (!name)
            return nullptr;
        return Identifier(name);
    });
}

void NPN_GetStringIdentifiers(const NPUTF8** names, std::int32_t count, NPIdentifier* ids) noexcept
{
    Entry("NPN_GetStringIdentifiers", [&] {
        if (!names || !ids)
            return;
        for (std::int32_t i = 0; i < count; ++i)
            ids[i] = NPN_GetStringIdentifier(names[i]);
    });
}

NPIdentifier NPN_GetIntIdentifier(std::int32_t) noexcept { return nullptr; }
bool NPN_IdentifierIsString(NPIdentifier) noexcept { return true; }

NPUTF8* NPN_UTF8FromIdentifier(NPIdentifier id) noexcept
{
    return Entry("NPN_UTF8FromIdentifier", static_cast<NPUTF8*>(nullptr), [&]() -> NPUTF8* {
        const char* name = IdentifierName(id);
        if (!name)
            return nullptr;
        const std::size_t n = std::strlen(name) + 1;
        auto* copy = static_cast<NPUTF8*>(MemAlloc(static_cast<std::uint32_t>(n)));
        if (copy)
            std::memcpy(copy, name, n);
        return copy;
    });
}

std::int32_t NPN_IntFromIdentifier(NPIdentifier) noexcept { return 0; }

NPObject* NPN_CreateObject(NPP npp, NPClass* aClass) noexcept
{
    return Entry("NPN_CreateObject", static_cast<NPObject*>(nullptr), [&]() -> NPObject* {
        if (!aClass)
            return nullptr;
        NPObject* o =
            aClass->allocate ? aClass->allocate(npp, aClass) : static_cast<NPObject*>(MemAlloc(sizeof(NPObject)));
        if (o) {
            o->_class = aClass;
            o->referenceCount = 1;
        }
        return o;
    });
}

NPObject* NPN_RetainObject(NPObject* o) noexcept
{
    if (o) {
        ++o->referenceCount;
        if (IsBrowserObject(o))
            ++g_pageReferences;
    }
    return o;
}

void NPN_ReleaseObject(NPObject* o) noexcept
{
    Entry("NPN_ReleaseObject", [&] {
        if (!o)
            return;
        if (IsBrowserObject(o)) {
            // The browser's own objects are never destroyed; their counts are
            // reset whenever they are handed out again.
            --g_pageReferences;
            if (o->referenceCount > 0)
                --o->referenceCount;
            return;
        }
        if (o->referenceCount > 0)
            --o->referenceCount;
        if (o->referenceCount != 0)
            return;
        NPClass* cls = o->_class;
        if (cls && cls->deallocate)
            cls->deallocate(o);
        else
            MemFree(o);
    });
}

bool NPN_InvokeDefault(NPP, NPObject*, const NPVariant*, std::uint32_t, NPVariant* result) noexcept
{
    if (result)
        *result = VoidVariant();
    return false;
}

bool NPN_GetProperty(NPP, NPObject* o, NPIdentifier name, NPVariant* result) noexcept
{
    return Entry("NPN_GetProperty", false, [&]() -> bool {
        if (!result)
            return false;
        *result = VoidVariant();
        const char* n = IdentifierName(name);
        if (!n)
            return false;
        NPObject* yielded = nullptr;
        if (o == &g_window.header && std::strcmp(n, "location") == 0)
            yielded = HandOut(g_location);
        else if (o == &g_window.header && std::strcmp(n, "top") == 0)
            yielded = HandOut(g_top);
        else if (o == &g_top.header && std::strcmp(n, "location") == 0)
            yielded = HandOut(g_topLocation);
        if (!yielded)
            return false;
        result->type = NPVariantType_Object;
        result->value.objectValue = yielded;
        return true;
    });
}

bool NPN_SetProperty(NPP, NPObject*, NPIdentifier, const NPVariant*) noexcept { return false; }
bool NPN_RemoveProperty(NPP, NPObject*, NPIdentifier) noexcept { return false; }
bool NPN_HasProperty(NPP, NPObject*, NPIdentifier) noexcept { return false; }
bool NPN_HasMethod(NPP, NPObject*, NPIdentifier) noexcept { return false; }
// What the plug-in releases here came from us: strings in browser memory,
// objects with a reference.
void NPN_ReleaseVariantValue(NPVariant* v) noexcept
{
    Entry("NPN_ReleaseVariantValue", [&] {
        if (v)
            ReleaseVariant(*v);
    });
}
void NPN_SetException(NPObject*, const NPUTF8*) noexcept {}
void NPN_PushPopupsEnabledState(NPP, NPBool) noexcept {}
void NPN_PopPopupsEnabledState(NPP) noexcept {}

void FillBrowserFuncs()
{
    g_browserFuncs = NPNetscapeFuncs{
        .size = sizeof(NPNetscapeFuncs),
        .version = NP_VERSION_MINOR,
        .geturl = NPN_GetURL,
        .posturl = NPN_PostURL,
        .requestread = NPN_RequestRead,
        .newstream = NPN_NewStream,
        .write = NPN_Write,
        .destroystream = NPN_DestroyStream,
        .status = NPN_Status,
        .uagent = NPN_UserAgent,
        .memalloc = NPN_MemAlloc,
        .memfree = NPN_MemFree,
        .memflush = NPN_MemFlush,
        .reloadplugins = NPN_ReloadPlugins,
        .getJavaEnv = NPN_GetJavaEnv,
        .getJavaPeer = NPN_GetJavaPeer,
        .geturlnotify = NPN_GetURLNotify,
        .posturlnotify = NPN_PostURLNotify,
        .getvalue = NPN_GetValue,
        .setvalue = NPN_SetValue,
        .invalidaterect = NPN_InvalidateRect,
        .invalidateregion = NPN_InvalidateRegion,
        .forceredraw = NPN_ForceRedraw,
        .getstringidentifier = NPN_GetStringIdentifier,
        .getstringidentifiers = NPN_GetStringIdentifiers,
        .getintidentifier = NPN_GetIntIdentifier,
        .identifierisstring = NPN_IdentifierIsString,
        .utf8fromidentifier = NPN_UTF8FromIdentifier,
        .intfromidentifier = NPN_IntFromIdentifier,
        .createobject = NPN_CreateObject,
        .retainobject = NPN_RetainObject,
        .releaseobject = NPN_ReleaseObject,
        .invoke = Invoke,
        .invokeDefault = NPN_InvokeDefault,
        .evaluate = Evaluate,
        .getproperty = NPN_GetProperty,
        .setproperty = NPN_SetProperty,
        .removeproperty = NPN_RemoveProperty,
        .hasproperty = NPN_HasProperty,
        .hasmethod = NPN_HasMethod,
        .releasevariantvalue = NPN_ReleaseVariantValue,
        .setexception = NPN_SetException,
        .pushpopupsenabledstate = NPN_PushPopupsEnabledState,
        .poppopupsenabledstate = NPN_PopPopupsEnabledState,
    };
}

// The registered path of the plug-in library: present key, absent value gives
// an empty path; absent key leaves `path` alone.
void ReadRegisteredPath(std::wstring& path)
{
    const std::wstring key = std::wstring(L"SOFTWARE\\MozillaPlugins\\") + FlashPluginMozillaId;
    kv::RegKey opened;
    // Read access is all we need, and all an ordinary user has under HKLM.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS)
        return;
    const HKEY h = opened.get();
    path.clear();
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(h, L"Path", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0 && size < 64 * 1024) {
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = size;
        if (RegQueryValueExW(h, L"Path", nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &got) == ERROR_SUCCESS) {
            value.resize(wcsnlen(value.c_str(), got / sizeof(wchar_t)));
            path = value;
        }
    }
}

}  // namespace

const NPNetscapeFuncs& BrowserFuncs()
{
    if (g_browserFuncs.size == 0)
        FillBrowserFuncs();
    return g_browserFuncs;
}

namespace {
int g_blocksInUse = 0;
}

void* MemAlloc(std::uint32_t size)
{
    void* p = std::calloc(size ? size : 1, 1);
    if (p)
        ++g_blocksInUse;
    return p;
}

void MemFree(void* p)
{
    if (!p)
        return;
    --g_blocksInUse;
    std::free(p);
}

int MemBlocksInUse()
{
    return g_blocksInUse;
}

int PageObjectReferences()
{
    return g_pageReferences;
}

NPIdentifier Identifier(const char* name)
{
    const std::string& interned = *Names().insert(name).first;
    NPIdentifier id = const_cast<char*>(interned.c_str());
    Issued().insert(id);
    return id;
}

const char* IdentifierName(NPIdentifier id)
{
    if (!id || !Issued().count(id))
        return nullptr;
    return static_cast<const char*>(id);
}

std::string ToUtf8(const WideString& text)
{
    return WideToUtf8(text);
}

WideString FromUtf8(const char* text, std::size_t length)
{
    return Utf8ToWide(std::string_view(text ? text : "", text ? length : 0));
}

NPVariant VoidVariant()
{
    NPVariant v{};
    v.type = NPVariantType_Void;
    return v;
}

NPVariant StringVariant(const std::string& utf8)
{
    NPVariant v{};
    v.type = NPVariantType_String;
    v.value.stringValue.UTF8Characters = utf8.c_str();
    v.value.stringValue.UTF8Length = static_cast<std::uint32_t>(utf8.size());
    return v;
}

NPVariant OwnedStringVariant(const std::string& utf8)
{
    NPVariant v{};
    v.type = NPVariantType_String;
    auto* copy = static_cast<char*>(MemAlloc(static_cast<std::uint32_t>(utf8.size() + 1)));
    if (copy)
        std::memcpy(copy, utf8.c_str(), utf8.size() + 1);
    v.value.stringValue.UTF8Characters = copy;
    v.value.stringValue.UTF8Length = copy ? static_cast<std::uint32_t>(utf8.size()) : 0;
    return v;
}

std::string VariantToUtf8(const NPVariant& v)
{
    if (v.type != NPVariantType_String || !v.value.stringValue.UTF8Characters)
        return {};
    return std::string(v.value.stringValue.UTF8Characters, v.value.stringValue.UTF8Length);
}

bool VariantToBool(const NPVariant& v)
{
    return v.type == NPVariantType_Bool && v.value.boolValue;
}

int VariantToInt(const NPVariant& v)
{
    if (v.type == NPVariantType_Int32)
        return v.value.intValue;
    // A scripting bridge may hand numbers over as doubles: the nearest whole
    // number, held to the integer's range (not a number reads as 0).
    if (v.type == NPVariantType_Double) {
        const double d = v.value.doubleValue;
        if (!(d == d))
            return 0;
        if (d >= 2147483647.0)
            return 2147483647;
        if (d <= -2147483648.0)
            return -2147483647 - 1;
        return static_cast<int>(std::lround(d));
    }
    return 0;
}

void ReleaseVariant(NPVariant& v)
{
    // Results come from the plug-in, which allocates their strings with our
    // MemAlloc and hands their objects over with a reference.
    if (v.type == NPVariantType_String)
        MemFree(const_cast<NPUTF8*>(v.value.stringValue.UTF8Characters));
    else if (v.type == NPVariantType_Object && v.value.objectValue)
        NPN_ReleaseObject(v.value.objectValue);
    v = VoidVariant();
}

}  // namespace kvns

using namespace kvns;

void kv_driver_netscape_Start()
{
    g_urlmon = LoadLibraryW(L"urlmon.dll");
    if (g_urlmon)
        PullStreamProc = reinterpret_cast<URLOpenPullStreamWFunc>(
            reinterpret_cast<void*>(GetProcAddress(g_urlmon, "URLOpenPullStreamW")));

    // Preference: the application's own folder, then the registered path (a
    // 32-bit program reads the registry's 32-bit view), then the player's
    // default install location (for a 32-bit program the system folder is the
    // 32-bit one). A library beside the program built for the other
    // architecture is passed over like a missing one.
    g_libraryPath = FlashPluginDefaultPath;
    ReadRegisteredPath(g_libraryPath);
    const std::wstring beside = ExecutableFolder() + L"npswf32.dll";
    if (IsExistingFile(beside) && IsLibraryForThisProcess(beside))
        g_libraryPath = beside;

    NetscapeDriverClass = &TkvFlashDriverNS::ClassRef();
    // Only the other architecture's player installed: no player.
    if (g_libraryPath.empty() || !IsLibraryForThisProcess(g_libraryPath))
        return;
    g_plugin = LoadLibraryW(g_libraryPath.c_str());
    if (!g_plugin)
        return;
    auto proc = [](const char* name) { return reinterpret_cast<void*>(GetProcAddress(g_plugin, name)); };
    auto getEntryPoints = reinterpret_cast<NP_GetEntryPointsFunc>(proc("NP_GetEntryPoints"));
    auto initialize = reinterpret_cast<NP_InitializeFunc>(proc("NP_Initialize"));
    g_shutdown = reinterpret_cast<NP_ShutdownFunc>(proc("NP_Shutdown"));
    auto disableLocalSecurity = reinterpret_cast<void(NP_OSCALL*)()>(proc("Flash_DisableLocalSecurity"));
    if (!getEntryPoints)
        return;
    FillBrowserFuncs();
    PluginFuncs = NPPluginFuncs{};
    PluginFuncs.size = sizeof(NPPluginFuncs);
    getEntryPoints(&PluginFuncs);
    if (initialize)
        initialize(&g_browserFuncs);
    if (disableLocalSecurity)
        disableLocalSecurity();
}

void kv_driver_netscape_Stop()
{
    ShutdownDownloads();
    if (g_plugin) {
        if (g_shutdown)
            g_shutdown();
        FreeLibrary(g_plugin);
        g_plugin = nullptr;
    }
    g_shutdown = nullptr;
    PluginFuncs = NPPluginFuncs{};
    PullStreamProc = nullptr;
    if (g_urlmon) {
        FreeLibrary(g_urlmon);
        g_urlmon = nullptr;
    }
    g_libraryPath.clear();
    if (NetscapeDriverClass == &TkvFlashDriverNS::ClassRef())
        NetscapeDriverClass = nullptr;
}

bool TkvFlashDriverNS::PluginExists()
{
    return PluginFuncs.newp != nullptr;
}

const std::wstring& NetscapePluginLibraryPath()
{
    return g_libraryPath;
}

bool NetscapeUrlmonAvailable()
{
    return PullStreamProc != nullptr;
}
