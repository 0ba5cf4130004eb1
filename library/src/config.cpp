// The configuration request to one module and the wait for its
// acknowledgement.
#include <cstring>
#include <string>

#include "clock.h"
#include "messages.h"
#include "state.h"
#include "zarfel.h"

namespace zarfel {

namespace {

constexpr uint32_t kPauseBeforeSendMs = 10;
constexpr uint32_t kAcknowledgementWaitMs = 1000;
// Bounds the discard of stale datagrams even while a flood keeps arriving.
constexpr int kMaxStaleDatagrams = 100000;

void discardWaiting(State &s)
{
    char buffer[protocol::kReceiveBufferSize];
    size_t length = 0;
    for (int i = 0; i < kMaxStaleDatagrams; ++i)
        if (platform::receive(s.receiver, buffer, sizeof buffer, &length) !=
            platform::ReceiveStatus::Data)
            return;
}

int32_t awaitAcknowledgement(State &s)
{
    char buffer[protocol::kReceiveBufferSize];
    bool readErrorShown = false;
    for (;;) {
        size_t length = 0;
        const platform::ReceiveStatus got =
            platform::receive(s.receiver, buffer, protocol::kMaxDatagram + 1, &length);
        if (got == platform::ReceiveStatus::Data && length > 0 && length <= protocol::kMaxDatagram) {
            buffer[length] = '\0';
            bool accepted = false;
            if (protocol::parseAcknowledgement(buffer, &accepted))
                return accepted ? 0 : 1;
        } else if (got == platform::ReceiveStatus::Error && !readErrorShown) {
            readErrorShown = true;
            showMessage(text::kReceiveFailed);
        }

        const uint32_t elapsed = platform::tickMs() - s.startTime.load();
        if (elapsed > kAcknowledgementWaitMs)
            return -2;
        if (got == platform::ReceiveStatus::WouldBlock)
            platform::waitReadable(s.receiver, nullptr, 0, kAcknowledgementWaitMs - elapsed + 1);
        else if (got == platform::ReceiveStatus::Error)
            platform::sleepMs(1);
    }
}

} // namespace

} // namespace zarfel

using namespace zarfel;

extern "C" ZARFEL_API int32_t ZARFEL_CALL Zarfel_ConfigModule(int32_t number, const char *ip,
                                                              const char *mask,
                                                              const char *gateway,
                                                              const char *mac, int32_t dhcp,
                                                              const char *alias)
{
    State &s = state();
    if (s.sender == platform::kNoSocket) {
        showMessage(socketErrorMessage(s.lastSocketError).c_str());
        return -10;
    }
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
        return -1;
    case protocol::BuildResult::Ok:
        break;
    }

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
    if (sent < 0)
        return -1;
    return awaitAcknowledgement(s);
}
