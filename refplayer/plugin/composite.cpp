#include "composite.h"

namespace refplugin {

void sourceOverRow(uint32_t* dst, const uint32_t* src, int count)
{
    for (int i = 0; i < count; ++i)
        dst[i] = sourceOver(src[i], dst[i]);
}

}  // namespace refplugin
