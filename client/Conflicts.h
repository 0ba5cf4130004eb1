// Modules whose addresses clash with each other or with the host's own.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zclient {

struct AddressConflicts {
    // Per module, in the order given: how many other modules report the
    // same address, and whether it is one of the host's own.
    std::vector<int> othersSharing;
    std::vector<bool> hostsOwn;
    // Each address two or more modules report (dotted decimal), with how
    // many, in the order first reported.
    std::vector<std::pair<std::string, int>> shared;
};

// Compares addresses by what they convert to, so "198.18.0.010" and
// "198.18.0.8" clash; texts that are not addresses clash with nothing.
AddressConflicts findAddressConflicts(const std::vector<std::string> &moduleAddresses,
                                      const std::vector<std::string> &hostAddresses);

} // namespace zclient
