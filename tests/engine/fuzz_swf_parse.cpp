// Arbitrary bytes as a movie (see swf_fuzz_input.cpp).
#include "swf_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    runSwfFuzzInput(data, size);
    return 0;
}
