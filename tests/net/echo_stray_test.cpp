// Echo replies that must not count, and an echo service that cannot be
// used. Runs in with-testlan.sh --layout stray: the namespace's own addresses
// 198.18.0.2 and 198.18.0.3 ignore echo requests (the test turns the
// kernel's answers off), so the test itself plays the other side: it sees
// each request on a raw socket and answers with hand-made replies.
#include "netns_support.h"
#include "platform/HostNetwork.h"

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <thread>

using hostnet::EchoOptions;
using hostnet::EchoProber;
using hostnet::EchoSocketKind;
using hostnet::kEchoAnswered;
using hostnet::kEchoSilent;
using hostnet::kEchoUnusable;
using nettest::addr;
using nettest::Clock;
using nettest::millisSince;

namespace {

const std::uint32_t kProbed = addr("198.18.0.2");
const std::uint32_t kOther = addr("198.18.0.3");
constexpr std::uint8_t kReply = 0;
constexpr std::uint8_t kRequest = 8;

bool inStrayLayout()
{
    return nettest::inTestNamespace() && nettest::envOr("HOSTNET_LAYOUT") == "stray";
}

#define REQUIRE_STRAY_LAYOUT()                                                   \
    do {                                                                         \
        if (!inStrayLayout())                                                    \
            GTEST_SKIP() << "runs in scripts/with-testlan.sh --layout stray";           \
    } while (0)

struct Timed
{
    int result;
    long long ms;
};

// Every reply that must be ignored: another host answering with the right
// identifier and sequence, the right host with the wrong sequence or
// identifier, a spoilt checksum, and a request instead of a reply.
void sendStrays(const nettest::EchoSeen &request)
{
    const std::uint16_t id = request.identifier;
    const std::uint16_t seq = request.sequence;
    const auto otherId = static_cast<std::uint16_t>(id ^ 0x5A5A);
    const auto step = std::chrono::milliseconds(15);
    EXPECT_TRUE(nettest::sendEcho(kOther, kProbed, kReply, id, seq));
    std::this_thread::sleep_for(step);
    EXPECT_TRUE(nettest::sendEcho(kProbed, kProbed, kReply, id, static_cast<std::uint16_t>(seq + 1)));
    std::this_thread::sleep_for(step);
    EXPECT_TRUE(nettest::sendEcho(kProbed, kProbed, kReply, otherId, seq));
    std::this_thread::sleep_for(step);
    EXPECT_TRUE(nettest::sendEcho(kProbed, kProbed, kReply, id, seq, /*spoilChecksum=*/true));
    std::this_thread::sleep_for(step);
    EXPECT_TRUE(nettest::sendEcho(kProbed, kProbed, kRequest, id, seq));
    std::this_thread::sleep_for(step);
    EXPECT_TRUE(nettest::sendEcho(kOther, kProbed, kReply, id, static_cast<std::uint16_t>(seq - 1)));
}

std::string kindName(EchoSocketKind kind)
{
    return kind == EchoSocketKind::Datagram ? "Datagram" : kind == EchoSocketKind::Raw ? "Raw" : "Automatic";
}

} // namespace

class StrayReply : public ::testing::TestWithParam<EchoSocketKind>
{
protected:
    void SetUp() override
    {
        REQUIRE_STRAY_LAYOUT();
        ignore_.emplace(nettest::kEchoIgnoreAll, "1");
        range_.emplace(nettest::kPingGroupRange,
                       GetParam() == EchoSocketKind::Datagram ? nettest::kEveryGroup : nettest::kNoGroup);
        ASSERT_TRUE(ignore_->ok() && range_->ok());
        options_.socketKind = GetParam();
        ASSERT_TRUE(EchoProber(1, options_).usable());
        ASSERT_TRUE(sniffer_.ok());
    }

    std::future<Timed> pingLater(EchoOptions options)
    {
        return std::async(std::launch::async, [options] {
            const auto start = Clock::now();
            const int result = hostnet::PingAddress("198.18.0.2", options);
            return Timed{result, millisSince(start)};
        });
    }

    EchoOptions options_;
    std::optional<nettest::SysctlOverride> ignore_, range_;
    nettest::EchoSniffer sniffer_;
};

INSTANTIATE_TEST_SUITE_P(Sockets, StrayReply, ::testing::Values(EchoSocketKind::Datagram, EchoSocketKind::Raw),
                         [](const auto &p) { return kindName(p.param); });

TEST_P(StrayReply, NeitherCountsNorEndsTheWait)
{
    auto ping = pingLater(options_);
    const auto request = sniffer_.nextRequest(kProbed, 1000);
    ASSERT_TRUE(request.has_value());
    sendStrays(*request);
    const Timed t = ping.get();
    EXPECT_EQ(t.result, kEchoSilent);
    EXPECT_GE(t.ms, 480) << "a stray reply ended the wait early";
    EXPECT_LE(t.ms, 1500);
}

TEST_P(StrayReply, TheMatchingReplyEndsTheWaitAtOnce)
{
    // A long time-out, so that a slow machine cannot turn the late answer
    // into silence; the wait must end well before it.
    EchoOptions patient = options_;
    patient.timeoutMs = 3000;
    auto ping = pingLater(patient);
    const auto request = sniffer_.nextRequest(kProbed, 1000);
    ASSERT_TRUE(request.has_value());
    sendStrays(*request);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    ASSERT_TRUE(nettest::sendEcho(kProbed, kProbed, kReply, request->identifier, request->sequence));
    const Timed t = ping.get();
    EXPECT_EQ(t.result, kEchoAnswered);
    EXPECT_GE(t.ms, 100);
    EXPECT_LE(t.ms, 2000) << "the matching reply should end the wait";
}

TEST_P(StrayReply, EachReplyResolvesOnlyItsOwnRequest)
{
    EchoOptions patient = options_;
    patient.timeoutMs = 2000;
    EchoProber prober(4, patient);
    prober.enqueue(kProbed, 1);
    prober.enqueue(kOther, 2);
    const auto start = Clock::now();
    EXPECT_TRUE(prober.pump(0).empty()); // sends both
    EXPECT_EQ(prober.outstanding(), 2u);
    const auto toProbed = sniffer_.nextRequest(kProbed, 1000);
    const auto toOther = sniffer_.nextRequest(kOther, 1000);
    ASSERT_TRUE(toProbed.has_value());
    ASSERT_TRUE(toOther.has_value());
    // Crossed replies: each address answers with the other request's numbers.
    ASSERT_TRUE(nettest::sendEcho(kOther, kProbed, kReply, toProbed->identifier, toProbed->sequence));
    ASSERT_TRUE(nettest::sendEcho(kProbed, kOther, kReply, toOther->identifier, toOther->sequence));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(nettest::sendEcho(kOther, kOther, kReply, toOther->identifier, toOther->sequence));

    std::map<std::uint64_t, std::pair<int, long long>> results;
    while (results.size() < 2 && millisSince(start) < 5000)
        for (const auto &r : prober.pump(100))
            results[r.tag] = {r.result, millisSince(start)};
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[2].first, kEchoAnswered);
    EXPECT_LT(results[2].second, 1500);
    EXPECT_EQ(results[1].first, kEchoSilent);
    EXPECT_GE(results[1].second, 1980);
}

// A prober that is pumped late reads the replies that wait in its socket:
// those that came before the request's time-out count, later ones do not.
TEST_P(StrayReply, LateReadCountsOnlyRepliesThatCameInTime)
{
    EchoOptions quick = options_;
    quick.timeoutMs = 300;
    EchoProber prober(4, quick);
    prober.enqueue(kProbed, 1);
    EXPECT_TRUE(prober.pump(0).empty());
    const auto first = sniffer_.nextRequest(kProbed, 1000);
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(nettest::sendEcho(kProbed, kProbed, kReply, first->identifier, first->sequence));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    auto results = prober.pump(0);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result, kEchoAnswered) << "the reply came in time and waited in the socket";

    prober.enqueue(kProbed, 2);
    EXPECT_TRUE(prober.pump(0).empty());
    const auto second = sniffer_.nextRequest(kProbed, 1000);
    ASSERT_TRUE(second.has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    ASSERT_TRUE(nettest::sendEcho(kProbed, kProbed, kReply, second->identifier, second->sequence));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    results = prober.pump(0);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result, kEchoSilent) << "the reply came after the time-out";
}

// Without the raw-socket privilege and outside the ping group range, no
// echo socket can be opened.
TEST(EchoPermission, UnusableWithoutAnyPermission)
{
    REQUIRE_STRAY_LAYOUT();
    nettest::SysctlOverride range(nettest::kPingGroupRange, nettest::kNoGroup);
    ASSERT_TRUE(range.ok());
    const int status = nettest::inChild([] {
        if (!nettest::dropRawCapability())
            return 2;
        const auto start = Clock::now();
        if (hostnet::PingAddress("198.18.0.2") != kEchoUnusable)
            return 3;
        if (millisSince(start) > 100)
            return 4;
        for (EchoSocketKind kind : {EchoSocketKind::Datagram, EchoSocketKind::Raw}) {
            EchoOptions options;
            options.socketKind = kind;
            if (hostnet::PingAddress("198.18.0.2", options) != kEchoUnusable)
                return 5;
        }
        EchoProber prober(8);
        if (prober.usable() || prober.socketKind() != EchoSocketKind::Automatic)
            return 6;
        prober.enqueue(kProbed, 7);
        const auto results = prober.pump(100);
        if (results.size() != 1 || results[0].tag != 7 || results[0].result != kEchoUnusable)
            return 7;
        // The walk sends datagrams instead and the neighbour table alone
        // decides: beyond the host's segment nothing can be known.
        hostnet::FreeAddressWalk walk(hostnet::RangeSearch(addr("198.18.1.1"), addr("198.18.1.254"), 5));
        if (walk.echoUnusable() || !walk.neighbourTableOnly())
            return 8;
        while (!walk.finished())
            walk.pump(100);
        if (!walk.found().empty())
            return 9;
        return 0;
    });
    EXPECT_EQ(status, 0) << "see the child's return codes in the test";
}

// The unprivileged way: no raw-socket privilege, but the group is admitted
// to ICMP datagram sockets.
TEST(EchoPermission, DatagramSocketNeedsNoPrivilege)
{
    REQUIRE_STRAY_LAYOUT();
    nettest::SysctlOverride range(nettest::kPingGroupRange, nettest::kEveryGroup);
    nettest::SysctlOverride answer(nettest::kEchoIgnoreAll, "0");
    ASSERT_TRUE(range.ok() && answer.ok());
    const int status = nettest::inChild([] {
        if (!nettest::dropRawCapability())
            return 2;
        if (EchoProber().socketKind() != EchoSocketKind::Datagram)
            return 3;
        if (hostnet::PingAddress("198.18.0.2") != kEchoAnswered)
            return 4;
        EchoOptions raw;
        raw.socketKind = EchoSocketKind::Raw;
        if (hostnet::PingAddress("198.18.0.2", raw) != kEchoUnusable)
            return 5;
        return 0;
    });
    EXPECT_EQ(status, 0) << "see the child's return codes in the test";
}

TEST(EchoDestination, NoRequestToAddressesThatCannotAnswer)
{
    REQUIRE_STRAY_LAYOUT();
    nettest::SysctlOverride answer(nettest::kEchoIgnoreAll, "0");
    ASSERT_TRUE(answer.ok());
    // 0/8, multicast and the limited broadcast are never sent to, and the
    // system refuses the subnet broadcast: none of them is silent (which
    // would make it free), all end at once.
    for (const char *text : {"0.0.0.7", "224.0.0.1", "255.255.255.255", "198.18.0.255", "not an address"}) {
        const auto start = Clock::now();
        EXPECT_EQ(hostnet::PingAddress(text), hostnet::kEchoNotSent) << text;
        EXPECT_LT(millisSince(start), 100) << text;
    }
    // The same through the prober, and a free-address walk over the
    // broadcast lists nothing.
    hostnet::EchoProber prober(4);
    prober.enqueue(hostnet::AddressFromText("198.18.0.255"), 7);
    std::vector<hostnet::EchoResult> results;
    for (int i = 0; i < 10 && results.empty(); ++i)
        results = prober.pump(100);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result, hostnet::kEchoNotSent);
    const std::uint32_t broadcast = hostnet::AddressFromText("198.18.0.255");
    EXPECT_TRUE(hostnet::FindFreeAddresses(hostnet::RangeSearch(broadcast, broadcast, 1)).empty());
}
