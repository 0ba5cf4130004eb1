// Probes for users who may not send echo: one UDP datagram to the discard
// port of each address. It makes the kernel resolve the address like an
// echo request would, so the neighbour table can answer; a host that
// refuses the port (ICMP port unreachable, read from the error queue) is
// plainly there.
#include "NeighbourCheck.h"
#include "echo_pacing.h"

#include <algorithm>
#include <cerrno>
#include <unordered_map>

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace hostnet {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kDiscardPort = 9;

class DatagramProbes final : public EchoProbes
{
public:
    DatagramProbes(std::size_t window, const EchoOptions &options)
        : window_(std::max<std::size_t>(window, 1)), timeout_(std::max(options.timeoutMs, 0)),
          fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
        const int on = 1;
        if (fd_ >= 0 && ::setsockopt(fd_, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~DatagramProbes() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool usable() const override { return fd_ >= 0; }
    std::size_t window() const override { return window_; }
    void enqueue(std::uint32_t address, std::uint64_t tag) override { queued_.push_back({tag, address, 0}); }
    std::size_t pending() const override { return queued_.size() + inFlight_.size() + ready_.size(); }
    void cancel() override
    {
        queued_.clear();
        inFlight_.clear();
        ready_.clear();
    }

    std::vector<EchoResult> pump(int maxWaitMs) override
    {
        const auto end = Clock::now() + std::chrono::milliseconds(std::max(maxWaitMs, 0));
        for (;;) {
            const auto now = Clock::now();
            send(now);
            readErrors();
            for (auto it = inFlight_.begin(); it != inFlight_.end();) {
                if (it->second.second <= now) {
                    ready_.push_back({it->second.first.tag, it->first, kEchoSilent});
                    it = inFlight_.erase(it);
                } else {
                    ++it;
                }
            }
            if (!ready_.empty() || (queued_.empty() && inFlight_.empty()) || now >= end)
                return std::exchange(ready_, {});
            auto next = end;
            for (const auto &entry : inFlight_)
                next = std::min(next, entry.second.second);
            if (!queued_.empty() && inFlight_.size() < window_)
                next = std::min(next, pacer_.nextSend(now));
            pollfd p{fd_, POLLERR, 0};
            ::poll(&p, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count()));
        }
    }

private:
    void send(Clock::time_point now)
    {
        while (!queued_.empty() && inFlight_.size() < window_ && pacer_.nextSend(now) <= now) {
            const EchoResult request = queued_.front();
            queued_.pop_front();
            // One datagram per address at a time: a second request for it
            // waits on the first one's answer.
            if (!IsEchoDestination(request.address) || inFlight_.count(request.address) != 0) {
                ready_.push_back({request.tag, request.address, kEchoNotSent});
                continue;
            }
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(kDiscardPort);
            to.sin_addr.s_addr = htonl(request.address);
            const ssize_t sent = ::sendto(fd_, "", 0, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            if (sent < 0 && (errno == EAGAIN || errno == ENOBUFS || errno == EINTR)) {
                queued_.push_front(request);
                return;
            }
            if (sent < 0) {
                ready_.push_back({request.tag, request.address, kEchoNotSent});
                continue;
            }
            pacer_.sent(now);
            inFlight_[request.address] = {request, now + std::chrono::milliseconds(timeout_)};
        }
    }

    // Port unreachable from the address itself: someone holds it.
    void readErrors()
    {
        for (int i = 0; i < 1024; ++i) {
            sockaddr_in from{};
            alignas(cmsghdr) unsigned char control[512];
            char data[64];
            iovec io{data, sizeof data};
            msghdr message{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            if (::recvmsg(fd_, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
                return;
            for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
                    continue;
                const auto *error = reinterpret_cast<const sock_extended_err *>(CMSG_DATA(c));
                const auto *offender = reinterpret_cast<const sockaddr_in *>(SO_EE_OFFENDER(error));
                const std::uint32_t address = ntohl(from.sin_addr.s_addr);
                const auto it = inFlight_.find(address);
                if (it != inFlight_.end() && error->ee_origin == SO_EE_ORIGIN_ICMP && error->ee_errno == ECONNREFUSED &&
                    ntohl(offender->sin_addr.s_addr) == address) {
                    ready_.push_back({it->second.first.tag, address, kEchoAnswered});
                    inFlight_.erase(it);
                }
            }
        }
    }

    std::size_t window_;
    int timeout_;
    int fd_;
    std::deque<EchoResult> queued_;
    std::unordered_map<std::uint32_t, std::pair<EchoResult, Clock::time_point>> inFlight_;
    std::vector<EchoResult> ready_;
    EchoPacer pacer_;
};

} // namespace

std::unique_ptr<EchoProbes> OpenDatagramProbes(std::size_t window, const EchoOptions &options)
{
    return std::make_unique<DatagramProbes>(window, options);
}

} // namespace hostnet
