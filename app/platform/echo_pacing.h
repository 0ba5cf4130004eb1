// The pace of a prober's echo requests, the same on every platform: a short
// burst leaves at once, beyond it one request per kEchoSendGapMs, so that a
// walk over a whole subnet reaches a plant network as a trickle.
#pragma once

#include "HostNetwork.h"

#include <algorithm>
#include <chrono>

namespace hostnet {

class EchoPacer
{
public:
    using Clock = std::chrono::steady_clock;

    // The earliest time the next request may leave (at or before `now`: at once).
    Clock::time_point nextSend(Clock::time_point now) const
    {
        return std::max(now, due_ - kAllowance);
    }
    void sent(Clock::time_point now) { due_ = std::max(due_, now) + kGap; }

private:
    static constexpr auto kGap = std::chrono::milliseconds(kEchoSendGapMs);
    static constexpr auto kAllowance = kGap * (kEchoSendBurst - 1);
    Clock::time_point due_{};
};

} // namespace hostnet
