// ICMP echo on Windows: IcmpSendEcho2 of IP Helper, one call per request,
// each with an event of its own that the system sets once the reply, an
// error or the request's time-out has come. pump() waits for those events;
// no threads. IP Helper is linked (the adapter reader needs it anyway): its
// ICMP functions exist on every supported Windows, where ICMP.DLL merely
// forwards to them, so a prober need not load anything per request.
#include "HostNetwork.h"
#include "echo_pacing.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include "echo_status_win32.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

namespace hostnet {

namespace {

using Clock = std::chrono::steady_clock;

// One wait watches at most this many events, which bounds the window.
constexpr std::size_t kMaxWindow = MAXIMUM_WAIT_OBJECTS;
// The system ends every request by its time-out; this bound beyond it only
// guards against one that it never ends.
constexpr auto kCompletionGrace = std::chrono::milliseconds(1000);
// How long to hold back sends after the system ran short of resources.
constexpr auto kSendRetry = std::chrono::milliseconds(2);
// One reply record, the 8 bytes of an ICMP error message and the I/O status
// block that an asynchronous call keeps in the buffer (two pointers).
constexpr DWORD kReplySize = sizeof(ICMP_ECHO_REPLY) + 8 + 2 * sizeof(void *);

// The status a reply record is given before a request is handed over. The
// system writes a record for every request it handles, an answer as well
// as a time-out or an error; a record still holding this after the event
// tells that the echo service refused the request as a whole (Wine does
// so for a user who may not send ICMP).
constexpr ULONG kNotHandled = 0xFFFFFFFFu;


bool shortOfResources(DWORD error)
{
    return error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY || error == ERROR_NO_SYSTEM_RESOURCES ||
           error == ERROR_NOT_ENOUGH_QUOTA;
}

struct Queued
{
    std::uint32_t address;
    std::uint64_t tag;
};

// One request handed to the system. Its buffers and event stay where they
// are until the system is done with them, even once the result is no
// longer wanted.
struct Request
{
    std::uint32_t address = 0;
    std::uint64_t tag = 0;
    Clock::time_point deadline;
    HANDLE event = nullptr;
    bool forgotten = false; // cancelled, or overdue and reported silent
    IP_OPTION_INFORMATION ipOptions{};
    char noData = 0;
    alignas(ICMP_ECHO_REPLY) unsigned char reply[kReplySize] = {};

    Request()
    {
        ICMP_ECHO_REPLY none{};
        none.Status = kNotHandled;
        std::memcpy(reply, &none, sizeof none);
    }
    ~Request()
    {
        if (event)
            CloseHandle(event);
    }
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    int result()
    {
        ICMP_ECHO_REPLY first;
        std::memcpy(&first, reply, sizeof first);
        if (first.Status == kNotHandled)
            return kEchoUnusable;
        if (IcmpParseReplies(reply, kReplySize) == 0)
            return kEchoSilent;
        std::memcpy(&first, reply, sizeof first);
        return EchoStatusResult(first.Status);
    }
};

} // namespace

struct EchoProber::Impl
{
    EchoOptions options;
    std::size_t window = 1;
    HANDLE icmp = INVALID_HANDLE_VALUE;
    std::deque<Queued> queued;
    std::vector<std::unique_ptr<Request>> sent; // live and forgotten, until the system is done
    std::size_t live = 0;                       // in `sent` and not forgotten
    std::vector<EchoResult> ready;
    std::size_t maxLive = 0;
    Clock::time_point sendAgainAt{};
    EchoPacer pacer;

    ~Impl()
    {
        if (icmp == INVALID_HANDLE_VALUE)
            return;
        // Closing the handle ends what is still in flight; the system then
        // sets each event. A request it never ends keeps its memory, so
        // that nothing is ever written into freed memory.
        IcmpCloseHandle(icmp);
        const auto giveUp = Clock::now() + std::chrono::milliseconds(options.timeoutMs) + kCompletionGrace;
        for (std::unique_ptr<Request> &request : sent) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(giveUp - Clock::now()).count();
            if (WaitForSingleObject(request->event, static_cast<DWORD>(std::max<decltype(left)>(left, 0))) !=
                WAIT_OBJECT_0)
                request.release();
        }
    }

    void send(Clock::time_point now)
    {
        if (now < sendAgainAt)
            return;
        while (!queued.empty() && sent.size() < window) {
            const Queued next = queued.front();
            if (IsEchoDestination(next.address) && pacer.nextSend(now) > now) {
                sendAgainAt = pacer.nextSend(now);
                return;
            }
            if (!IsEchoDestination(next.address)) {
                ready.push_back({next.tag, next.address, kEchoNotSent});
                queued.pop_front();
                continue;
            }
            auto request = std::make_unique<Request>();
            request->address = next.address;
            request->tag = next.tag;
            request->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (!request->event) {
                sendAgainAt = now + kSendRetry;
                return;
            }
            request->ipOptions.Ttl = static_cast<UCHAR>(std::clamp(options.timeToLive, 1, 255));
            const DWORD replies = IcmpSendEcho2(icmp, request->event, nullptr, nullptr, htonl(next.address),
                                                &request->noData, 0, &request->ipOptions, request->reply,
                                                kReplySize, static_cast<DWORD>(options.timeoutMs));
            const DWORD error = replies == 0 ? GetLastError() : ERROR_SUCCESS;
            if ((replies == 0 && error == ERROR_IO_PENDING) || replies == ERROR_IO_PENDING) {
                request->deadline = now + std::chrono::milliseconds(options.timeoutMs) + kCompletionGrace;
                sent.push_back(std::move(request));
                pacer.sent(now);
                ++live;
                maxLive = std::max(maxLive, live);
            } else if (replies == 0 && shortOfResources(error)) {
                sendAgainAt = now + kSendRetry;
                return;
            } else if (replies == 0) {
                // Ended at once: the echo service refused to work for us,
                // or refused this destination (no route, for one), which
                // tells nothing about the address.
                ready.push_back({next.tag, next.address, error == ERROR_ACCESS_DENIED ? kEchoUnusable : kEchoNotSent});
            } else {
                // Against the rule for calls with an event, answered at once.
                ready.push_back({next.tag, next.address, request->result()});
            }
            queued.pop_front();
        }
    }

    // Collects the requests the system has ended.
    void reap()
    {
        for (auto it = sent.begin(); it != sent.end();) {
            Request &request = **it;
            if (WaitForSingleObject(request.event, 0) != WAIT_OBJECT_0) {
                ++it;
                continue;
            }
            if (!request.forgotten) {
                ready.push_back({request.tag, request.address, request.result()});
                --live;
            }
            it = sent.erase(it);
        }
    }

    void expire(Clock::time_point now)
    {
        for (std::unique_ptr<Request> &request : sent) {
            if (!request->forgotten && request->deadline <= now) {
                ready.push_back({request->tag, request->address, kEchoSilent});
                request->forgotten = true;
                --live;
            }
        }
    }

    Clock::time_point nextEvent(Clock::time_point end) const
    {
        Clock::time_point next = end;
        for (const std::unique_ptr<Request> &request : sent)
            if (!request->forgotten)
                next = std::min(next, request->deadline);
        if (!queued.empty() && sent.size() < window)
            next = std::min(next, sendAgainAt);
        return next;
    }
};

EchoProber::EchoProber(std::size_t window, const EchoOptions &options) : impl_(std::make_unique<Impl>())
{
    impl_->options = options;
    impl_->options.timeoutMs = std::max(options.timeoutMs, 0);
    impl_->window = std::clamp<std::size_t>(window, 1, kMaxWindow);
    impl_->icmp = IcmpCreateFile();
}

EchoProber::~EchoProber() = default;

bool EchoProber::usable() const
{
    return impl_->icmp != INVALID_HANDLE_VALUE;
}

// The system's echo service needs no privilege, like a datagram socket;
// the kind asked for in the options makes no difference here.
EchoSocketKind EchoProber::socketKind() const
{
    return usable() ? EchoSocketKind::Datagram : EchoSocketKind::Automatic;
}

std::size_t EchoProber::window() const
{
    return impl_->window;
}

void EchoProber::enqueue(std::uint32_t address, std::uint64_t tag)
{
    impl_->queued.push_back({address, tag});
}

std::size_t EchoProber::pending() const
{
    return impl_->queued.size() + impl_->live + impl_->ready.size();
}

std::size_t EchoProber::outstanding() const
{
    return impl_->live;
}

std::size_t EchoProber::maxOutstanding() const
{
    return impl_->maxLive;
}

std::vector<EchoResult> EchoProber::pump(int maxWaitMs)
{
    Impl &d = *impl_;
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(maxWaitMs, 0));
    for (;;) {
        if (d.icmp == INVALID_HANDLE_VALUE) {
            for (const Queued &request : d.queued)
                d.ready.push_back({request.tag, request.address, kEchoUnusable});
            d.queued.clear();
        } else {
            // Ended requests are collected before any is declared overdue.
            const auto now = Clock::now();
            d.send(now);
            d.reap();
            d.expire(now);
        }
        if (!d.ready.empty() || (d.queued.empty() && d.live == 0))
            return std::exchange(d.ready, {});
        const auto now = Clock::now();
        if (now >= end)
            return {};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(d.nextEvent(end) - now).count();
        const DWORD waitMs = static_cast<DWORD>(std::max<decltype(wait)>(wait, 0));
        // Forgotten requests are watched too: their end frees a place in
        // the window.
        HANDLE events[kMaxWindow];
        DWORD count = 0;
        for (const std::unique_ptr<Request> &request : d.sent)
            events[count++] = request->event;
        if (count == 0)
            Sleep(waitMs);
        else
            WaitForMultipleObjects(count, events, FALSE, waitMs);
    }
}

void EchoProber::cancel()
{
    Impl &d = *impl_;
    d.queued.clear();
    for (std::unique_ptr<Request> &request : d.sent)
        request->forgotten = true;
    d.live = 0;
    d.ready.clear();
}

} // namespace hostnet
