// Host network services on the test LAN (scripts/with-testlan.sh): host
// 198.18.0.10/24, gateway 198.18.0.1, and a module namespace whose extra
// addresses answer echo (see tests/net/CMakeLists.txt):
//   answering: .1 (gateway), .10 (host), .11, .33 .34 .36 .38-.43 .47 .49,
//              .101 (module)
//   silent:    every other address of 198.18.0.0/24
#include "netns_support.h"
#include "platform/HostNetwork.h"
#include "platform/NeighbourCheck.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

using hostnet::EchoOptions;
using hostnet::EchoProber;
using hostnet::EchoSocketKind;
using hostnet::FreeAddressWalk;
using hostnet::kEchoAnswered;
using hostnet::kEchoSilent;
using nettest::addr;
using nettest::Clock;
using nettest::millisSince;

namespace {

bool onTestLan()
{
    return nettest::inTestNamespace() && !nettest::envOr("TESTLAN_HOST_NS").empty() &&
           nettest::envOr("TESTLAN_HOST_IP") == "198.18.0.10";
}

#define REQUIRE_TEST_LAN()                                                                                    \
    do {                                                                                                      \
        if (!onTestLan())                                                                                     \
            GTEST_SKIP() << "runs on the test LAN of scripts/with-testlan.sh (see tests/net/CMakeLists.txt)"; \
    } while (0)

std::string kindName(EchoSocketKind kind)
{
    switch (kind) {
    case EchoSocketKind::Datagram: return "Datagram";
    case EchoSocketKind::Raw: return "Raw";
    case EchoSocketKind::Automatic: break;
    }
    return "Automatic";
}

std::vector<std::uint32_t> addresses(std::initializer_list<unsigned> lastOctets)
{
    std::vector<std::uint32_t> v;
    for (unsigned d : lastOctets)
        v.push_back(addr("198.18.0.0") | d);
    return v;
}

// Runs a walk to its end with small pumps, as a window would.
std::vector<std::uint32_t> walkToEnd(FreeAddressWalk &walk)
{
    const auto start = Clock::now();
    while (!walk.finished() && millisSince(start) < 60000)
        walk.pump(50);
    EXPECT_TRUE(walk.finished());
    return walk.found();
}

} // namespace

TEST(TestLanAdapter, ReadsTheHostSettings)
{
    REQUIRE_TEST_LAN();
    std::string text;
    bool failed = true;
    EXPECT_EQ(hostnet::ReadHostAdapter(1, text, &failed), 0);
    EXPECT_EQ(text, "198.18.0.10");
    EXPECT_FALSE(failed);
    EXPECT_EQ(hostnet::ReadHostAdapter(2, text, &failed), 0);
    EXPECT_EQ(text, "255.255.255.0");
    EXPECT_EQ(hostnet::ReadHostAdapter(3, text, &failed), 0);
    EXPECT_EQ(text, "198.18.0.1");
    EXPECT_FALSE(failed);
}

TEST(TestLanAdapter, ItemsOutsideOneToThreeLeaveTheTextAlone)
{
    REQUIRE_TEST_LAN();
    for (int item : {0, 4, -1}) {
        std::string text = "as it was";
        EXPECT_EQ(hostnet::ReadHostAdapter(item, text), 1) << item;
        EXPECT_EQ(text, "as it was") << item;
    }
}

TEST(TestLanEcho, AutomaticChoiceFollowsThePingGroupRange)
{
    REQUIRE_TEST_LAN();
    {
        nettest::SysctlOverride range(nettest::kPingGroupRange, nettest::kEveryGroup);
        ASSERT_TRUE(range.ok());
        EchoProber prober;
        EXPECT_EQ(prober.socketKind(), EchoSocketKind::Datagram);
        EXPECT_EQ(hostnet::PingAddress("198.18.0.1"), kEchoAnswered);
    }
    {
        nettest::SysctlOverride range(nettest::kPingGroupRange, nettest::kNoGroup);
        ASSERT_TRUE(range.ok());
        EchoProber prober; // root here: the raw socket is permitted
        EXPECT_EQ(prober.socketKind(), EchoSocketKind::Raw);
        EXPECT_EQ(hostnet::PingAddress("198.18.0.1"), kEchoAnswered);
    }
}

// Every test below runs once with each kind of socket.
class TestLanKind : public ::testing::TestWithParam<EchoSocketKind>
{
protected:
    void SetUp() override
    {
        REQUIRE_TEST_LAN();
        // The datagram socket needs root's group in the namespace's range;
        // the raw socket must work without it.
        range_.emplace(nettest::kPingGroupRange,
                       GetParam() == EchoSocketKind::Datagram ? nettest::kEveryGroup : nettest::kNoGroup);
        ASSERT_TRUE(range_->ok());
        options_.socketKind = GetParam();
        ASSERT_TRUE(EchoProber(1, options_).usable());
    }

    int ping(const char *text) { return hostnet::PingAddress(text, options_); }

    EchoOptions options_;
    std::optional<nettest::SysctlOverride> range_;
};

INSTANTIATE_TEST_SUITE_P(Sockets, TestLanKind, ::testing::Values(EchoSocketKind::Datagram, EchoSocketKind::Raw),
                         [](const auto &p) { return kindName(p.param); });

TEST_P(TestLanKind, AnsweredAddressesReturnPromptly)
{
    for (const char *text : {"198.18.0.1", "198.18.0.33", "198.18.0.101", "198.18.0.10"}) {
        ping(text); // the first contact may wait for address resolution
        const auto start = Clock::now();
        EXPECT_EQ(ping(text), kEchoAnswered) << text;
        EXPECT_LT(millisSince(start), 450) << text;
    }
}

TEST_P(TestLanKind, SilentAddressTimesOutAfterHalfASecond)
{
    const auto start = Clock::now();
    EXPECT_EQ(ping("198.18.0.50"), kEchoSilent);
    const long long elapsed = millisSince(start);
    EXPECT_GE(elapsed, 480);
    EXPECT_LE(elapsed, 1500);
}

TEST_P(TestLanKind, ConcurrentWalkListsWhatTheSequentialWalkLists)
{
    const std::uint32_t lo = addr("198.18.0.30"), hi = addr("198.18.0.50");
    // The one-at-a-time walk over the whole range, recording each result.
    std::map<std::uint32_t, int> seen;
    const auto full = hostnet::SequentialFreeAddressWalk(hostnet::RangeSearch(lo, hi, 1000), [&](std::uint32_t a) {
        const int r = hostnet::PingAddress(hostnet::AddressToText(a), options_);
        seen[a] = r;
        return r;
    });
    ASSERT_EQ(full, addresses({30, 31, 35, 37, 44, 45, 46, 50}));
    EXPECT_EQ(seen.count(addr("198.18.0.32")) + seen.count(addr("198.18.0.48")), 0u) << "skipped, not probed";

    const auto recorded = [&](std::uint32_t a) { return seen.at(a); };
    for (long long wanted : {-1LL, 0LL, 1LL, 2LL, 3LL, 5LL, 7LL, 8LL, 9LL, 1000LL}) {
        SCOPED_TRACE("wanted " + std::to_string(wanted));
        const auto expected = hostnet::SequentialFreeAddressWalk(hostnet::RangeSearch(lo, hi, wanted), recorded);
        FreeAddressWalk walk(hostnet::RangeSearch(hi, lo, wanted), 64, options_);
        EXPECT_EQ(walkToEnd(walk), expected);
    }

    // A real sequential walk that stops early, against the concurrent one.
    const auto three = hostnet::SequentialFreeAddressWalk(hostnet::RangeSearch(lo, hi, 3), [&](std::uint32_t a) {
        return hostnet::PingAddress(hostnet::AddressToText(a), options_);
    });
    EXPECT_EQ(three, addresses({30, 31, 35}));
    EXPECT_EQ(hostnet::FindFreeAddresses(hostnet::RangeSearch(lo, hi, 3), 64, options_), three);
}

TEST_P(TestLanKind, WishedNumberZeroProbesOnlyTheFirstAddress)
{
    EXPECT_EQ(hostnet::FindFreeAddresses(hostnet::RangeSearch(addr("198.18.0.30"), addr("198.18.0.50"), 0), 64,
                                         options_),
              addresses({30}));
    EXPECT_TRUE(hostnet::FindFreeAddresses(hostnet::RangeSearch(addr("198.18.0.32"), addr("198.18.0.50"), 0), 64,
                                           options_)
                    .empty());
    EXPECT_TRUE(hostnet::FindFreeAddresses(hostnet::RangeSearch(addr("198.18.0.33"), addr("198.18.0.50"), 0), 64,
                                           options_)
                    .empty());
}

TEST_P(TestLanKind, KnownModulesCountAsInUse)
{
    auto search = hostnet::RangeSearch(addr("198.18.0.30"), addr("198.18.0.50"), 1000);
    search.inUse = {addr("198.18.0.31"), addr("198.18.0.44")};
    FreeAddressWalk walk(search, 64, options_);
    EXPECT_EQ(walkToEnd(walk), addresses({30, 35, 37, 45, 46, 50}));
}

TEST_P(TestLanKind, FirstFreeAddressAboveTheHost)
{
    // .11 answers, .12 is silent.
    const auto search = hostnet::HostSubnetSearch(addr("198.18.0.10"));
    const auto sequential = hostnet::SequentialFreeAddressWalk(search, [&](std::uint32_t a) {
        return hostnet::PingAddress(hostnet::AddressToText(a), options_);
    });
    EXPECT_EQ(sequential, addresses({12}));
    FreeAddressWalk walk(search, 64, options_);
    EXPECT_EQ(walkToEnd(walk), sequential);
}

TEST_P(TestLanKind, WindowBoundsTheRequestsInFlight)
{
    // 40 silent addresses, two of them skipped (.160, .176): 38 probes.
    const auto search = hostnet::RangeSearch(addr("198.18.0.150"), addr("198.18.0.189"), 1000);
    EchoProber narrow(8, options_);
    FreeAddressWalk walk(search, narrow);
    const auto start = Clock::now();
    const auto found = walkToEnd(walk);
    const long long elapsed = millisSince(start);
    EXPECT_EQ(found.size(), 38u);
    EXPECT_EQ(narrow.maxOutstanding(), 8u);
    // Five rounds of 500 ms: the window held the rest back.
    EXPECT_GE(elapsed, 2300);
    EXPECT_LE(elapsed, 6000);

    EchoProber wide(64, options_);
    FreeAddressWalk wideWalk(search, wide);
    const auto wideStart = Clock::now();
    EXPECT_EQ(walkToEnd(wideWalk), found);
    EXPECT_EQ(wide.maxOutstanding(), 38u);
    EXPECT_LE(millisSince(wideStart), 1800);
}

TEST_P(TestLanKind, ProberPumpedLateStillCountsRepliesThatCameInTime)
{
    EchoProber prober(4, options_);
    hostnet::PingAddress("198.18.0.1", options_); // resolve the gateway's hardware address first
    prober.enqueue(addr("198.18.0.1"), 1);
    prober.enqueue(addr("198.18.0.50"), 2);
    std::map<std::uint64_t, int> results;
    for (const auto &r : prober.pump(0)) // sends, and may already read the gateway's reply
        results[r.tag] = r.result;
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    for (const auto &r : prober.pump(0))
        results[r.tag] = r.result;
    EXPECT_EQ(results, (std::map<std::uint64_t, int>{{1, kEchoAnswered}, {2, kEchoSilent}}));
}

TEST_P(TestLanKind, WalkPumpedWithoutWaiting)
{
    // A window that is busy pumps with no time to spare.
    FreeAddressWalk walk(hostnet::RangeSearch(addr("198.18.0.30"), addr("198.18.0.50"), 3), 64, options_);
    const auto start = Clock::now();
    while (!walk.finished() && millisSince(start) < 10000) {
        walk.pump(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(walk.found(), addresses({30, 31, 35}));
}

TEST_P(TestLanKind, CancelStopsTheWalk)
{
    // Long time-outs: nothing may resolve before the cancel, however slow
    // the machine.
    EchoOptions patient = options_;
    patient.timeoutMs = 5000;
    EchoProber prober(8, patient);
    FreeAddressWalk walk(hostnet::RangeSearch(addr("198.18.0.150"), addr("198.18.0.189"), 1000), prober);
    walk.pump(100);
    EXPECT_EQ(prober.outstanding(), 8u);
    walk.cancel();
    EXPECT_TRUE(walk.finished());
    EXPECT_TRUE(walk.cancelled());
    EXPECT_EQ(prober.pending(), 0u);
    EXPECT_TRUE(walk.found().empty());
    EXPECT_TRUE(walk.pump(600).empty());
    EXPECT_TRUE(prober.pump(600).empty()) << "late replies or time-outs of cancelled requests are not reported";
}

// A LAN of its own (net.echo.silent-hosts): .102 to .105 are hosts that drop
// echo but answer address resolution; nothing else is there but the host
// and the gateway.
TEST(SilentHostLan, HostsThatDropEchoAreNotProposed)
{
    REQUIRE_TEST_LAN();
    const std::vector<std::uint32_t> expected = addresses({99, 100, 101, 106, 107, 108, 109});
    EXPECT_EQ(hostnet::FindFreeAddresses(hostnet::RangeSearch(addr("198.18.0.109"), addr("198.18.0.99"), 100)),
              expected);
    EXPECT_EQ(hostnet::ProbeFreeAddress(addr("198.18.0.103")), hostnet::kNeighbourKnown);
    EXPECT_EQ(hostnet::ProbeFreeAddress(addr("198.18.0.10")), kEchoAnswered) << "the host's own address";

    // Without ping permission (this namespace's own setting) datagrams go
    // out and the neighbour table alone decides: the same list.
    nettest::SysctlOverride noPing(nettest::kPingGroupRange, nettest::kNoGroup);
    ASSERT_TRUE(noPing.ok());
    hostnet::EchoProber echo(64, {EchoSocketKind::Datagram});
    const auto datagrams = hostnet::OpenDatagramProbes(64, {});
    const auto table = hostnet::OpenNeighbourTable();
    hostnet::FreeAddressProbes probes(echo, datagrams.get(), table.get(), hostnet::ListHostAdapters());
    EXPECT_TRUE(probes.tableOnly());
    FreeAddressWalk walk(hostnet::RangeSearch(addr("198.18.0.99"), addr("198.18.0.109"), 100), probes);
    EXPECT_TRUE(walk.neighbourTableOnly());
    EXPECT_EQ(walkToEnd(walk), expected);
}
