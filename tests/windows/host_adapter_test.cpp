// ReadHostAdapter on Windows: the first adapter of IP Helper's list that is
// up with an IPv4 address, its address, mask and gateway. The tests read the
// machine's settings, or the known adapters of a test namespace.
#include "platform/HostNetwork.h"
#include "windows_test_support.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

using hostnet::ReadHostAdapter;

namespace {

bool dotted(const std::string &text)
{
    return hostnet::AddressToText(hostnet::AddressFromText(text)) == text;
}

struct Read
{
    int result;
    std::string text;
    bool failed;
};

Read read(int item)
{
    Read r{0, "unchanged", false};
    r.result = ReadHostAdapter(item, r.text, &r.failed);
    std::cout << "  item " << item << ": " << r.result << " \"" << r.text << "\""
              << (r.failed ? " (no adapter list)" : "") << "\n";
    return r;
}

// The one read of a dialog gives what its three item reads give.
void expectOneReadAgrees(const Read &address, const Read &mask, const Read &gateway)
{
    const hostnet::HostAdapterSettings settings = hostnet::ReadHostAdapterSettings();
    EXPECT_EQ(settings.address, address.text);
    EXPECT_EQ(settings.mask, mask.text);
    EXPECT_EQ(settings.gateway, gateway.text);
    for (const Read &r : {address, mask, gateway}) {
        EXPECT_EQ(settings.result, r.result);
        EXPECT_EQ(settings.listFailed, r.failed);
    }
}

} // namespace

TEST(HostAdapter, ItemsOutsideOneToThreeLeaveTheTextAlone)
{
    for (const int item : {0, 4, -1, 100}) {
        std::string text = "untouched";
        bool failed = true;
        EXPECT_EQ(ReadHostAdapter(item, text, &failed), 1) << item;
        EXPECT_EQ(text, "untouched") << item;
        EXPECT_FALSE(failed) << item;
    }
}

// Whatever the machine: the first listed adapter's address and mask, and a
// gateway or nothing; "0.0.0.0" with 1 when none is listed.
TEST(HostAdapter, EveryItemGivesTheFirstAdaptersTextOrNothing)
{
    const std::vector<hostnet::HostAdapter> adapters = hostnet::ListHostAdapters();
    std::cout << "first adapter: "
              << (adapters.empty() ? std::string("none")
                                   : adapters[0].id + " " + hostnet::AddressToText(adapters[0].address))
              << "\n";
    const Read address = read(1), mask = read(2), gateway = read(3);
    if (adapters.empty()) {
        for (const Read &r : {address, mask, gateway}) {
            EXPECT_EQ(r.result, 1);
            EXPECT_EQ(r.text, "0.0.0.0");
        }
    } else {
        EXPECT_EQ(address.text, hostnet::AddressToText(adapters[0].address));
        EXPECT_EQ(mask.text, hostnet::AddressToText(adapters[0].mask));
        EXPECT_TRUE(gateway.text.empty() || dotted(gateway.text)) << gateway.text;
        for (const Read &r : {address, mask, gateway}) {
            EXPECT_EQ(r.result, 0);
            EXPECT_FALSE(r.failed);
        }
    }
    expectOneReadAgrees(address, mask, gateway);
}

// The adapters of scripts/testlan.sh's namespaces, as Wine lists them:
// the values the Linux reader gives there too.
TEST(HostAdapter, AdaptersOfTheTestNamespace)
{
    const std::string layout = wintest::environment("HOSTNET_LAYOUT");
    if (layout.empty())
        GTEST_SKIP() << "no known adapter layout (HOSTNET_LAYOUT is unset): the machine's own adapters are only read";
    const Read address = read(1), mask = read(2), gateway = read(3);
    if (layout == "bare") {
        // Loopback only: no adapter list, and the operator hears of it.
        for (const Read &r : {address, mask, gateway}) {
            EXPECT_EQ(r.result, 1);
            EXPECT_EQ(r.text, "0.0.0.0");
            EXPECT_TRUE(r.failed);
        }
    } else if (layout == "unaddressed-first") {
        // The first adapter has no address: the later one is read.
        EXPECT_EQ(address.text, "198.18.4.10");
        EXPECT_EQ(mask.text, "255.255.255.0");
        EXPECT_EQ(gateway.text, "198.18.4.1");
    } else if (layout == "multi") {
        EXPECT_EQ(address.text, "198.18.6.7");
        EXPECT_EQ(mask.text, "255.255.255.0");
        EXPECT_EQ(gateway.text, "198.18.6.254") << "the default route in use";
    }
    if (layout != "bare")
        for (const Read &r : {address, mask, gateway}) {
            EXPECT_EQ(r.result, 0);
            EXPECT_FALSE(r.failed);
        }
    expectOneReadAgrees(address, mask, gateway);
}

// The adapters offered for the Options dialog's choice: addressed ones only,
// never the loopback; a choice the host does not have reads the first one.
TEST(HostAdapter, ListedAdaptersAndAChoiceThatIsGone)
{
    const std::vector<hostnet::HostAdapter> adapters = hostnet::ListHostAdapters();
    std::cout << adapters.size() << " adapter(s) listed\n";
    for (const hostnet::HostAdapter &a : adapters) {
        std::cout << "  " << a.id << " " << a.label << " " << hostnet::AddressToText(a.address) << "\n";
        EXPECT_FALSE(a.id.empty());
        EXPECT_NE(a.address, 0u);
        EXPECT_NE(a.address >> 24, 127u);
    }
    std::string first = "unchanged", chosen = "unchanged";
    bool failed = false;
    const int firstResult = hostnet::ReadHostAdapter(1, first, &failed);
    hostnet::SetHostAdapterChoice("{no such adapter}");
    EXPECT_EQ(hostnet::ReadHostAdapter(1, chosen, &failed), firstResult);
    EXPECT_EQ(chosen, first);
    hostnet::SetHostAdapterChoice("");
}
