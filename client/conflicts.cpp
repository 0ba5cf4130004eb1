#include "Conflicts.h"

#include "Rules.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>

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

} // namespace zclient
