// One fuzz input for the engine (a whole movie), shared by the fuzzer and the
// regression tests that replay its findings.
#pragma once

#include <cstddef>
#include <cstdint>

void runSwfFuzzInput(const uint8_t* data, size_t size);
