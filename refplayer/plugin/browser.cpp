#include "browser.h"

#include <cmath>
#include <cstring>

#include "call_log.h"

namespace refplugin::browser {
namespace {

NPNetscapeFuncs table{};
bool haveTable = false;

CallLog& log() { return CallLog::instance(); }
std::string ptr(const void* p) { return p ? std::to_string(reinterpret_cast<uintptr_t>(p)) : std::string("null"); }

}  // namespace

NPError install(const NPNetscapeFuncs* funcs)
{
    if (!funcs)
        return NPERR_INVALID_FUNCTABLE_ERROR;
    if ((funcs->version >> 8) > NP_VERSION_MAJOR)
        return NPERR_INCOMPATIBLE_VERSION_ERROR;
    // A table smaller than ours leaves the entries it lacks empty; a size of
    // 0 is taken as "the whole table", as some hosts send it.
    size_t size = funcs->size ? funcs->size : sizeof(NPNetscapeFuncs);
    if (size < offsetof(NPNetscapeFuncs, geturl))
        return NPERR_INVALID_FUNCTABLE_ERROR;
    table = NPNetscapeFuncs{};
    std::memcpy(&table, funcs, size < sizeof table ? size : sizeof table);
    haveTable = true;
    return NPERR_NO_ERROR;
}

void uninstall()
{
    table = NPNetscapeFuncs{};
    haveTable = false;
}

bool installed() { return haveTable; }

NPError getURLNotify(NPP npp, const std::string& url, const char* target, void* notifyData)
{
    log().made("NPN_GetURLNotify url=" + quoted(url) + " target=" + quoted(target) + " notify=" + ptr(notifyData));
    if (!table.geturlnotify)
        return NPERR_GENERIC_ERROR;
    return table.geturlnotify(npp, url.c_str(), target, notifyData);
}

NPError postURLNotify(NPP npp, const std::string& url, const char* target, const std::string& body, void* notifyData)
{
    log().made("NPN_PostURLNotify url=" + quoted(url) + " target=" + quoted(target) + " body=" + quoted(body) +
               " notify=" + ptr(notifyData));
    if (!table.posturlnotify)
        return NPERR_GENERIC_ERROR;
    return table.posturlnotify(npp, url.c_str(), target, static_cast<uint32_t>(body.size()), body.data(), false,
                               notifyData);
}

NPError setValue(NPP npp, NPPVariable variable, void* value)
{
    log().made("NPN_SetValue variable=" + std::to_string(variable) + " value=" + ptr(value));
    if (!table.setvalue)
        return NPERR_GENERIC_ERROR;
    return table.setvalue(npp, variable, value);
}

void invalidateRect(NPP npp, NPRect rect)
{
    log().made("NPN_InvalidateRect left=" + std::to_string(rect.left) + " top=" + std::to_string(rect.top) +
               " right=" + std::to_string(rect.right) + " bottom=" + std::to_string(rect.bottom));
    if (table.invalidaterect)
        table.invalidaterect(npp, &rect);
}

NPObject* windowObject(NPP npp)
{
    log().made("NPN_GetValue variable=" + std::to_string(NPNVWindowNPObject));
    if (!table.getvalue)
        return nullptr;
    // Pointer-sized and zeroed: a host that writes less leaves the rest 0.
    NPObject* window = nullptr;
    if (table.getvalue(npp, NPNVWindowNPObject, &window) != NPERR_NO_ERROR)
        return nullptr;
    return window;
}

void* netscapeWindow(NPP npp)
{
    log().made("NPN_GetValue variable=" + std::to_string(NPNVnetscapeWindow));
    if (!table.getvalue)
        return nullptr;
    void* window = nullptr;
    if (table.getvalue(npp, NPNVnetscapeWindow, &window) != NPERR_NO_ERROR)
        return nullptr;
    return window;
}

NPObject* createObject(NPP npp, NPClass* cls)
{
    log().made("NPN_CreateObject");
    return table.createobject ? table.createobject(npp, cls) : nullptr;
}

NPObject* retainObject(NPObject* obj)
{
    if (!obj)
        return nullptr;
    log().made("NPN_RetainObject");
    return table.retainobject ? table.retainobject(obj) : obj;
}

void releaseObject(NPObject* obj)
{
    if (!obj)
        return;
    log().made("NPN_ReleaseObject");
    if (table.releaseobject)
        table.releaseobject(obj);
}

NPIdentifier stringIdentifier(const char* name)
{
    log().made("NPN_GetStringIdentifier name=" + quoted(name));
    return table.getstringidentifier ? table.getstringidentifier(name) : nullptr;
}

std::optional<std::string> identifierName(NPIdentifier id)
{
    log().made("NPN_UTF8FromIdentifier");
    if (!table.utf8fromidentifier || !id)
        return std::nullopt;
    NPUTF8* name = table.utf8fromidentifier(id);
    if (!name)
        return std::nullopt;
    std::string out(name, strnlen(name, 4096));
    if (table.memfree)
        table.memfree(name);
    return out;
}

bool invoke(NPP npp, NPObject* obj, const char* method, const NPVariant* args, uint32_t count, NPVariant* result)
{
    NPIdentifier id = stringIdentifier(method);
    std::string line = "NPN_Invoke method=" + quoted(method) + " args=[";
    for (uint32_t i = 0; i < count; ++i)
        line += (i ? "," : "") + describe(args[i]);
    log().made(line + "]");
    if (!table.invoke)
        return false;
    return table.invoke(npp, obj, id, args, count, result);
}

bool evaluate(NPP npp, NPObject* obj, const std::string& script, NPVariant* result)
{
    log().made("NPN_Evaluate script=" + quoted(script, 4096));
    if (!table.evaluate)
        return false;
    NPString text{script.c_str(), static_cast<uint32_t>(script.size())};
    return table.evaluate(npp, obj, &text, result);
}

void releaseVariantValue(NPVariant* v)
{
    if (table.releasevariantvalue)
        table.releasevariantvalue(v);
}

char* copyString(std::string_view text)
{
    if (!table.memalloc || text.size() >= UINT32_MAX)
        return nullptr;
    auto out = static_cast<char*>(table.memalloc(static_cast<uint32_t>(text.size() + 1)));
    if (!out)
        return nullptr;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return out;
}

std::optional<std::string> variantText(const NPVariant& v)
{
    if (v.type != NPVariantType_String)
        return std::nullopt;
    if (!v.value.stringValue.UTF8Characters)
        return std::string();
    return std::string(v.value.stringValue.UTF8Characters, v.value.stringValue.UTF8Length);
}

std::optional<int32_t> variantInt(const NPVariant& v)
{
    if (v.type == NPVariantType_Int32)
        return v.value.intValue;
    // Script engines hand numbers over as doubles; whole ones count.
    if (v.type == NPVariantType_Double) {
        double d = v.value.doubleValue;
        if (std::isfinite(d) && d == std::trunc(d) && d >= INT32_MIN && d <= INT32_MAX)
            return static_cast<int32_t>(d);
    }
    return std::nullopt;
}

std::optional<bool> variantBool(const NPVariant& v)
{
    if (v.type == NPVariantType_Bool)
        return v.value.boolValue;
    if (v.type == NPVariantType_Int32)
        return v.value.intValue != 0;
    return std::nullopt;
}

std::string describe(const NPVariant& v)
{
    switch (v.type) {
    case NPVariantType_Void: return "void";
    case NPVariantType_Null: return "null";
    case NPVariantType_Bool: return v.value.boolValue ? "true" : "false";
    case NPVariantType_Int32: return "int:" + std::to_string(v.value.intValue);
    case NPVariantType_Double: return "double:" + std::to_string(v.value.doubleValue);
    case NPVariantType_String: return quoted(variantText(v).value_or(""));
    case NPVariantType_Object: return "object";
    }
    return "type" + std::to_string(static_cast<int>(v.type));
}

}  // namespace refplugin::browser
