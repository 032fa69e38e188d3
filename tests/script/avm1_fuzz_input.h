// One fuzz input for the AVM1 interpreter, shared by the fuzzer and the
// regression tests that replay its findings.
#pragma once

#include <cstddef>
#include <cstdint>

void runAvm1FuzzInput(const uint8_t* data, size_t size);
