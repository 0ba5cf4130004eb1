// Host network services on Linux: the first adapter's settings from the
// kernel's routing netlink (the same source as `ip`), address texts by the
// C library's inet_addr rules, and one echo request through EchoProber.
#include "HostNetwork.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace hostnet {

namespace {

constexpr std::size_t align4(std::size_t n)
{
    return (n + 3) & ~std::size_t{3};
}

class Fd
{
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

struct Message
{
    std::uint16_t type;
    std::vector<unsigned char> body; // after the netlink header
};

// One dump request of the routing netlink, answered by the kernel (nothing
// leaves the host). A dump that the kernel marks as interrupted by a change
// is asked again.
bool dump(std::uint16_t type, const void *request, std::size_t requestSize, std::vector<Message> &messages)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        Fd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
        if (fd.get() < 0)
            return false;
        const timeval timeout{2, 0};
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

        const std::uint32_t sequence = 1;
        std::vector<unsigned char> out(align4(sizeof(nlmsghdr)) + requestSize);
        nlmsghdr header{};
        header.nlmsg_len = static_cast<std::uint32_t>(out.size());
        header.nlmsg_type = type;
        header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        header.nlmsg_seq = sequence;
        std::memcpy(out.data(), &header, sizeof header);
        std::memcpy(out.data() + align4(sizeof(nlmsghdr)), request, requestSize);
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(fd.get(), out.data(), out.size(), 0, reinterpret_cast<const sockaddr *>(&kernel),
                     sizeof kernel) < 0)
            return false;

        messages.clear();
        bool interrupted = false;
        std::vector<unsigned char> buffer(64 * 1024);
        for (bool done = false; !done;) {
            const ssize_t n = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            const auto size = static_cast<std::size_t>(n);
            for (std::size_t at = 0; !done && at + sizeof(nlmsghdr) <= size;) {
                nlmsghdr h;
                std::memcpy(&h, buffer.data() + at, sizeof h);
                if (h.nlmsg_len < sizeof h || h.nlmsg_len > size - at)
                    return false;
                if (h.nlmsg_seq == sequence) {
                    if (h.nlmsg_flags & NLM_F_DUMP_INTR)
                        interrupted = true;
                    if (h.nlmsg_type == NLMSG_DONE)
                        done = true;
                    else if (h.nlmsg_type == NLMSG_ERROR)
                        return false;
                    else {
                        const std::size_t start = at + align4(sizeof h);
                        const std::size_t end = at + h.nlmsg_len;
                        messages.push_back({h.nlmsg_type, std::vector<unsigned char>(buffer.begin() + static_cast<std::ptrdiff_t>(std::min(start, end)),
                                                                                     buffer.begin() + static_cast<std::ptrdiff_t>(end))});
                    }
                }
                at += align4(h.nlmsg_len);
            }
        }
        if (!interrupted)
            return true;
    }
    return false;
}

// Calls `each(type, payload, size)` for every attribute from `offset` on.
template <class Each>
void forEachAttribute(const std::vector<unsigned char> &data, std::size_t offset, Each &&each)
{
    while (offset + sizeof(rtattr) <= data.size()) {
        rtattr a;
        std::memcpy(&a, data.data() + offset, sizeof a);
        if (a.rta_len < sizeof a || a.rta_len > data.size() - offset)
            return;
        each(a.rta_type, data.data() + offset + sizeof a, std::size_t{a.rta_len} - sizeof a);
        offset += align4(a.rta_len);
    }
}

std::uint32_t readU32(const unsigned char *p)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint32_t readAddress(const unsigned char *p) // network order in, host order out
{
    return ntohl(readU32(p));
}

struct Link
{
    int index = 0;
    bool up = false;
    bool broadcast = false;
    std::string name;
};

// The interfaces that are not the loopback, in the kernel's interface order
// (by index), whatever their state.
bool listLinks(std::vector<Link> &links)
{
    ifinfomsg request{};
    request.ifi_family = AF_UNSPEC;
    std::vector<Message> messages;
    if (!dump(RTM_GETLINK, &request, sizeof request, messages))
        return false;
    links.clear();
    for (const Message &m : messages) {
        if (m.type != RTM_NEWLINK || m.body.size() < sizeof(ifinfomsg))
            continue;
        ifinfomsg info;
        std::memcpy(&info, m.body.data(), sizeof info);
        if ((info.ifi_flags & IFF_LOOPBACK) != 0 || info.ifi_index <= 0)
            continue;
        Link link{info.ifi_index, (info.ifi_flags & IFF_UP) != 0, (info.ifi_flags & IFF_BROADCAST) != 0, {}};
        forEachAttribute(m.body, align4(sizeof info), [&](unsigned type, const unsigned char *p, std::size_t n) {
            if (type == IFLA_IFNAME)
                link.name.assign(reinterpret_cast<const char *>(p), strnlen(reinterpret_cast<const char *>(p), n));
        });
        links.push_back(std::move(link));
    }
    std::sort(links.begin(), links.end(), [](const Link &a, const Link &b) { return a.index < b.index; });
    return !links.empty();
}

// The adapter's first IPv4 address as the kernel lists it (the primary one
// that was set first).
bool firstAddress(int index, std::uint32_t &address, unsigned &prefix)
{
    ifaddrmsg request{};
    request.ifa_family = AF_INET;
    std::vector<Message> addresses;
    if (!dump(RTM_GETADDR, &request, sizeof request, addresses))
        return false;
    for (const Message &m : addresses) {
        if (m.type != RTM_NEWADDR || m.body.size() < sizeof(ifaddrmsg))
            continue;
        ifaddrmsg info;
        std::memcpy(&info, m.body.data(), sizeof info);
        if (info.ifa_family != AF_INET || static_cast<int>(info.ifa_index) != index)
            continue;
        bool haveLocal = false, haveAddress = false;
        std::uint32_t local = 0, peer = 0;
        forEachAttribute(m.body, align4(sizeof info), [&](unsigned type, const unsigned char *p, std::size_t n) {
            if (n < 4)
                return;
            if (type == IFA_LOCAL) {
                local = readAddress(p);
                haveLocal = true;
            } else if (type == IFA_ADDRESS) {
                peer = readAddress(p);
                haveAddress = true;
            }
        });
        if (!haveLocal && !haveAddress)
            continue;
        // On a point-to-point link IFA_ADDRESS is the far end.
        address = haveLocal ? local : peer;
        prefix = info.ifa_prefixlen;
        return true;
    }
    return false;
}

// The gateway of the main table's default route out of the adapter; of
// several, the one with the lowest metric, which the kernel uses.
bool defaultGateway(int index, std::uint32_t &gateway)
{
    rtmsg request{};
    request.rtm_family = AF_INET;
    std::vector<Message> routes;
    if (!dump(RTM_GETROUTE, &request, sizeof request, routes))
        return false;
    bool found = false;
    std::uint32_t bestMetric = 0;
    for (const Message &m : routes) {
        if (m.type != RTM_NEWROUTE || m.body.size() < sizeof(rtmsg))
            continue;
        rtmsg info;
        std::memcpy(&info, m.body.data(), sizeof info);
        if (info.rtm_family != AF_INET || info.rtm_dst_len != 0 || info.rtm_type != RTN_UNICAST)
            continue;
        std::uint32_t table = info.rtm_table, metric = 0, oif = 0, via = 0;
        bool haveVia = false;
        forEachAttribute(m.body, align4(sizeof info), [&](unsigned type, const unsigned char *p, std::size_t n) {
            if (type == RTA_TABLE && n >= 4)
                table = readU32(p);
            else if (type == RTA_PRIORITY && n >= 4)
                metric = readU32(p);
            else if (type == RTA_OIF && n >= 4)
                oif = readU32(p);
            else if (type == RTA_GATEWAY && n >= 4) {
                via = readAddress(p);
                haveVia = true;
            } else if (type == RTA_MULTIPATH && !haveVia) {
                // Several next hops: the first one through the adapter.
                std::size_t at = 0;
                while (at + sizeof(rtnexthop) <= n) {
                    rtnexthop hop;
                    std::memcpy(&hop, p + at, sizeof hop);
                    if (hop.rtnh_len < sizeof hop || hop.rtnh_len > n - at)
                        break;
                    if (hop.rtnh_ifindex == index) {
                        const std::vector<unsigned char> nested(p + at, p + at + hop.rtnh_len);
                        forEachAttribute(nested, align4(sizeof hop),
                                         [&](unsigned t, const unsigned char *q, std::size_t k) {
                                             if (t == RTA_GATEWAY && k >= 4 && !haveVia) {
                                                 via = readAddress(q);
                                                 haveVia = true;
                                                 oif = static_cast<std::uint32_t>(index);
                                             }
                                         });
                        if (haveVia)
                            break;
                    }
                    at += align4(hop.rtnh_len);
                }
            }
        });
        if (table != RT_TABLE_MAIN || !haveVia || static_cast<int>(oif) != index)
            continue;
        if (!found || metric < bestMetric) {
            found = true;
            bestMetric = metric;
            gateway = via;
        }
    }
    return found;
}

std::uint32_t maskOf(unsigned prefix)
{
    return prefix == 0 ? 0 : prefix >= 32 ? 0xFFFFFFFFu : ~((std::uint32_t{1} << (32 - prefix)) - 1);
}

} // namespace

std::vector<HostAdapter> ListHostAdapters()
{
    std::vector<HostAdapter> adapters;
    std::vector<Link> links;
    if (!listLinks(links))
        return adapters;
    for (const Link &link : links) {
        std::uint32_t address = 0;
        unsigned prefix = 0;
        if (link.up && firstAddress(link.index, address, prefix) && address != 0)
            adapters.push_back({link.name, link.name, address, maskOf(prefix), link.broadcast});
    }
    return adapters;
}

int ReadHostAdapter(int item, std::string &text, bool *sizeQueryFailed)
{
    if (sizeQueryFailed)
        *sizeQueryFailed = false;
    if (item < 1 || item > 3)
        return 1;

    std::vector<Link> links;
    if (!listLinks(links)) {
        if (sizeQueryFailed)
            *sizeQueryFailed = true;
        text = "0.0.0.0";
        return 1;
    }
    // The chosen adapter; else, and when the host no longer has it, the
    // first one that is up with an address: a down adapter's address was
    // never probed and its subnet is not the one the host talks to.
    const std::string choice = HostAdapterChoice();
    int index = 0;
    std::uint32_t address = 0;
    unsigned prefix = 0;
    for (int pass = choice.empty() ? 1 : 0; pass < 2 && index == 0; ++pass) {
        for (const Link &link : links) {
            if (!link.up || (pass == 0 && link.name != choice))
                continue;
            if (firstAddress(link.index, address, prefix) && address != 0) {
                index = link.index;
                break;
            }
        }
    }
    if (index == 0) {
        text = "0.0.0.0";
        return 1;
    }
    switch (item) {
    case 1:
        text = AddressToText(address);
        break;
    case 2:
        text = AddressToText(maskOf(prefix));
        break;
    default: {
        std::uint32_t gateway = 0;
        text = defaultGateway(index, gateway) ? AddressToText(gateway) : std::string();
        break;
    }
    }
    return 0;
}

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
