// ICMP echo on Linux: an unprivileged ICMP datagram socket where
// net.ipv4.ping_group_range admits the user's group, a raw ICMP socket
// otherwise. One non-blocking socket carries all requests of a prober.
#include "HostNetwork.h"
#include "echo_pacing.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <random>
#include <unordered_map>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/uio.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hostnet {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kTypeEchoReply = 0;
constexpr std::uint8_t kTypeEchoRequest = 8;
constexpr std::size_t kIcmpHeaderSize = 8;
// ICMP_FILTER of <linux/icmp.h>, whose other definitions clash with the C
// library's headers: a bit mask of ICMP types a raw socket does not want.
constexpr int kRawIcmpFilter = 1;
// How long to hold back sends after the socket reported a full buffer.
constexpr auto kSendRetry = std::chrono::milliseconds(2);

std::uint16_t internetChecksum(const unsigned char *data, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<std::uint32_t>((data[i] << 8) | data[i + 1]);
    if (size % 2 != 0)
        sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFFu) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFFu);
}

// A raw socket sees every echo reply of the host, so requests carry an
// identifier of this process; a random one, since process ids repeat across
// containers that share a network.
std::uint16_t processIdentifier()
{
    static const std::uint16_t id = [] {
        unsigned seed = static_cast<unsigned>(::getpid());
        try {
            std::random_device device;
            seed ^= device();
        } catch (...) {
        }
        return static_cast<std::uint16_t>(seed ^ (seed >> 16));
    }();
    return id;
}

// Sequence numbers run on across all probers of the process, so that two
// probers on raw sockets never take each other's replies.
std::uint16_t nextSequence()
{
    static std::atomic<std::uint16_t> sequence{static_cast<std::uint16_t>(processIdentifier() * 7919u)};
    return sequence.fetch_add(1, std::memory_order_relaxed);
}


int openDatagramSocket(std::uint16_t &identifier)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return -1;
    // Binding assigns the socket its echo identifier; the kernel writes it
    // into every request and delivers only replies that carry it.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t size = sizeof local;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) != 0) {
        ::close(fd);
        return -1;
    }
    identifier = local.sin_port; // already in the wire's byte order
    return fd;
}

int openRawSocket(std::uint16_t &identifier)
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return -1;
    // Only echo replies are of interest; the kernel drops the rest (our own
    // requests to local addresses among them) before they are queued.
    const std::uint32_t unwanted = ~(std::uint32_t{1} << kTypeEchoReply);
    if (::setsockopt(fd, SOL_RAW, kRawIcmpFilter, &unwanted, sizeof unwanted) != 0) {
        ::close(fd);
        return -1;
    }
    identifier = htons(processIdentifier());
    return fd;
}

using WallClock = std::chrono::system_clock;

struct Request
{
    std::uint32_t address;
    std::uint64_t tag;
    Clock::time_point deadline;
    // The same deadline on the clock of the kernel's receive time stamps:
    // a reply read late (the prober was not pumped in time) counts only if
    // it arrived in time.
    WallClock::time_point wallDeadline;
};

} // namespace

struct EchoProber::Impl
{
    EchoOptions options;
    std::size_t window = 1;
    int fd = -1;
    EchoSocketKind kind = EchoSocketKind::Automatic;
    std::uint16_t identifier = 0; // wire byte order
    std::deque<Request> queued;
    std::unordered_map<std::uint16_t, Request> inFlight; // by sequence number
    std::vector<EchoResult> ready;
    std::size_t maxInFlight = 0;
    Clock::time_point sendAgainAt{};
    EchoPacer pacer;

    bool open(EchoSocketKind wanted)
    {
        fd = wanted == EchoSocketKind::Raw ? openRawSocket(identifier) : openDatagramSocket(identifier);
        if (fd < 0)
            return false;
        const int ttl = options.timeToLive;
        if (::setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) {
            ::close(fd);
            fd = -1;
            return false;
        }
        // Receive time stamps (best effort: without them a reply counts by
        // the time it is read).
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        kind = wanted;
        return true;
    }

    void send(Clock::time_point now)
    {
        if (now < sendAgainAt)
            return;
        while (!queued.empty() && inFlight.size() < window) {
            const Request &request = queued.front();
            if (IsEchoDestination(request.address) && pacer.nextSend(now) > now) {
                sendAgainAt = pacer.nextSend(now);
                return;
            }
            if (!IsEchoDestination(request.address)) {
                ready.push_back({request.tag, request.address, kEchoNotSent});
                queued.pop_front();
                continue;
            }
            std::uint16_t sequence = nextSequence();
            while (inFlight.count(sequence) != 0)
                sequence = nextSequence();

            unsigned char packet[kIcmpHeaderSize] = {kTypeEchoRequest, 0, 0, 0, 0, 0, 0, 0};
            std::memcpy(packet + 4, &identifier, 2);
            packet[6] = static_cast<unsigned char>(sequence >> 8);
            packet[7] = static_cast<unsigned char>(sequence & 0xFF);
            const std::uint16_t sum = internetChecksum(packet, sizeof packet);
            packet[2] = static_cast<unsigned char>(sum >> 8);
            packet[3] = static_cast<unsigned char>(sum & 0xFF);

            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(request.address);
            const ssize_t sent = ::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(&to),
                                          sizeof to);
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS || errno == EINTR)) {
                sendAgainAt = now + kSendRetry;
                return;
            }
            if (sent < 0) {
                // Refused by the system (a broadcast address, an adapter that
                // is down, a firewall): no reply can come, and silence here
                // says nothing about whether someone holds the address.
                ready.push_back({request.tag, request.address, kEchoNotSent});
            } else {
                const auto timeout = std::chrono::milliseconds(options.timeoutMs);
                inFlight.emplace(sequence,
                                 Request{request.address, request.tag, now + timeout, WallClock::now() + timeout});
                pacer.sent(now);
                maxInFlight = std::max(maxInFlight, inFlight.size());
            }
            queued.pop_front();
        }
    }

    // One received datagram: an echo reply that matches a request in flight
    // by source, identifier and sequence resolves it; anything else is
    // ignored.
    void receive(const unsigned char *data, std::size_t size, std::uint32_t source, WallClock::time_point arrival)
    {
        if (kind == EchoSocketKind::Raw) {
            // The raw socket hands over the IP header too.
            if (size < 20 || (data[0] >> 4) != 4)
                return;
            const std::size_t headerSize = std::size_t{data[0] & 0x0Fu} * 4;
            const std::size_t total = std::size_t{data[2]} << 8 | data[3];
            if (headerSize < 20 || data[9] != IPPROTO_ICMP || total < headerSize || total > size)
                return;
            source = std::uint32_t{data[12]} << 24 | std::uint32_t{data[13]} << 16 | std::uint32_t{data[14]} << 8 |
                     data[15];
            data += headerSize;
            size = total - headerSize;
        }
        // Packets looped back inside the host are not checksummed by the
        // kernel on the way in; a spoilt one must not count.
        if (size < kIcmpHeaderSize || internetChecksum(data, size) != 0 || data[0] != kTypeEchoReply)
            return;
        std::uint16_t identifierSeen;
        std::memcpy(&identifierSeen, data + 4, 2);
        if (identifierSeen != identifier)
            return;
        const auto sequence = static_cast<std::uint16_t>(data[6] << 8 | data[7]);
        const auto it = inFlight.find(sequence);
        if (it == inFlight.end() || it->second.address != source)
            return;
        // In time by the steady clock when read, or by the kernel's stamp
        // when read late: a step of the wall clock alone never makes an
        // answered address look free.
        if (Clock::now() > it->second.deadline && arrival > it->second.wallDeadline)
            return;
        ready.push_back({it->second.tag, it->second.address, kEchoAnswered});
        inFlight.erase(it);
    }

    // Reads everything that has arrived, without waiting.
    void drain()
    {
        unsigned char buffer[1024];
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(timespec)) + 64];
        for (int i = 0; i < 1024; ++i) {
            sockaddr_in from{};
            iovec io{buffer, sizeof buffer};
            msghdr message{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(fd, &message, MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return; // EAGAIN, or a reported error that the next call clears
            }
            WallClock::time_point arrival = WallClock::now();
            for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
                    c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
                    timespec stamp;
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                    arrival = WallClock::time_point(std::chrono::duration_cast<WallClock::duration>(
                        std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
                }
            }
            receive(buffer, static_cast<std::size_t>(n), ntohl(from.sin_addr.s_addr), arrival);
        }
    }

    void expire(Clock::time_point now)
    {
        for (auto it = inFlight.begin(); it != inFlight.end();) {
            if (it->second.deadline <= now) {
                ready.push_back({it->second.tag, it->second.address, kEchoSilent});
                it = inFlight.erase(it);
            } else {
                ++it;
            }
        }
    }

    Clock::time_point nextEvent(Clock::time_point end) const
    {
        Clock::time_point next = end;
        for (const auto &entry : inFlight)
            next = std::min(next, entry.second.deadline);
        if (!queued.empty() && inFlight.size() < window)
            next = std::min(next, sendAgainAt);
        return next;
    }
};

EchoProber::EchoProber(std::size_t window, const EchoOptions &options) : impl_(std::make_unique<Impl>())
{
    impl_->options = options;
    impl_->options.timeoutMs = std::max(options.timeoutMs, 0);
    impl_->window = std::max<std::size_t>(window, 1);
    switch (options.socketKind) {
    case EchoSocketKind::Datagram:
    case EchoSocketKind::Raw:
        impl_->open(options.socketKind);
        break;
    case EchoSocketKind::Automatic:
        if (!impl_->open(EchoSocketKind::Datagram))
            impl_->open(EchoSocketKind::Raw);
        break;
    }
}

EchoProber::~EchoProber()
{
    if (impl_->fd >= 0)
        ::close(impl_->fd);
}

bool EchoProber::usable() const
{
    return impl_->fd >= 0;
}

EchoSocketKind EchoProber::socketKind() const
{
    return impl_->kind;
}

std::size_t EchoProber::window() const
{
    return impl_->window;
}

void EchoProber::enqueue(std::uint32_t address, std::uint64_t tag)
{
    impl_->queued.push_back({address, tag, {}, {}});
}

std::size_t EchoProber::pending() const
{
    return impl_->queued.size() + impl_->inFlight.size() + impl_->ready.size();
}

std::size_t EchoProber::outstanding() const
{
    return impl_->inFlight.size();
}

std::size_t EchoProber::maxOutstanding() const
{
    return impl_->maxInFlight;
}

std::vector<EchoResult> EchoProber::pump(int maxWaitMs)
{
    Impl &d = *impl_;
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(maxWaitMs, 0));
    for (;;) {
        if (d.fd < 0) {
            for (const Request &request : d.queued)
                d.ready.push_back({request.tag, request.address, kEchoUnusable});
            d.queued.clear();
        } else {
            // What arrived before `now` is read before anything expires, so a
            // pump that comes late still counts replies that came in time.
            const auto now = Clock::now();
            d.send(now);
            d.drain();
            d.expire(now);
        }
        if (!d.ready.empty() || (d.queued.empty() && d.inFlight.empty()))
            return std::exchange(d.ready, {});
        const auto now = Clock::now();
        if (now >= end)
            return {};
        // Replies that match nothing only cut the sleep short; the loop
        // goes back to sleep until a request is resolved or time is up.
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(d.nextEvent(end) - now).count();
        pollfd p{d.fd, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::max<decltype(wait)>(wait, 0)));
    }
}

void EchoProber::cancel()
{
    impl_->queued.clear();
    impl_->inFlight.clear();
    impl_->ready.clear();
}

} // namespace hostnet
