// Saved control state from an untrusted stream: decoding never reads past the
// data, and whatever it accepts encodes back to the bytes it used.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "property_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto r = refcontrol::decode(std::span(data, size));
    if (r.ok) {
        auto again = refcontrol::encode(r.store);
        auto back = refcontrol::decode(again);
        if (!back.ok || !(back.store == r.store))
            std::abort();
    }
    return 0;
}
