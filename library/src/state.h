// Library-wide state: one set per process, one search at a time.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "event.h"
#include "net.h"
#include "protocol.h"

namespace zarfel {

struct ModuleRecord {
    protocol::ModuleFields fields{};
    // Where the reply arrived: a configuration leaves by the same interface.
    platform::Arrival arrival{};
    std::atomic<ModuleRecord *> next{nullptr};
};

// Records of the most recent search, in order of arrival. The receive thread
// appends; the caller's thread reads records a count has already admitted.
class ModuleTable {
public:
    ~ModuleTable() { clear(); }
    void clear();
    // Receive thread only.
    void append(ModuleRecord *record);
    // Record number (1-based; 1 or less is the first), or null.
    const ModuleRecord *find(int32_t number);
    // The first record, for a walk along `next`; null when empty.
    const ModuleRecord *first() const { return head_.load(std::memory_order_acquire); }

private:
    std::atomic<ModuleRecord *> head_{nullptr};
    ModuleRecord *tail_ = nullptr;
    // Reading records 1..N one after the other must not walk the list N times.
    int32_t cursorNumber_ = 0;
    const ModuleRecord *cursor_ = nullptr;
};

struct State {
    platform::SocketHandle receiver = platform::kNoSocket;
    platform::SocketHandle sender = platform::kNoSocket;
    // Of the failed socket call that left a socket missing.
    int lastSocketError = platform::notOpenError();
    bool socketLayerUp = false;
    uint32_t destinationAddress = 0xffffffffu; // network order
    uint16_t destinationPort = protocol::kDevicePort;

    std::atomic<uint32_t> timeoutMs{0};
    std::atomic<int32_t> wished{0};
    std::atomic<int32_t> count{0};
    std::atomic<uint32_t> startTime{0};
    std::atomic<int32_t> running{0};
    // Mirrors the stop event so that the receive thread can test it on every
    // pass without a system call.
    std::atomic<int32_t> stopRequested{0};

    // Modules whose configuration went unacknowledged since the last search:
    // their acknowledgement may still come, and must not be credited to
    // another module. Caller's thread only.
    struct Unanswered {
        std::string mac;
        uint32_t reported = 0; // addresses it may answer from, network order
        uint32_t given = 0;
        uint32_t sentAt = 0; // tick of the request
    };
    std::vector<Unanswered> unanswered;
    // Distinct sources of the acknowledgements the last configuration
    // ignored, in order of arrival; bounded so that a flood costs nothing.
    // Caller's thread only.
    std::vector<uint32_t> ignoredSources;
    // After an unanswered request the next one first waits until this tick
    // for the late acknowledgement; `graceDue` says whether it is set.
    bool graceDue = false;
    uint32_t graceUntil = 0;

    // The last failed socket operation (ZARFEL_FAILED_...) and the system's
    // error number; the receive thread writes it too.
    std::mutex failureMutex;
    int32_t failedOperation = 0;
    int failedError = 0;

    std::unique_ptr<platform::Event> stopEvent;
    // Wakes a waiting receive thread when the options change, so that it
    // re-reads them without polling.
    std::unique_ptr<platform::Event> wakeEvent;
    std::thread thread;
    ModuleTable table;
};

// Never destroyed: a search thread still running at process exit must not
// find its state gone.
State &state();

// Receive buffer the library asks for on the reply port; 0 keeps the
// system's default. Benchmarks compare the two.
void setReceiveBufferRequest(int bytes);
int receiveBufferRequest();

// Whether a search first drains the reply port (always, but for benchmarks
// that measure what it is worth).
void setDrainBeforeSearch(bool drain);
bool drainBeforeSearch();

// Records a failed socket operation with the error the system gave for it,
// or forgets the last one (operation 0).
void noteFailure(State &s, int32_t operation, int error = 0);

// Stops a running search and waits for its thread; joins a finished one.
void endSearch(State &s);

// Reads and drops what waits on the reply port: at most maxDatagrams, and
// for no longer than maxMs while more keeps arriving.
void discardWaiting(State &s, int maxDatagrams = 100000, uint32_t maxMs = 200);

} // namespace zarfel
