// The one address rule and alias rule, and the check of settings to give.
#include "client/ResultText.h"
#include "client/Rules.h"

#include <gtest/gtest.h>

using namespace zclient;

TEST(AddressRule, ShortOctalAndHexFormsAndWhatIsSent)
{
    EXPECT_EQ(canonicalAddress("10"), "0.0.0.10");
    EXPECT_EQ(canonicalAddress("198.18.000.077"), "198.18.0.63");
    EXPECT_EQ(canonicalAddress("0x7f.1"), "127.0.0.1");
    EXPECT_EQ(addressValue("198.18.0.10"), 0xC612000Au);
    EXPECT_EQ(addressText(0xC612000Au), "198.18.0.10");
    EXPECT_TRUE(isValidAddress("255.0.255.0")); // masks: no contiguity check
    // The limited broadcast is a destination, never a setting; a typing
    // error that reads as all ones is neither.
    EXPECT_TRUE(isValidDestination("255.255.255.255"));
    EXPECT_FALSE(isValidDestination("198.18.0.300"));
    EXPECT_FALSE(isValidDestination("0"));
}

TEST(AliasRule, GridWordAndModuleTexts)
{
    EXPECT_EQ(aliasFromGrid("N/A"), "");
    EXPECT_EQ(aliasForGrid(""), "N/A");
    EXPECT_EQ(aliasFromGrid(aliasForGrid("pump")), "pump");
    EXPECT_TRUE(isSendableText("pump 1"));
    EXPECT_FALSE(isSendableText(std::string_view("a\0b", 3)));
    // Latin-1 both ways; what lies beyond it cannot be held by a module.
    EXPECT_EQ(latin1ToUtf8("Pr\xFC" "f"), "Pr\xC3\xBC" "f");
    EXPECT_EQ(utf8ToLatin1("Pr\xC3\xBC" "f"), "Pr\xFC" "f");
    EXPECT_EQ(utf8ToLatin1("\xE2\x82\xAC"), std::nullopt);
    EXPECT_EQ(utf8ToLatin1("caf\xE9"), "caf\xE9"); // a Latin-1 file reads as well
}

TEST(Settings, AnAddressTheModuleReportsNeedsNoCheck)
{
    Record reported;
    reported.gateway = "0.0.0.0";
    Settings give;
    give.gateway = "0.0.0.0";
    EXPECT_FALSE(checkSettings(give, &reported));
    const Problem p = checkSettings(give, nullptr);
    EXPECT_EQ(p.kind, Problem::InvalidAddress);
    EXPECT_EQ(problemMessage(p), "'0.0.0.0' is a not valid Gateway.");
    EXPECT_EQ(problemText(p), "gateway: '0.0.0.0' is not an IPv4 address");
}

TEST(Settings, FirstProblemInTheProgramsWords)
{
    Settings give;
    give.ip = "198.18.0.300";
    give.mask = "255.255.255.0";
    EXPECT_EQ(problemMessage(checkSettings(give, nullptr)), "'198.18.0.300' is not valid IP address.");
    // Text that cannot be sent comes first, whichever field holds it.
    give.alias = "a,b";
    EXPECT_EQ(problemMessage(checkSettings(give, nullptr)),
              "'a,b' cannot be sent to a module: it holds a comma, a line break or a NUL character.");
    give = {};
    give.alias = "twelve chars";
    EXPECT_EQ(checkSettings(give, nullptr).kind, Problem::LongAlias);
    give.alias = "eleven char";
    EXPECT_FALSE(checkSettings(give, nullptr));
}
