// Address texts: the operator's typed addresses, masks and gateways. No
// network is touched.
#include "platform/HostNetwork.h"

#include <gtest/gtest.h>

using hostnet::AddressFromText;
using hostnet::AddressToText;
using hostnet::IsValidAddressText;

TEST(AddressText, UsableAddress)
{
    EXPECT_TRUE(IsValidAddressText("192.168.0.10"));
}

TEST(AddressText, AllZeroAndAllOnesAreRejected)
{
    EXPECT_FALSE(IsValidAddressText("0.0.0.0"));
    EXPECT_FALSE(IsValidAddressText("255.255.255.255"));
    EXPECT_FALSE(IsValidAddressText("0"));
}

TEST(AddressText, MalformedTextIsRejected)
{
    EXPECT_FALSE(IsValidAddressText(""));
    EXPECT_FALSE(IsValidAddressText("192.168.0.300"));
    EXPECT_FALSE(IsValidAddressText("a.b.c.d"));
    EXPECT_FALSE(IsValidAddressText("1.2.3.4.5"));
    EXPECT_FALSE(IsValidAddressText("192.168.0."));
}

TEST(AddressText, ShortFormsStandForTheLowOrderBytes)
{
    EXPECT_TRUE(IsValidAddressText("10"));
    EXPECT_EQ(AddressToText(AddressFromText("10")), "0.0.0.10");
    EXPECT_TRUE(IsValidAddressText("1.2"));
    EXPECT_EQ(AddressToText(AddressFromText("1.2")), "1.0.0.2");
    EXPECT_EQ(AddressToText(AddressFromText("10.1")), "10.0.0.1");
}

TEST(AddressText, OctalAndHexadecimalParts)
{
    EXPECT_TRUE(IsValidAddressText("010.0.0.1"));
    EXPECT_EQ(AddressToText(AddressFromText("010.0.0.1")), "8.0.0.1");
    EXPECT_TRUE(IsValidAddressText("0x7f.1"));
    EXPECT_EQ(AddressToText(AddressFromText("0x7f.1")), "127.0.0.1");
}

TEST(AddressText, MasksWithoutContiguityCheck)
{
    EXPECT_TRUE(IsValidAddressText("255.255.255.0"));
    EXPECT_TRUE(IsValidAddressText("255.0.255.0"));
}

TEST(AddressText, NumbersInHostByteOrder)
{
    EXPECT_EQ(AddressFromText("198.18.0.10"), 0xC612000Au);
    EXPECT_EQ(AddressToText(0xC612000Au), "198.18.0.10");
    EXPECT_EQ(AddressFromText("not an address"), 0xFFFFFFFFu);
}
