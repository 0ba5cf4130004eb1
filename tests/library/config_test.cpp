// Zarfel_ConfigModule: the request on the wire and every result.
#include "library_fixture.h"

#include <atomic>
#include <functional>
#include <future>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {
constexpr char kMac[] = "00:0E:C6:00:00:07";
// The modules report the peer's address: acknowledgements count only from
// there (or from the address given).
constexpr char kPeer[] = "127.0.0.1";

class ConfigTest : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        init();
        search(1000);
        answer(reply("QZ", "pump", 0, kPeer, kMac));
        answer(reply("QZ2", "", 1, kPeer, "00:0E:C6:00:00:08"));
        ASSERT_TRUE(waitSearchEnd());
        ASSERT_EQ(Zarfel_GetCount(), 2);
    }

    // Runs the call on another thread while the peer answers the request it
    // receives with `ack` (nothing when empty). Returns the result and the
    // request as received.
    std::pair<int32_t, std::string> configure(int32_t number, const char *ip, const char *mask,
                                              const char *gw, const char *mac, int32_t dhcp,
                                              const char *alias, const std::string &ack,
                                              const std::string &before = "")
    {
        auto result = std::async(std::launch::async, [=] {
            return Zarfel_ConfigModule(number, ip, mask, gw, mac, dhcp, alias);
        });
        const auto request = peer.receive(3000);
        if (request) {
            if (!before.empty())
                answer(before);
            if (!ack.empty())
                answer(ack);
        }
        return {result.get(), request.value_or("")};
    }
};
} // namespace

TEST_F(ConfigTest, AcceptedRequestIsByteExact)
{
    const auto [result, request] = configure(1, "198.18.0.30", "255.255.255.0", "198.18.0.1", kMac, 0,
                                             "pump", "VELKORQZ510,81,OK\r");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(request, std::string("VELKORQZ510,01,TO=") + kMac + ",ALIAS=pump,IP=198.18.0.30\r");
}

TEST_F(ConfigTest, EveryPieceInOrderAndTheSecondRecord)
{
    const auto [result, request] = configure(2, "198.18.0.40", "255.255.0.0", "198.18.0.254",
                                             "00:0e:c6:00:00:08", 0, "", "OK VELKORQZ510,81\r");
    EXPECT_EQ(result, 0) << "OK anywhere, even before the prefix, accepts";
    EXPECT_EQ(request, "VELKORQZ510,01,TO=00:0E:C6:00:00:08,ALIAS=,IP=198.18.0.40,MASK=255.255.0.0,"
                       "GATEWAY=198.18.0.254,DHCP=0, \r");
}

TEST_F(ConfigTest, RefusalTimeOutAndNothingToDo)
{
    EXPECT_EQ(configure(1, "198.18.0.31", nullptr, nullptr, nullptr, 0, nullptr, "VELKORQZ510,81,NG\r").first, 1);

    const auto t = Clock::now();
    EXPECT_EQ(configure(1, "198.18.0.31", nullptr, nullptr, nullptr, 0, nullptr, "").first, -2);
    EXPECT_GE(msSince(t), 1000);
    EXPECT_LT(msSince(t), 3000);

    // nothing differs and no alias: nothing is sent
    EXPECT_EQ(Zarfel_ConfigModule(1, kPeer, "255.255.255.0", "198.18.0.1", kMac, 0, nullptr), -9);
    EXPECT_FALSE(peer.receive(300));
}

TEST_F(ConfigTest, OtherDatagramsDuringTheWaitAreSkipped)
{
    const auto [result, request] =
        configure(1, "198.18.0.32", nullptr, nullptr, nullptr, 0, nullptr, "VELKORQZ510,81,OK\r",
                  reply("late", "", 0, "198.18.0.99", "00:0E:C6:00:00:99"));
    EXPECT_EQ(result, 0);
    // empty and over-long datagrams do not stop the wait or raise a message
    auto pending = std::async(std::launch::async, [] {
        return Zarfel_ConfigModule(1, "198.18.0.33", nullptr, nullptr, nullptr, 0, nullptr);
    });
    ASSERT_TRUE(peer.receive());
    answer("");
    answer(std::string(2100, 'x') + "VELKORQZ510,81,OK");
    answer("VELKORQZ510,81,NG\r");
    EXPECT_EQ(pending.get(), 1);
    EXPECT_TRUE(Messages::taken().empty());
}

TEST_F(ConfigTest, StaleAcknowledgementIsNotTakenForThisRequest)
{
    // An acknowledgement that arrived before the request was sent
    answer("VELKORQZ510,81,OK\r");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(configure(1, "198.18.0.34", nullptr, nullptr, nullptr, 0, nullptr, "").first, -2);
}

TEST_F(ConfigTest, RequestsThatCannotBeSentWholeAreRefused)
{
    const std::string longAlias(200, 'a');
    EXPECT_EQ(Zarfel_ConfigModule(1, nullptr, nullptr, nullptr, nullptr, 0, longAlias.c_str()), -1);
    EXPECT_EQ(Zarfel_ConfigModule(3, "198.18.0.35", nullptr, nullptr, nullptr, 0, "x"), -1)
        << "record 3 does not exist";
    EXPECT_FALSE(peer.receive(300)) << "nothing reached the wire";
}

TEST_F(ConfigTest, NumbersOfOneOrLessMeanTheFirstRecord)
{
    const auto [result, request] = configure(-4, nullptr, nullptr, nullptr, nullptr, 1, nullptr, "VELKORQZ510,81,OK\r");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(request, std::string("VELKORQZ510,01,TO=") + kMac + ",DHCP=1, \r");
}

TEST_F(ConfigTest, AcknowledgementIsSeenPromptly)
{
    auto pending = std::async(std::launch::async, [] {
        const auto t = Clock::now();
        const int32_t r = Zarfel_ConfigModule(1, "198.18.0.36", nullptr, nullptr, nullptr, 0, nullptr);
        return std::make_pair(r, t);
    });
    ASSERT_TRUE(peer.receive());
    const auto sentAck = Clock::now();
    answer("VELKORQZ510,81,OK\r");
    const auto [r, started] = pending.get();
    EXPECT_EQ(r, 0);
    EXPECT_LT(msSince(sentAck), 500) << "no fixed wait after the answer";
    (void)started;
}

namespace {
constexpr char kAck[] = "VELKORQZ510,81,OK\r";

// Three modules answering from their own loopback addresses: A and C share
// one, as modules fresh from the factory do.
class AckSourceTest : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        // Acknowledgements are told apart by their source address.
        a.sendTo(peer.port(), "probe");
        if (!peer.receive() || peer.lastSource() != 0x7f000014u)
            GTEST_SKIP() << "this system sends from 127.0.0.1 whatever loopback address a socket is bound to";
        init();
        search(1000);
        answer(reply("A", "", 0, "127.0.0.20", "00:0E:C6:00:00:0A"));
        answer(reply("B", "", 0, "127.0.0.21", "00:0E:C6:00:00:0B"));
        answer(reply("C", "", 0, "127.0.0.20", "00:0E:C6:00:00:0C"));
        ASSERT_TRUE(waitSearchEnd());
        ASSERT_EQ(Zarfel_GetCount(), 3);
    }
    // Configures `number` while `script` plays the modules' part.
    int32_t configure(int32_t number, const char *ip, const std::function<void()> &script = {})
    {
        while (peer.receive(20)) {
        } // requests of earlier calls
        auto result = std::async(std::launch::async,
                                 [=] { return Zarfel_ConfigModule(number, ip, nullptr, nullptr, nullptr, 0, nullptr); });
        if (script)
            script();
        return result.get();
    }
    void ackFrom(UdpPeer &module) { module.sendTo(replyPort, kAck); }

    UdpPeer a{"127.0.0.20"};
    UdpPeer b{"127.0.0.21"};
};
} // namespace

TEST_F(AckSourceTest, LateAcknowledgementIsNotCreditedToTheNextModule)
{
    // A answers 1.3 s after its request, B never does.
    const auto started = Clock::now();
    EXPECT_EQ(configure(1, "127.0.0.30"), -2);
    EXPECT_EQ(configure(2, "127.0.0.31", [&] {
                  std::this_thread::sleep_for(std::chrono::milliseconds(1300 - msSince(started)));
                  ackFrom(a);
              }),
              -2);
    // An acknowledgement from a module other than the target does not count;
    // the target's own, from its reported address, does.
    EXPECT_EQ(configure(2, "127.0.0.31", [&] {
                  ASSERT_TRUE(peer.receive(5000));
                  ackFrom(a);
                  std::this_thread::sleep_for(100ms);
                  ackFrom(b);
              }),
              0);
}

TEST_F(AckSourceTest, AForgedAcknowledgementIsIgnoredAndItsSourceNamed)
{
    UdpPeer forger("127.0.0.66");
    const auto started = Clock::now();
    EXPECT_EQ(configure(2, "127.0.0.31", [&] {
                  ASSERT_TRUE(peer.receive(5000));
                  ackFrom(forger);
                  ackFrom(a); // a module we know, but not this one
                  ackFrom(forger);
              }),
              -2);
    EXPECT_GE(msSince(started), 1000) << "the wait went on";
    char address[ZARFEL_ADDRESS_SIZE] = "x";
    EXPECT_EQ(Zarfel_GetIgnoredAcknowledgement(1, address), 2) << "each source once";
    EXPECT_STREQ(address, "127.0.0.66");
    Zarfel_GetIgnoredAcknowledgement(2, address);
    EXPECT_STREQ(address, "127.0.0.20");
    Zarfel_GetIgnoredAcknowledgement(3, address);
    EXPECT_STREQ(address, "");
    // The next configuration starts its own list.
    EXPECT_EQ(configure(2, "127.0.0.31", [&] {
                  ASSERT_TRUE(peer.receive(5000));
                  ackFrom(b);
              }),
              0);
    EXPECT_EQ(Zarfel_GetIgnoredAcknowledgement(0, nullptr), 0);
}

TEST_F(AckSourceTest, AnAcknowledgementThatCannotBeToldApartIsNoSuccess)
{
    EXPECT_EQ(configure(1, "127.0.0.30"), -2); // A stays silent
    // C answers from the address A may still answer from.
    EXPECT_EQ(configure(3, "127.0.0.32", [&] {
                  ASSERT_TRUE(peer.receive(5000)) << "C's request, after A's grace period";
                  ackFrom(a);
              }),
              -2);
    // From the address given to it, C is told apart.
    UdpPeer given("127.0.0.32");
    EXPECT_EQ(configure(3, "127.0.0.32", [&] {
                  ASSERT_TRUE(peer.receive(5000));
                  ackFrom(given);
              }),
              0);
}

TEST_F(ConfigTest, TextsThatWouldAddPiecesAreRefusedAndNothingIsSent)
{
    EXPECT_EQ(Zarfel_ConfigModule(1, nullptr, nullptr, nullptr, nullptr, 0, "x,DHCP=1"), -1);
    EXPECT_EQ(Zarfel_ConfigModule(1, "198.18.0.77 ,MAC=02:00:00:00:00:99", nullptr, nullptr, nullptr, 0, ""), -1);
    EXPECT_EQ(Zarfel_ConfigModule(1, nullptr, nullptr, "198.18.0.1\r", nullptr, 0, ""), -1);
    EXPECT_FALSE(peer.receive(300)) << "nothing reached the wire";
}

TEST_F(ConfigTest, ConfigurationDuringASearchEndsTheSearchFirst)
{
    search(20000);
    answer(reply("QZ", "pump", 0, kPeer, kMac));
    for (int i = 0; i < 500 && Zarfel_GetCount() < 1; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(Zarfel_GetState(), 1);
    const auto started = Clock::now();
    const auto [result, request] = configure(1, "198.18.0.37", nullptr, nullptr, nullptr, 0, nullptr, kAck);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Zarfel_GetState(), 0) << "the search has ended";
    EXPECT_LT(msSince(started), 5000);
}
