// The exports' lifecycle and the broadcast search, against a scripted peer
// on loopback inside a private network namespace.
#include "library_fixture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

struct Record {
    int32_t result;
    char name[16], alias[12], ip[20], mask[20], gateway[20], mac[20];
    int32_t dhcp;
};

Record info(int32_t n)
{
    Record r{};
    r.result = Zarfel_GetModuleInfo(n, r.name, r.alias, r.ip, r.mask, r.gateway, r.mac, &r.dhcp);
    return r;
}

// Broadcasts and route changes stay inside the namespace made by scripts/with-testlan.sh --private.
// Windows has no such namespace: there these cases are skipped.
bool inPrivateNamespace()
{
#ifdef _WIN32
    return false;
#else
    const char *v = std::getenv("DALVORA_IN_NETNS");
    return v && std::string(v) == "1";
#endif
}

bool portTaken(uint16_t port)
{
    try {
        UdpPeer probe("0.0.0.0", port);
        return false;
    } catch (const std::exception &) {
        return true;
    }
}

} // namespace

TEST_F(LibraryTest, VersionAndLifecycleResults)
{
    EXPECT_EQ(Zarfel_GetVersion(), 256);
    init();
    EXPECT_EQ(Zarfel_GetState(), 0);
    EXPECT_EQ(Zarfel_GetCount(), 0);
    EXPECT_EQ(Zarfel_BroadcastStop(), 0);
    EXPECT_NE(Zarfel_Close(), 0);
    EXPECT_FALSE(portTaken(replyPort)) << "Close releases the reply port";
    EXPECT_EQ(Zarfel_Close(), 0) << "no stop event left to release";
    EXPECT_TRUE(Messages::taken().empty());
}

TEST_F(LibraryTest, ReplyPortChoice)
{
    ASSERT_EQ(Zarfel_Init(0), 0);
    EXPECT_TRUE(portTaken(54321));
    ASSERT_EQ(Zarfel_Init(70000), 0) << "a second Init starts afresh";
    EXPECT_TRUE(portTaken(54321));
    ASSERT_EQ(Zarfel_Init(60000), 0);
    EXPECT_TRUE(portTaken(60000));
    EXPECT_FALSE(portTaken(54321));
    ASSERT_EQ(Zarfel_Init(-65536 + 60001), 0) << "negative ports use their low 16 bits";
    EXPECT_TRUE(portTaken(60001));
}

TEST_F(LibraryTest, BindConflictReportsAndFails)
{
    UdpPeer holder("0.0.0.0", 0);
    EXPECT_EQ(Zarfel_Init(holder.port()), -3);
    EXPECT_EQ(Messages::taken(), std::vector<std::string>{"bind() failed"});
    // the system's reason, for the caller's log
    int32_t error = 0;
    char reason[8] = "x";
    EXPECT_EQ(Zarfel_GetSocketFailure(&error, reason, sizeof reason), ZARFEL_FAILED_BIND);
#ifdef _WIN32
    EXPECT_EQ(error, WSAEADDRINUSE);
#else
    EXPECT_EQ(error, EADDRINUSE);
    EXPECT_EQ(std::string(reason), std::string(std::strerror(EADDRINUSE)).substr(0, 7)) << "cut to fit";
#endif
    // without a sending socket, searches and configuration report -10
    EXPECT_EQ(Zarfel_BroadcastStart("127.0.0.1", peer.port(), nullptr), -10);
    EXPECT_EQ(Zarfel_ConfigModule(1, "1.2.3.4", nullptr, nullptr, nullptr, 0, nullptr), -10);
    const auto shown = Messages::taken();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].rfind("Socket Error: ", 0), 0u) << shown[0];
    EXPECT_EQ(Zarfel_GetState(), 0);
    EXPECT_EQ(Zarfel_Close(), 0);
}

TEST_F(LibraryTest, SocketErrorNamesThePlatformReason)
{
    UdpPeer holder("0.0.0.0", 0);
    ASSERT_EQ(Zarfel_Init(holder.port()), -3);
    Messages::taken();
    Zarfel_BroadcastStart("127.0.0.1", peer.port(), nullptr);
    const auto shown = Messages::taken();
    ASSERT_EQ(shown.size(), 1u);
    // the bind failure's reason, in the platform's words
#ifdef _WIN32
    const std::string head = "Socket Error: " + std::to_string(WSAEADDRINUSE) + ", ";
    EXPECT_EQ(shown[0].rfind(head, 0), 0u) << shown[0];
    EXPECT_GT(shown[0].size(), head.size()) << "a reason follows the number";
    EXPECT_EQ(shown[0].find('\n'), std::string::npos) << "one line";
#else
    EXPECT_EQ(shown[0], "Socket Error: " + std::to_string(EADDRINUSE) + ", " + std::strerror(EADDRINUSE));
#endif
}

TEST_F(LibraryTest, SearchCollectsRepliesInOrderUntilTimeOut)
{
    init();
    const auto start = Clock::now();
    search(1000);
    EXPECT_EQ(Zarfel_GetState(), 1);
    answer(reply("A", "one", 0, "198.18.0.21", "00:0E:C6:00:00:01"));
    answer("VELKORQZ510;80\r"); // no comma after the prefix: not a reply
    answer(reply("B", "", 5, "198.18.0.22", "00:0E:C6:00:00:02"));
    answer(reply("B", "", 5, "198.18.0.22", "00:0E:C6:00:00:02")); // twice: listed twice
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(Zarfel_GetState(), 1) << "a search lasts its time-out";
    EXPECT_EQ(Zarfel_GetCount(), 3);
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_GE(msSince(start), 1000);

    const Record a = info(1), b = info(2), b2 = info(3);
    ASSERT_EQ(a.result, 0);
    EXPECT_STREQ(a.name, "A");
    EXPECT_STREQ(a.alias, "one");
    EXPECT_STREQ(a.ip, "198.18.0.21");
    EXPECT_STREQ(a.mask, "255.255.255.0");
    EXPECT_STREQ(a.gateway, "198.18.0.1");
    EXPECT_STREQ(a.mac, "00:0E:C6:00:00:01");
    EXPECT_EQ(a.dhcp, 0);
    EXPECT_STREQ(b.alias, "");
    EXPECT_EQ(b.dhcp, 5);
    EXPECT_EQ(std::memcmp(&b, &b2, sizeof b), 0);

    // numbering: 1 or less is the first record; count + 1 has none
    EXPECT_STREQ(info(0).name, "A");
    EXPECT_STREQ(info(-5).name, "A");
    Record untouched;
    std::memset(&untouched, 0x5a, sizeof untouched);
    EXPECT_EQ(Zarfel_GetModuleInfo(4, untouched.name, untouched.alias, untouched.ip, untouched.mask,
                                   untouched.gateway, untouched.mac, &untouched.dhcp),
              -1);
    EXPECT_EQ(untouched.name[0], 0x5a);
    // null buffers are skipped
    char name[16] = {};
    EXPECT_EQ(Zarfel_GetModuleInfo(2, name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(name, "B");
    EXPECT_TRUE(Messages::taken().empty());
}

TEST_F(LibraryTest, AcknowledgementsDuringASearchAreNoModules)
{
    init();
    search(1000);
    for (int i = 0; i < 20; ++i)
        answer(i % 2 ? "VELKORQZ510,81,OK\r" : "VELKORQZ510,81,NG\r");
    answer(reply("A", "", 0, "198.18.0.23", "00:0E:C6:00:00:23"));
    answer("VELKORQZ510,\r"); // the bare record stays one
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_EQ(Zarfel_GetCount(), 2);
    EXPECT_STREQ(info(1).name, "A");
}

TEST_F(LibraryTest, SearchLastsItsTimeOutWhenNotEveryAwaitedModuleAnswers)
{
    init();
    const auto start = Clock::now();
    search(2000, 3);
    answer(reply("A", "", 0, "198.18.0.24", "00:0E:C6:00:00:24"));
    answer(reply("B", "", 0, "198.18.0.25", "00:0E:C6:00:00:25"));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Zarfel_GetState(), 1) << "still waiting for the third";
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_GE(msSince(start), 2000);
    EXPECT_LT(msSince(start), 3500);
    EXPECT_EQ(Zarfel_GetCount(), 2);
}

// Readers on the caller's thread against the receive thread taking a flood:
// every record a count admits is whole (run under ThreadSanitizer too).
TEST_F(LibraryTest, RecordsACountAdmitsAreWholeDuringAFlood)
{
    constexpr int kFlood = 2000;
    init();
    search(8000, kFlood);
    std::thread flood([&] {
        UdpPeer sender;
        for (int i = 0; i < kFlood; ++i)
            sender.sendTo(replyPort, reply("M" + std::to_string(i), "", 0, "198.18.3.1", "00:0E:C6:00:03:00"));
    });
    int passes = 0;
    const auto start = Clock::now();
    while (msSince(start) < 10000) {
        const bool running = Zarfel_GetState() != 0;
        const int32_t n = Zarfel_GetCount();
        for (int32_t k = 1; k <= n; ++k) {
            const Record r = info(k);
            ASSERT_EQ(r.result, 0) << "record " << k << " of " << n << " counted but not in the table";
            ASSERT_EQ(r.name[0], 'M') << "record " << k;
            ASSERT_STREQ(r.mac, "00:0E:C6:00:03:00") << "record " << k;
        }
        ++passes;
        if (!running)
            break;
    }
    flood.join();
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_GT(Zarfel_GetCount(), kFlood / 2) << "loopback keeps most of a flood";
    EXPECT_GT(passes, 1);
}

TEST_F(LibraryTest, DefaultOptionsAfterInitGiveAOneSecondSearch)
{
    init();
    const auto start = Clock::now();
    ASSERT_EQ(Zarfel_BroadcastStart("127.0.0.1", peer.port(), nullptr), 15);
    for (int i = 0; i < 5; ++i)
        answer(reply("M" + std::to_string(i), "", 0, "198.18.0.30", "00:0E:C6:00:00:30"));
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_GE(msSince(start), 1000) << "no wished number after Init";
    EXPECT_LT(msSince(start), 2500);
    EXPECT_EQ(Zarfel_GetCount(), 5);
}

TEST_F(LibraryTest, ShortTimeOutIsRaisedToOneSecond)
{
    init();
    Zarfel_SetOptions(500, -3);
    const auto start = Clock::now();
    ASSERT_EQ(Zarfel_BroadcastStart("127.0.0.1", peer.port(), nullptr), 15);
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_GE(msSince(start), 1000);
    EXPECT_EQ(Zarfel_GetCount(), 0);
}

TEST_F(LibraryTest, WishedNumberEndsTheSearchEarly)
{
    init();
    const auto start = Clock::now();
    search(5000, 2);
    for (int i = 1; i <= 3; ++i)
        answer(reply("M" + std::to_string(i), "", 0, "198.18.0.4" + std::to_string(i), "00:0E:C6:00:00:4" + std::to_string(i)));
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_LT(msSince(start), 3000);
    EXPECT_EQ(Zarfel_GetCount(), 2);
    EXPECT_EQ(info(3).result, -1);
}

TEST_F(LibraryTest, LoweringTheWishedNumberDuringASearchTestsForEquality)
{
    init();
    search(60000, 0);
    answer(reply("A", "", 0, "198.18.0.51", "00:0E:C6:00:00:51"));
    answer(reply("B", "", 0, "198.18.0.52", "00:0E:C6:00:00:52"));
    ASSERT_TRUE([] {
        for (int i = 0; i < 2000 && Zarfel_GetCount() < 2; ++i)
            std::this_thread::sleep_for(2ms);
        return Zarfel_GetCount() == 2;
    }());
    Zarfel_SetOptions(60000, 1); // below the count: does not end it
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Zarfel_GetState(), 1);
    const auto t = Clock::now();
    Zarfel_SetOptions(60000, 2); // equal to the count: ends on the next pass
    ASSERT_TRUE(waitSearchEnd(3000));
    EXPECT_LT(msSince(t), 1000);
}

TEST_F(LibraryTest, StopEndsTheSearchAndKeepsWhatWasCounted)
{
    init();
    search(60000);
    answer(reply("A", "", 0, "198.18.0.61", "00:0E:C6:00:00:61"));
    std::this_thread::sleep_for(100ms);
    const auto t = Clock::now();
    EXPECT_EQ(Zarfel_BroadcastStop(), 1);
    ASSERT_TRUE(waitSearchEnd(2000));
    EXPECT_LT(msSince(t), 1500);
    EXPECT_EQ(Zarfel_GetCount(), 1);
    EXPECT_EQ(Zarfel_BroadcastStop(), 0);
}

TEST_F(LibraryTest, LateStopDoesNotCutTheNextSearchShort)
{
    init();
    search(1000);
    // The stop request's 100 ms pause outlasts this search's time-out, so
    // its event is set after the thread has ended.
    std::this_thread::sleep_for(960ms);
    Zarfel_BroadcastStop();
    ASSERT_TRUE(waitSearchEnd());
    const auto start = Clock::now();
    search(1000);
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_GE(msSince(start), 1000);
}

TEST_F(LibraryTest, StrayDatagramsNeitherCountNorHoldUpTheSearch)
{
    init();
    search(1000);
    answer("");                       // empty
    answer(std::string(3000, 'V'));   // longer than 2047 bytes
    answer("hello");                  // not a reply
    answer(reply("A", "", 0, "198.18.0.71", "00:0E:C6:00:00:71"));
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_EQ(Zarfel_GetCount(), 1);
    EXPECT_STREQ(info(1).name, "A");
    EXPECT_TRUE(Messages::taken().empty()) << "no message box for traffic we did not cause";
}

TEST_F(LibraryTest, RequestTextAndDestination)
{
    init();
    // an explicit request text goes out unchanged
    ASSERT_EQ(Zarfel_BroadcastStart("127.0.0.1", peer.port(), "VELKORQZ510,00\r"), 15);
    EXPECT_EQ(peer.receive(), std::optional<std::string>("VELKORQZ510,00\r"));
    ASSERT_TRUE(waitSearchEnd());

    // one that is not an address goes to the broadcast address
    if (!inPrivateNamespace())
        GTEST_SKIP() << "broadcasts: runs only in a private namespace";
    UdpPeer everyone("0.0.0.0", 0);
    const int sent = Zarfel_BroadcastStart("not an address", everyone.port(), "VELKORQZ510,00,x\r");
    EXPECT_EQ(sent, 17);
    EXPECT_EQ(everyone.receive(), std::optional<std::string>("VELKORQZ510,00,x\r"));
    ASSERT_TRUE(waitSearchEnd());
}

TEST_F(LibraryTest, EmptyRequestStartsNoSearchAndKeepsTheTable)
{
    init();
    search(1000);
    answer(reply("A", "", 0, "198.18.0.81", "00:0E:C6:00:00:81"));
    ASSERT_TRUE(waitSearchEnd());
    ASSERT_EQ(Zarfel_GetCount(), 1);
    EXPECT_EQ(Zarfel_BroadcastStart("127.0.0.1", peer.port(), ""), 0);
    EXPECT_EQ(Zarfel_GetState(), 0);
    EXPECT_EQ(Zarfel_GetCount(), 0);
    EXPECT_STREQ(info(1).name, "A") << "the previous table stays";
}

TEST_F(LibraryTest, FailedSendStillRunsTheSearch)
{
    if (!inPrivateNamespace())
        GTEST_SKIP() << "changes routes: runs only in a private namespace";
    init();
    Zarfel_SetOptions(1000, 0);
    // Without a default route the destination is unreachable and the send fails.
    ASSERT_EQ(std::system("ip route del default"), 0);
    const int sent = Zarfel_BroadcastStart("198.19.0.1", 0, nullptr);
    ASSERT_EQ(std::system("ip route add default via 198.18.0.1"), 0);
    EXPECT_EQ(sent, -1);
    EXPECT_EQ(Zarfel_GetState(), 1);
    int32_t error = 0;
    char reason[128] = {};
    EXPECT_EQ(Zarfel_GetSocketFailure(&error, reason, sizeof reason), ZARFEL_FAILED_SEND);
#ifndef _WIN32
    EXPECT_EQ(error, ENETUNREACH);
    EXPECT_STREQ(reason, std::strerror(ENETUNREACH));
#endif
    answer(reply("A", "", 0, "198.18.0.91", "00:0E:C6:00:00:91"));
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_EQ(Zarfel_GetCount(), 1);
    // the next search starts with a clean slate
    search(1000);
    EXPECT_EQ(Zarfel_GetSocketFailure(&error, nullptr, 0), ZARFEL_FAILED_NONE);
    EXPECT_EQ(error, 0);
    ASSERT_TRUE(waitSearchEnd());
}

TEST_F(LibraryTest, CloseDuringASearchEndsItFirst)
{
    init();
    search(60000);
    const auto t = Clock::now();
    EXPECT_NE(Zarfel_Close(), 0);
    EXPECT_LT(msSince(t), 2000);
    EXPECT_EQ(Zarfel_GetState(), 0);
    EXPECT_FALSE(portTaken(replyPort));
    // and the library starts again cleanly
    init();
    search(1000);
    answer(reply("A", "", 0, "198.18.0.95", "00:0E:C6:00:00:95"));
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_EQ(Zarfel_GetCount(), 1);
}

TEST_F(LibraryTest, ABurstOfRepliesIsAcceptedWhole)
{
    init();
    search(3000);
    for (int i = 0; i < 200; ++i)
        answer(reply("M" + std::to_string(i), "", 0, "198.18.1." + std::to_string(i % 250), "00:0E:C6:00:01:00"));
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_EQ(Zarfel_GetCount(), 200);
    EXPECT_STREQ(info(200).name, "M199");
    EXPECT_STREQ(info(1).name, "M0");
}

TEST_F(LibraryTest, ASearchStartedOverARunningOneKeepsCountAndTableTogether)
{
    init();
    search(60000);
    // Replies still pouring in while the next start ends this search: what
    // the old thread counts on its way out must not stay in the new count.
    for (int i = 0; i < 300; ++i)
        answer(reply("OLD" + std::to_string(i), "", 0, "198.18.2.1", "00:0E:C6:00:02:00"));
    Zarfel_SetOptions(1000, 0);
    ASSERT_EQ(Zarfel_BroadcastStart("127.0.0.1", peer.port(), nullptr), 15);
    ASSERT_TRUE(waitSearchEnd());
    const int32_t count = Zarfel_GetCount();
    EXPECT_LE(count, 300);
    if (count > 0) {
        EXPECT_EQ(info(count).result, 0);
    }
    EXPECT_EQ(info(count + 1).result, -1) << "every counted record is in the table, and no more";
}

TEST_F(LibraryTest, RepliesBetweenSearchesAreNotRecordsOfTheNext)
{
    init();
    search(1000);
    ASSERT_TRUE(Zarfel_BroadcastStop() == 1 && waitSearchEnd());
    for (int i = 0; i < 3; ++i)
        answer(reply("LATE", "", 0, "198.18.0.40", "00:0E:C6:00:00:40"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    search(1000); // nobody answers this one
    ASSERT_TRUE(waitSearchEnd());
    EXPECT_EQ(Zarfel_GetCount(), 0);
    EXPECT_EQ(Zarfel_GetModuleInfo(1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
}

TEST_F(LibraryTest, AFailedInitLeavesCountAndTableAgreeing)
{
    init();
    search(1000, 1);
    answer(reply("QZ", "", 0, "198.18.0.41", "00:0E:C6:00:00:41"));
    ASSERT_TRUE(waitSearchEnd());
    ASSERT_EQ(Zarfel_GetCount(), 1);
    UdpPeer holder("0.0.0.0", 0);
    ASSERT_EQ(Zarfel_Init(holder.port()), -3);
    EXPECT_EQ(Zarfel_GetCount(), 0);
    EXPECT_EQ(Zarfel_GetModuleInfo(1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    // Closed, the library names that, not the bind failure of before.
    Zarfel_Close();
    Messages::taken();
    EXPECT_EQ(Zarfel_BroadcastStart("127.0.0.1", peer.port(), nullptr), -10);
    const auto shown = Messages::taken();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].find("in use"), std::string::npos) << shown[0];
}
