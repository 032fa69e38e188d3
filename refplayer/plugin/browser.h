// The host's side of the plug-in API as the player calls it: the table given
// to NP_Initialize, entries the host left empty treated as absent, each call
// written to the call log before it is made (the host may call back into the
// player from inside it).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "npapi/npfunctions.h"

namespace refplugin::browser {

// Takes the host's table (what fits of it); false if it is unusable.
NPError install(const NPNetscapeFuncs* funcs);
void uninstall();
bool installed();

NPError getURLNotify(NPP npp, const std::string& url, const char* target, void* notifyData);
NPError postURLNotify(NPP npp, const std::string& url, const char* target, const std::string& body, void* notifyData);
NPError setValue(NPP npp, NPPVariable variable, void* value);
void invalidateRect(NPP npp, NPRect rect);

// The browser window object (retained; release with releaseObject), or null.
NPObject* windowObject(NPP npp);
// The window the host's page lives in (NPNVnetscapeWindow), or null.
void* netscapeWindow(NPP npp);
NPObject* createObject(NPP npp, NPClass* cls);
NPObject* retainObject(NPObject* obj);
void releaseObject(NPObject* obj);
// The identifier of `name`: the text must outlive every use of the identifier,
// since a host may use the text's own address as the identifier.
NPIdentifier stringIdentifier(const char* name);
// The name of an identifier through the host, copied out and the host's copy freed.
std::optional<std::string> identifierName(NPIdentifier id);
bool invoke(NPP npp, NPObject* obj, const char* method, const NPVariant* args, uint32_t count, NPVariant* result);
bool evaluate(NPP npp, NPObject* obj, const std::string& script, NPVariant* result);
void releaseVariantValue(NPVariant* v);

// Memory from the host's allocator (zero-filled text with a terminating 0).
char* copyString(std::string_view text);

// Reads a variant as text, an integer or a truth value, as the player's methods take them.
std::optional<std::string> variantText(const NPVariant& v);
std::optional<int32_t> variantInt(const NPVariant& v);
std::optional<bool> variantBool(const NPVariant& v);
std::string describe(const NPVariant& v);

}  // namespace refplugin::browser
