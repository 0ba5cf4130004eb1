// The socket services the library uses, in the shape the device protocol
// needs them: IPv4 UDP only, non-blocking reads, waits that also watch events.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "event.h"

namespace zarfel::platform {

using SocketHandle = intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Starts the socket layer asking for `requested` (low byte major version).
// 0 on success with the granted version in *granted, else the layer's error.
int startup(uint16_t requested, uint16_t *granted);
// Undoes one startup(); 0 on success.
int cleanup();

// Protocol number of a protocol name, or `fallback` when the lookup fails.
int protocolNumber(const char *name, int fallback);

// An IPv4 datagram socket; kNoSocket on failure (lastError() tells why).
SocketHandle openUdp(int protocol);
void closeSocket(SocketHandle s);
bool setBroadcast(SocketHandle s);
bool setNonBlocking(SocketHandle s);
// Asks for a receive buffer of `bytes`; the system may grant less.
bool setReceiveBuffer(SocketHandle s, int bytes);
int receiveBuffer(SocketHandle s);
// Binds to 0.0.0.0:port.
bool bindAny(SocketHandle s, uint16_t port);

// Sends one datagram to address (network byte order) and port (host order).
// The number of bytes sent, or -1.
int sendTo(SocketHandle s, const void *data, size_t length, uint32_t addressNet, uint16_t port);

// Sends one datagram out of the interface with this index and local address
// (network order), whatever the routing table would choose; a limited
// broadcast then reaches that interface's segment. Bytes sent, or -1.
int sendVia(SocketHandle s, const void *data, size_t length, uint32_t addressNet, uint16_t port,
            uint32_t viaIndex, uint32_t viaAddressNet);

// Where a datagram arrived: the interface's index and the local address it
// was received on (network order); zeros when the system did not say.
struct Arrival {
    uint32_t index = 0;
    uint32_t localAddress = 0;
};

// Asks the system to tell the arrival of every datagram read from now on.
bool setArrivalInfo(SocketHandle s);

enum class ReceiveStatus { Data, WouldBlock, Error };
// Reads one datagram into buf. *length receives the datagram's full length,
// also when it was longer than `capacity` (then only capacity bytes are held).
// When `source` is given it receives the sender's address (network order).
ReceiveStatus receive(SocketHandle s, char *buf, size_t capacity, size_t *length,
                      uint32_t *source = nullptr);

// Reads up to maxCount waiting datagrams at once, datagram i into
// buffers + i * stride (at most `capacity` bytes held), its full length into
// lengths[i] and, when `arrivals` is given, where it arrived into
// arrivals[i]. The number read; 0 when none is waiting; -1 on a read error.
int receiveMany(SocketHandle s, char *buffers, size_t stride, size_t capacity, size_t maxCount,
                size_t *lengths, Arrival *arrivals = nullptr);

enum class WaitResult { Readable, Signalled, TimedOut };
// Waits at most timeoutMs until the socket is readable or one of the events
// (null entries are ignored) is set.
WaitResult waitReadable(SocketHandle s, const Event *const *events, size_t eventCount,
                        uint32_t timeoutMs);

int lastError();
// The error that says a socket is not open (the layer was never started or
// has been closed).
int notOpenError();
std::string errorText(int error);

// Classic dotted-address conversion (short forms, octal, hex); 0xffffffff
// (the broadcast address) for text it cannot read. Network byte order.
uint32_t parseAddress(const char *text);

// Dotted decimal of an address in network order.
inline std::string addressText(uint32_t addressNet)
{
    const auto *b = reinterpret_cast<const unsigned char *>(&addressNet);
    return std::to_string(b[0]) + '.' + std::to_string(b[1]) + '.' + std::to_string(b[2]) + '.' +
           std::to_string(b[3]);
}

} // namespace zarfel::platform
