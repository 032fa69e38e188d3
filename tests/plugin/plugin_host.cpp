#include "plugin_host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace plugintest {
namespace {

Host* current = nullptr;

void unexpected(const std::string& call)
{
    if (current)
        current->unexpected_.push_back(call);
    ADD_FAILURE() << "unexpected browser call: " << call;
}

std::vector<std::string> argTexts(const NPVariant* args, uint32_t count)
{
    std::vector<std::string> out;
    for (uint32_t i = 0; i < count; ++i)
        out.push_back(describe(args[i]));
    return out;
}

// ---- the browser table --------------------------------------------------------

NPError bGetURL(NPP, const char* url, const char*)
{
    unexpected(std::string("NPN_GetURL ") + (url ? url : ""));
    return NPERR_GENERIC_ERROR;
}
NPError bPostURL(NPP, const char*, const char*, uint32_t, const char*, NPBool)
{
    unexpected("NPN_PostURL");
    return NPERR_GENERIC_ERROR;
}
NPError bRequestRead(NPStream*, NPByteRange*)
{
    unexpected("NPN_RequestRead");
    return NPERR_GENERIC_ERROR;
}
NPError bNewStream(NPP, NPMIMEType, const char*, NPStream**)
{
    unexpected("NPN_NewStream");
    return NPERR_GENERIC_ERROR;
}
int32_t bWrite(NPP, NPStream*, int32_t, void*)
{
    unexpected("NPN_Write");
    return -1;
}
NPError bDestroyStream(NPP, NPStream*, NPReason)
{
    unexpected("NPN_DestroyStream");
    return NPERR_GENERIC_ERROR;
}
void bStatus(NPP, const char*) { unexpected("NPN_Status"); }
const char* bUserAgent(NPP) { return "Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US) plugintest"; }
void* bMemAlloc(uint32_t size)
{
    ++current->allocations_;
    return calloc(1, size ? size : 1);
}
void bMemFree(void* p)
{
    if (!p)
        return;
    --current->allocations_;
    free(p);
}
uint32_t bMemFlush(uint32_t) { return 0; }
void bReloadPlugins(NPBool) { unexpected("NPN_ReloadPlugins"); }
void* bGetJavaEnv() { return nullptr; }
void* bGetJavaPeer(NPP) { return nullptr; }
NPError bGetURLNotify(NPP npp, const char* url, const char* target, void* notify)
{
    return current->mock.GetURLNotify(npp, url ? url : "", target ? std::optional<std::string>(target) : std::nullopt,
                                      notify);
}
NPError bPostURLNotify(NPP npp, const char* url, const char* target, uint32_t len, const char* buf, NPBool,
                       void* notify)
{
    return current->mock.PostURLNotify(npp, url ? url : "",
                                       target ? std::optional<std::string>(target) : std::nullopt,
                                       std::string(buf ? buf : "", buf ? len : 0), notify);
}
NPError bGetValue(NPP, NPNVariable variable, void* value)
{
    switch (variable) {
    case NPNVWindowNPObject:
        ++current->window_.referenceCount;
        *static_cast<NPObject**>(value) = &current->window_;
        return NPERR_NO_ERROR;
    case NPNVSupportsWindowless:
        *static_cast<NPBool*>(value) = true;
        return NPERR_NO_ERROR;
    case NPNVnetscapeWindow:
        if (!current->netscapeWindow)
            return NPERR_GENERIC_ERROR;
        *static_cast<HWND*>(value) = current->netscapeWindow;
        return NPERR_NO_ERROR;
    case NPNVjavascriptEnabledBool:
        *static_cast<NPBool*>(value) = true;
        return NPERR_NO_ERROR;
    default:
        return NPERR_GENERIC_ERROR;
    }
}
NPError bSetValue(NPP npp, NPPVariable variable, void* value) { return current->mock.SetValue(npp, variable, value); }
void bInvalidateRect(NPP npp, NPRect* rect) { current->mock.InvalidateRect(npp, rect ? *rect : NPRect{}); }
void bInvalidateRegion(NPP, NPRegion) { unexpected("NPN_InvalidateRegion"); }
void bForceRedraw(NPP) { unexpected("NPN_ForceRedraw"); }
// Like the package: an identifier is the address of the caller's own text.
NPIdentifier bGetStringIdentifier(const NPUTF8* name) { return const_cast<NPUTF8*>(name); }
void bGetStringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* ids)
{
    for (int32_t i = 0; i < count; ++i)
        ids[i] = const_cast<NPUTF8*>(names[i]);
}
NPIdentifier bGetIntIdentifier(int32_t)
{
    unexpected("NPN_GetIntIdentifier");
    return nullptr;
}
bool bIdentifierIsString(NPIdentifier) { return true; }
NPUTF8* bUTF8FromIdentifier(NPIdentifier id)
{
    auto name = static_cast<const char*>(id);
    size_t n = strlen(name);
    auto copy = static_cast<NPUTF8*>(bMemAlloc(static_cast<uint32_t>(n + 1)));
    memcpy(copy, name, n + 1);
    return copy;
}
int32_t bIntFromIdentifier(NPIdentifier)
{
    unexpected("NPN_IntFromIdentifier");
    return 0;
}
NPObject* bCreateObject(NPP npp, NPClass* cls)
{
    NPObject* obj = cls && cls->allocate ? cls->allocate(npp, cls) : static_cast<NPObject*>(calloc(1, sizeof(NPObject)));
    if (obj) {
        obj->_class = cls;
        obj->referenceCount = 1;
    }
    return obj;
}
NPObject* bRetainObject(NPObject* obj)
{
    if (obj)
        ++obj->referenceCount;
    return obj;
}
void bReleaseObject(NPObject* obj)
{
    if (!obj)
        return;
    if (obj->referenceCount == 0) {
        ADD_FAILURE() << "object released more often than retained";
        return;
    }
    if (--obj->referenceCount == 0) {
        if (obj == &current->window_)
            ADD_FAILURE() << "the window object was released by more than it was given";
        else if (obj->_class && obj->_class->deallocate)
            obj->_class->deallocate(obj);
        else
            free(obj);
    }
}
bool bInvoke(NPP npp, NPObject* obj, NPIdentifier method, const NPVariant* args, uint32_t count, NPVariant* result)
{
    return current->mock.Invoke(npp, obj, static_cast<const char*>(method), argTexts(args, count), result);
}
bool bInvokeDefault(NPP, NPObject*, const NPVariant*, uint32_t, NPVariant*)
{
    unexpected("NPN_InvokeDefault");
    return false;
}
bool bEvaluate(NPP npp, NPObject* obj, NPString* script, NPVariant* result)
{
    std::string text = script && script->UTF8Characters ? std::string(script->UTF8Characters, script->UTF8Length) : "";
    return current->mock.Evaluate(npp, obj, text, result);
}
bool bGetProperty(NPP, NPObject*, NPIdentifier name, NPVariant* result)
{
    unexpected(std::string("NPN_GetProperty ") + static_cast<const char*>(name));
    result->type = NPVariantType_Void;
    return false;
}
bool bSetProperty(NPP, NPObject*, NPIdentifier, const NPVariant*)
{
    unexpected("NPN_SetProperty");
    return false;
}
bool bRemoveProperty(NPP, NPObject*, NPIdentifier)
{
    unexpected("NPN_RemoveProperty");
    return false;
}
bool bHasProperty(NPP, NPObject*, NPIdentifier)
{
    unexpected("NPN_HasProperty");
    return false;
}
bool bHasMethod(NPP, NPObject*, NPIdentifier)
{
    unexpected("NPN_HasMethod");
    return false;
}
void bReleaseVariantValue(NPVariant* v)
{
    if (!v)
        return;
    if (v->type == NPVariantType_String)
        bMemFree(const_cast<NPUTF8*>(v->value.stringValue.UTF8Characters));
    else if (v->type == NPVariantType_Object)
        bReleaseObject(v->value.objectValue);
    v->type = NPVariantType_Void;
}
void bSetException(NPObject*, const NPUTF8* message) { unexpected(std::string("NPN_SetException ") + (message ? message : "")); }
void bPushPopups(NPP, NPBool) { unexpected("NPN_PushPopupsEnabledState"); }
void bPopPopups(NPP) { unexpected("NPN_PopPopupsEnabledState"); }

std::wstring libraryPath()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/") + 1) + L"npswf32.dll";
}

}  // namespace

Host& currentHost() { return *current; }

std::string describe(const NPVariant& v)
{
    switch (v.type) {
    case NPVariantType_Void: return "void";
    case NPVariantType_Null: return "null";
    case NPVariantType_Bool: return v.value.boolValue ? "true" : "false";
    case NPVariantType_Int32: return "int:" + std::to_string(v.value.intValue);
    case NPVariantType_Double: {
        std::ostringstream s;
        s << "double:" << v.value.doubleValue;
        return s.str();
    }
    case NPVariantType_String:
        return std::string(v.value.stringValue.UTF8Characters, v.value.stringValue.UTF8Length);
    case NPVariantType_Object: return "object";
    }
    return "?";
}

void setStringResult(NPVariant* result, const std::string& text)
{
    auto chars = static_cast<NPUTF8*>(bMemAlloc(static_cast<uint32_t>(text.size() + 1)));
    memcpy(chars, text.data(), text.size());
    result->type = NPVariantType_String;
    result->value.stringValue.UTF8Characters = chars;
    result->value.stringValue.UTF8Length = static_cast<uint32_t>(text.size());
}

Host::Host()
{
    current = this;
    windowClass_.structVersion = NP_CLASS_STRUCT_VERSION;
    window_._class = &windowClass_;
    window_.referenceCount = 1;
    browserFuncs = NPNetscapeFuncs{
        .size = sizeof(NPNetscapeFuncs),
        .version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR,
        .geturl = bGetURL,
        .posturl = bPostURL,
        .requestread = bRequestRead,
        .newstream = bNewStream,
        .write = bWrite,
        .destroystream = bDestroyStream,
        .status = bStatus,
        .uagent = bUserAgent,
        .memalloc = bMemAlloc,
        .memfree = bMemFree,
        .memflush = bMemFlush,
        .reloadplugins = bReloadPlugins,
        .getJavaEnv = bGetJavaEnv,
        .getJavaPeer = bGetJavaPeer,
        .geturlnotify = bGetURLNotify,
        .posturlnotify = bPostURLNotify,
        .getvalue = bGetValue,
        .setvalue = bSetValue,
        .invalidaterect = bInvalidateRect,
        .invalidateregion = bInvalidateRegion,
        .forceredraw = bForceRedraw,
        .getstringidentifier = bGetStringIdentifier,
        .getstringidentifiers = bGetStringIdentifiers,
        .getintidentifier = bGetIntIdentifier,
        .identifierisstring = bIdentifierIsString,
        .utf8fromidentifier = bUTF8FromIdentifier,
        .intfromidentifier = bIntFromIdentifier,
        .createobject = bCreateObject,
        .retainobject = bRetainObject,
        .releaseobject = bReleaseObject,
        .invoke = bInvoke,
        .invokeDefault = bInvokeDefault,
        .evaluate = bEvaluate,
        .getproperty = bGetProperty,
        .setproperty = bSetProperty,
        .removeproperty = bRemoveProperty,
        .hasproperty = bHasProperty,
        .hasmethod = bHasMethod,
        .releasevariantvalue = bReleaseVariantValue,
        .setexception = bSetException,
        .pushpopupsenabledstate = bPushPopups,
        .poppopupsenabledstate = bPopPopups,
    };
}

Host::~Host()
{
    unload();
    current = nullptr;
}

bool Host::load()
{
    module_ = LoadLibraryW(libraryPath().c_str());
    if (!module_) {
        ADD_FAILURE() << "npswf32.dll did not load beside the test program";
        return false;
    }
    auto getEntryPoints = reinterpret_cast<NP_GetEntryPointsFunc>(
        reinterpret_cast<void*>(GetProcAddress(module_, FLASH_EXPORT_GET_ENTRY_POINTS)));
    auto initialize =
        reinterpret_cast<NP_InitializeFunc>(reinterpret_cast<void*>(GetProcAddress(module_, FLASH_EXPORT_INITIALIZE)));
    shutdown_ =
        reinterpret_cast<NP_ShutdownFunc>(reinterpret_cast<void*>(GetProcAddress(module_, FLASH_EXPORT_SHUTDOWN)));
    if (!getEntryPoints || !initialize || !shutdown_) {
        ADD_FAILURE() << "npswf32.dll lacks a plug-in export";
        return false;
    }
    if (auto enableLog = seam<RefPlayer_EnableLogFunc>("RefPlayer_EnableLog")) {
        enableLog(1);
        seam<RefPlayer_ClearLogFunc>("RefPlayer_ClearLog")();
    }
    if (auto manual = seam<RefPlayer_SetManualClockFunc>("RefPlayer_SetManualClock"))
        manual(1);  // frames advance only when a test steps them
    pluginFuncs = NPPluginFuncs{};
    pluginFuncs.size = sizeof pluginFuncs;
    if (getEntryPoints(&pluginFuncs) != NPERR_NO_ERROR || !pluginFuncs.newp) {
        ADD_FAILURE() << "NP_GetEntryPoints failed";
        return false;
    }
    if (initialize(&browserFuncs) != NPERR_NO_ERROR) {
        ADD_FAILURE() << "NP_Initialize failed";
        return false;
    }
    return true;
}

void Host::unload()
{
    if (!module_)
        return;
    if (shutdown_)
        shutdown_();
    FreeLibrary(module_);
    module_ = nullptr;
    shutdown_ = nullptr;
}

std::string Host::log() const
{
    auto read = seam<RefPlayer_ReadLogFunc>("RefPlayer_ReadLog");
    if (!read)
        return {};
    int n = read(nullptr, 0);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    read(text.data(), n + 1);
    text.resize(static_cast<size_t>(n));
    return text;
}

// ---- surfaces ------------------------------------------------------------------

Surface::Surface(int width, int height, Kind kind) : width_(width), height_(height), kind_(kind)
{
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    if (kind == Kind::DeviceBitmap) {
        bitmap_ = CreateCompatibleBitmap(screen, width, height);
    } else {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = width;
        bi.bmiHeader.biHeight = kind == Kind::TopDownDib ? -height : height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<uint8_t*>(bits);
    }
    ReleaseDC(nullptr, screen);
    old_ = SelectObject(dc_, bitmap_);
}

Surface::~Surface()
{
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
}

void Surface::fill(uint32_t argb)
{
    GdiFlush();
    if (bits_) {
        auto p = reinterpret_cast<uint32_t*>(bits_);
        std::fill(p, p + size_t(width_) * height_, argb);
        return;
    }
    std::vector<uint32_t> pixels(size_t(width_) * height_, argb);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width_;
    bi.bmiHeader.biHeight = -height_;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    SetDIBits(dc_, bitmap_, 0, height_, pixels.data(), &bi, DIB_RGB_COLORS);
}

uint32_t Surface::pixel(int x, int y) const
{
    GdiFlush();
    if (bits_) {
        int row = kind_ == Kind::BottomUpDib ? height_ - 1 - y : y;
        return reinterpret_cast<const uint32_t*>(bits_ + size_t(row) * width_ * 4)[x];
    }
    std::vector<uint32_t> pixels(size_t(width_) * height_);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width_;
    bi.bmiHeader.biHeight = -height_;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HGDIOBJ keep = SelectObject(dc_, old_);  // GetDIBits wants the bitmap deselected
    GetDIBits(dc_, bitmap_, 0, height_, pixels.data(), &bi, DIB_RGB_COLORS);
    SelectObject(dc_, keep);
    return pixels[size_t(y) * width_ + x];
}

// ---- instances -----------------------------------------------------------------

Instance::~Instance()
{
    if (created_)
        destroy();
}

NPError Instance::create(std::vector<std::pair<std::string, std::string>> args)
{
    std::vector<char*> names, values;
    for (auto& [n, v] : args) {
        names.push_back(n.data());
        values.push_back(v.data());
    }
    std::string mime = FLASH_PLUGIN_MIME_TYPE;
    npp_ = NPP_t{};
    NPError err = host_.pluginFuncs.newp(mime.data(), &npp_, NP_EMBED, static_cast<int16_t>(args.size()),
                                         names.data(), values.data(), nullptr);
    created_ = err == NPERR_NO_ERROR;
    return err;
}

NPError Instance::destroy()
{
    NPSavedData* saved = reinterpret_cast<NPSavedData*>(1);
    NPError err = host_.pluginFuncs.destroy(&npp_, &saved);
    EXPECT_EQ(saved, nullptr) << "the player saves nothing";
    created_ = false;
    if (scriptable_) {
        bReleaseObject(scriptable_);
        scriptable_ = nullptr;
    }
    return err;
}

NPError Instance::setWindow(HDC dc, int x, int y, int width, int height)
{
    NPWindow window{};
    window.window = dc;
    window.x = x;
    window.y = y;
    window.width = static_cast<uint32_t>(width);
    window.height = static_cast<uint32_t>(height);
    window.clipRect = NPRect{0, 0, static_cast<uint16_t>(height), static_cast<uint16_t>(width)};
    window.type = NPWindowTypeDrawable;
    return host_.pluginFuncs.setwindow(&npp_, &window);
}

int16_t Instance::paint(HDC dc, RECT rect)
{
    NPEvent ev{WM_PAINT, reinterpret_cast<uintptr_t>(dc), reinterpret_cast<uintptr_t>(&rect)};
    return host_.pluginFuncs.event(&npp_, &ev);
}

int16_t Instance::event(uint16_t message, uintptr_t wParam, uintptr_t lParam)
{
    NPEvent ev{message, wParam, lParam};
    return host_.pluginFuncs.event(&npp_, &ev);
}

void Instance::deliver(const Request& request, const std::vector<uint8_t>& body, size_t piece)
{
    urls_.push_back(std::make_unique<std::string>(request.url));
    streams_.push_back(std::make_unique<NPStream>());
    NPStream* s = streams_.back().get();
    s->url = urls_.back()->c_str();
    s->end = static_cast<uint32_t>(body.size());
    s->notifyData = request.notifyData;
    uint16_t type = 0;
    std::string mime = FLASH_PLUGIN_MIME_TYPE;
    ASSERT_EQ(host_.pluginFuncs.newstream(&npp_, mime.data(), s, false, &type), NPERR_NO_ERROR);
    EXPECT_EQ(type, NP_NORMAL);
    size_t at = 0;
    while (at < body.size()) {
        int32_t ready = host_.pluginFuncs.writeready(&npp_, s);
        ASSERT_GT(ready, 0);
        size_t n = std::min({piece, body.size() - at, size_t(ready)});
        int32_t taken = host_.pluginFuncs.write(&npp_, s, static_cast<int32_t>(at), static_cast<int32_t>(n),
                                                const_cast<uint8_t*>(body.data() + at));
        // A player may take part of a piece: the rest is offered again.
        ASSERT_GT(taken, 0);
        ASSERT_LE(taken, static_cast<int32_t>(n));
        at += static_cast<size_t>(taken);
    }
    host_.pluginFuncs.destroystream(&npp_, s, NPRES_DONE);
    host_.pluginFuncs.urlnotify(&npp_, s->url, NPRES_DONE, request.notifyData);
}

void Instance::deliverAtOnce(const Request& request, const std::vector<uint8_t>& body)
{
    urls_.push_back(std::make_unique<std::string>(request.url));
    streams_.push_back(std::make_unique<NPStream>());
    NPStream* s = streams_.back().get();
    s->url = urls_.back()->c_str();
    s->end = static_cast<uint32_t>(body.size());
    s->notifyData = request.notifyData;
    uint16_t type = 0;
    std::string mime = FLASH_PLUGIN_MIME_TYPE;
    if (host_.pluginFuncs.newstream(&npp_, mime.data(), s, true, &type) != NPERR_NO_ERROR)
        return;
    host_.pluginFuncs.write(&npp_, s, 0, static_cast<int32_t>(body.size()), const_cast<uint8_t*>(body.data()));
    host_.pluginFuncs.urlnotify(&npp_, s->url, NPRES_DONE, request.notifyData);
    host_.pluginFuncs.destroystream(&npp_, s, NPRES_DONE);
}

void Instance::fail(const Request& request, NPReason reason)
{
    host_.pluginFuncs.urlnotify(&npp_, request.url.c_str(), reason, request.notifyData);
}

int Instance::stepFrames(int frames)
{
    return host_.seam<RefPlayer_StepFramesFunc>("RefPlayer_StepFrames")(&npp_, frames);
}

NPObject* Instance::scriptable()
{
    if (!scriptable_) {
        NPObject* obj = nullptr;
        if (host_.pluginFuncs.getvalue(&npp_, NPPVpluginScriptableNPObject, &obj) == NPERR_NO_ERROR)
            scriptable_ = obj;
    }
    return scriptable_;
}

bool Instance::invoke(const std::string& method, std::vector<NPVariant> args, NPVariant* result)
{
    NPObject* obj = scriptable();
    if (!obj)
        return false;
    auto name = std::make_unique<std::string>(method);
    NPVariant local;
    local.type = NPVariantType_Void;
    NPVariant* out = result ? result : &local;
    out->type = NPVariantType_Void;
    bool ok = obj->_class->invoke(obj, name->data(), args.data(), static_cast<uint32_t>(args.size()), out);
    if (!result)
        bReleaseVariantValue(&local);
    return ok;
}

std::optional<std::string> Instance::invokeForString(const std::string& method, std::vector<NPVariant> args)
{
    NPVariant r;
    if (!invoke(method, std::move(args), &r))
        return std::nullopt;
    std::optional<std::string> out;
    if (r.type == NPVariantType_String)
        out = describe(r);
    bReleaseVariantValue(&r);
    return out;
}

std::optional<int32_t> Instance::invokeForInt(const std::string& method, std::vector<NPVariant> args)
{
    NPVariant r;
    if (!invoke(method, std::move(args), &r))
        return std::nullopt;
    std::optional<int32_t> out;
    if (r.type == NPVariantType_Int32)
        out = r.value.intValue;
    bReleaseVariantValue(&r);
    return out;
}

std::optional<bool> Instance::invokeForBool(const std::string& method)
{
    NPVariant r;
    if (!invoke(method, {}, &r))
        return std::nullopt;
    std::optional<bool> out;
    if (r.type == NPVariantType_Bool)
        out = r.value.boolValue;
    bReleaseVariantValue(&r);
    return out;
}

NPVariant stringArg(const std::string& text)
{
    static std::vector<std::unique_ptr<std::string>> kept;
    kept.push_back(std::make_unique<std::string>(text));
    NPVariant v;
    v.type = NPVariantType_String;
    v.value.stringValue.UTF8Characters = kept.back()->c_str();
    v.value.stringValue.UTF8Length = static_cast<uint32_t>(text.size());
    return v;
}

NPVariant intArg(int32_t value)
{
    NPVariant v;
    v.type = NPVariantType_Int32;
    v.value.intValue = value;
    return v;
}

NPVariant doubleArg(double value)
{
    NPVariant v;
    v.type = NPVariantType_Double;
    v.value.doubleValue = value;
    return v;
}

NPVariant boolArg(bool value)
{
    NPVariant v;
    v.type = NPVariantType_Bool;
    v.value.boolValue = value;
    return v;
}

std::vector<std::string> logLines(const std::string& log, const std::string& prefix)
{
    std::vector<std::string> out;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.push_back(line);
    return out;
}

}  // namespace plugintest
