// The socket services the library uses, in the shape the device protocol
// needs them: IPv4 UDP only, non-blocking reads, waits that also watch events.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

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

enum class ReceiveStatus { Data, WouldBlock, Error };
// Reads one datagram into buf. *length receives the datagram's full length,
// also when it was longer than `capacity` (then only capacity bytes are held).
ReceiveStatus receive(SocketHandle s, char *buf, size_t capacity, size_t *length);

// Reads up to maxCount waiting datagrams at once, datagram i into
// buffers + i * stride (at most `capacity` bytes held), its full length into
// lengths[i]. The number read; 0 when none is waiting; -1 on a read error.
int receiveMany(SocketHandle s, char *buffers, size_t stride, size_t capacity, size_t maxCount,
                size_t *lengths);

enum class WaitResult { Readable, Signalled, TimedOut };
// Waits at most timeoutMs until the socket is readable or one of the events
// (null entries are ignored) is set.
WaitResult waitReadable(SocketHandle s, const Event *const *events, size_t eventCount,
                        uint32_t timeoutMs);

int lastError();
std::string errorText(int error);

// Classic dotted-address conversion (short forms, octal, hex); 0xffffffff
// (the broadcast address) for text it cannot read. Network byte order.
uint32_t parseAddress(const char *text);

} // namespace zarfel::platform
