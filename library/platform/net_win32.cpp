#include "net.h"

#include "adapters.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>
#include <iphlpapi.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace zarfel::platform {

namespace {

SOCKET sock(SocketHandle s) { return static_cast<SOCKET>(s); }

int clampLength(size_t n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

// Resets from the network about an earlier send (an ICMP "port unreachable"
// turned into an error on the next read) are not datagrams: skipped, but
// only so many times in a row.
constexpr int kMaxResetsSkipped = 64;

// When a socket cannot be tied to an event, waits fall back to short select()
// slices, after which the caller looks at its events and clock again.
constexpr uint32_t kFallbackSliceMs = 10;

WaitResult selectReadable(SocketHandle s, uint32_t timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock(s), &readable);
    timeval tv{static_cast<long>(timeoutMs / 1000u), static_cast<long>(timeoutMs % 1000u) * 1000L};
    const int r = select(0, &readable, nullptr, nullptr, &tv);
    if (r > 0)
        return WaitResult::Readable;
    if (r < 0)
        Sleep(1); // a failing select returns at once: never spin on it
    return WaitResult::TimedOut;
}

// Winsock's texts for the errors the library can meet, for systems whose
// message tables lack them.
const char *knownErrorText(int error)
{
    switch (error) {
    case WSANOTINITIALISED: return "Windows Sockets has not been started.";
    case WSAENETDOWN: return "The network subsystem has failed.";
    case WSAEACCES: return "An attempt was made to access a socket in a way forbidden by its access permissions.";
    case WSAEADDRINUSE: return "Only one usage of each socket address (protocol/network address/port) is normally permitted.";
    case WSAEADDRNOTAVAIL: return "The requested address is not valid in its context.";
    case WSAEAFNOSUPPORT: return "An address incompatible with the requested protocol was used.";
    case WSAEPROTONOSUPPORT: return "The requested protocol has not been configured into the system, or no implementation for it exists.";
    case WSAESOCKTNOSUPPORT: return "The support for the specified socket type does not exist in this address family.";
    case WSAEMFILE: return "Too many open sockets.";
    case WSAENOBUFS: return "An operation on a socket could not be performed because the system lacked sufficient buffer space or because a queue was full.";
    case WSAENETUNREACH: return "A socket operation was attempted to an unreachable network.";
    case WSAEHOSTUNREACH: return "A socket operation was attempted to an unreachable host.";
    case WSAEMSGSIZE: return "A message sent on a datagram socket was larger than the internal message buffer or some other network limit, or the buffer used to receive a datagram into was smaller than the datagram itself.";
    case WSAECONNRESET: return "An existing connection was forcibly closed by the remote host.";
    case WSAENOTSOCK: return "An operation was attempted on something that is not a socket.";
    default: return nullptr;
    }
}

} // namespace

namespace {

// WSARecvMsg is reached through the socket's extension table.
LPFN_WSARECVMSG recvMsgFunction(SOCKET s)
{
    LPFN_WSARECVMSG function = nullptr;
    GUID id = WSAID_WSARECVMSG;
    DWORD bytes = 0;
    if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function,
                 &bytes, nullptr, nullptr) == SOCKET_ERROR)
        return nullptr;
    return function;
}

// The address of the interface with this index, 0 when unknown. Adapters
// are listed again only when an index is new, not for every datagram: an
// index they do not list (the loopback, an adapter that is down) is
// remembered as unknown. A plain array under a lock: a thread_local with a
// destructor is not safe in a DLL whose threads end while it stays loaded.
uint32_t interfaceAddress(uint32_t index)
{
    struct Known {
        uint32_t index, address;
    };
    static std::mutex lock;
    static Known known[32];
    static size_t count = 0;
    const std::lock_guard guard(lock);
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < count; ++i)
            if (known[i].index == index)
                return known[i].address;
        if (pass == 0) {
            count = 0;
            for (const Adapter &a : listAdapters().adapters)
                if (count < sizeof known / sizeof known[0])
                    known[count++] = Known{a.index, networkOrder(a.address)};
        }
    }
    if (count < sizeof known / sizeof known[0])
        known[count++] = Known{index, 0};
    return 0;
}

} // namespace

int startup(uint16_t requested, uint16_t *granted)
{
    WSADATA data{};
    const int r = WSAStartup(requested, &data);
    *granted = r == 0 ? data.wVersion : 0;
    return r;
}

int cleanup() { return WSACleanup() == 0 ? 0 : WSAGetLastError(); }

int protocolNumber(const char *name, int fallback)
{
    const protoent *p = getprotobyname(name);
    return p ? p->p_proto : fallback;
}

SocketHandle openUdp(int protocol)
{
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, protocol);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    // Programs that this process starts must not hold the reply port.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<SocketHandle>(s);
}

void closeSocket(SocketHandle s)
{
    if (s != kNoSocket)
        closesocket(sock(s));
}

bool setBroadcast(SocketHandle s)
{
    const BOOL on = TRUE;
    return setsockopt(sock(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&on), sizeof on) == 0;
}

bool setNonBlocking(SocketHandle s)
{
    u_long on = 1;
    return ioctlsocket(sock(s), FIONBIO, &on) == 0;
}

bool setReceiveBuffer(SocketHandle s, int bytes)
{
    return setsockopt(sock(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&bytes), sizeof bytes) == 0;
}

int receiveBuffer(SocketHandle s)
{
    int bytes = 0;
    int len = sizeof bytes;
    if (getsockopt(sock(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char *>(&bytes), &len) != 0)
        return -1;
    return bytes;
}

bool bindAny(SocketHandle s, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(sock(s), reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0;
}

int sendTo(SocketHandle s, const void *data, size_t length, uint32_t addressNet, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addressNet;
    const int r = sendto(sock(s), static_cast<const char *>(data), clampLength(length), 0,
                         reinterpret_cast<const sockaddr *>(&a), sizeof a);
    return r == SOCKET_ERROR ? -1 : r;
}

ReceiveStatus receive(SocketHandle s, char *buf, size_t capacity, size_t *length, uint32_t *source)
{
    for (int resets = 0;; ++resets) {
        sockaddr_in from{};
        int fromLength = sizeof from;
        const int r = recvfrom(sock(s), buf, clampLength(capacity), 0, reinterpret_cast<sockaddr *>(&from),
                               &fromLength);
        if (source)
            *source = from.sin_family == AF_INET ? from.sin_addr.s_addr : 0;
        if (r != SOCKET_ERROR) {
            *length = static_cast<size_t>(r);
            return ReceiveStatus::Data;
        }
        const int error = WSAGetLastError();
        // Winsock keeps the first `capacity` bytes of an over-long datagram
        // and drops the rest without saying how long it was: report it as one
        // byte longer than the buffer, which every caller treats as too long.
        if (error == WSAEMSGSIZE) {
            *length = capacity + 1;
            return ReceiveStatus::Data;
        }
        if (error == WSAEWOULDBLOCK)
            return ReceiveStatus::WouldBlock;
        if ((error == WSAECONNRESET || error == WSAENETRESET) && resets < kMaxResetsSkipped)
            continue;
        return ReceiveStatus::Error;
    }
}

int sendVia(SocketHandle s, const void *data, size_t length, uint32_t addressNet, uint16_t port,
            uint32_t viaIndex, uint32_t viaAddressNet)
{
    // Winsock has no per-datagram interface choice for a send: a socket
    // bound to the adapter's address sends out of that adapter.
    const uint32_t local = viaAddressNet != 0 ? viaAddressNet : interfaceAddress(viaIndex);
    if (local == 0)
        return sendTo(s, data, length, addressNet, port);
    const SocketHandle bound = openUdp(IPPROTO_UDP);
    if (bound == kNoSocket)
        return -1;
    setBroadcast(bound);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = local;
    int result = -1;
    if (bind(sock(bound), reinterpret_cast<const sockaddr *>(&from), sizeof from) == 0)
        result = sendTo(bound, data, length, addressNet, port);
    const int error = WSAGetLastError();
    closeSocket(bound);
    WSASetLastError(error);
    return result;
}

namespace {
// Taken anew for each socket that asks for arrival information: the
// provider that answers it may be unloaded by the last WSACleanup.
std::atomic<LPFN_WSARECVMSG> g_recvMsg{nullptr};
} // namespace

bool setArrivalInfo(SocketHandle s)
{
    g_recvMsg.store(recvMsgFunction(sock(s)));
    const DWORD on = 1;
    return setsockopt(sock(s), IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char *>(&on), sizeof on) == 0;
}

namespace {

// One datagram with where it arrived; the plain read when the system has no
// WSARecvMsg.
ReceiveStatus receiveWithArrival(SocketHandle s, char *buf, size_t capacity, size_t *length,
                                 Arrival *arrival)
{
    const LPFN_WSARECVMSG recvMsg = g_recvMsg.load();
    *arrival = Arrival{};
    if (!recvMsg)
        return receive(s, buf, capacity, length);
    for (int resets = 0;; ++resets) {
        WSABUF data{static_cast<ULONG>(clampLength(capacity)), buf};
        alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO)) + 64];
        WSAMSG m{};
        m.lpBuffers = &data;
        m.dwBufferCount = 1;
        m.Control.buf = control;
        m.Control.len = sizeof control;
        DWORD got = 0;
        const int r = recvMsg(sock(s), &m, &got, nullptr, nullptr);
        const int error = r == SOCKET_ERROR ? WSAGetLastError() : 0;
        if (r != SOCKET_ERROR || error == WSAEMSGSIZE) {
            // An over-long datagram is reported one byte longer than the
            // buffer, which every caller treats as too long.
            *length = r == SOCKET_ERROR ? capacity + 1 : got;
            for (WSACMSGHDR *c = WSA_CMSG_FIRSTHDR(&m); c; c = WSA_CMSG_NXTHDR(&m, c)) {
                if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO)
                    continue;
                IN_PKTINFO info;
                std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
                arrival->index = info.ipi_ifindex;
                // The datagram's destination may be a broadcast address:
                // the interface's own address is what a reply came in on.
                const uint32_t own = interfaceAddress(info.ipi_ifindex);
                arrival->localAddress = own != 0 ? own : info.ipi_addr.s_addr;
            }
            return ReceiveStatus::Data;
        }
        if (error == WSAEWOULDBLOCK)
            return ReceiveStatus::WouldBlock;
        if ((error == WSAECONNRESET || error == WSAENETRESET) && resets < kMaxResetsSkipped)
            continue;
        return ReceiveStatus::Error;
    }
}

} // namespace

// Winsock has no call that reads several datagrams at once: one per call.
int receiveMany(SocketHandle s, char *buffers, size_t /*stride*/, size_t capacity, size_t maxCount,
                size_t *lengths, Arrival *arrivals)
{
    if (maxCount == 0)
        return 0;
    const ReceiveStatus got = arrivals ? receiveWithArrival(s, buffers, capacity, &lengths[0], &arrivals[0])
                                       : receive(s, buffers, capacity, &lengths[0]);
    switch (got) {
    case ReceiveStatus::Data:
        return 1;
    case ReceiveStatus::WouldBlock:
        return 0;
    case ReceiveStatus::Error:
        break;
    }
    return -1;
}

WaitResult waitReadable(SocketHandle s, const Event *const *events, size_t eventCount,
                        uint32_t timeoutMs)
{
    // Slot 0 is the socket's own event, the caller's events follow.
    HANDLE handles[4] = {};
    DWORD n = 1;
    for (size_t i = 0; i < eventCount && n < 4; ++i)
        if (events[i] && events[i]->valid())
            handles[n++] = reinterpret_cast<HANDLE>(events[i]->nativeHandle());
    if (n == 1)
        return selectReadable(s, timeoutMs);

    // Tie the socket to an event for this one wait. A datagram already
    // waiting sets the event at once, so none is missed between the caller's
    // last read and this point.
    const WSAEVENT readable = WSACreateEvent();
    if (readable != WSA_INVALID_EVENT && WSAEventSelect(sock(s), readable, FD_READ) == 0) {
        handles[0] = readable;
        const DWORD timeout = timeoutMs >= INFINITE ? INFINITE - 1 : timeoutMs;
        const DWORD r = WaitForMultipleObjects(n, handles, FALSE, timeout);
        // Untie it again; the socket stays non-blocking.
        WSAEventSelect(sock(s), nullptr, 0);
        WSACloseEvent(readable);
        if (r == WAIT_OBJECT_0)
            return WaitResult::Readable;
        if (r > WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + n)
            return WaitResult::Signalled;
        if (r == WAIT_FAILED)
            Sleep(1);
        return WaitResult::TimedOut;
    }
    if (readable != WSA_INVALID_EVENT)
        WSACloseEvent(readable);
    for (DWORD i = 1; i < n; ++i)
        if (WaitForSingleObject(handles[i], 0) == WAIT_OBJECT_0)
            return WaitResult::Signalled;
    return selectReadable(s, timeoutMs < kFallbackSliceMs ? timeoutMs : kFallbackSliceMs);
}

int lastError() { return WSAGetLastError(); }

int notOpenError() { return WSANOTINITIALISED; }

std::string errorText(int error)
{
    char buf[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(error), 0, buf, sizeof buf, nullptr);
    // System texts end in a line break, which would split the message box.
    while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' '))
        --n;
    if (n > 0)
        return std::string(buf, n);
    if (const char *known = knownErrorText(error))
        return known;
    std::snprintf(buf, sizeof buf, "Unknown error %d", error);
    return buf;
}

uint32_t parseAddress(const char *text) { return inet_addr(text ? text : ""); }

} // namespace zarfel::platform
