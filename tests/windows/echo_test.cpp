// ICMP echo on Windows: PingAddress through ICMP.DLL loaded per call, and
// the concurrent EchoProber. Every request goes to 127.0.0.1, which answers
// from the machine itself.
#include "platform/HostNetwork.h"
#include "windows_test_support.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

using namespace std::chrono_literals;
using hostnet::EchoProber;
using hostnet::EchoResult;
using hostnet::kEchoAnswered;
using hostnet::kEchoSilent;
using hostnet::PingAddress;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001u;

// What echo of 127.0.0.1 gives here: answered on Windows itself and where
// the script says that Wine can send it; refused where the script has taken
// that right away (DALVORA_WINE_ECHO=0); otherwise under Wine a result
// other than an answer is reported as a skip.
enum class Echo { Answered, Refused, Unknown };

Echo expectedEcho()
{
    if (!wintest::underWine())
        return Echo::Answered;
    const std::string given = wintest::environment("DALVORA_WINE_ECHO");
    return given == "1" ? Echo::Answered : given == "0" ? Echo::Refused : Echo::Unknown;
}

bool echoRequired()
{
    return expectedEcho() != Echo::Unknown;
}

int expectedResult()
{
    return expectedEcho() == Echo::Refused ? hostnet::kEchoUnusable : kEchoAnswered;
}

std::string echoMissing(int result)
{
    return "echo of 127.0.0.1 gave " + std::to_string(result) +
           ": this Wine cannot send ICMP echo as this user (it needs raw sockets or an "
           "ICMP datagram socket that net.ipv4.ping_group_range admits)";
}

bool winsockStarted()
{
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return WSAGetLastError() != WSANOTINITIALISED;
    closesocket(s);
    return true;
}

// Runs the prober until nothing is pending, at most `limit`.
std::vector<EchoResult> drain(EchoProber &prober, std::chrono::milliseconds limit = 5s)
{
    std::vector<EchoResult> all;
    const auto end = Clock::now() + limit;
    while (prober.pending() > 0 && Clock::now() < end)
        for (const EchoResult &r : prober.pump(200))
            all.push_back(r);
    return all;
}

} // namespace

TEST(PingAddress, LoopbackAnswersAtOnce)
{
    const auto start = Clock::now();
    const int result = PingAddress("127.0.0.1");
    const auto took = Clock::now() - start;
    if (result != kEchoAnswered && !echoRequired())
        GTEST_SKIP() << echoMissing(result);
    EXPECT_EQ(result, expectedResult());
    EXPECT_LT(took, 450ms) << "the answer (or the refusal) ends the wait, not the 500 ms time-out";
}

// Every call loads and frees ICMP.DLL and starts and stops the sockets
// interface: nothing stays behind, and a caller's own start-up (the
// library's) is left as it was.
TEST(PingAddress, KeepsNothingBetweenCalls)
{
    ASSERT_EQ(GetModuleHandleA("ICMP.DLL"), nullptr) << "nothing of the test loads it";
    const bool startedBefore = winsockStarted();
    for (int i = 0; i < 3; ++i) {
        const int result = PingAddress("127.0.0.1");
        if (result != kEchoAnswered && !echoRequired())
            GTEST_SKIP() << echoMissing(result);
        EXPECT_EQ(result, expectedResult()) << "call " << i;
        EXPECT_EQ(GetModuleHandleA("ICMP.DLL"), nullptr) << "unloaded after call " << i;
    }
    if (!startedBefore) {
        EXPECT_FALSE(winsockStarted()) << "the sockets interface was cleaned up again";
    }

    // A socket of the caller's own start-up works across a call.
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(s, INVALID_SOCKET);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(kLoopback);
    int size = sizeof self;
    ASSERT_EQ(bind(s, reinterpret_cast<const sockaddr *>(&self), sizeof self), 0);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr *>(&self), &size), 0);
    PingAddress("127.0.0.1");
    EXPECT_EQ(sendto(s, "x", 1, 0, reinterpret_cast<const sockaddr *>(&self), sizeof self), 1);
    char buffer[4] = {};
    EXPECT_EQ(recv(s, buffer, sizeof buffer, 0), 1);
    closesocket(s);
    WSACleanup();
}

TEST(EchoProber, WindowIsBetweenOneAndTheEventsOneWaitWatches)
{
    EXPECT_EQ(EchoProber(0).window(), 1u);
    EXPECT_EQ(EchoProber(5).window(), 5u);
    EXPECT_EQ(EchoProber(64).window(), 64u);
    EXPECT_EQ(EchoProber(1000).window(), 64u);
}

TEST(EchoProber, ManyRequestsWithinTheWindow)
{
    EchoProber prober(4);
    if (!prober.usable() && !echoRequired())
        GTEST_SKIP() << "no ICMP handle under this Wine";
    ASSERT_TRUE(prober.usable());
    EXPECT_EQ(prober.socketKind(), hostnet::EchoSocketKind::Datagram);
    for (std::uint64_t tag = 0; tag < 12; ++tag)
        prober.enqueue(kLoopback, tag);
    EXPECT_EQ(prober.pending(), 12u);
    const auto start = Clock::now();
    const std::vector<EchoResult> results = drain(prober);
    const auto took = Clock::now() - start;
    ASSERT_EQ(results.size(), 12u);
    if (results.front().result != kEchoAnswered && !echoRequired())
        GTEST_SKIP() << echoMissing(results.front().result);
    std::set<std::uint64_t> tags;
    for (const EchoResult &r : results) {
        EXPECT_EQ(r.result, expectedResult()) << r.tag;
        EXPECT_EQ(r.address, kLoopback);
        tags.insert(r.tag);
    }
    EXPECT_EQ(tags.size(), 12u) << "each request is reported once";
    EXPECT_LE(prober.maxOutstanding(), 4u);
    if (expectedEcho() == Echo::Answered) {
        EXPECT_GE(prober.maxOutstanding(), 1u);
    }
    EXPECT_EQ(prober.outstanding(), 0u);
    EXPECT_EQ(prober.pending(), 0u);
    EXPECT_LT(took, 1500ms) << "answers end the waits; three rounds of time-outs would take 1.5 s";
}

TEST(EchoProber, CancelForgetsWhatIsPending)
{
    EchoProber prober(4);
    if (!prober.usable() && !echoRequired())
        GTEST_SKIP() << "no ICMP handle under this Wine";
    ASSERT_TRUE(prober.usable());
    for (std::uint64_t tag = 0; tag < 8; ++tag)
        prober.enqueue(kLoopback, tag);
    prober.pump(0); // the first four leave
    prober.cancel();
    EXPECT_EQ(prober.pending(), 0u);
    EXPECT_EQ(prober.outstanding(), 0u);
    EXPECT_TRUE(prober.pump(300).empty()) << "late answers of forgotten requests are not handed out";

    prober.enqueue(kLoopback, 100);
    prober.enqueue(kLoopback, 101);
    const std::vector<EchoResult> results = drain(prober);
    ASSERT_EQ(results.size(), 2u);
    for (const EchoResult &r : results)
        EXPECT_TRUE(r.tag == 100 || r.tag == 101) << r.tag;
}

TEST(EchoProber, DestroyedWithRequestsInFlight)
{
    const auto start = Clock::now();
    {
        EchoProber prober(8);
        for (std::uint64_t tag = 0; tag < 8; ++tag)
            prober.enqueue(kLoopback, tag);
        prober.pump(0);
    }
    EXPECT_LT(Clock::now() - start, 2s);
}

// Addresses no request is sent to count as not sent (never free) without
// leaving the machine, as on Linux; only checked in a private namespace that
// has nothing but the loopback, should the filter ever let one through.
TEST(EchoProber, AddressesNotSentToAreNeverSilent)
{
    if (!wintest::flag("DALVORA_WINE_NETNS"))
        GTEST_SKIP() << "only in a private network namespace with nothing but the loopback";
    EchoProber prober(4);
    ASSERT_TRUE(prober.usable());
    prober.enqueue(0x00000001u, 1);  // 0.0.0.1, "this network"
    prober.enqueue(0xE0000001u, 2);  // 224.0.0.1, multicast
    prober.enqueue(0xFFFFFFFFu, 3);  // the limited broadcast
    const std::vector<EchoResult> results = prober.pump(0);
    ASSERT_EQ(results.size(), 3u);
    for (const EchoResult &r : results)
        EXPECT_EQ(r.result, hostnet::kEchoNotSent) << r.tag;
    EXPECT_EQ(prober.maxOutstanding(), 0u) << "nothing was sent";
}

TEST(FreeAddressWalk, AnsweringCandidatesAreNotListed)
{
    hostnet::FreeAddressSearch search;
    search.addresses = std::vector<std::uint32_t>{kLoopback, kLoopback, kLoopback};
    search.wanted = 1;
    hostnet::FreeAddressWalk walk(search, 2);
    if (walk.echoUnusable() && !echoRequired())
        GTEST_SKIP() << "no ICMP handle under this Wine";
    const auto end = Clock::now() + 5s;
    while (!walk.finished() && Clock::now() < end)
        walk.pump(200);
    ASSERT_TRUE(walk.finished());
    if (!walk.found().empty() && !echoRequired())
        GTEST_SKIP() << echoMissing(kEchoSilent);
    EXPECT_TRUE(walk.found().empty());
    EXPECT_EQ(walk.stepsDone(), 3u);
}
