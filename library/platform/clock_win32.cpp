#include "clock.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace zarfel::platform {

// The system tick: 32 bits, wrapping after 49.7 days, which is why callers
// subtract as unsigned numbers. It advances in steps of the timer interrupt
// (typically 15.6 ms on Windows).
uint32_t tickMs() { return static_cast<uint32_t>(GetTickCount()); }

void sleepMs(uint32_t ms) { Sleep(ms); }

} // namespace zarfel::platform
