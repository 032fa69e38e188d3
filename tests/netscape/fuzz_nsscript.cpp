// Arbitrary script text through the external-call parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kv_nsscript.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::wstring script(FlashCallScriptPrefix);
    for (std::size_t i = 0; i < size; ++i)
        script += static_cast<wchar_t>(data[i] < 0x80 ? data[i] : 0x80 + data[i]);
    std::wstring request;
    FlashCallScriptToRequest(script, request);
    return 0;
}
