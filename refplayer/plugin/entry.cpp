// The library's exports and the plug-in table: every entry the browser calls
// logs the call, answers a configured failure if there is one, finds its
// instance and lets no exception out.
#include <windows.h>

#include <cstring>

#include "browser.h"
#include "call_log.h"
#include "config.h"
#include "context_menu.h"
#include "instance.h"
#include "npapi/flash_plugin.h"

namespace refplugin {
namespace {

CallLog& log() { return CallLog::instance(); }

template <typename R, typename F>
R guarded(const char* entry, R onError, F&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        try {
            log().note(std::string("exception in ") + entry);
        } catch (...) {
        }
        return onError;
    }
}

std::optional<NPError> injected(const char* entry)
{
    if (auto f = config().failure(entry)) {
        log().note(std::string(entry) + " answers " + std::to_string(*f) + " as configured");
        return static_cast<NPError>(*f);
    }
    return std::nullopt;
}

bool equalsNoCase(const char* a, const char* b) { return a && b && _stricmp(a, b) == 0; }

std::string streamText(const NPStream* s)
{
    if (!s)
        return "stream=null";
    return "url=" + quoted(s->url) + " end=" + std::to_string(s->end) +
           " notify=" + std::to_string(reinterpret_cast<uintptr_t>(s->notifyData));
}

std::string descriptionText()
{
    const Config& c = config();
    return "Shockwave Flash " + std::to_string(c.versionMajor()) + "." + std::to_string(c.versionMinor()) + " r" +
           std::to_string(c.versionBuild());
}

NPError nppNew(NPMIMEType type, NPP npp, uint16_t mode, int16_t argc, char* argn[], char* argv[], NPSavedData*)
{
    return guarded("NPP_New", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        refreshConfig();
        std::string line = "NPP_New type=" + quoted(type) + " mode=" + std::to_string(mode) + " args=[";
        bool argsOk = argc >= 0 && (argc == 0 || (argn && argv));
        for (int i = 0; argsOk && i < argc; ++i)
            line += (i ? "," : "") + std::string(argn[i] ? argn[i] : "") + "=" + quoted(argv[i]);
        log().received(line + "]");
        if (auto f = injected("NPP_New"))
            return *f;
        if (!npp)
            return NPERR_INVALID_INSTANCE_ERROR;
        if (!argsOk)
            return NPERR_INVALID_PARAM;
        if (!browser::installed())
            return NPERR_GENERIC_ERROR;
        Instance::Params params;
        std::string name;
        for (int i = 0; i < argc; ++i) {
            const char* n = argn[i];
            const char* v = argv[i] ? argv[i] : "";
            if (equalsNoCase(n, "wmode"))
                params.transparent = equalsNoCase(v, "transparent");
            else if (equalsNoCase(n, "id"))
                params.id = v;
            else if (equalsNoCase(n, "name"))
                name = v;
            else if (equalsNoCase(n, "src") || equalsNoCase(n, "movie"))
                params.src = v;
        }
        if (params.id.empty())
            params.id = name;
        auto instance = new Instance(npp, params);
        npp->pdata = instance;
        Instance::Entry entry(instance);
        // Windowless always; transparent when the page asked for it.
        browser::setValue(npp, NPPVpluginWindowBool, nullptr);
        browser::setValue(npp, NPPVpluginTransparentBool, reinterpret_cast<void*>(uintptr_t(params.transparent)));
        return NPERR_NO_ERROR;
    });
}

NPError nppDestroy(NPP npp, NPSavedData** save)
{
    return guarded("NPP_Destroy", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        log().received("NPP_Destroy");
        if (save)
            *save = nullptr;
        Instance* i = Instance::from(npp);
        if (!i)
            return NPERR_INVALID_INSTANCE_ERROR;
        Instance::Entry entry(i);
        i->destroy();
        // The instance ends either way: a configured failure only changes the answer.
        if (auto f = injected("NPP_Destroy"))
            return *f;
        return NPERR_NO_ERROR;
    });
}

NPError nppSetWindow(NPP npp, NPWindow* window)
{
    return guarded("NPP_SetWindow", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        if (window)
            log().received("NPP_SetWindow type=" + std::to_string(window->type) + " x=" + std::to_string(window->x) +
                           " y=" + std::to_string(window->y) + " width=" + std::to_string(window->width) +
                           " height=" + std::to_string(window->height) +
                           (window->window ? " window=set" : " window=null"));
        else
            log().received("NPP_SetWindow window=null");
        if (auto f = injected("NPP_SetWindow"))
            return *f;
        Instance* i = Instance::from(npp);
        if (!i)
            return NPERR_INVALID_INSTANCE_ERROR;
        if (!window)
            return NPERR_NO_ERROR;
        Instance::Entry entry(i);
        return i->setWindow(*window);
    });
}

NPError nppNewStream(NPP npp, NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype)
{
    return guarded("NPP_NewStream", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        log().received("NPP_NewStream type=" + quoted(type) + " " + streamText(stream) +
                       " seekable=" + std::to_string(seekable) +
                       " stype=" + (stype ? std::to_string(*stype) : std::string("null")));
        if (auto f = injected("NPP_NewStream"))
            return *f;
        Instance* i = Instance::from(npp);
        if (!i)
            return NPERR_INVALID_INSTANCE_ERROR;
        Instance::Entry entry(i);
        return i->newStream(type, stream, stype);
    });
}

NPError nppDestroyStream(NPP npp, NPStream* stream, NPReason reason)
{
    return guarded("NPP_DestroyStream", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        log().received("NPP_DestroyStream " + streamText(stream) + " reason=" + std::to_string(reason));
        Instance* i = Instance::from(npp);
        if (!i)
            return NPERR_INVALID_INSTANCE_ERROR;
        Instance::Entry entry(i);
        const NPError done = i->destroyStream(stream, reason);
        // The stream ends either way: a configured failure only changes the answer.
        if (auto f = injected("NPP_DestroyStream"))
            return *f;
        return done;
    });
}

void nppStreamAsFile(NPP, NPStream* stream, const char* fname)
{
    guarded("NPP_StreamAsFile", 0, [&] {
        // Streams are always asked for as NP_NORMAL; a file is never read.
        log().received("NPP_StreamAsFile " + streamText(stream) + " file=" + quoted(fname));
        return 0;
    });
}

int32_t nppWriteReady(NPP npp, NPStream* stream)
{
    return guarded("NPP_WriteReady", int32_t(-1), [&]() -> int32_t {
        log().received("NPP_WriteReady " + streamText(stream));
        // The configured number is the answer itself: 0 takes nothing now, below 0 refuses the stream.
        if (auto f = injected("NPP_WriteReady"))
            return static_cast<int32_t>(*f);
        Instance* i = Instance::from(npp);
        if (!i)
            return -1;
        Instance::Entry entry(i);
        return i->writeReady(stream);
    });
}

int32_t nppWrite(NPP npp, NPStream* stream, int32_t offset, int32_t len, void* buffer)
{
    return guarded("NPP_Write", int32_t(-1), [&]() -> int32_t {
        log().received("NPP_Write " + streamText(stream) + " offset=" + std::to_string(offset) +
                       " len=" + std::to_string(len));
        if (auto f = injected("NPP_Write"))
            return -1;
        Instance* i = Instance::from(npp);
        if (!i)
            return -1;
        Instance::Entry entry(i);
        return i->write(stream, offset, len, buffer);
    });
}

void nppPrint(NPP, NPPrint*)
{
    guarded("NPP_Print", 0, [&] {
        log().received("NPP_Print");
        return 0;
    });
}

int16_t nppHandleEvent(NPP npp, void* event)
{
    return guarded("NPP_HandleEvent", int16_t(0), [&]() -> int16_t {
        auto ev = static_cast<const NPEvent*>(event);
        if (!ev) {
            log().received("NPP_HandleEvent event=null");
            return 0;
        }
        char head[64];
        std::snprintf(head, sizeof head, "NPP_HandleEvent event=0x%04X", ev->event);
        std::string line = head;
        if (ev->event == WM_PAINT) {
            auto r = reinterpret_cast<const RECT*>(ev->lParam);
            line += r ? " rect=" + std::to_string(r->left) + "," + std::to_string(r->top) + "," +
                            std::to_string(r->right) + "," + std::to_string(r->bottom)
                      : std::string(" rect=null");
        } else {
            line += " wParam=" + std::to_string(ev->wParam) + " lParam=" + std::to_string(ev->lParam);
        }
        log().received(line);
        if (auto f = injected("NPP_HandleEvent"))
            return 0;
        Instance* i = Instance::from(npp);
        if (!i)
            return 0;
        Instance::Entry entry(i);
        return i->handleEvent(*ev);
    });
}

void nppURLNotify(NPP npp, const char* url, NPReason reason, void* notifyData)
{
    guarded("NPP_URLNotify", 0, [&] {
        log().received("NPP_URLNotify url=" + quoted(url) + " reason=" + std::to_string(reason) +
                       " notify=" + std::to_string(reinterpret_cast<uintptr_t>(notifyData)));
        if (Instance* i = Instance::from(npp)) {
            Instance::Entry entry(i);
            i->urlNotify(url, reason, notifyData);
        }
        return 0;
    });
}

NPError nppGetValue(NPP npp, NPPVariable variable, void* value)
{
    return guarded("NPP_GetValue", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        log().received("NPP_GetValue variable=" + std::to_string(variable));
        if (auto f = injected("NPP_GetValue"))
            return *f;
        if (!value)
            return NPERR_INVALID_PARAM;
        if (config().nullOut("NPP_GetValue")) {
            // Success with nothing behind it: the pointer answers are null, the others untouched.
            log().note("NPP_GetValue answers success with a null value as configured");
            if (variable == NPPVpluginScriptableNPObject || variable == NPPVpluginNameString ||
                variable == NPPVpluginDescriptionString)
                *static_cast<void**>(value) = nullptr;
            return NPERR_NO_ERROR;
        }
        // Asked before any instance exists, by browsers listing plug-ins.
        if (variable == NPPVpluginNameString) {
            *static_cast<const char**>(value) = "Shockwave Flash";
            return NPERR_NO_ERROR;
        }
        if (variable == NPPVpluginDescriptionString) {
            static std::string description;
            description = descriptionText();
            *static_cast<const char**>(value) = description.c_str();
            return NPERR_NO_ERROR;
        }
        Instance* i = Instance::from(npp);
        if (!i)
            return NPERR_INVALID_INSTANCE_ERROR;
        Instance::Entry entry(i);
        return i->getValue(variable, value);
    });
}

NPError nppSetValue(NPP, NPNVariable variable, void*)
{
    return guarded("NPP_SetValue", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        log().received("NPP_SetValue variable=" + std::to_string(variable));
        return NPERR_GENERIC_ERROR;
    });
}

}  // namespace
}  // namespace refplugin

using namespace refplugin;

extern "C" NPError NP_OSCALL NP_GetEntryPoints(NPPluginFuncs* funcs) noexcept
{
    return guarded("NP_GetEntryPoints", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        refreshConfig();
        log().received(std::string("NP_GetEntryPoints size=") + (funcs ? std::to_string(funcs->size) : "null"));
        if (auto f = injected("NP_GetEntryPoints"))
            return *f;
        if (!funcs)
            return NPERR_INVALID_FUNCTABLE_ERROR;
        const NPPluginFuncs mine{
            .size = sizeof(NPPluginFuncs),
            .version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR,
            .newp = nppNew,
            .destroy = nppDestroy,
            .setwindow = nppSetWindow,
            .newstream = nppNewStream,
            .destroystream = nppDestroyStream,
            .asfile = nppStreamAsFile,
            .writeready = nppWriteReady,
            .write = nppWrite,
            .print = nppPrint,
            .event = nppHandleEvent,
            .urlnotify = nppURLNotify,
            .javaClass = nullptr,
            .getvalue = nppGetValue,
            .setvalue = nppSetValue,
        };
        // A table the host zeroed without a size is taken to be a whole one;
        // a smaller declared size gets only the entries that fit.
        size_t size = funcs->size ? funcs->size : sizeof mine;
        if (size < offsetof(NPPluginFuncs, newp) + sizeof mine.newp)
            return NPERR_INVALID_FUNCTABLE_ERROR;
        size = size < sizeof mine ? size : sizeof mine;
        std::memcpy(funcs, &mine, size);
        funcs->size = static_cast<uint16_t>(size);
        return NPERR_NO_ERROR;
    });
}

extern "C" NPError NP_OSCALL NP_Initialize(NPNetscapeFuncs* funcs) noexcept
{
    return guarded("NP_Initialize", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        refreshConfig();
        log().received(std::string("NP_Initialize") +
                       (funcs ? " size=" + std::to_string(funcs->size) + " version=" + std::to_string(funcs->version)
                              : std::string(" funcs=null")));
        if (auto f = injected("NP_Initialize"))
            return *f;
        return browser::install(funcs);
    });
}

extern "C" NPError NP_OSCALL NP_Shutdown() noexcept
{
    return guarded("NP_Shutdown", NPError(NPERR_GENERIC_ERROR), [&]() -> NPError {
        log().received("NP_Shutdown");
        if (int live = Instance::liveCount())
            log().note("shut down with " + std::to_string(live) + " live instance(s)");
        browser::uninstall();
        refhost::EngineSession::unregisterTimerClass();
        destroyMenuOwner();
        if (auto f = injected("NP_Shutdown"))
            return *f;
        return NPERR_NO_ERROR;
    });
}

extern "C" void NP_OSCALL Flash_DisableLocalSecurity() noexcept
{
    guarded("Flash_DisableLocalSecurity", 0, [] {
        // The player never reads local files or sockets itself, so there is no
        // sandbox to lift; the call is only recorded.
        log().received("Flash_DisableLocalSecurity");
        return 0;
    });
}
