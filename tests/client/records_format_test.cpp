// zarfelcli's lists and the reading of typed values and of apply files.
#include "client/Csv.h"
#include "client/ResultText.h"
#include "client/Rules.h"

#include <gtest/gtest.h>

using namespace zclient;

namespace {

const Record kTricky{"QZ,510", "a\"b\r\nc", true, "198.18.0.5", "255.255.255.0", "198.18.0.1",
                     "00:0E:C6:00:00:01", ""};

} // namespace

TEST(RecordsCsv, QuotesOnlyWhatNeedsItAndRoundTrips)
{
    EXPECT_EQ(csvField("plain value"), "plain value");
    EXPECT_EQ(csvField("a,b"), "\"a,b\"");
    EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(csvField("cr\r"), "\"cr\r\"");

    const std::string csv = recordsCsv({kTricky, Record{"B", "", false, "", "", "", "", "198.18.0.10"}});
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")), "name,alias,dhcp,ip,mask,gateway,mac,adapter");
    const auto rows = parseCsv(csv);
    ASSERT_EQ(rows.size(), 3u);
    const std::vector<std::string> first{"QZ,510", "a\"b\r\nc", "1", "198.18.0.5", "255.255.255.0",
                                         "198.18.0.1", "00:0E:C6:00:00:01", ""};
    EXPECT_EQ(rows[1].fields, first);
    EXPECT_EQ(rows[2].fields.back(), "198.18.0.10");
    // The quoted line break counts: the next record starts on line 4.
    EXPECT_EQ(rows[2].line, 4);
}

TEST(RecordsJson, EscapesAndKeepsTheKeys)
{
    EXPECT_EQ(jsonString("q\" b\\ \n\r\t\x01"), "\"q\\\" b\\\\ \\n\\r\\t\\u0001\"");
    EXPECT_EQ(jsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");         // UTF-8 stays
    EXPECT_EQ(jsonString("caf\xE9"), "\"caf\\u00e9\"");               // Latin-1 byte
    EXPECT_EQ(jsonString("\xC3"), "\"\\u00c3\"");                      // cut sequence
    EXPECT_EQ(jsonString("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\""); // surrogate
    EXPECT_EQ(recordsJson({}), "[]\n");
    EXPECT_EQ(recordsJson({kTricky}),
              "[\n  {\"name\": \"QZ,510\", \"alias\": \"a\\\"b\\r\\nc\", \"dhcp\": true, \"ip\": \"198.18.0.5\", "
              "\"mask\": \"255.255.255.0\", \"gateway\": \"198.18.0.1\", \"mac\": \"00:0E:C6:00:00:01\", "
              "\"adapter\": \"\"}\n]\n");
}

TEST(CsvReader, MalformedRecordsAreNamedAndReadingGoesOn)
{
    const auto rows = parseCsv("\xEF\xBB\xBF"
                               "a,b\n"
                               "\n"
                               "x,y\"z\n"     // line 3: quote inside a field
                               "\"p\"q,r\r\n" // line 4: text after a closing quote
                               "ok,1\n"       // line 5
                               "v,\"open\n"   // line 6: never closed
                               "last,2");
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0].fields, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(rows[1].line, 3);
    EXPECT_EQ(rows[1].errorField, 2);
    EXPECT_FALSE(rows[1].error.empty());
    EXPECT_EQ(rows[2].line, 4);
    EXPECT_EQ(rows[2].errorField, 1);
    EXPECT_EQ(rows[3].fields, (std::vector<std::string>{"ok", "1"}));
    EXPECT_EQ(rows[4].line, 6);
    EXPECT_EQ(rows[4].error, "a quoted field is not closed");
    EXPECT_EQ(rows[5].line, 7);
    EXPECT_EQ(rows[5].fields, (std::vector<std::string>{"last", "2"}));
}

TEST(TypedValues, MacsAddressesAndAliases)
{
    EXPECT_EQ(canonicalMac("00:0e:c6:0a:Bc:01"), "00:0E:C6:0A:BC:01");
    EXPECT_EQ(canonicalMac("00-0E-C6-0A-BC-01"), "00:0E:C6:0A:BC:01");
    for (const char *bad : {"00:0E:C6:0A:BC", "00:0E-C6:0A:BC:01", "00:0E:C6:0A:BC:0G", "000EC60ABC01"})
        EXPECT_FALSE(canonicalMac(bad)) << bad;
    // The program's rule: what inet_addr reads, but neither all zeros nor
    // all ones; the form sent is the dotted decimal of the value.
    EXPECT_FALSE(isValidAddress("0.0.0.0"));
    EXPECT_FALSE(isValidAddress("255.255.255.255"));
    const std::pair<const char *, const char *> cases[] = {
        {"198.18.0", "198.18.0.0"},    {"198.18.0.256", nullptr}, {"198.18.0.1.", nullptr},
        {"198.18.00.1", "198.18.0.1"}, {"198.18.0.1 ", "198.18.0.1"}, {"1..2.3", nullptr},
        {"", nullptr}};
    for (const auto &[text, canonical] : cases) {
        EXPECT_EQ(isValidAddress(text), canonical != nullptr) << text;
        if (canonical) {
            EXPECT_EQ(canonicalAddress(text), canonical) << text;
        }
    }
    EXPECT_EQ(aliasProblem("pump-11char"), "");
    EXPECT_NE(aliasProblem("twelve chars"), "");
    EXPECT_NE(aliasProblem("a,b"), "");
    EXPECT_NE(aliasProblem(std::string_view("a\0b", 3)), "");
}

TEST(ApplyFile, RowsByHeaderWithLineAndFieldOfEachError)
{
    const auto file = parseApplyFile("Alias, MAC ,ip,dhcp,name\n"
                                     "pump,00:0e:c6:00:00:01,198.18.0.50,1,ignored\n"
                                     "x,00:0E:C6:00:00:02,198.18.0.300,,\n"
                                     ",zz,,,\n"
                                     "toolongalias1,00:0E:C6:00:00:04,,,\n"
                                     ",00:0E:C6:00:00:05,,2,\n"
                                     ",00:0E:C6:00:00:06,\n"
                                     ",00:0E:C6:00:00:07,,,\n");
    ASSERT_EQ(file.error, "");
    ASSERT_EQ(file.rows.size(), 7u);
    const ApplyRow &good = file.rows[0];
    EXPECT_EQ(good.error, "");
    EXPECT_EQ(good.mac, "00:0E:C6:00:00:01");
    EXPECT_EQ(good.give.ip, "198.18.0.50");
    EXPECT_EQ(good.give.alias, "pump");
    EXPECT_EQ(good.give.dhcp, true);
    EXPECT_FALSE(good.give.mask);
    EXPECT_FALSE(checkSettings(good.give, nullptr));
    // What a row gives is checked once its module is known (see
    // Settings.AnAddressTheModuleReportsNeedsNoCheck).
    EXPECT_EQ(file.rows[1].line, 3);
    EXPECT_EQ(problemText(checkSettings(file.rows[1].give, nullptr)).rfind("ip: '198.18.0.300'", 0), 0u);
    EXPECT_EQ(file.rows[2].error.rfind("mac: 'zz'", 0), 0u);
    EXPECT_EQ(problemText(checkSettings(file.rows[3].give, nullptr)).rfind("alias:", 0), 0u);
    EXPECT_EQ(file.rows[4].error.rfind("dhcp:", 0), 0u);
    EXPECT_EQ(file.rows[5].error, "3 fields where the header has 5");
    EXPECT_EQ(file.rows[6].error, "");
    EXPECT_FALSE(file.rows[6].give.alias); // empty: keeps the module's own

    EXPECT_NE(parseApplyFile("ip,mask\n").error, "");
    EXPECT_EQ(parseApplyFile("mac,gatway\n").warning, "line 1: columns ignored: 'gatway'");
    EXPECT_NE(parseApplyFile("mac,ip,ip\n").error, "");
    EXPECT_NE(parseApplyFile("").error, "");
}
