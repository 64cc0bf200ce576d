// The end of an input for the targets that drive the core against the
// recording fake.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fake_platform.h"

// Runs one input, then frees the fake's records as well: libFuzzer takes
// memory held from one input to the next for a possible leak and runs the
// input again to find it.
inline int RunThenResetFake(int (*run)(const uint8_t*, size_t), const uint8_t* data, size_t size)
{
    const int result = run(data, size);
    fake::Reset();
    return result;
}
