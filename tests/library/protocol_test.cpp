// Reply parser and configuration request builder, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protocol.h"

using namespace zarfel::protocol;

namespace {

struct Parsed {
    bool accepted;
    ModuleFields f;
};

Parsed parse(const std::string &datagram)
{
    std::string buffer = datagram;
    buffer.push_back('\0'); // room for the NUL after the last byte
    Parsed p{false, {}};
    p.accepted = parseReply(buffer.data(), datagram.size(), p.f);
    return p;
}

ModuleFields module(const char *mac, const char *ip = "198.18.0.20", int dhcp = 0)
{
    ModuleFields f{};
    std::strcpy(f.name, "QZ510");
    std::strcpy(f.alias, "pump");
    std::strcpy(f.ip, ip);
    std::strcpy(f.mask, "255.255.255.0");
    std::strcpy(f.gateway, "198.18.0.1");
    std::strcpy(f.mac, mac);
    f.dhcp = dhcp;
    return f;
}

} // namespace

TEST(ReplyParser, WellFormedReplyFillsEveryField)
{
    const Parsed p = parse("VELKORQZ510,80,NAME=QZ510-A,ALIAS=pump,DHCP=1,IP=198.18.0.20,"
                           "MASK=255.255.255.0,GATEWAY=198.18.0.1,MAC=00:0E:C6:01:02:03\r");
    ASSERT_TRUE(p.accepted);
    EXPECT_STREQ(p.f.name, "QZ510-A");
    EXPECT_STREQ(p.f.alias, "pump");
    EXPECT_EQ(p.f.dhcp, 1);
    EXPECT_STREQ(p.f.ip, "198.18.0.20");
    EXPECT_STREQ(p.f.mask, "255.255.255.0");
    EXPECT_STREQ(p.f.gateway, "198.18.0.1");
    EXPECT_STREQ(p.f.mac, "00:0E:C6:01:02:03");
}

TEST(ReplyParser, PrefixAndCommaAloneMakeAnEmptyRecord)
{
    const Parsed p = parse("VELKORQZ510,\r");
    ASSERT_TRUE(p.accepted);
    EXPECT_STREQ(p.f.name, "");
    EXPECT_STREQ(p.f.mac, "");
    EXPECT_EQ(p.f.dhcp, 0);
}

TEST(ReplyParser, RejectsWithoutPrefixOrWithoutCommaAfterIt)
{
    EXPECT_FALSE(parse("NAME=a,ALIAS=b,DHCP=0,IP=1.2.3.4,MASK=x,GATEWAY=y,MAC=00:0E:C6:01:02:03\r").accepted);
    // the terminator is dropped first, so the comma must come before it
    EXPECT_FALSE(parse("NAME=a,VELKORQZ510\r").accepted);
    EXPECT_FALSE(parse("VELKORQZ510,").accepted);
    EXPECT_FALSE(parse("\r").accepted);
    EXPECT_TRUE(parse("junk VELKORQZ510 more,\r").accepted);
}

TEST(ReplyParser, AcknowledgementsAreNoReplies)
{
    EXPECT_FALSE(parse("VELKORQZ510,81,OK\r").accepted);
    EXPECT_FALSE(parse("VELKORQZ510,81\r").accepted);
    EXPECT_FALSE(parse("x VELKORQZ510,81,NAME=a,MAC=00:0E:C6:01:02:03\r").accepted);
    // only the code right after the prefix's comma decides
    EXPECT_TRUE(parse("VELKORQZ510,80,NAME=81,\r").accepted);
    EXPECT_TRUE(parse("VELKORQZ510,812,\r").accepted);
}

TEST(ReplyParser, KeysAreFoundAnywhereAndNeedATrailingComma)
{
    const Parsed p = parse("VELKORQZ510,80,MAC=AA:BB:CC:DD:EE:FF,IP=1.2.3.4,NAME=x,GATEWAY=9.9.9.9\r");
    ASSERT_TRUE(p.accepted);
    EXPECT_STREQ(p.f.ip, "1.2.3.4");
    EXPECT_STREQ(p.f.name, "x");
    EXPECT_STREQ(p.f.gateway, "") << "no comma after the gateway: absent";
    EXPECT_STREQ(p.f.mac, "AA:BB:CC:DD:EE:FF");
}

TEST(ReplyParser, MacTakesSeventeenCharactersOrWhatIsLeft)
{
    EXPECT_STREQ(parse("VELKORQZ510,80,MAC=0123456789ABCDEFGHIJ\r").f.mac, "0123456789ABCDEFG");
    EXPECT_STREQ(parse("VELKORQZ510,80,MAC=01:02\r").f.mac, "01:02");
    // the last byte is the terminator, whatever it is
    EXPECT_STREQ(parse("VELKORQZ510,80,MAC=01:02:03").f.mac, "01:02:0");
}

TEST(ReplyParser, DhcpConversion)
{
    EXPECT_EQ(parse("VELKORQZ510,80,DHCP=abc,\r").f.dhcp, 0);
    EXPECT_EQ(parse("VELKORQZ510,80,DHCP=2,\r").f.dhcp, 2);
    EXPECT_EQ(parse("VELKORQZ510,80,DHCP=  -7x,\r").f.dhcp, -7);
    EXPECT_EQ(parse("VELKORQZ510,80,DHCP=99999999999,\r").f.dhcp, 2147483647);
    EXPECT_EQ(leadingInteger("-99999999999"), -2147483647 - 1);
}

TEST(ReplyParser, LongValuesAreCutToTheirFieldWidth)
{
    const std::string longText(300, 'x');
    const Parsed p = parse("VELKORQZ510,80,NAME=" + longText + ",ALIAS=" + longText + ",IP=" + longText +
                           ",MASK=" + longText + ",GATEWAY=" + longText + ",MAC=" + longText + "\r");
    ASSERT_TRUE(p.accepted);
    EXPECT_EQ(std::strlen(p.f.name), kNameWidth);
    EXPECT_EQ(std::strlen(p.f.alias), kAliasWidth);
    EXPECT_EQ(std::strlen(p.f.ip), kAddressWidth);
    EXPECT_EQ(std::strlen(p.f.mask), kAddressWidth);
    EXPECT_EQ(std::strlen(p.f.gateway), kAddressWidth);
    EXPECT_EQ(std::strlen(p.f.mac), kMacWidth);
}

TEST(Acknowledgement, OkAnywhereMeansAccepted)
{
    bool accepted = false;
    EXPECT_TRUE(parseAcknowledgement("VELKORQZ510,81,OK\r", &accepted));
    EXPECT_TRUE(accepted);
    EXPECT_TRUE(parseAcknowledgement("OK VELKORQZ510,81\r", &accepted));
    EXPECT_TRUE(accepted);
    EXPECT_TRUE(parseAcknowledgement("VELKORQZ510,81,NG\r", &accepted));
    EXPECT_FALSE(accepted);
    EXPECT_FALSE(parseAcknowledgement("VELKORQZ510,80,OK\r", &accepted));
}

TEST(ConfigRequest, OnlyTheIpWithAliasSupplied)
{
    std::string r;
    const ModuleFields cur = module("00:0E:C6:01:02:03");
    ConfigChange c;
    c.ip = "198.18.0.30";
    c.mask = "255.255.255.0";
    c.gateway = "198.18.0.1";
    c.mac = "00:0E:C6:01:02:03";
    c.alias = "pump";
    int changes = 0;
    ASSERT_EQ(buildConfigRequest(cur, c, r, &changes), BuildResult::Ok);
    EXPECT_EQ(r, "VELKORQZ510,01,TO=00:0E:C6:01:02:03,ALIAS=pump,IP=198.18.0.30\r");
    EXPECT_EQ(changes, 2);
}

TEST(ConfigRequest, PiecesInOrderWithDhcpLast)
{
    std::string r;
    const ModuleFields cur = module("00:0E:C6:01:02:03", "198.18.0.20", 1);
    ConfigChange c;
    c.ip = "198.18.0.31";
    c.mask = "255.255.0.0";
    c.gateway = "198.18.0.254";
    c.mac = "00:0e:c6:01:02:03"; // differs in case only: not a change
    c.dhcp = 0;
    c.alias = "";
    ASSERT_EQ(buildConfigRequest(cur, c, r), BuildResult::Ok);
    EXPECT_EQ(r, "VELKORQZ510,01,TO=00:0E:C6:01:02:03,ALIAS=,IP=198.18.0.31,MASK=255.255.0.0,"
                 "GATEWAY=198.18.0.254,DHCP=0, \r");

    ConfigChange on;
    on.dhcp = 1;
    ASSERT_EQ(buildConfigRequest(module("M"), on, r), BuildResult::Ok);
    EXPECT_EQ(r, "VELKORQZ510,01,TO=M,DHCP=1, \r");
}

TEST(ConfigRequest, NothingToChangeAndAliasAlwaysSent)
{
    std::string r;
    const ModuleFields cur = module("00:0E:C6:01:02:03");
    ConfigChange same;
    same.ip = "198.18.0.20";
    same.mask = "255.255.255.0";
    same.gateway = "198.18.0.1";
    same.mac = "00:0E:C6:01:02:03";
    EXPECT_EQ(buildConfigRequest(cur, same, r), BuildResult::NothingToChange);

    ConfigChange aliasOnly;
    aliasOnly.alias = "pump"; // equal to the current one, still sent
    ASSERT_EQ(buildConfigRequest(cur, aliasOnly, r), BuildResult::Ok);
    EXPECT_EQ(r, "VELKORQZ510,01,TO=00:0E:C6:01:02:03,ALIAS=pump\r");
}

TEST(ConfigRequest, OverlongPiecesOrRequestAreRefusedNotTruncated)
{
    std::string r;
    const ModuleFields cur = module("00:0E:C6:01:02:03");
    ConfigChange c;
    const std::string alias120(120, 'a'), alias121(121, 'a');
    c.alias = alias120.c_str(); // ",ALIAS=" + 120 = 127 characters: the limit
    EXPECT_EQ(buildConfigRequest(cur, c, r), BuildResult::Ok);
    c.alias = alias121.c_str();
    EXPECT_EQ(buildConfigRequest(cur, c, r), BuildResult::TooLong);

    // five pieces of 127 characters each stay within their own limit but
    // not within the 511 bytes of a request
    const std::string a(120, 'a'), ip(123, '1'), mask(121, '2'), gw(118, '3');
    ConfigChange big;
    big.alias = a.c_str();
    big.ip = ip.c_str();
    big.mask = mask.c_str();
    big.gateway = gw.c_str();
    EXPECT_EQ(buildConfigRequest(cur, big, r), BuildResult::TooLong);
}

TEST(ConfigRequest, TextsThatWouldAddPiecesAreRefused)
{
    std::string r;
    const ModuleFields cur = module("00:0E:C6:01:02:03");
    ConfigChange alias;
    alias.alias = "x,DHCP=1";
    EXPECT_EQ(buildConfigRequest(cur, alias, r), BuildResult::BadText);
    ConfigChange ip;
    ip.ip = "198.18.0.77 ,MAC=02:00:00:00:00:99";
    EXPECT_EQ(buildConfigRequest(cur, ip, r), BuildResult::BadText);
    for (const char *text : {"gw\r", "gw\nIP=1", "a,b"}) {
        ConfigChange gw;
        gw.gateway = text;
        EXPECT_EQ(buildConfigRequest(cur, gw, r), BuildResult::BadText) << text;
        EXPECT_TRUE(r.empty());
    }
    // A reply's MAC text runs for 17 characters, commas and all.
    ConfigChange plain;
    plain.alias = "pump";
    EXPECT_EQ(buildConfigRequest(module("00:0E,IP=1.2.3.4"), plain, r), BuildResult::BadText);
}
