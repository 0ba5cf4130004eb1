// Manual-reset event: stays set until reset, and can be waited on together
// with a socket (see net.h).
#pragma once
#include <cstdint>

namespace zarfel::platform {

class Event {
public:
    Event();
    ~Event();
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    bool valid() const;
    void set();
    void reset();
    bool isSet() const;
    // Waits at most timeoutMs for the event; true when it is set.
    bool wait(uint32_t timeoutMs) const;
    intptr_t nativeHandle() const { return handle_; }

private:
    intptr_t handle_;
};

} // namespace zarfel::platform
