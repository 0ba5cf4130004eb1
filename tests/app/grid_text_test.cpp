// The grid's text forms and the address-conflict check, on their own.
#include "GridText.h"

#include <gtest/gtest.h>

using gridtext::csvRecord;
using gridtext::findAddressConflicts;

TEST(GridText, CsvQuotesOnlyWhatNeedsIt)
{
    EXPECT_EQ(csvRecord({"QZ510", "", "198.18.0.5"}), QStringLiteral("QZ510,,198.18.0.5\r\n"));
    EXPECT_EQ(csvRecord({"a,b", "say \"hi\"", "two\nlines", "cr\r"}),
              QStringLiteral("\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\"cr\r\"\r\n"));
    // Blanks and non-ASCII are data, not syntax.
    EXPECT_EQ(csvRecord({" lead", QStringLiteral("Pr\u00fcfstand")}), QStringLiteral(" lead,Pr\u00fcfstand\r\n"));
}

TEST(GridText, TsvKeepsOneLinePerRow)
{
    EXPECT_EQ(gridtext::tsvLine({"NO", "a\tb", "c\r\nd"}), QStringLiteral("NO\ta b\tc  d\n"));
}

TEST(GridText, ConflictsCountOthersAndTheHostsOwnAddress)
{
    const auto found = findAddressConflicts(
        {"198.18.0.200", "198.18.0.7", "198.18.0.200", "198.18.0.010", "198.18.0.8", "198.18.0.200", "198.18.0.10",
         "", "N/A"},
        {"198.18.0.10", "198.19.7.10"});
    EXPECT_EQ(found.othersSharing, (std::vector<int>{2, 0, 2, 1, 1, 2, 0, 0, 0}));
    // "198.18.0.010" is octal 8, not the host's .10.
    EXPECT_EQ(found.hostsOwn, (std::vector<bool>{false, false, false, false, false, false, true, false, false}));
    EXPECT_EQ(found.shared, (std::vector<std::pair<QString, int>>{{"198.18.0.200", 3}, {"198.18.0.8", 2}}));
}

TEST(GridText, NoConflictsAmongDistinctAddresses)
{
    const auto found = findAddressConflicts({"198.18.0.1", "198.18.0.2"}, {});
    EXPECT_EQ(found.othersSharing, (std::vector<int>{0, 0}));
    EXPECT_TRUE(found.shared.empty());
}
