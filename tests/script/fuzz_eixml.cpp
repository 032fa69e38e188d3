// The ExternalInterface XML reader on arbitrary text. Whatever it accepts must
// write back to a text that reads back to the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "eixml.h"

using namespace refplayer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto value = ei::decodeValue(text)) {
        const std::string once = ei::encodeValue(*value.value);
        const auto again = ei::decodeValue(once);
        if (!again || ei::encodeValue(*again.value) != once) std::abort();
        (void)ei::scriptLiteral(*value.value);
    }
    if (const auto invoke = ei::decodeInvoke(text)) {
        const std::string once = ei::encodeInvoke(invoke.value->name, invoke.value->arguments, invoke.value->returnType);
        const auto again = ei::decodeInvoke(once);
        if (!again || ei::encodeInvoke(again.value->name, again.value->arguments, again.value->returnType) != once)
            std::abort();
        (void)ei::evaluateScript(invoke.value->name, invoke.value->arguments);
    }
    (void)ei::unescapeXml(text);
    return 0;
}
