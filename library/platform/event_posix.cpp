#include "event.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace zarfel::platform {

// An eventfd whose counter is non-zero while the event is set: readable means
// set, so poll() can watch it beside a socket.
Event::Event() : handle_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Event::~Event()
{
    if (handle_ >= 0)
        close(static_cast<int>(handle_));
}

bool Event::valid() const { return handle_ >= 0; }

void Event::set()
{
    const uint64_t one = 1;
    ssize_t r;
    do {
        r = write(static_cast<int>(handle_), &one, sizeof one);
    } while (r < 0 && errno == EINTR);
}

void Event::reset()
{
    uint64_t value;
    ssize_t r;
    do {
        r = read(static_cast<int>(handle_), &value, sizeof value);
    } while (r < 0 && errno == EINTR);
}

bool Event::isSet() const { return wait(0); }

bool Event::wait(uint32_t timeoutMs) const
{
    pollfd p{static_cast<int>(handle_), POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, static_cast<int>(timeoutMs > 0x7fffffffu ? 0x7fffffffu : timeoutMs));
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLIN);
}

} // namespace zarfel::platform
