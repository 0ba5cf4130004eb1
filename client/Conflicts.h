// Modules whose addresses clash with each other or with the host's own.
#pragma once

#include "Record.h"

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

// Records that report one MAC: one module that answered twice (the same
// settings each time, perhaps by two adapters), or several modules that
// share it, all of which a configuration of that MAC changes.
struct MacConflicts {
    // Per record, in the order given: how many other records report its MAC.
    std::vector<int> othersSharing;
    struct Shared {
        std::string mac; // as the first record reports it
        int records = 0;
        bool sameSettings = false; // "answered twice"
    };
    // Each MAC two or more records report, in the order first reported.
    std::vector<Shared> shared;
};
MacConflicts findMacConflicts(const std::vector<Record> &records);
// "answered twice" or "several modules share this MAC".
const char *sharedMacText(const MacConflicts::Shared &shared);
// Why configuring `mac` would change more than one module, or empty: only
// records with different settings under it make several modules.
std::string sharedMacProblem(const std::vector<Record> &records, const std::string &mac);

} // namespace zclient
