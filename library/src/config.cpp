// The configuration request to one module and the wait for its
// acknowledgement.
#include <cstring>
#include <string>
#include <vector>

#include "clock.h"
#include "messages.h"
#include "state.h"
#include "zarfel.h"

namespace zarfel {

namespace {

constexpr uint32_t kPauseBeforeSendMs = 10;
constexpr uint32_t kAcknowledgementWaitMs = 1000;
// A module that answers after the wait has usually answered within another
// second: the request after an unanswered one waits that long for it.
constexpr uint32_t kGraceAfterUnansweredMs = 2000;
// After that, an acknowledgement from its address is still suspected to be
// its own for a while.
constexpr uint32_t kSuspectMs = 4000;
// Bounds the grace period's reading even while a flood keeps arriving.
constexpr int kMaxStaleDatagrams = 100000;
// Sources of ignored acknowledgements kept for the caller to report.
constexpr size_t kMaxIgnoredSources = 64;

// An address text as the module would answer from; 0 when it names none.
uint32_t addressOf(const char *text)
{
    if (!text || !*text)
        return 0;
    const uint32_t a = platform::parseAddress(text);
    return a == 0xffffffffu ? 0 : a;
}

struct Target {
    const ModuleRecord *record;
    uint32_t reported; // the address the module reported
    uint32_t given;    // the address the request gives it
};

enum class Verdict { Credit, Ignore, Ambiguous };

// Acknowledgements carry no MAC; their source address is all that tells one
// module from another. Only the target's two addresses can be its own: any
// host on the segment can send the same bytes.
Verdict judge(const State &s, const Target &t, uint32_t source)
{
    if (source == 0)
        return Verdict::Credit; // the system did not say
    if (source != t.reported && source != t.given)
        return Verdict::Ignore;
    // A module with an unanswered request may answer from there too.
    const uint32_t now = platform::tickMs();
    for (const State::Unanswered &u : s.unanswered)
        if (u.mac != t.record->fields.mac && (u.reported == source || u.given == source) &&
            now - u.sentAt < kSuspectMs)
            return Verdict::Ambiguous;
    return Verdict::Credit;
}

void noteIgnored(State &s, uint32_t source)
{
    if (s.ignoredSources.size() >= kMaxIgnoredSources)
        return;
    for (const uint32_t known : s.ignoredSources)
        if (known == source)
            return;
    s.ignoredSources.push_back(source);
}

int32_t awaitAcknowledgement(State &s, const Target &target)
{
    char buffer[protocol::kReceiveBufferSize];
    bool readErrorShown = false;
    for (;;) {
        size_t length = 0;
        uint32_t source = 0;
        const platform::ReceiveStatus got =
            platform::receive(s.receiver, buffer, protocol::kMaxDatagram + 1, &length, &source);
        if (got == platform::ReceiveStatus::Data && length > 0 && length <= protocol::kMaxDatagram) {
            buffer[length] = '\0';
            bool accepted = false;
            if (protocol::parseAcknowledgement(buffer, &accepted)) {
                switch (judge(s, target, source)) {
                case Verdict::Credit:
                    return accepted ? 0 : 1;
                case Verdict::Ambiguous:
                    // It may be the late answer of another module: what this
                    // one did is not known. It did answer, so it is not one
                    // whose late answer is to be waited for.
                    return -2;
                case Verdict::Ignore:
                    noteIgnored(s, source);
                    break;
                }
            }
        } else if (got == platform::ReceiveStatus::Error && !readErrorShown) {
            readErrorShown = true;
            noteFailure(s, ZARFEL_FAILED_RECEIVE, platform::lastError());
            showMessage(text::kReceiveFailed);
        }

        const uint32_t elapsed = platform::tickMs() - s.startTime.load();
        if (elapsed > kAcknowledgementWaitMs) {
            // Its answer may still come and must not answer the next request.
            s.unanswered.push_back({target.record->fields.mac, target.reported, target.given, s.startTime.load()});
            s.graceDue = true;
            s.graceUntil = s.startTime.load() + kGraceAfterUnansweredMs;
            return -2;
        }
        if (got == platform::ReceiveStatus::WouldBlock)
            platform::waitReadable(s.receiver, nullptr, 0, kAcknowledgementWaitMs - elapsed + 1);
        else if (got == platform::ReceiveStatus::Error)
            platform::sleepMs(1);
    }
}

// After an unanswered request, waits out its grace period, taking what
// arrives off the socket, so that its late acknowledgement cannot answer the
// next request. A late acknowledgement that comes is accounted for.
void awaitGrace(State &s)
{
    if (!s.graceDue)
        return;
    s.graceDue = false;
    char buffer[protocol::kReceiveBufferSize];
    for (int taken = 0; taken < kMaxStaleDatagrams;) {
        size_t length = 0;
        uint32_t source = 0;
        const platform::ReceiveStatus got =
            platform::receive(s.receiver, buffer, protocol::kMaxDatagram + 1, &length, &source);
        if (got == platform::ReceiveStatus::Data) {
            ++taken;
            bool accepted = false;
            if (length > 0 && length <= protocol::kMaxDatagram && !s.unanswered.empty()) {
                buffer[length] = '\0';
                const State::Unanswered &late = s.unanswered.back();
                if (protocol::parseAcknowledgement(buffer, &accepted) &&
                    (source == 0 || source == late.reported || source == late.given))
                    s.unanswered.pop_back();
            }
            continue;
        }
        const int32_t left = static_cast<int32_t>(s.graceUntil - platform::tickMs());
        if (left <= 0 || left > static_cast<int32_t>(kGraceAfterUnansweredMs))
            return;
        if (got == platform::ReceiveStatus::Error)
            platform::sleepMs(1);
        else
            platform::waitReadable(s.receiver, nullptr, 0, static_cast<uint32_t>(left));
    }
}

} // namespace

void discardWaiting(State &s, int maxDatagrams, uint32_t maxMs)
{
    char buffer[protocol::kReceiveBufferSize];
    size_t length = 0;
    const uint32_t started = platform::tickMs();
    for (int i = 0; i < maxDatagrams; ++i) {
        if (platform::receive(s.receiver, buffer, sizeof buffer, &length) != platform::ReceiveStatus::Data)
            return;
        if ((i & 255) == 255 && platform::tickMs() - started > maxMs)
            return;
    }
}

} // namespace zarfel

using namespace zarfel;

extern "C" ZARFEL_API int32_t ZARFEL_CALL Zarfel_ConfigModule(int32_t number, const char *ip,
                                                              const char *mask,
                                                              const char *gateway,
                                                              const char *mac, int32_t dhcp,
                                                              const char *alias)
{
    State &s = state();
    s.ignoredSources.clear();
    if (s.sender == platform::kNoSocket) {
        showMessage(socketErrorMessage(s.lastSocketError).c_str());
        return -10;
    }
    noteFailure(s, ZARFEL_FAILED_NONE);
    // A search still running would read the acknowledgement off the same
    // socket and measure its time-out from this call's start.
    endSearch(s);
    // A number that designates no record has nobody to send to.
    const ModuleRecord *record = s.table.find(number);
    if (!record)
        return -1;

    std::string request;
    const protocol::ConfigChange change{ip, mask, gateway, mac, dhcp, alias};
    switch (protocol::buildConfigRequest(record->fields, change, request)) {
    case protocol::BuildResult::NothingToChange:
        return -9;
    case protocol::BuildResult::TooLong:
    case protocol::BuildResult::BadText:
        return -1;
    case protocol::BuildResult::Ok:
        break;
    }

    awaitGrace(s);
    platform::sleepMs(kPauseBeforeSendMs);
    s.startTime.store(platform::tickMs());
    // A late acknowledgement of an earlier request must not answer this one.
    discardWaiting(s);
    // The request leaves by the interface the module's reply came in on: a
    // limited broadcast would otherwise reach the default route's segment
    // only.
    const platform::Arrival via = record->arrival;
    const int sent =
        via.index != 0
            ? platform::sendVia(s.sender, request.data(), request.size(), s.destinationAddress,
                                s.destinationPort, via.index, via.localAddress)
            : platform::sendTo(s.sender, request.data(), request.size(), s.destinationAddress,
                               s.destinationPort);
    if (sent < 0) {
        noteFailure(s, ZARFEL_FAILED_SEND, platform::lastError());
        return -1;
    }
    return awaitAcknowledgement(s, Target{record, addressOf(record->fields.ip), addressOf(ip)});
}

extern "C" ZARFEL_API int32_t ZARFEL_CALL Zarfel_GetIgnoredAcknowledgement(int32_t number, char *address)
{
    const std::vector<uint32_t> &sources = state().ignoredSources;
    const int32_t count = static_cast<int32_t>(sources.size());
    if (address) {
        const std::string text =
            number >= 1 && number <= count ? platform::addressText(sources[static_cast<size_t>(number - 1)]) : "";
        std::memcpy(address, text.c_str(), text.size() + 1);
    }
    return count;
}
