// The grid's text forms on their own (the address-conflict check is the
// client layer's, tested in tests/client).
#include "GridText.h"

#include <gtest/gtest.h>

using gridtext::csvRecord;

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
