#include "event.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace zarfel::platform {

namespace {
HANDLE native(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
} // namespace

// A kernel event object: manual reset, initially clear, unnamed. Its handle
// is what waitReadable (net.h) waits on beside the socket.
Event::Event() : handle_(reinterpret_cast<intptr_t>(CreateEventA(nullptr, TRUE, FALSE, nullptr))) {}

Event::~Event()
{
    if (handle_ != 0)
        CloseHandle(native(handle_));
}

bool Event::valid() const { return handle_ != 0; }

void Event::set() { SetEvent(native(handle_)); }

void Event::reset() { ResetEvent(native(handle_)); }

bool Event::isSet() const { return wait(0); }

bool Event::wait(uint32_t timeoutMs) const
{
    // INFINITE is 0xffffffff: cap just below it so that a long wait stays
    // a wait with an end, as on the other platforms.
    const DWORD timeout = timeoutMs >= INFINITE ? INFINITE - 1 : timeoutMs;
    return WaitForSingleObject(native(handle_), timeout) == WAIT_OBJECT_0;
}

} // namespace zarfel::platform
