// The instance's scriptable object (NPPVpluginScriptableNPObject): the
// methods a page or a host calls on the movie. The host may name methods by
// identifiers of its own making, so names are always read back as text
// through the host, never compared as identifiers.
#pragma once

#include "npapi/npfunctions.h"

namespace refplugin {

class Instance;

struct ScriptObject {
    NPObject header;
    // Non-zero while the object is alive: some hosts look at the first word
    // after the header to decide whether an object may be freed.
    uint32_t magic;
    Instance* instance;  // null once the instance is gone
};

inline constexpr uint32_t kScriptObjectMagic = 0x4B565346;  // "KVSF"

NPClass* scriptObjectClass();
int liveScriptObjects();

}  // namespace refplugin
