// The neighbour table on Linux: one rtnetlink dump of the IPv4 entries per
// batch of addresses. Reading the table needs no privilege.
#include "NeighbourCheck.h"

#include <cerrno>
#include <cstring>
#include <unordered_map>

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hostnet {

namespace {

NeighbourState stateOf(std::uint16_t nud)
{
    // Several bits may be set in principle; the firmest one counts.
    if (nud & NUD_PERMANENT)
        return NeighbourState::Permanent;
    if (nud & NUD_REACHABLE)
        return NeighbourState::Reachable;
    if (nud & NUD_STALE)
        return NeighbourState::Stale;
    if (nud & NUD_DELAY)
        return NeighbourState::Delay;
    if (nud & NUD_PROBE)
        return NeighbourState::Probe;
    if (nud & NUD_INCOMPLETE)
        return NeighbourState::Incomplete;
    if (nud & NUD_FAILED)
        return NeighbourState::Failed;
    if (nud & NUD_NOARP)
        return NeighbourState::NoArp;
    return NeighbourState::Unknown;
}

// Every IPv4 entry of every interface, by address (host byte order); an
// address on several interfaces keeps the state that holds an address.
// Empty when the dump fails.
std::unordered_map<std::uint32_t, NeighbourState> dumpTable(int fd)
{
    std::unordered_map<std::uint32_t, NeighbourState> table;
    struct
    {
        nlmsghdr header;
        ndmsg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    static std::uint32_t sequence = 0;
    request.header.nlmsg_seq = ++sequence;
    request.body.ndm_family = AF_INET;
    if (::send(fd, &request, sizeof request, 0) < 0)
        return table;
    alignas(nlmsghdr) char buffer[32768];
    for (int reads = 0; reads < 4096; ++reads) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return table;
        int left = static_cast<int>(n);
        for (auto *h = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != request.header.nlmsg_seq)
                continue;
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR)
                return table;
            if (h->nlmsg_type != RTM_NEWNEIGH || h->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
                continue;
            const auto *entry = static_cast<const ndmsg *>(NLMSG_DATA(h));
            if (entry->ndm_family != AF_INET)
                continue;
            int size = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
            for (auto *a = reinterpret_cast<rtattr *>(reinterpret_cast<char *>(NLMSG_DATA(h)) +
                                                      NLMSG_ALIGN(sizeof(ndmsg)));
                 RTA_OK(a, size); a = RTA_NEXT(a, size)) {
                if (a->rta_type != NDA_DST || RTA_PAYLOAD(a) != 4)
                    continue;
                std::uint32_t address;
                std::memcpy(&address, RTA_DATA(a), 4);
                const NeighbourState state = stateOf(entry->ndm_state);
                auto [it, added] = table.emplace(ntohl(address), state);
                if (!added && HoldsHardwareAddress(state))
                    it->second = state;
            }
        }
    }
    return table;
}

class LinuxNeighbourTable final : public NeighbourTable
{
public:
    LinuxNeighbourTable() : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE))
    {
        // A dump that never ends must not hold the window.
        timeval limit{0, 200000};
        if (fd_ >= 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~LinuxNeighbourTable() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool usable() const override { return fd_ >= 0; }
    void ask(const std::vector<std::uint32_t> &addresses) override
    {
        asked_.insert(asked_.end(), addresses.begin(), addresses.end());
    }
    std::vector<std::pair<std::uint32_t, NeighbourState>> answers() override
    {
        std::vector<std::pair<std::uint32_t, NeighbourState>> out;
        if (asked_.empty())
            return out;
        const auto table = dumpTable(fd_);
        for (const std::uint32_t address : asked_) {
            const auto it = table.find(address);
            out.emplace_back(address, it == table.end() ? NeighbourState::Unknown : it->second);
        }
        asked_.clear();
        return out;
    }
    std::size_t open() const override { return asked_.size(); }
    void cancel() override { asked_.clear(); }

private:
    int fd_;
    std::vector<std::uint32_t> asked_;
};

} // namespace

std::unique_ptr<NeighbourTable> OpenNeighbourTable()
{
    return std::make_unique<LinuxNeighbourTable>();
}

} // namespace hostnet
