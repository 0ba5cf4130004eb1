// Modules that share an address, or hold the host's own.
#include "client/Conflicts.h"

#include <gtest/gtest.h>

using zclient::findAddressConflicts;

TEST(Conflicts, CountOthersAndTheHostsOwnAddress)
{
    const auto found = findAddressConflicts(
        {"198.18.0.200", "198.18.0.7", "198.18.0.200", "198.18.0.010", "198.18.0.8", "198.18.0.200", "198.18.0.10",
         "", "N/A"},
        {"198.18.0.10", "198.19.7.10"});
    EXPECT_EQ(found.othersSharing, (std::vector<int>{2, 0, 2, 1, 1, 2, 0, 0, 0}));
    // "198.18.0.010" is octal 8, not the host's .10.
    EXPECT_EQ(found.hostsOwn, (std::vector<bool>{false, false, false, false, false, false, true, false, false}));
    EXPECT_EQ(found.shared, (std::vector<std::pair<std::string, int>>{{"198.18.0.200", 3}, {"198.18.0.8", 2}}));
}

TEST(Conflicts, NoneAmongDistinctAddresses)
{
    const auto found = findAddressConflicts({"198.18.0.1", "198.18.0.2"}, {});
    EXPECT_EQ(found.othersSharing, (std::vector<int>{0, 0}));
    EXPECT_TRUE(found.shared.empty());
}
