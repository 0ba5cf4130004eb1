#include "state.h"

#include <algorithm>
#include <cstring>

#include "clock.h"
#include "messages.h"
#include "zarfel.h"

namespace zarfel {

namespace {
constexpr uint16_t kSocketVersion = 0x0002; // 2.0, low byte major
constexpr uint32_t kShortestSearchMs = 1000;
constexpr int kUdpProtocolNumber = 17;
// Room for a few thousand replies arriving at once.
std::atomic<int> g_receiveBufferRequest{4 * 1024 * 1024};

uint16_t portOr(int32_t port, uint16_t fallback)
{
    if (port == 0 || port > 65535)
        return fallback;
    return static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xffffu);
}

// Releases everything Zarfel_Init created; the search, if any, ends first so
// that its thread never reads a closed socket.
void releaseAll(State &s)
{
    endSearch(s);
    platform::closeSocket(s.receiver);
    platform::closeSocket(s.sender);
    s.receiver = platform::kNoSocket;
    s.sender = platform::kNoSocket;
    s.wakeEvent.reset();
    if (s.socketLayerUp) {
        s.socketLayerUp = false;
        if (platform::cleanup() != 0)
            showMessage(text::kCleanupFailed);
    }
}
} // namespace

State &state()
{
    static State *s = new State;
    return *s;
}

void noteFailure(State &s, int32_t operation, int error)
{
    std::lock_guard lock(s.failureMutex);
    s.failedOperation = operation;
    s.failedError = error;
}

void setReceiveBufferRequest(int bytes) { g_receiveBufferRequest.store(bytes); }

namespace {
std::atomic<bool> g_drainBeforeSearch{true};
}
void setDrainBeforeSearch(bool drain) { g_drainBeforeSearch.store(drain); }
bool drainBeforeSearch() { return g_drainBeforeSearch.load(); }
int receiveBufferRequest() { return g_receiveBufferRequest.load(); }

void ModuleTable::clear()
{
    ModuleRecord *r = head_.exchange(nullptr);
    while (r) {
        ModuleRecord *next = r->next.load(std::memory_order_relaxed);
        delete r;
        r = next;
    }
    tail_ = nullptr;
    cursor_ = nullptr;
    cursorNumber_ = 0;
}

void ModuleTable::append(ModuleRecord *record)
{
    if (tail_)
        tail_->next.store(record, std::memory_order_release);
    else
        head_.store(record, std::memory_order_release);
    tail_ = record;
}

const ModuleRecord *ModuleTable::find(int32_t number)
{
    if (number < 1)
        number = 1;
    const ModuleRecord *r = head_.load(std::memory_order_acquire);
    int32_t at = 1;
    if (cursor_ && cursorNumber_ <= number) {
        r = cursor_;
        at = cursorNumber_;
    }
    while (r && at < number) {
        r = r->next.load(std::memory_order_acquire);
        ++at;
    }
    if (r) {
        cursor_ = r;
        cursorNumber_ = at;
    }
    return r;
}

} // namespace zarfel

using namespace zarfel;

extern "C" {

ZARFEL_API uint16_t ZARFEL_CALL Zarfel_GetVersion(void) { return 0x0100; }

ZARFEL_API int32_t ZARFEL_CALL Zarfel_Init(int32_t replyPort)
{
    State &s = state();
    // A second call starts afresh instead of leaking or double-binding.
    releaseAll(s);
    s.table.clear();
    // The count must agree with the emptied table also when this call fails.
    s.count.store(0);
    s.stopEvent.reset();
    // A failure below names its own error, not one of an earlier call.
    s.lastSocketError = platform::notOpenError();
    noteFailure(s, ZARFEL_FAILED_NONE);

    uint16_t granted = 0;
    const int startError = platform::startup(kSocketVersion, &granted);
    if (startError != 0) {
        showMessage(text::kSocketLayerNotResponding);
        return startError;
    }
    s.socketLayerUp = true;
    if ((granted & 0xffu) < (kSocketVersion & 0xffu)) {
        showMessage(text::kVersionNotSupported);
        return -1;
    }

    s.receiver = platform::openUdp(platform::protocolNumber("udp", kUdpProtocolNumber));
    if (s.receiver == platform::kNoSocket) {
        s.lastSocketError = platform::lastError();
        noteFailure(s, ZARFEL_FAILED_SOCKET, s.lastSocketError);
        showMessage(text::kServerSocketFailed);
        return -2;
    }
    // The receive thread and the configuration wait read only when the socket
    // is known to be readable, or drain it until it is empty.
    platform::setNonBlocking(s.receiver);
    // Each record remembers the interface its reply came in on.
    platform::setArrivalInfo(s.receiver);
    if (const int bytes = receiveBufferRequest(); bytes > 0)
        platform::setReceiveBuffer(s.receiver, bytes);
    if (!platform::bindAny(s.receiver, portOr(replyPort, protocol::kReplyPort))) {
        s.lastSocketError = platform::lastError();
        noteFailure(s, ZARFEL_FAILED_BIND, s.lastSocketError);
        showMessage(text::kBindFailed);
        return -3;
    }

    s.count.store(0);

    s.sender = platform::openUdp(0);
    if (s.sender == platform::kNoSocket) {
        s.lastSocketError = platform::lastError();
        noteFailure(s, ZARFEL_FAILED_SOCKET, s.lastSocketError);
        showMessage(text::kClientSocketFailed);
        return -4;
    }
    platform::setBroadcast(s.sender);

    Zarfel_SetOptions(kShortestSearchMs, 0);
    s.stopEvent = std::make_unique<platform::Event>();
    s.wakeEvent = std::make_unique<platform::Event>();
    return 0;
}

ZARFEL_API int32_t ZARFEL_CALL Zarfel_SetOptions(uint32_t timeoutMs, int32_t wishedNumber)
{
    State &s = state();
    s.timeoutMs.store(timeoutMs >= kShortestSearchMs ? timeoutMs : kShortestSearchMs);
    s.wished.store(wishedNumber > 0 ? wishedNumber : 0);
    if (s.wakeEvent)
        s.wakeEvent->set();
    return 0;
}

ZARFEL_API int32_t ZARFEL_CALL Zarfel_Close(void)
{
    State &s = state();
    releaseAll(s);
    s.table.clear();
    s.count.store(0);
    s.lastSocketError = platform::notOpenError();
    const bool hadEvent = s.stopEvent && s.stopEvent->valid();
    s.stopEvent.reset();
    return hadEvent ? 1 : 0;
}

ZARFEL_API int32_t ZARFEL_CALL Zarfel_SetMessageHandler(ZarfelMessageHandler handler)
{
    setMessageHandler(handler);
    return 0;
}

ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetSocketFailure(int32_t *error, char *reason, int32_t reasonSize)
{
    State &s = state();
    int32_t operation = 0;
    int number = 0;
    {
        std::lock_guard lock(s.failureMutex);
        operation = s.failedOperation;
        number = s.failedError;
    }
    if (error)
        *error = operation != 0 ? number : 0;
    if (reason && reasonSize > 0) {
        const std::string text = operation != 0 ? platform::errorText(number) : std::string();
        const size_t n = std::min(text.size(), static_cast<size_t>(reasonSize) - 1);
        std::memcpy(reason, text.data(), n);
        reason[n] = '\0';
    }
    return operation;
}

} // extern "C"
