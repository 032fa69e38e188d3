// Random action blocks against a small fake player (see avm1_fuzz_input.cpp).
#include "avm1_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runAvm1FuzzInput(data, size);
    return 0;
}
