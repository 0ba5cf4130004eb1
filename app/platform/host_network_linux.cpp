// Host network services on Linux: address texts by the C library's
// inet_addr rules, and one echo request through EchoProber.
#include "HostNetwork.h"

#include <algorithm>
#include <chrono>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace hostnet {

std::uint32_t AddressFromText(const std::string &text)
{
    return ntohl(::inet_addr(text.c_str()));
}

std::string AddressToText(std::uint32_t address)
{
    in_addr a{};
    a.s_addr = htonl(address);
    char buffer[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, buffer, sizeof buffer);
    return buffer;
}

bool IsValidAddressText(const std::string &text)
{
    const std::string dotted = AddressToText(AddressFromText(text));
    return dotted != "0.0.0.0" && dotted != "255.255.255.255";
}

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
