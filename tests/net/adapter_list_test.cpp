// The adapter list's default gateways, read from the routing table text
// that Linux gives every user in /proc/net/route.
#include "adapters.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdio>

using zarfel::platform::defaultGateways;

namespace {

// An address as the kernel prints it: the network-order word as a number of
// this machine's byte order.
std::string word(const char *dotted)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", ::inet_addr(dotted));
    return text;
}

// One line of the table: device, destination, gateway, flags, metric, mask.
std::string route(const char *device, const char *destination, const char *gateway, const char *flags,
                  int metric, const char *mask)
{
    return std::string(device) + '\t' + word(destination) + '\t' + word(gateway) + '\t' + flags + "\t0\t0\t" +
           std::to_string(metric) + '\t' + word(mask) + "\t0\t0\t0\n";
}

std::uint32_t address(const char *dotted)
{
    return ntohl(::inet_addr(dotted));
}

} // namespace

TEST(DefaultGateways, LowestMetricDefaultRouteOfEachDevice)
{
    const std::string table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n" +
        route("eth0", "0.0.0.0", "198.18.6.1", "0003", 200, "0.0.0.0") +
        route("eth0", "198.18.100.0", "198.18.6.9", "0003", 0, "255.255.255.0") + // not a default route
        route("eth0", "0.0.0.0", "198.18.6.254", "0003", 100, "0.0.0.0") +
        route("eth0", "0.0.0.0", "198.18.6.77", "0003", 100, "0.0.0.0") + // same metric: the first stays
        route("eth1", "0.0.0.0", "0.0.0.0", "0001", 0, "0.0.0.0") +       // on the link, no gateway
        route("*", "0.0.0.0", "0.0.0.0", "0201", 5, "0.0.0.0") +          // unreachable
        route("eth2", "0.0.0.0", "198.19.2.1", "0003", 10, "0.0.0.0") +
        route("eth3", "0.0.0.0", "198.19.3.1", "0203", 1, "0.0.0.0");    // rejected
    const auto gateways = defaultGateways(table);
    ASSERT_EQ(gateways.size(), 2u);
    EXPECT_EQ(gateways[0].first, "eth0");
    EXPECT_EQ(gateways[0].second, address("198.18.6.254"));
    EXPECT_EQ(gateways[1].first, "eth2");
    EXPECT_EQ(gateways[1].second, address("198.19.2.1"));

    EXPECT_TRUE(defaultGateways("").empty());
    EXPECT_TRUE(defaultGateways("Iface\tDestination\tGateway \n").empty());
}
