// The broadcast search: one request, then a thread of the library's own that
// collects replies into the module table until the time-out, the wished
// number or a stop.
#include <cstring>
#include <system_error>
#include <vector>

#include "adapters.h"
#include "clock.h"
#include "messages.h"
#include "state.h"
#include "zarfel.h"

namespace zarfel {

namespace {

constexpr uint32_t kPauseBeforeSendMs = 10;
constexpr uint32_t kPauseAfterStopMs = 10;
constexpr uint32_t kStopRequestPauseMs = 100;
constexpr uint32_t kStayAwakeMs = 2;
constexpr uint32_t kLongestWaitMs = 60 * 60 * 1000;

// Datagrams waiting on the reply port, read a burst at a time so that a
// thousand replies arriving at once cost a few dozen system calls, then
// handed out one per pass of the receive loop.
class Inbox {
public:
    Inbox() : buffers_(kBatch * kStride), lengths_(kBatch), arrivals_(kBatch) {}

    platform::ReceiveStatus next(platform::SocketHandle socket, char *&datagram, size_t &length,
                                 platform::Arrival &arrival)
    {
        if (next_ == count_) {
            const int got = platform::receiveMany(socket, buffers_.data(), kStride, kStride - 1, kBatch,
                                                  lengths_.data(), arrivals_.data());
            if (got <= 0)
                return got == 0 ? platform::ReceiveStatus::WouldBlock : platform::ReceiveStatus::Error;
            count_ = static_cast<size_t>(got);
            next_ = 0;
        }
        datagram = buffers_.data() + next_ * kStride;
        arrival = arrivals_[next_];
        length = lengths_[next_++];
        return platform::ReceiveStatus::Data;
    }

private:
    static constexpr size_t kBatch = 64;
    // One receive buffer per datagram: at most 2047 bytes held and a NUL.
    static constexpr size_t kStride = protocol::kReceiveBufferSize;
    std::vector<char> buffers_;
    std::vector<size_t> lengths_;
    std::vector<platform::Arrival> arrivals_;
    size_t count_ = 0;
    size_t next_ = 0;
};

void receiveLoop(State &s)
{
    Inbox inbox;
    bool readErrorShown = false;
    bool woken = false;
    uint32_t lastData = 0u - kStayAwakeMs;

    for (;;) {
        // Clear an options wake-up before the options are read below, so a
        // change made after this point is either seen or wakes the wait.
        if (woken) {
            s.wakeEvent->reset();
            woken = false;
        }
        // Take one datagram if one is waiting. Emptiness and over-length are
        // traffic from any host on the segment, not our failure: dropped
        // without a message so a stray datagram cannot hold up the search.
        char *datagram = nullptr;
        size_t length = 0;
        platform::Arrival arrival;
        const platform::ReceiveStatus got = inbox.next(s.receiver, datagram, length, arrival);
        if (got == platform::ReceiveStatus::Data) {
            if (length > 0 && length <= protocol::kMaxDatagram) {
                datagram[length] = '\0';
                auto *record = new ModuleRecord;
                record->arrival = arrival;
                if (protocol::parseReply(datagram, length, record->fields)) {
                    s.table.append(record);
                    s.count.fetch_add(1, std::memory_order_release);
                } else {
                    delete record;
                }
            }
        } else if (got == platform::ReceiveStatus::Error && !readErrorShown) {
            readErrorShown = true;
            noteFailure(s, ZARFEL_FAILED_RECEIVE, platform::lastError());
            showMessage(text::kReceiveFailed);
        }

        // End conditions, in this order, on every pass.
        const int32_t count = s.count.load(std::memory_order_relaxed);
        if (count > 0 && count == s.wished.load())
            return;
        const uint32_t elapsed = platform::tickMs() - s.startTime.load();
        const uint32_t timeout = s.timeoutMs.load();
        if (elapsed > timeout)
            return;
        if (s.stopRequested.exchange(0)) {
            s.stopEvent->reset();
            platform::sleepMs(kPauseAfterStopMs);
            return;
        }

        if (got == platform::ReceiveStatus::Data) {
            lastData = elapsed;
            continue; // drain a burst before sleeping
        }
        if (got == platform::ReceiveStatus::Error) {
            platform::sleepMs(1); // a socket that keeps failing must not spin
            continue;
        }
        // Replies come in bursts: right after one, stay awake a moment rather
        // than sleep and wait to be scheduled again while the kernel's buffer
        // fills.
        if (elapsed - lastData < kStayAwakeMs)
            continue;
        // Sleep until a datagram, a stop, an options change or the time-out.
        const platform::Event *events[] = {s.stopEvent.get(), s.wakeEvent.get()};
        const uint32_t left = timeout - elapsed;
        woken = platform::waitReadable(s.receiver, events, 2,
                                       (left < kLongestWaitMs ? left : kLongestWaitMs) + 1) ==
                platform::WaitResult::Signalled;
    }
}

// The sends of one search request; the bytes sent, or -1 with the last
// failed send's error as platform::lastError().
int sendSearchRequestOnce(State &s, const char *text, size_t length)
{
    if (s.destinationAddress != 0xffffffffu)
        return platform::sendTo(s.sender, text, length, s.destinationAddress, s.destinationPort);
    int result = -1;
    bool viaAdapter = false;
    for (const platform::Adapter &a : platform::listAdapters().adapters) {
        if (!a.canBroadcast)
            continue;
        viaAdapter = true;
        // One interface failing (gone, no carrier) must not cost the others.
        const int sent = platform::sendVia(s.sender, text, length, s.destinationAddress,
                                           s.destinationPort, a.index, platform::networkOrder(a.address));
        if (sent >= 0)
            result = sent;
    }
    return viaAdapter ? result : platform::sendTo(s.sender, text, length, s.destinationAddress, s.destinationPort);
}

// Sends the search request. The kernel routes a limited broadcast out of one
// interface only, so it goes out of every interface that can carry it; any
// other destination is sent once. The bytes sent, or -1 when every send
// failed (the failure is noted).
int sendSearchRequest(State &s, const char *text, size_t length)
{
    const int sent = sendSearchRequestOnce(s, text, length);
    if (sent < 0)
        noteFailure(s, ZARFEL_FAILED_SEND, platform::lastError());
    return sent;
}

} // namespace

void endSearch(State &s)
{
    if (!s.thread.joinable())
        return;
    if (s.running.load() && s.stopEvent) {
        s.stopRequested.store(1);
        s.stopEvent->set();
    }
    s.thread.join();
}

} // namespace zarfel

using namespace zarfel;

extern "C" {

ZARFEL_API int32_t ZARFEL_CALL Zarfel_BroadcastStart(const char *address, int32_t port,
                                                     const char *request)
{
    State &s = state();
    s.count.store(0);
    if (s.sender == platform::kNoSocket) {
        showMessage(socketErrorMessage(s.lastSocketError).c_str());
        return -10;
    }
    // One search at a time: a thread of an earlier search is ended and joined
    // before its table is touched.
    endSearch(s);
    noteFailure(s, ZARFEL_FAILED_NONE);

    s.destinationPort = port == 0 || port > 65535
                            ? protocol::kDevicePort
                            : static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xffffu);
    s.destinationAddress = platform::parseAddress(address);

    platform::sleepMs(kPauseBeforeSendMs);
    // Replies to an earlier search, and whatever else waits on the reply
    // port, would become records of this one; a backlog would also crowd
    // out the replies to come.
    if (drainBeforeSearch())
        discardWaiting(s);
    s.unanswered.clear();
    s.graceDue = false;
    const char *text = request ? request : protocol::kSearchRequest;
    const int sent = sendSearchRequest(s, text, std::strlen(text));
    if (sent == 0)
        return 0;

    s.table.clear();
    // The ended thread may have counted after the reset above.
    s.count.store(0, std::memory_order_release);
    s.stopRequested.store(0);
    s.stopEvent->reset();
    s.startTime.store(platform::tickMs());
    s.running.store(1);
    try {
        s.thread = std::thread([&s] {
            receiveLoop(s);
            s.running.store(0, std::memory_order_release);
        });
    } catch (const std::system_error &) {
        s.running.store(0); // no thread: the search has ended before it began
    }
    return sent;
}

ZARFEL_API int32_t ZARFEL_CALL Zarfel_BroadcastStop(void)
{
    State &s = state();
    if (!s.running.load())
        return 0;
    platform::sleepMs(kStopRequestPauseMs);
    if (s.stopEvent) {
        s.stopRequested.store(1);
        s.stopEvent->set();
    }
    return 1;
}

ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetState(void)
{
    return state().running.load(std::memory_order_acquire) ? 1 : 0;
}

ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetCount(void)
{
    return state().count.load(std::memory_order_acquire);
}

ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetModuleInfo(int32_t number, char *name, char *alias,
                                                    char *ip, char *mask, char *gateway,
                                                    char *mac, int32_t *dhcp)
{
    const ModuleRecord *r = state().table.find(number);
    if (!r)
        return -1;
    const protocol::ModuleFields &f = r->fields;
    // Null buffers are skipped: a caller that wants only some fields says so.
    auto copy = [](char *to, const char *from) {
        if (to)
            std::memcpy(to, from, std::strlen(from) + 1);
    };
    copy(name, f.name);
    copy(alias, f.alias);
    copy(ip, f.ip);
    copy(mask, f.mask);
    copy(gateway, f.gateway);
    copy(mac, f.mac);
    if (dhcp)
        *dhcp = f.dhcp;
    return 0;
}

ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetModuleAdapter(int32_t number, char *address)
{
    const ModuleRecord *r = state().table.find(number);
    if (!r)
        return -1;
    if (address) {
        std::string text;
        if (r->arrival.localAddress != 0)
            text = platform::addressText(r->arrival.localAddress);
        std::memcpy(address, text.c_str(), text.size() + 1);
    }
    return 0;
}

} // extern "C"
