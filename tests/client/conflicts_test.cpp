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

TEST(Conflicts, AModuleThatAnsweredTwiceIsNotSeveralModules)
{
    std::vector<zclient::Record> records(4);
    for (auto &r : records) {
        r.name = "QZ510";
        r.ip = "198.18.0.200";
        r.mac = "00:0E:C6:00:00:01";
    }
    records[1].adapter = "198.19.0.1"; // the same module by another adapter
    records[2].mac = "00-0e-c6-00-00-02";
    records[3].mac = "00:0E:C6:00:00:02";
    records[3].alias = "other";
    const auto found = zclient::findMacConflicts(records);
    EXPECT_EQ(found.othersSharing, (std::vector<int>{1, 1, 1, 1}));
    ASSERT_EQ(found.shared.size(), 2u);
    EXPECT_STREQ(zclient::sharedMacText(found.shared[0]), "answered twice");
    EXPECT_STREQ(zclient::sharedMacText(found.shared[1]), "several modules share this MAC");
    EXPECT_EQ(found.shared[1].records, 2);
    EXPECT_EQ(zclient::sharedMacProblem(records, "00:0e:c6:00:00:01"), "");
    EXPECT_NE(zclient::sharedMacProblem(records, "00:0E:C6:00:00:02").find("several modules share this MAC"),
              std::string::npos);
}
