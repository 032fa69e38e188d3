// Arbitrary text through the swfwrite description compiler: it must answer
// with a file or an error, never crash; a file it answers must be well formed.
#include "swfwriter/swf_text.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto r = refplayer::swfwriter::compileSwfText(
        std::string_view(reinterpret_cast<const char*>(data), size),
        [](const std::string& name) -> std::optional<std::vector<uint8_t>> {
            if (name.size() > 4)
                return std::nullopt;
            return std::vector<uint8_t>(name.begin(), name.end());
        });
    if (r.ok) {
        if (r.swf.size() < 8 || std::memcmp(r.swf.data() + 1, "WS", 2) != 0)
            __builtin_trap();
    } else if (r.error.empty() || !r.swf.empty()) {
        __builtin_trap();
    }
    return 0;
}
