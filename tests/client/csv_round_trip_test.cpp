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

// What a spreadsheet makes of a file: ';' between cells, a byte order mark,
// CRLF, a notes column and trailing empty columns, numbers rewritten.
TEST(SpreadsheetFile, ReadWithOneWarningAndRewrittenAliasesHeldBack)
{
    const ApplyFile file = parseApplyFile("\xEF\xBB\xBFMAC;IP;Notes;alias;;\r\n"
                                          "00:0E:C6:00:00:01;198.18.0.50;spare, for now;7;;\r\n"
                                          "00:0E:C6:00:00:02;;;\"a;b\"\r\n");
    ASSERT_EQ(file.error, "");
    EXPECT_EQ(file.warning, "line 1: columns ignored: 'Notes', 2 without a name");
    ASSERT_EQ(file.rows.size(), 2u);
    EXPECT_EQ(file.rows[0].error, "");
    EXPECT_EQ(file.rows[0].give.ip, "198.18.0.50");
    EXPECT_EQ(file.rows[1].error, ""); // the empty trailing cells left out
    EXPECT_EQ(file.rows[1].give.alias, "a;b");

    std::vector<Record> found = kFound;
    found[0].alias = "007";
    const ApplyPlan held = planApply(file, found, false, false);
    EXPECT_EQ(held.rows[0].kind, RowVerdict::SpreadsheetAlias);
    ASSERT_EQ(held.items.size(), 1u);
    EXPECT_EQ(held.items[0].reported.mac, "00:0E:C6:00:00:02");
    EXPECT_EQ(applyListing(file, held),
              (std::vector<std::string>{"line 2: 00:0E:C6:00:00:01: skipped: alias '7' is the module's '007' as a "
                                        "spreadsheet rewrites numbers",
                                        "line 3: 00:0E:C6:00:00:02: alias '' -> 'a;b'"}));
    const ApplyPlan sent = planApply(file, found, false, true);
    ASSERT_EQ(sent.items.size(), 2u);
    EXPECT_EQ(changeText(sent.items[0].reported, sent.items[0].give), "ip 198.18.0.5 -> 198.18.0.50, alias '007' -> '7'");

    for (const auto &[was, now] : {std::pair{"007", "7"}, {"+1", "1"}, {"1E5", "100000"}, {"-0.50", "-0.5"},
                                   {"12345678901", "1.23457E+10"}})
        EXPECT_TRUE(spreadsheetNumberChange(was, now)) << was;
    for (const auto &[was, now] : {std::pair{"7", "7"}, {"007", "8"}, {"pump", "7"}, {"1E5", "1E6"},
                                   {"12345678901", "1.3E+10"}, {"", "0"}, {"1e", "1"}})
        EXPECT_FALSE(spreadsheetNumberChange(was, now)) << was << " " << now;
}

// The file a batch offers puts back what the modules reported before it.
TEST(UndoFile, AppliedAfterTheBatchGivesTheOldSettingsBack)
{
    fake::requests.clear();
    Session session(fake::exports());
    Configuration batch(session, batchPlan({{1, "198.18.0.20"}, {2, "198.18.0.21"}}, kFound, "255.255.255.0",
                                           "198.18.0.1"));
    while (!batch.finished())
        batch.next();
    const std::string undo = undoCsv(batch);
    EXPECT_EQ(undo, "mac,ip,mask,gateway,dhcp,alias\r\n"
                    "00:0E:C6:00:00:01,198.18.0.5,255.255.255.0,198.18.0.1,1,Pr\xC3\xBC" "fung\r\n"
                    "00:0E:C6:00:00:02,198.18.0.6,255.255.0.0,,0,\r\n");

    std::vector<Record> after = kFound;
    for (Record &r : after) {
        r.ip = r.ip == "198.18.0.5" ? "198.18.0.20" : "198.18.0.21";
        r.mask = "255.255.255.0";
        r.gateway = "198.18.0.1";
        r.dhcp = false;
    }
    const ApplyFile file = parseApplyFile(undo);
    const ApplyPlan plan = planApply(file, after, false, false);
    EXPECT_EQ(applyListing(file, plan),
              (std::vector<std::string>{"line 2: 00:0E:C6:00:00:01: ip 198.18.0.20 -> 198.18.0.5, dhcp Disable -> Enable",
                                        "line 3: 00:0E:C6:00:00:02: ip 198.18.0.21 -> 198.18.0.6, mask 255.255.255.0 "
                                        "-> 255.255.0.0"}));
}
