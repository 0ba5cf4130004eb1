// A scripted protocol peer for tests: a UDP socket that receives what the
// library sends and sends whatever a test needs to the library's reply port.
// Loopback (or a private test namespace) only.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace testing_support {

class UdpPeer {
public:
    // Binds to address:port (port 0: any free port).
    explicit UdpPeer(const char *address = "127.0.0.1", uint16_t port = 0)
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            throw std::runtime_error("socket");
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = inet_addr(address);
        if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            throw std::runtime_error("bind");
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~UdpPeer() { close(fd_); }
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;

    uint16_t port() const { return port_; }
    int fd() const { return fd_; }

    // Next datagram within timeoutMs, or nothing.
    std::optional<std::string> receive(int timeoutMs = 3000)
    {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return std::nullopt;
        char buf[70000];
        const ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n < 0)
            return std::nullopt;
        return std::string(buf, static_cast<size_t>(n));
    }

    void sendTo(uint16_t port, const std::string &data, const char *address = "127.0.0.1")
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = inet_addr(address);
        if (sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a) !=
            static_cast<ssize_t>(data.size()))
            throw std::runtime_error("sendto");
    }

private:
    int fd_ = -1;
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
