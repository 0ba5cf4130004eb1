// Millisecond tick and pause, the two time services the library needs.
#pragma once
#include <cstdint>

namespace zarfel::platform {

// Milliseconds since an arbitrary start; wraps like a 32-bit tick counter, so
// callers subtract as unsigned 32-bit numbers.
uint32_t tickMs();

void sleepMs(uint32_t ms);

} // namespace zarfel::platform
