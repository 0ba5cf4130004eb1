#include "adapters.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

namespace zarfel::platform {

namespace {

// The IPv4 address of an entry of IP Helper's lists; 0 for another family.
uint32_t ipv4(const SOCKET_ADDRESS &entry)
{
    const SOCKADDR *sa = entry.lpSockaddr;
    if (!sa || sa->sa_family != AF_INET)
        return 0;
    sockaddr_in in;
    std::memcpy(&in, sa, sizeof in);
    unsigned char b[4];
    std::memcpy(b, &in.sin_addr, sizeof b);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

std::string utf8(const wchar_t *text)
{
    const int n = text ? WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr) : 0;
    if (n <= 1)
        return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.pop_back(); // the terminating zero
    return out;
}

uint32_t maskOf(unsigned prefix)
{
    return prefix == 0 ? 0 : prefix >= 32 ? 0xffffffffu : ~((uint32_t{1} << (32 - prefix)) - 1);
}

} // namespace

AdapterList listAdapters()
{
    AdapterList list;
    // The list may grow between the size one call asks for and the next.
    std::vector<unsigned char> buffer;
    ULONG size = 16 * 1024;
    ULONG r = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && r == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        r = GetAdaptersAddresses(AF_INET,
                                 GAA_FLAG_INCLUDE_GATEWAYS | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                                     GAA_FLAG_SKIP_DNS_SERVER,
                                 nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()), &size);
    }
    if (r != NO_ERROR)
        return list; // ERROR_NO_DATA included: not even a loopback
    for (auto *a = reinterpret_cast<const IP_ADAPTER_ADDRESSES *>(buffer.data()); a; a = a->Next) {
        if (a->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        list.read = true;
        // A disconnected adapter sends nothing anywhere.
        if (a->OperStatus != IfOperStatusUp)
            continue;
        const IP_ADAPTER_UNICAST_ADDRESS *unicast = a->FirstUnicastAddress;
        while (unicast && ipv4(unicast->Address) == 0)
            unicast = unicast->Next;
        if (!unicast)
            continue;
        Adapter adapter;
        adapter.id = a->AdapterName ? a->AdapterName : "";
        adapter.label = utf8(a->Description);
        adapter.index = a->IfIndex;
        adapter.address = ipv4(unicast->Address);
        adapter.mask = maskOf(unicast->OnLinkPrefixLength);
        // Of several gateways, the first listed.
        for (const IP_ADAPTER_GATEWAY_ADDRESS_LH *g = a->FirstGatewayAddress; g && adapter.gateway == 0; g = g->Next)
            adapter.gateway = ipv4(g->Address);
        // Tunnels carry no broadcast.
        adapter.canBroadcast = a->IfType != IF_TYPE_TUNNEL;
        list.adapters.push_back(std::move(adapter));
    }
    return list;
}

} // namespace zarfel::platform
