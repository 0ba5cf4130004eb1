// A scripted protocol peer for tests: a UDP socket that receives what the
// library sends and sends whatever a test needs to the library's reply port.
// Loopback (or a private test namespace) only.
#pragma once
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace testing_support {

#ifdef _WIN32
using SocketFd = SOCKET;
inline constexpr SocketFd kNoSocketFd = INVALID_SOCKET;
// The test process starts Winsock once for its own sockets and never stops
// it, so the library's start and stop do not pull them from under it.
inline void startSockets()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        throw std::runtime_error("WSAStartup");
}
inline void closeSocketFd(SocketFd fd) { closesocket(fd); }
#else
using SocketFd = int;
inline constexpr SocketFd kNoSocketFd = -1;
inline void startSockets() {}
inline void closeSocketFd(SocketFd fd) { close(fd); }
#endif

class UdpPeer {
public:
    // Binds to address:port (port 0: any free port).
    explicit UdpPeer(const char *address = "127.0.0.1", uint16_t port = 0)
    {
        startSockets();
#ifdef _WIN32
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
#else
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
#endif
        if (fd_ == kNoSocketFd)
            throw std::runtime_error("socket");
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = inet_addr(address);
        if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            closeSocketFd(fd_);
            throw std::runtime_error("bind");
        }
#ifdef _WIN32
        int len = sizeof a;
#else
        socklen_t len = sizeof a;
#endif
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~UdpPeer() { closeSocketFd(fd_); }
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;

    uint16_t port() const { return port_; }
    SocketFd fd() const { return fd_; }


    // Next datagram within timeoutMs, or nothing.
    std::optional<std::string> receive(int timeoutMs = 3000)
    {
#ifdef _WIN32
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd_, &readable);
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &tv) <= 0)
            return std::nullopt;
#else
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return std::nullopt;
#endif
        char buf[70000];
        sockaddr_in from{};
#ifdef _WIN32
        int fromLength = sizeof from;
#else
        socklen_t fromLength = sizeof from;
#endif
        const auto n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n < 0)
            return std::nullopt;
        lastSource_ = ntohl(from.sin_addr.s_addr);
        return std::string(buf, static_cast<size_t>(n));
    }

    // Sender of the datagram receive() returned last (host byte order).
    uint32_t lastSource() const { return lastSource_; }

    void sendTo(uint16_t port, const std::string &data, const char *address = "127.0.0.1")
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = inet_addr(address);
#ifdef _WIN32
        const int sent = sendto(fd_, data.data(), static_cast<int>(data.size()), 0,
                                reinterpret_cast<sockaddr *>(&a), sizeof a);
#else
        const ssize_t sent = sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
#endif
        if (sent < 0 || static_cast<size_t>(sent) != data.size())
            throw std::runtime_error("sendto");
    }

private:
    uint32_t lastSource_ = 0;
    SocketFd fd_ = kNoSocketFd;
    uint16_t port_ = 0;
};

// A port that was free a moment ago (the library takes a port number, not a
// socket, so tests pick one this way).
inline uint16_t freeUdpPort()
{
    UdpPeer probe("0.0.0.0", 0);
    return probe.port();
}

inline std::string reply(const std::string &name, const std::string &alias, int dhcp,
                         const std::string &ip, const std::string &mac,
                         const std::string &mask = "255.255.255.0",
                         const std::string &gateway = "198.18.0.1")
{
    return "VELKORQZ510,80,NAME=" + name + ",ALIAS=" + alias + ",DHCP=" + std::to_string(dhcp) +
           ",IP=" + ip + ",MASK=" + mask + ",GATEWAY=" + gateway + ",MAC=" + mac + "\r";
}

} // namespace testing_support
