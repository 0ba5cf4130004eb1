// The program's CSV export read back by apply: applied unchanged it gives
// every module what it already reports and no alias, so nothing changes.
#include "client/Configure.h"
#include "client/Csv.h"
#include "client/Rules.h"

#include "fake_exports.h"

#include <gtest/gtest.h>

using namespace zclient;

namespace {

// As the library reports them: Latin-1 texts, one module without an alias
// and with no gateway.
const std::vector<Record> kFound{
    {"QZ,510", "Pr\xFC" "fung", true, "198.18.0.5", "255.255.255.0", "198.18.0.1", "00:0E:C6:00:00:01",
     "198.18.0.10"},
    {"B", "", false, "198.18.0.6", "255.255.0.0", "0.0.0.0", "00:0E:C6:00:00:02", "198.18.0.10"}};

// The grid as the program exports it, the operator having dragged columns:
// displayed titles, then the cells as shown, in UTF-8.
std::string programExport()
{
    std::string csv = csvRecord({"MAC", "NO", "IP", "ALIAS", "NAME", "DHCP", "GATEWAY", "MASK", "ADAPTER"});
    int no = 0;
    for (const Record &r : kFound)
        csv += csvRecord({r.mac, std::to_string(++no), r.ip, latin1ToUtf8(aliasForGrid(r.alias)), latin1ToUtf8(r.name),
                          r.dhcp ? "Enable" : "Disable", r.gateway, r.mask, r.adapter});
    return csv;
}

// What apply asks of the library for a file.
std::vector<std::string> applied(const std::string &csv)
{
    const ApplyFile file = parseApplyFile(csv);
    EXPECT_EQ(file.error, "");
    std::vector<PlanItem> items;
    for (const ApplyRow &row : file.rows) {
        EXPECT_EQ(row.error, "") << row.line;
        const std::int32_t n = findByMac(kFound, row.mac);
        const Record &reported = kFound[static_cast<std::size_t>(n - 1)];
        EXPECT_FALSE(checkSettings(row.give, &reported)) << row.line;
        items.push_back(fileItem(n, reported, row.give));
    }
    Session session(fake::exports());
    Configuration steps(session, items);
    while (!steps.finished())
        steps.next();
    return fake::requests;
}

} // namespace

TEST(CsvRoundTrip, ProgramExportAppliedUnchangedGivesWhatModulesReport)
{
    EXPECT_EQ(applied(programExport()),
              (std::vector<std::string>{"1 198.18.0.5 255.255.255.0 198.18.0.1 - 1 -",
                                        "2 198.18.0.6 255.255.0.0 0.0.0.0 - 0 -"}));
}

TEST(CsvRoundTrip, EditedAliasGoesBackInLatin1)
{
    std::string csv = programExport();
    csv.replace(csv.find("Pr\xC3\xBC" "fung"), 8, "Pr\xC3\xBC" "fung2");
    csv.replace(csv.find(",N/A,"), 5, ",new,");
    const auto requests = applied(csv);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].substr(requests[0].rfind(' ') + 1), "Pr\xFC" "fung2");
    EXPECT_EQ(requests[1].substr(requests[1].rfind(' ') + 1), "new");

    // A character no module can hold makes the row bad input.
    const ApplyFile file = parseApplyFile("mac,alias\n00:0E:C6:00:00:01,\xE2\x82\xAC" "uro\n");
    ASSERT_EQ(file.rows.size(), 1u);
    EXPECT_EQ(file.rows[0].error.rfind("alias:", 0), 0u);
}
