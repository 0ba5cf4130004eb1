// The host's IPv4 adapters, read one way for the library (the adapters a
// search leaves by, the adapter a reply came in on) and for the program
// (the operator's choice of adapter and the settings proposed to modules).
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace zarfel::platform {

// Addresses in host byte order, first octet most significant.
struct Adapter {
    std::string id;       // the interface name on Linux, the adapter's identifier on Windows
    std::string label;    // what the operator reads
    uint32_t index = 0;   // the system's interface index
    uint32_t address = 0; // its first IPv4 address
    uint32_t mask = 0;    // that address's subnet mask
    uint32_t gateway = 0; // its default gateway; 0 when it has none
    bool canBroadcast = false; // a limited broadcast can leave by it
};

struct AdapterList {
    // The adapters that are up, not loopback and have an IPv4 address, in
    // the system's order.
    std::vector<Adapter> adapters;
    // False when the system's list could not be read or names no adapter
    // but the loopback, whatever the adapters' state.
    bool read = false;
};

// Reads the list anew: adapters and their addresses come and go.
AdapterList listAdapters();

// The lowest-metric default gateway of each device, as Linux's
// /proc/net/route text shows the main routing table: pairs of device name
// and gateway. Linux only.
std::vector<std::pair<std::string, uint32_t>> defaultGateways(const std::string &routeTable);

// The address in network byte order, as the socket calls take it.
inline uint32_t networkOrder(uint32_t address)
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(address >> 24),
                                    static_cast<unsigned char>(address >> 16),
                                    static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address)};
    uint32_t n;
    std::memcpy(&n, bytes, sizeof n);
    return n;
}

} // namespace zarfel::platform
