#include "net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zarfel::platform {

namespace {
thread_local int g_lastError = 0;

int fd(SocketHandle s) { return static_cast<int>(s); }

void remember() { g_lastError = errno; }
} // namespace

// The POSIX socket layer needs no start; report the version asked for.
int startup(uint16_t requested, uint16_t *granted)
{
    *granted = requested;
    return 0;
}

int cleanup() { return 0; }

int protocolNumber(const char *name, int fallback)
{
    // getprotobyname reads /etc/protocols, which minimal systems lack.
    const protoent *p = getprotobyname(name);
    return p ? p->p_proto : fallback;
}

SocketHandle openUdp(int protocol)
{
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
    if (s < 0) {
        remember();
        return kNoSocket;
    }
    return s;
}

void closeSocket(SocketHandle s)
{
    if (s != kNoSocket)
        close(fd(s));
}

bool setBroadcast(SocketHandle s)
{
    const int on = 1;
    if (setsockopt(fd(s), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        remember();
        return false;
    }
    return true;
}

bool setNonBlocking(SocketHandle s)
{
    const int flags = fcntl(fd(s), F_GETFL, 0);
    if (flags < 0 || fcntl(fd(s), F_SETFL, flags | O_NONBLOCK) != 0) {
        remember();
        return false;
    }
    return true;
}

bool setReceiveBuffer(SocketHandle s, int bytes)
{
    if (setsockopt(fd(s), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) {
        remember();
        return false;
    }
    return true;
}

int receiveBuffer(SocketHandle s)
{
    int bytes = 0;
    socklen_t len = sizeof bytes;
    if (getsockopt(fd(s), SOL_SOCKET, SO_RCVBUF, &bytes, &len) != 0)
        return -1;
    return bytes;
}

bool bindAny(SocketHandle s, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd(s), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        remember();
        return false;
    }
    return true;
}

int sendTo(SocketHandle s, const void *data, size_t length, uint32_t addressNet, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addressNet;
    ssize_t r;
    do {
        r = sendto(fd(s), data, length, 0, reinterpret_cast<const sockaddr *>(&a), sizeof a);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        remember();
        return -1;
    }
    return static_cast<int>(r);
}

int sendVia(SocketHandle s, const void *data, size_t length, uint32_t addressNet, uint16_t port,
            uint32_t viaIndex, uint32_t viaAddressNet)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addressNet;
    iovec vector{const_cast<void *>(data), length};
    // IP_PKTINFO names the outgoing interface and source address for this
    // one datagram; unlike SO_BINDTODEVICE it needs no privilege.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr m{};
    m.msg_name = &a;
    m.msg_namelen = sizeof a;
    m.msg_iov = &vector;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    cmsghdr *c = CMSG_FIRSTHDR(&m);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(viaIndex);
    info.ipi_spec_dst.s_addr = viaAddressNet;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    ssize_t r;
    do {
        r = sendmsg(fd(s), &m, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        remember();
        return -1;
    }
    return static_cast<int>(r);
}

bool setArrivalInfo(SocketHandle s)
{
    const int on = 1;
    if (setsockopt(fd(s), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        remember();
        return false;
    }
    return true;
}

ReceiveStatus receive(SocketHandle s, char *buf, size_t capacity, size_t *length, uint32_t *source)
{
    for (;;) {
        // MSG_TRUNC makes the kernel report the datagram's real length, so an
        // over-long datagram is recognised instead of silently cut.
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t r = recvfrom(fd(s), buf, capacity, MSG_TRUNC | MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (r >= 0) {
            *length = static_cast<size_t>(r);
            if (source)
                *source = from.sin_family == AF_INET ? from.sin_addr.s_addr : 0;
            return ReceiveStatus::Data;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return ReceiveStatus::WouldBlock;
        remember();
        return ReceiveStatus::Error;
    }
}

int receiveMany(SocketHandle s, char *buffers, size_t stride, size_t capacity, size_t maxCount,
                size_t *lengths, Arrival *arrivals)
{
    constexpr size_t kBatch = 64;
    mmsghdr headers[kBatch];
    iovec vectors[kBatch];
    // Room for the arrival's IP_PKTINFO (and whatever else the kernel adds).
    alignas(cmsghdr) char control[kBatch][CMSG_SPACE(sizeof(in_pktinfo)) + 64];
    const size_t n = maxCount < kBatch ? maxCount : kBatch;
    for (size_t i = 0; i < n; ++i) {
        vectors[i] = iovec{buffers + i * stride, capacity};
        headers[i] = mmsghdr{};
        headers[i].msg_hdr.msg_iov = &vectors[i];
        headers[i].msg_hdr.msg_iovlen = 1;
        if (arrivals) {
            headers[i].msg_hdr.msg_control = control[i];
            headers[i].msg_hdr.msg_controllen = sizeof control[i];
        }
    }
    for (;;) {
        // One system call for a whole burst; MSG_TRUNC reports real lengths.
        const int r = recvmmsg(fd(s), headers, static_cast<unsigned>(n), MSG_DONTWAIT | MSG_TRUNC, nullptr);
        if (r >= 0) {
            for (int i = 0; i < r; ++i) {
                lengths[i] = headers[i].msg_len;
                if (!arrivals)
                    continue;
                arrivals[i] = Arrival{};
                msghdr &h = headers[i].msg_hdr;
                for (cmsghdr *c = CMSG_FIRSTHDR(&h); c; c = CMSG_NXTHDR(&h, c)) {
                    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO)
                        continue;
                    in_pktinfo info;
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    arrivals[i].index = static_cast<uint32_t>(info.ipi_ifindex);
                    // The interface's own address, also for a broadcast.
                    arrivals[i].localAddress = info.ipi_spec_dst.s_addr;
                }
            }
            return r;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        remember();
        return -1;
    }
}

WaitResult waitReadable(SocketHandle s, const Event *const *events, size_t eventCount,
                        uint32_t timeoutMs)
{
    pollfd p[4];
    nfds_t n = 0;
    p[n++] = pollfd{fd(s), POLLIN, 0};
    for (size_t i = 0; i < eventCount && n < 4; ++i)
        if (events[i] && events[i]->valid())
            p[n++] = pollfd{static_cast<int>(events[i]->nativeHandle()), POLLIN, 0};
    const int timeout = static_cast<int>(timeoutMs > 0x7fffffffu ? 0x7fffffffu : timeoutMs);
    const int r = poll(p, n, timeout);
    if (r <= 0)
        return WaitResult::TimedOut; // EINTR too: the caller re-checks its clock
    if (p[0].revents)
        return WaitResult::Readable;
    return WaitResult::Signalled;
}

int lastError() { return g_lastError; }

int notOpenError() { return EBADF; }

std::string errorText(int error)
{
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
    const char *text = strerror_r(error, buf, sizeof buf);
    return text ? text : "";
}

uint32_t parseAddress(const char *text) { return inet_addr(text ? text : ""); }

} // namespace zarfel::platform
