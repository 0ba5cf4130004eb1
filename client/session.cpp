#include "Session.h"

#include "Rules.h"

#include <algorithm>

namespace zclient {

Session::~Session()
{
    close();
}

void Session::close()
{
    if (started_)
        x_.close();
    started_ = false;
}

std::int32_t Session::start(std::int32_t replyPort)
{
    const std::int32_t r = x_.init(replyPort);
    started_ = r == 0;
    timeoutMs_ = 1000; // what Init sets
    return r;
}

std::int32_t Session::setOptions(std::uint32_t timeoutMs, std::int32_t wished)
{
    timeoutMs_ = timeoutMs < 1000 ? 1000 : timeoutMs;
    return x_.setOptions(timeoutMs, wished);
}

std::int32_t Session::startSearch(const std::string &address, std::int32_t port)
{
    return x_.broadcastStart(address.c_str(), port, nullptr);
}

bool Session::searching() const
{
    return x_.getState() != 0;
}

void Session::stop()
{
    x_.broadcastStop();
}

bool Session::waitWhileSearching(std::chrono::milliseconds limit, const std::function<void()> &idle) const
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (searching()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        idle();
    }
    return true;
}

bool Session::confirmingSearch(const std::string &address, std::int32_t port,
                               const std::vector<std::string> &awaited, const std::function<void()> &idle)
{
    // 0: nothing went out and no search runs; -1: the search listens anyway.
    if (startSearch(address, port) == 0)
        return false;
    std::vector<std::string> missing;
    for (const std::string &mac : awaited)
        missing.push_back(canonicalMac(mac).value_or(mac));
    // Bounded even if the library's search never ended by itself.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_ + 2000);
    std::int32_t seen = 0;
    while (searching() && std::chrono::steady_clock::now() < end) {
        // Records are read again only when new ones came in.
        if (const std::int32_t n = count(); n != seen) {
            seen = n;
            for (const Record &r : records())
                std::erase(missing, canonicalMac(r.mac).value_or(r.mac));
            if (missing.empty())
                break;
        }
        idle();
    }
    if (searching())
        stop();
    waitWhileSearching(std::chrono::seconds(5), idle);
    return true;
}

std::int32_t Session::count() const
{
    return x_.getCount();
}

std::vector<Record> Session::records() const
{
    std::vector<Record> out;
    const std::int32_t n = count();
    for (std::int32_t k = 1; k <= n; ++k) {
        // Wider than the library writes, and zeroed: always terminated.
        char name[20] = {}, alias[20] = {}, ip[20] = {}, mask[20] = {}, gateway[20] = {}, mac[20] = {},
             adapter[20] = {};
        std::int32_t dhcp = 0;
        if (x_.getModuleInfo(k, name, alias, ip, mask, gateway, mac, &dhcp) != 0)
            break;
        x_.getModuleAdapter(k, adapter);
        out.push_back({name, alias, dhcp != 0, ip, mask, gateway, mac, adapter});
    }
    return out;
}

std::int32_t Session::configure(std::int32_t n, const Settings &give, bool reportedDhcp) const
{
    auto text = [](const std::optional<std::string> &v) { return v ? v->c_str() : nullptr; };
    return x_.configModule(n, text(give.ip), text(give.mask), text(give.gateway), text(give.mac),
                           give.dhcp.value_or(reportedDhcp) ? 1 : 0, text(give.alias));
}

std::vector<std::string> Session::ignoredAcknowledgements() const
{
    std::vector<std::string> out;
    // A library without export 13 (fakes in tests) ignores none.
    if (!x_.getIgnoredAcknowledgement)
        return out;
    const std::int32_t n = x_.getIgnoredAcknowledgement(0, nullptr);
    for (std::int32_t k = 1; k <= n; ++k) {
        char address[ZARFEL_ADDRESS_SIZE] = {};
        x_.getIgnoredAcknowledgement(k, address);
        out.emplace_back(address);
    }
    return out;
}

Session::SocketFailure Session::socketFailure() const
{
    SocketFailure f;
    if (!x_.getSocketFailure)
        return f;
    char reason[256] = {};
    f.operation = x_.getSocketFailure(&f.error, reason, sizeof reason);
    f.reason = reason;
    return f;
}

std::string Session::SocketFailure::text() const
{
    return (reason.empty() ? std::string("unknown reason") : reason) + " (error " + std::to_string(error) + ")";
}

} // namespace zclient
