#include "scriptable.h"

#include <atomic>

#include "browser.h"
#include "call_log.h"
#include "instance.h"

namespace refplugin {
namespace {

std::atomic<int> liveObjects{0};

ScriptObject* self(NPObject* obj)
{
    auto s = reinterpret_cast<ScriptObject*>(obj);
    return s && s->magic == kScriptObjectMagic ? s : nullptr;
}

NPObject* allocate(NPP, NPClass*)
{
    try {
        auto s = new ScriptObject{};
        s->magic = kScriptObjectMagic;
        ++liveObjects;
        return &s->header;
    } catch (...) {
        return nullptr;
    }
}

void deallocate(NPObject* obj)
{
    if (auto s = self(obj)) {
        s->magic = 0;
        --liveObjects;
        delete s;
    }
}

void invalidate(NPObject* obj)
{
    if (auto s = self(obj))
        s->instance = nullptr;
}

// The live instance behind an object, kept allocated for the call.
template <typename F>
bool withInstance(NPObject* obj, F&& f) noexcept
{
    try {
        ScriptObject* s = self(obj);
        if (!s || !s->instance || s->instance->destroyed())
            return false;
        Instance::Entry entry(s->instance);
        return f(*s->instance);
    } catch (...) {
        CallLog::instance().note("exception in a script call");
        return false;
    }
}

bool hasMethod(NPObject* obj, NPIdentifier name)
{
    return withInstance(obj, [&](Instance& i) {
        auto n = browser::identifierName(name);
        return n && i.hasMethod(*n);
    });
}

bool invoke(NPObject* obj, NPIdentifier name, const NPVariant* args, uint32_t count, NPVariant* result)
{
    if (result)
        result->type = NPVariantType_Void;
    return withInstance(obj, [&](Instance& i) {
        auto n = browser::identifierName(name);
        if (!n || !result || (count && !args))
            return false;
        return i.invokeMethod(*n, args, count, result);
    });
}

bool invokeDefault(NPObject*, const NPVariant*, uint32_t, NPVariant* result)
{
    if (result)
        result->type = NPVariantType_Void;
    return false;
}

bool hasProperty(NPObject* obj, NPIdentifier name)
{
    return withInstance(obj, [&](Instance&) {
        auto n = browser::identifierName(name);
        return n && *n == "Loop";
    });
}

bool getProperty(NPObject* obj, NPIdentifier name, NPVariant* result)
{
    if (result)
        result->type = NPVariantType_Void;
    return withInstance(obj, [&](Instance& i) {
        auto n = browser::identifierName(name);
        return n && result && i.getProperty(*n, result);
    });
}

bool setProperty(NPObject* obj, NPIdentifier name, const NPVariant* value)
{
    return withInstance(obj, [&](Instance& i) {
        auto n = browser::identifierName(name);
        return n && value && i.setProperty(*n, *value);
    });
}

bool removeProperty(NPObject*, NPIdentifier) { return false; }

NPClass theClass = {
    .structVersion = 1,
    .allocate = allocate,
    .deallocate = deallocate,
    .invalidate = invalidate,
    .hasMethod = hasMethod,
    .invoke = invoke,
    .invokeDefault = invokeDefault,
    .hasProperty = hasProperty,
    .getProperty = getProperty,
    .setProperty = setProperty,
    .removeProperty = removeProperty,
    .enumerate = nullptr,
    .construct = nullptr,
};

}  // namespace

NPClass* scriptObjectClass() { return &theClass; }
int liveScriptObjects() { return liveObjects; }

}  // namespace refplugin
