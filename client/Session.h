// One search session over the library's exports: start and close, options,
// a search and its wait, the records found, one module's configuration.
// No I/O and no waiting of its own beyond what the caller's idle callback does.
#pragma once

#include "Exports.h"
#include "Record.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zclient {

class Session {
public:
    explicit Session(const Exports &exports) : x_(exports) {}
    ~Session(); // closes the library when this session started it
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Zarfel_Init's result: 0 started (see initFailure for the others).
    std::int32_t start(std::int32_t replyPort = ZARFEL_REPLY_PORT);
    bool started() const { return started_; }
    // Ends a running search and closes the library, when this session
    // started it.
    void close();

    // Zarfel_SetOptions's result: 0 taken.
    std::int32_t setOptions(std::uint32_t timeoutMs, std::int32_t wished);
    // The search time-out the library uses: at least 1000 ms.
    std::uint32_t searchTimeoutMs() const { return timeoutMs_; }

    // Sends the standard search request; Zarfel_BroadcastStart's result
    // (bytes sent; 0 none and no search; -1 send failed, the search runs).
    std::int32_t startSearch(const std::string &address, std::int32_t port = ZARFEL_DEVICE_PORT);
    bool searching() const;
    void stop();
    // Calls idle() while a search runs, for at most `limit`; true once it has
    // ended. The program passes its event processing, a console a sleep.
    bool waitWhileSearching(std::chrono::milliseconds limit, const std::function<void()> &idle) const;
    // The search that confirms a configuration: it ends as soon as every MAC
    // of `awaited` is in the table (any case or separator), else at the
    // library's time-out. False when no request went out and no search ran.
    bool confirmingSearch(const std::string &address, std::int32_t port, const std::vector<std::string> &awaited,
                          const std::function<void()> &idle);

    std::int32_t count() const;
    std::vector<Record> records() const;

    // Zarfel_ConfigModule for record n; absent texts are not given, an
    // absent DHCP mode keeps `reportedDhcp`.
    std::int32_t configure(std::int32_t n, const Settings &give, bool reportedDhcp) const;
    // The sources of the acknowledgements the last configuration ignored,
    // as dotted text: not the module's address, so not its answer.
    std::vector<std::string> ignoredAcknowledgements() const;

    // The last failed socket operation of the library's last start, search
    // or configuration, with the system's reason; none when nothing failed.
    struct SocketFailure {
        std::int32_t operation = ZARFEL_FAILED_NONE;
        std::int32_t error = 0;
        std::string reason;
        explicit operator bool() const { return operation != ZARFEL_FAILED_NONE; }
        // "Network is unreachable (error 101)"
        std::string text() const;
    };
    SocketFailure socketFailure() const;

private:
    Exports x_;
    bool started_ = false;
    std::uint32_t timeoutMs_ = 1000;
};

} // namespace zclient
