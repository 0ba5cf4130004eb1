// ReadHostAdapter in namespaces laid out by scripts/with-testlan.sh --layout; each test runs
// only in its own layout (HOSTNET_LAYOUT) and skips elsewhere.
#include "netns_support.h"
#include "platform/HostNetwork.h"

#include <gtest/gtest.h>

using hostnet::ReadHostAdapter;

namespace {

bool inLayout(const char *layout)
{
    return nettest::inTestNamespace() && nettest::envOr("HOSTNET_LAYOUT") == layout;
}

#define REQUIRE_LAYOUT(layout)                                              \
    do {                                                                    \
        if (!inLayout(layout))                                              \
            GTEST_SKIP() << "runs in scripts/with-testlan.sh --layout " << layout; \
    } while (0)

struct Read
{
    int result;
    std::string text;
    bool sizeQueryFailed;
};

Read read(int item, const std::string &initial = "unchanged")
{
    Read r{0, initial, true};
    r.result = ReadHostAdapter(item, r.text, &r.sizeQueryFailed);
    return r;
}

// The one read of a dialog gives what its three item reads give.
void expectOneReadAgrees()
{
    const hostnet::HostAdapterSettings settings = hostnet::ReadHostAdapterSettings();
    const Read address = read(1), mask = read(2), gateway = read(3);
    EXPECT_EQ(settings.address, address.text);
    EXPECT_EQ(settings.mask, mask.text);
    EXPECT_EQ(settings.gateway, gateway.text);
    for (const Read &r : {address, mask, gateway}) {
        EXPECT_EQ(settings.result, r.result);
        EXPECT_EQ(settings.listFailed, r.sizeQueryFailed);
    }
}

} // namespace

TEST(AdapterLayout, NoAdapterAtAll)
{
    REQUIRE_LAYOUT("bare");
    for (int item = 1; item <= 3; ++item) {
        const Read r = read(item);
        EXPECT_EQ(r.result, 1) << item;
        EXPECT_EQ(r.text, "0.0.0.0") << item;
        EXPECT_TRUE(r.sizeQueryFailed) << item;
    }
    const Read outside = read(4);
    EXPECT_EQ(outside.result, 1);
    EXPECT_EQ(outside.text, "unchanged");
    EXPECT_FALSE(outside.sizeQueryFailed);
    // The flag is optional.
    std::string text;
    EXPECT_EQ(ReadHostAdapter(1, text), 1);
    EXPECT_EQ(text, "0.0.0.0");
    expectOneReadAgrees();
}

// A first adapter that is down, or has no address, is passed over: its
// subnet is not the one the host talks to, and the walk would propose
// addresses of it that it never probed.
TEST(AdapterLayout, FirstAdapterWithoutAddress)
{
    REQUIRE_LAYOUT("unaddressed-first");
    const Read address = read(1), mask = read(2), gateway = read(3);
    EXPECT_EQ(address.text, "198.18.4.10");
    EXPECT_EQ(mask.text, "255.255.255.0");
    EXPECT_EQ(gateway.text, "198.18.4.1");
    for (const Read &r : {address, mask, gateway}) {
        EXPECT_EQ(r.result, 0);
        EXPECT_FALSE(r.sizeQueryFailed);
    }
    for (int item : {0, 4}) {
        const Read r = read(item);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.text, "unchanged");
    }
    expectOneReadAgrees();
}

TEST(AdapterLayout, FirstAdapterDownIsPassedOver)
{
    REQUIRE_LAYOUT("down-first");
    const Read address = read(1), mask = read(2), gateway = read(3);
    EXPECT_EQ(address.result, 0);
    EXPECT_EQ(address.text, "198.18.8.10");
    EXPECT_EQ(mask.text, "255.255.255.0");
    EXPECT_EQ(gateway.text, "198.18.8.1");

    // Only adapters that are up with an address are offered, in order.
    const auto adapters = hostnet::ListHostAdapters();
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].id, "hnc");
    EXPECT_EQ(hostnet::AddressToText(adapters[0].address), "198.18.8.10");

    // A chosen adapter the host does not have reads the first one.
    hostnet::SetHostAdapterChoice("hna");
    EXPECT_EQ(read(1).text, "198.18.8.10");
    expectOneReadAgrees();
    hostnet::SetHostAdapterChoice("");
}

TEST(AdapterLayout, FirstAddressAndTheDefaultRouteInUse)
{
    REQUIRE_LAYOUT("multi");
    const Read address = read(1), mask = read(2), gateway = read(3);
    EXPECT_EQ(address.result, 0);
    EXPECT_EQ(address.text, "198.18.6.7");
    EXPECT_EQ(mask.result, 0);
    EXPECT_EQ(mask.text, "255.255.255.0");
    EXPECT_EQ(gateway.result, 0);
    EXPECT_EQ(gateway.text, "198.18.6.254") << "lowest metric of the main table";
    expectOneReadAgrees();

    // The gateway is what the kernel tells any user, no privilege needed.
    const int status = nettest::inChild([] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            return 2;
        return hostnet::ReadHostAdapterSettings().gateway == "198.18.6.254" ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << "2: could not drop privileges";
}
