#include "Conflicts.h"

#include "Rules.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <tuple>

namespace zclient {

namespace {

std::optional<std::uint32_t> addressOf(const std::string &text)
{
    if (text.find_first_not_of(" \t") == std::string::npos || !isValidAddress(text))
        return std::nullopt;
    return addressValue(text);
}

} // namespace

AddressConflicts findAddressConflicts(const std::vector<std::string> &moduleAddresses,
                                      const std::vector<std::string> &hostAddresses)
{
    std::set<std::uint32_t> host;
    for (const std::string &text : hostAddresses)
        if (const auto a = addressOf(text))
            host.insert(*a);

    std::vector<std::optional<std::uint32_t>> addresses;
    std::map<std::uint32_t, int> count;
    for (const std::string &text : moduleAddresses) {
        addresses.push_back(addressOf(text));
        if (addresses.back())
            ++count[*addresses.back()];
    }

    AddressConflicts result;
    std::set<std::uint32_t> listed;
    for (const auto &a : addresses) {
        const int n = a ? count[*a] : 0;
        result.othersSharing.push_back(n > 1 ? n - 1 : 0);
        result.hostsOwn.push_back(a && host.count(*a) != 0);
        if (n > 1 && listed.insert(*a).second)
            result.shared.emplace_back(addressText(*a), n);
    }
    return result;
}

MacConflicts findMacConflicts(const std::vector<Record> &records)
{
    const auto key = [](const Record &r) { return canonicalMac(r.mac).value_or(r.mac); };
    // The settings a module reports, without the adapter it answered by.
    const auto settings = [](const Record &r) {
        return std::tie(r.name, r.alias, r.dhcp, r.ip, r.mask, r.gateway);
    };
    std::map<std::string, std::vector<std::size_t>> byMac;
    std::vector<std::string> order;
    for (std::size_t i = 0; i < records.size(); ++i) {
        auto &rows = byMac[key(records[i])];
        if (rows.empty())
            order.push_back(key(records[i]));
        rows.push_back(i);
    }
    MacConflicts result;
    for (const Record &r : records)
        result.othersSharing.push_back(static_cast<int>(byMac[key(r)].size()) - 1);
    for (const std::string &mac : order) {
        const auto &rows = byMac[mac];
        if (rows.size() < 2)
            continue;
        bool same = true;
        for (const std::size_t i : rows)
            same = same && settings(records[i]) == settings(records[rows.front()]);
        result.shared.push_back({records[rows.front()].mac, static_cast<int>(rows.size()), same});
    }
    return result;
}

const char *sharedMacText(const MacConflicts::Shared &shared)
{
    return shared.sameSettings ? "answered twice" : "several modules share this MAC";
}

std::string sharedMacProblem(const std::vector<Record> &records, const std::string &mac)
{
    const auto wanted = canonicalMac(mac).value_or(mac);
    for (const MacConflicts::Shared &s : findMacConflicts(records).shared)
        if (!s.sameSettings && canonicalMac(s.mac).value_or(s.mac) == wanted)
            return std::to_string(s.records) + " modules with different settings report MAC " + s.mac +
                   ": several modules share this MAC, and a configuration of it changes every one of them.";
    return {};
}

} // namespace zclient
