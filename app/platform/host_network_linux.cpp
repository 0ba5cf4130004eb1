// Host network services on Linux: one echo request through EchoProber.
#include "HostNetwork.h"

#include <algorithm>
#include <chrono>


namespace hostnet {

int PingAddress(const std::string &address)
{
    return PingAddress(address, EchoOptions{});
}

int PingAddress(const std::string &address, const EchoOptions &options)
{
    EchoProber prober(1, options);
    if (!prober.usable())
        return kEchoUnusable;
    prober.enqueue(AddressFromText(address), 0);
    // The request's own time-out ends the wait; the outer bound only guards
    // against a wait that never ends.
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + std::chrono::milliseconds(std::max(options.timeoutMs, 0) + 1000);
    while (prober.pending() > 0 && Clock::now() < giveUp) {
        const std::vector<EchoResult> results = prober.pump(std::max(options.timeoutMs, 0) + 100);
        if (!results.empty())
            return results.front().result;
    }
    return kEchoSilent;
}

} // namespace hostnet
