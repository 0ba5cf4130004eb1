// Helpers of the tests that send: where they may run, namespace-local
// sysctls, capabilities, and hand-made ICMP packets on raw sockets.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nettest {

using Clock = std::chrono::steady_clock;

inline long long millisSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// True only in a namespace whose every IPv4 address lies in 127.0.0.0/8 or
// 198.18.0.0/15, as in the namespaces our scripts make, so that nothing these
// tests send can reach the machine's own network.
inline bool inTestNamespace()
{
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool onlyTestAddresses = true;
    for (const ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        sockaddr_in a;
        std::memcpy(&a, i->ifa_addr, sizeof a);
        const std::uint32_t v = ntohl(a.sin_addr.s_addr);
        if ((v >> 24) != 127 && (v & 0xFFFE0000u) != 0xC6120000u)
            onlyTestAddresses = false;
    }
    ::freeifaddrs(list);
    return onlyTestAddresses;
}

inline std::string envOr(const char *name, const char *fallback = "")
{
    const char *v = std::getenv(name);
    return v ? v : fallback;
}

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::string all, line;
    while (std::getline(in, line))
        all += (all.empty() ? "" : "\n") + line;
    return all;
}

// Sets a sysctl of the test's own namespace and puts the old value back.
class SysctlOverride
{
public:
    SysctlOverride(std::string path, const std::string &value) : path_(std::move(path)), old_(readFile(path_))
    {
        ok_ = write(value);
    }
    ~SysctlOverride() { write(old_); }
    SysctlOverride(const SysctlOverride &) = delete;
    SysctlOverride &operator=(const SysctlOverride &) = delete;
    bool ok() const { return ok_; }

private:
    bool write(const std::string &value)
    {
        std::ofstream out(path_);
        out << value << '\n';
        out.flush();
        return static_cast<bool>(out);
    }
    std::string path_, old_;
    bool ok_ = false;
};

inline constexpr const char *kPingGroupRange = "/proc/sys/net/ipv4/ping_group_range";
inline constexpr const char *kEchoIgnoreAll = "/proc/sys/net/ipv4/icmp_echo_ignore_all";
inline constexpr const char *kEveryGroup = "0\t2147483647";
inline constexpr const char *kNoGroup = "1\t0";

// Takes the raw-socket capability away from this process for good.
inline bool dropRawCapability()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const auto bit = static_cast<std::uint32_t>(1u << CAP_NET_RAW);
    data[0].effective &= ~bit;
    data[0].permitted &= ~bit;
    data[0].inheritable &= ~bit;
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Runs `body` in a child process and returns its exit status (or 100 + the
// signal); the body returns 0 for success.
inline int inChild(const std::function<int()> &body)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return 99;
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 100 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

inline std::uint32_t addr(const char *text)
{
    return ntohl(::inet_addr(text));
}

inline std::uint16_t checksum(const unsigned char *data, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<std::uint32_t>((data[i] << 8) | data[i + 1]);
    if (size % 2)
        sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

struct EchoSeen
{
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    std::uint8_t type = 0;
    std::uint16_t identifier = 0; // wire byte order
    std::uint16_t sequence = 0;
};

// Sees the echo requests that arrive at this namespace's own addresses (a
// raw ICMP socket gets a copy of every ICMP packet delivered locally).
class EchoSniffer
{
public:
    EchoSniffer() : fd_(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)) {}
    ~EchoSniffer()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    // The next echo request to `destination`, within `timeoutMs`. Requests
    // to other addresses seen on the way are kept for later calls.
    std::optional<EchoSeen> nextRequest(std::uint32_t destination, int timeoutMs)
    {
        for (auto it = backlog_.begin(); it != backlog_.end(); ++it) {
            if (it->destination == destination) {
                const EchoSeen seen = *it;
                backlog_.erase(it);
                return seen;
            }
        }
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        unsigned char buffer[1500];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0)
                return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                continue;
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n < 28)
                continue;
            const std::size_t ihl = std::size_t{buffer[0] & 0x0Fu} * 4;
            if (static_cast<std::size_t>(n) < ihl + 8)
                continue;
            EchoSeen seen;
            std::memcpy(&seen.source, buffer + 12, 4);
            std::memcpy(&seen.destination, buffer + 16, 4);
            seen.source = ntohl(seen.source);
            seen.destination = ntohl(seen.destination);
            const unsigned char *icmp = buffer + ihl;
            seen.type = icmp[0];
            std::memcpy(&seen.identifier, icmp + 4, 2);
            seen.sequence = static_cast<std::uint16_t>(icmp[6] << 8 | icmp[7]);
            if (seen.type != 8)
                continue;
            if (seen.destination == destination)
                return seen;
            backlog_.push_back(seen);
        }
    }

private:
    int fd_;
    std::deque<EchoSeen> backlog_;
};

// Sends a hand-made ICMP echo packet from one of the namespace's own
// addresses: the kernel writes the IP header with that source.
inline bool sendEcho(std::uint32_t from, std::uint32_t to, std::uint8_t type, std::uint16_t identifierWire,
                     std::uint16_t sequence, bool spoilChecksum = false)
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(from);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = htonl(to);
    unsigned char packet[8] = {type, 0, 0, 0, 0, 0, static_cast<unsigned char>(sequence >> 8),
                               static_cast<unsigned char>(sequence & 0xFF)};
    std::memcpy(packet + 4, &identifierWire, 2);
    std::uint16_t sum = checksum(packet, sizeof packet);
    if (spoilChecksum)
        sum = static_cast<std::uint16_t>(sum ^ 0x0101);
    packet[2] = static_cast<unsigned char>(sum >> 8);
    packet[3] = static_cast<unsigned char>(sum & 0xFF);
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0 &&
                    ::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(&remote),
                             sizeof remote) == static_cast<ssize_t>(sizeof packet);
    ::close(fd);
    return ok;
}

} // namespace nettest
