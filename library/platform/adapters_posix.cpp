#include "adapters.h"

#include <algorithm>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>

namespace zarfel::platform {

namespace {

uint32_t fromNetworkBytes(const void *p)
{
    unsigned char b[4];
    std::memcpy(b, p, sizeof b);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

uint32_t addressOf(const sockaddr *a)
{
    if (!a || a->sa_family != AF_INET)
        return 0;
    sockaddr_in in;
    std::memcpy(&in, a, sizeof in);
    return fromNetworkBytes(&in.sin_addr.s_addr);
}

} // namespace

std::vector<std::pair<std::string, uint32_t>> defaultGateways(const std::string &routeTable)
{
    struct Best {
        std::string device;
        uint32_t gateway;
        unsigned long metric;
    };
    std::vector<Best> best;
    std::istringstream lines(routeTable);
    std::string line;
    std::getline(lines, line); // the column names
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device;
        uint32_t destination = 0, gateway = 0, mask = 0;
        unsigned flags = 0;
        unsigned long references = 0, use = 0, metric = 0;
        fields >> device >> std::hex >> destination >> gateway >> flags >> std::dec >> references >> use >>
            metric >> std::hex >> mask;
        // Addresses are the kernel's network-order words printed as numbers
        // of this machine's byte order: their bytes are the address's.
        if (!fields || destination != 0 || mask != 0 || gateway == 0 || !(flags & RTF_UP) ||
            !(flags & RTF_GATEWAY) || (flags & RTF_REJECT))
            continue;
        Best *known = nullptr;
        for (Best &b : best)
            known = b.device == device ? &b : known;
        // Of several, the lowest metric is the one the kernel routes by.
        if (!known)
            best.push_back({device, fromNetworkBytes(&gateway), metric});
        else if (metric < known->metric)
            *known = {device, fromNetworkBytes(&gateway), metric};
    }
    std::vector<std::pair<std::string, uint32_t>> gateways;
    for (const Best &b : best)
        gateways.emplace_back(b.device, b.gateway);
    return gateways;
}

AdapterList listAdapters()
{
    AdapterList list;
    ifaddrs *all = nullptr;
    if (getifaddrs(&all) != 0)
        return list;
    for (const ifaddrs *a = all; a; a = a->ifa_next) {
        if (!a->ifa_name || (a->ifa_flags & IFF_LOOPBACK))
            continue;
        // Every interface has a link entry, also one that is down or has no
        // address: the host has an adapter.
        list.read = true;
        const uint32_t address = addressOf(a->ifa_addr);
        if (address == 0 || !(a->ifa_flags & IFF_UP))
            continue;
        // Secondary addresses come labelled "eth0:1": the device's first
        // address stands for it.
        std::string name = a->ifa_name;
        name.resize(std::min(name.find(':'), name.size()));
        bool seen = false;
        for (const Adapter &known : list.adapters)
            seen = seen || known.id == name;
        const unsigned index = seen ? 0 : if_nametoindex(name.c_str());
        if (index == 0)
            continue; // listed already, or gone while we looked
        list.adapters.push_back(
            {name, name, index, address, addressOf(a->ifa_netmask), 0, (a->ifa_flags & IFF_BROADCAST) != 0});
    }
    freeifaddrs(all);
    if (list.adapters.empty())
        return list;
    // The routing table as any user may read it, without a netlink socket.
    std::ifstream file("/proc/net/route");
    std::ostringstream table;
    table << file.rdbuf();
    for (const auto &[device, gateway] : defaultGateways(table.str()))
        for (Adapter &a : list.adapters)
            if (a.id == device)
                a.gateway = gateway;
    return list;
}

} // namespace zarfel::platform
