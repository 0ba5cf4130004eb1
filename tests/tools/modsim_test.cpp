// Tests of the module simulator, in-process on 127.0.0.1 and through its
// command-line program.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "modsim/simulator.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Generous waits: an answer normally takes well under a millisecond.
constexpr int kAnswerWaitMs = 2000;
// How long silence must last to count as "no answer".
constexpr int kQuietMs = 300;

const std::string kSearch = "VELKORQZ510,00\r";

// The host side: a socket receiving answers on 127.0.0.1 and sending requests.
class Host {
 public:
  Host() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    EXPECT_GE(fd_, 0);
    int size = 16 << 20;  // bursts must not overflow it
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Host() { ::close(fd_); }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  std::uint16_t port() const { return port_; }

  void send(std::uint16_t to_port, const std::string& text) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(to_port);
    ASSERT_EQ(::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
              static_cast<ssize_t>(text.size()));
  }

  std::optional<std::string> receive(int timeout_ms = kAnswerWaitMs) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
    std::string buf(65536, '\0');
    ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
    if (n < 0) return std::nullopt;
    buf.resize(static_cast<std::size_t>(n));
    return buf;
  }

  // Receives until `count` datagrams arrived (then waits kQuietMs more for
  // extras) or nothing came for kAnswerWaitMs.
  std::vector<std::string> receive_n(std::size_t count) const {
    std::vector<std::string> out;
    while (out.size() < count) {
      auto d = receive();
      if (!d) return out;
      out.push_back(*d);
    }
    while (auto d = receive(kQuietMs)) out.push_back(*d);
    return out;
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

modsim::ModuleSpec desc(const std::string& text, std::size_t index = 1) {
  modsim::ModuleSpec m;
  std::string error;
  EXPECT_TRUE(modsim::parse_module_spec(text, index, m, error)) << text << ": " << error;
  return m;
}

// One simulator on 127.0.0.1, answering to the host's port, on its own thread.
struct Rig {
  Host host;
  modsim::ModuleSimulator sim;

  explicit Rig(std::vector<std::string> specs, std::string log = {}, std::string state = {})
      : sim(options(specs, host.port(), std::move(log), std::move(state))) {
    std::string error;
    EXPECT_TRUE(sim.start(&error)) << error;
  }
  static modsim::SimulatorOptions options(const std::vector<std::string>& specs,
                                          std::uint16_t reply_port, std::string log,
                                          std::string state) {
    modsim::SimulatorOptions o;
    for (std::size_t i = 0; i < specs.size(); ++i) o.modules.push_back(desc(specs[i], i + 1));
    o.bind_address = "127.0.0.1";
    o.port = 0;
    o.reply_to = "127.0.0.1";
    o.reply_port = reply_port;
    o.log_path = std::move(log);
    o.state_path = std::move(state);
    return o;
  }
  void send(const std::string& text) { host.send(sim.port(), text); }
};

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A fresh directory per test; parallel test processes must not collide.
fs::path temp_dir() {
  auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  fs::path dir = fs::temp_directory_path() /
                 ("modsim_test_" + std::to_string(::getpid()) + "_" + info->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

const std::string kReplyA =
    "VELKORQZ510,80,NAME=QZ510-A,ALIAS=line1,DHCP=0,IP=198.18.0.21,MASK=255.255.255.0,"
    "GATEWAY=198.18.0.1,MAC=00:0E:C6:00:00:21\r";
const std::string kSpecA =
    "name=QZ510-A,alias=line1,dhcp=0,ip=198.18.0.21,mask=255.255.255.0,gw=198.18.0.1,"
    "mac=00:0E:C6:00:00:21";

// ---------------------------------------------------------------------------
// Texts and options

TEST(ModsimSpec, DefaultsDependOnIndex) {
  auto m1 = modsim::default_module(1);
  EXPECT_EQ(m1.name, "QZ510");
  EXPECT_EQ(m1.alias, "");
  EXPECT_EQ(m1.dhcp, 0);
  EXPECT_EQ(m1.ip, "198.18.0.101");
  EXPECT_EQ(m1.mask, "255.255.255.0");
  EXPECT_EQ(m1.gateway, "198.18.0.1");
  EXPECT_EQ(m1.mac, "00:0E:C6:00:00:01");
  EXPECT_EQ(modsim::default_module(300).mac, "00:0E:C6:00:01:2C");
  EXPECT_EQ(modsim::default_module(300).ip, "198.18.1.144");
}

TEST(ModsimSpec, ParsesAndFormatsRoundTrip) {
  auto m = desc("name=N1, alias=al,dhcp=2,ip=10.1.2.3,mask=255.0.0.0,gw=10.0.0.1,"
                "mac=aa:bb:cc:dd:ee:ff,behave=late:250+twice+burst:7",
                4);
  EXPECT_EQ(m.name, "N1");
  EXPECT_EQ(m.alias, "al");
  EXPECT_EQ(m.dhcp, 2);
  EXPECT_EQ(m.ip, "10.1.2.3");
  EXPECT_EQ(m.mask, "255.0.0.0");
  EXPECT_EQ(m.gateway, "10.0.0.1");
  EXPECT_EQ(m.mac, "aa:bb:cc:dd:ee:ff");
  EXPECT_EQ(m.behave.late_ms, 250u);
  EXPECT_TRUE(m.behave.twice);
  EXPECT_EQ(m.behave.burst, 7u);
  EXPECT_EQ(modsim::format_behaviour(m.behave), "late:250+twice+burst:7");
  EXPECT_EQ(desc(modsim::format_module_spec(m), 9), m);
  EXPECT_EQ(modsim::format_behaviour({}), "ok");
}

TEST(ModsimSpec, RejectsBadValues) {
  modsim::ModuleSpec m;
  std::string error;
  for (const char* bad : {"ip=1.2.3", "mask=x", "mac=00:11:22:33:44", "mac=zz:11:22:33:44:55",
                          "dhcp=one", "color=red", "behave=sometimes", "behave=late:",
                          "behave=burst:0", "behave=burst:100001", "behave=twice:2", "name"}) {
    EXPECT_FALSE(modsim::parse_module_spec(bad, 1, m, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(ModsimSpec, ModuleFileSkipsCommentsAndBlankLines) {
  auto dir = temp_dir();
  std::ofstream(dir / "mods") << "# test modules\n\nname=A\n  \nname=B,behave=refuse # no\n";
  std::vector<modsim::ModuleSpec> mods;
  std::size_t next = 3;
  std::string error;
  ASSERT_TRUE(modsim::load_module_file((dir / "mods").string(), next, mods, error)) << error;
  ASSERT_EQ(mods.size(), 2u);
  EXPECT_EQ(next, 5u);
  EXPECT_EQ(mods[0].name, "A");
  EXPECT_EQ(mods[0].mac, "00:0E:C6:00:00:03");
  EXPECT_TRUE(mods[1].behave.refuse);
  fs::remove_all(dir);
}

TEST(ModsimSpec, DerivedBurstModules) {
  EXPECT_EQ(modsim::derived_mac("00:0E:C6:00:00:FF", 1), "00:0E:C6:00:01:00");
  EXPECT_EQ(modsim::derived_mac("00:0E:C6:FF:FF:FF", 2), "00:0E:C6:00:00:01");
  EXPECT_EQ(modsim::derived_mac("00-0e-c6-00-00-01", 0), "00-0e-c6-00-00-01");
  EXPECT_EQ(modsim::derived_name("QZ510", 0), "QZ510");
  EXPECT_EQ(modsim::derived_name("QZ510", 99999), "QZ510-99999");
  EXPECT_EQ(modsim::derived_name("ABCDEFGHIJKLMN", 12), "ABCDEFGHIJK-12");
}

TEST(ModsimSpec, EscapesDatagrams) {
  EXPECT_EQ(modsim::escape_datagram(std::string("A,b \\\r\n\x01\xFF", 9)),
            "A,b \\x5C\\x0D\\x0A\\x01\\xFF");
}

// ---------------------------------------------------------------------------
// Search

TEST(ModsimSearch, ReplyHasTheProtocolFormat) {
  Rig rig({kSpecA});
  rig.send(kSearch);
  auto replies = rig.host.receive_n(1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], kReplyA);
}

TEST(ModsimSearch, AnyDatagramStartingWithTheSearchHeadIsASearch) {
  Rig rig({kSpecA});
  rig.send("VELKORQZ510,00");
  rig.send("VELKORQZ510,00 and more\r\n");
  EXPECT_EQ(rig.host.receive_n(2).size(), 2u);
}

TEST(ModsimSearch, OtherDatagramsAreIgnored) {
  Rig rig({kSpecA});
  rig.send("VELKORQZ510,0");
  rig.send("velkorqz510,00\r");
  rig.send("");
  rig.send("VELKORQZ510,80,NAME=X\r");
  EXPECT_FALSE(rig.host.receive(kQuietMs));
  EXPECT_EQ(rig.sim.stats().received, 4u);
}

TEST(ModsimSearch, EveryModuleAnswersOnceInOrder) {
  Rig rig({"name=M1", "name=M2", "name=M3"});
  rig.send(kSearch);
  auto replies = rig.host.receive_n(3);
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_NE(replies[0].find("NAME=M1,"), std::string::npos);
  EXPECT_NE(replies[1].find("NAME=M2,"), std::string::npos);
  EXPECT_NE(replies[2].find("NAME=M3,"), std::string::npos);
  EXPECT_NE(replies[2].find("MAC=00:0E:C6:00:00:03\r"), std::string::npos);
}

TEST(ModsimSearch, TwiceSendsEveryReplyTwice) {
  Rig rig({"name=T,behave=twice", "name=U"});
  rig.send(kSearch);
  auto replies = rig.host.receive_n(3);
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0], replies[1]);
  EXPECT_NE(replies[0].find("NAME=T,"), std::string::npos);
  EXPECT_NE(replies[2].find("NAME=U,"), std::string::npos);
}

TEST(ModsimSearch, MuteAnswersNothing) {
  Rig rig({"name=M,behave=mute", "name=N,behave=mute"});
  rig.send(kSearch);
  rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:01,IP=198.18.0.9\r");
  EXPECT_FALSE(rig.host.receive(kQuietMs));
  EXPECT_EQ(rig.sim.modules()[0].ip, "198.18.0.101");
}

TEST(ModsimSearch, VanishAcknowledgesOnceThenAnswersNothing) {
  Rig rig({"name=V,behave=vanish"});
  rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:01,IP=198.18.0.9\r");
  auto ack = rig.host.receive();
  ASSERT_TRUE(ack);
  EXPECT_EQ(*ack, modsim::kAckOk);
  EXPECT_EQ(rig.sim.modules()[0].ip, "198.18.0.9");
  rig.send(kSearch);
  rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:01,IP=198.18.0.8\r");
  EXPECT_FALSE(rig.host.receive(kQuietMs));
  EXPECT_EQ(rig.sim.modules()[0].ip, "198.18.0.9");
}

TEST(ModsimSearch, LateDelaysOnlyItsOwnReply) {
  Rig rig({"name=SLOW,behave=late:500", "name=FAST"});
  auto sent = Clock::now();
  rig.send(kSearch);
  auto first = rig.host.receive();
  ASSERT_TRUE(first);
  EXPECT_NE(first->find("NAME=FAST,"), std::string::npos);
  EXPECT_LT(Clock::now() - sent, 400ms);
  auto second = rig.host.receive();
  ASSERT_TRUE(second);
  EXPECT_NE(second->find("NAME=SLOW,"), std::string::npos);
  EXPECT_GE(Clock::now() - sent, 500ms);
}

TEST(ModsimConfig, AckLateDelaysOnlyTheAcknowledgementAndDeafIgnoresRequests) {
  Rig rig({"name=SLOW,behave=acklate:500", "name=DEAF,behave=deaf"});
  EXPECT_EQ(modsim::format_behaviour(rig.sim.modules()[0].behave), "acklate:500");
  auto sent = Clock::now();
  rig.send(kSearch);
  ASSERT_EQ(rig.host.receive_n(2).size(), 2u);
  EXPECT_LT(Clock::now() - sent, 400ms);
  sent = Clock::now();
  rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:01,IP=198.18.0.8\r");
  rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:02,IP=198.18.0.7\r");
  // Applied at once, acknowledged late; the deaf one neither.
  auto ack = rig.host.receive();
  ASSERT_TRUE(ack);
  EXPECT_GE(Clock::now() - sent, 500ms);
  EXPECT_EQ(rig.sim.modules()[0].ip, "198.18.0.8");
  EXPECT_FALSE(rig.host.receive(kQuietMs));
  EXPECT_NE(rig.sim.modules()[1].ip, "198.18.0.7");
}

TEST(ModsimSearch, JunkComesBeforeEachReply) {
  Rig rig({"name=J,behave=garbage+empty+oversize"});
  rig.send(kSearch);
  auto got = rig.host.receive_n(4);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].find("VELKORQZ510"), std::string::npos);
  EXPECT_NE(got[0].find("NAME="), std::string::npos);
  EXPECT_TRUE(got[1].empty());
  EXPECT_EQ(got[2].size(), 3000u);
  EXPECT_EQ(got[2].rfind("VELKORQZ510,80,", 0), 0u);
  EXPECT_NE(got[3].find("NAME=J,"), std::string::npos);
}

TEST(ModsimSearch, BurstAnswersWithDistinctModules) {
  constexpr std::size_t kCount = 3000;
  Rig rig({"name=B,mac=00:0E:C6:10:00:00,behave=burst:3000", "name=AFTER"});
  rig.send(kSearch);
  auto replies = rig.host.receive_n(kCount + 1);
  ASSERT_EQ(replies.size(), kCount + 1);
  std::set<std::string> macs, names;
  for (std::size_t k = 0; k < kCount; ++k) {
    const auto& r = replies[k];
    ASSERT_EQ(r.rfind("VELKORQZ510,80,NAME=", 0), 0u) << r;
    auto mac = r.find("MAC=");
    ASSERT_NE(mac, std::string::npos);
    macs.insert(r.substr(mac + 4, 17));
    names.insert(r.substr(20, r.find(',', 20) - 20));
  }
  EXPECT_EQ(macs.size(), kCount);
  EXPECT_EQ(names.size(), kCount);
  EXPECT_TRUE(macs.count("00:0E:C6:10:00:00"));
  EXPECT_TRUE(macs.count("00:0E:C6:10:0B:B7"));  // + 2999
  EXPECT_TRUE(names.count("B-2999"));
  EXPECT_NE(replies[kCount].find("NAME=AFTER,"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Configuration

TEST(ModsimConfig, AppliesAndAcknowledgesOk) {
  Rig rig({kSpecA, "name=OTHER"});
  rig.send("VELKORQZ510,01,TO=00:0e:c6:00:00:21,ALIAS=press2,IP=198.18.0.55,MASK=255.255.0.0,"
           "GATEWAY=198.18.0.254,DHCP=1, \r");
  auto ack = rig.host.receive_n(1);
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(ack[0], "VELKORQZ510,81,OK\r");
  auto mods = rig.sim.modules();
  EXPECT_EQ(mods[0].alias, "press2");
  EXPECT_EQ(mods[0].ip, "198.18.0.55");
  EXPECT_EQ(mods[0].mask, "255.255.0.0");
  EXPECT_EQ(mods[0].gateway, "198.18.0.254");
  EXPECT_EQ(mods[0].dhcp, 1);
  EXPECT_EQ(mods[0].name, "QZ510-A");
  EXPECT_EQ(mods[1], desc("name=OTHER", 2));

  rig.send(kSearch);
  auto replies = rig.host.receive_n(2);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0],
            "VELKORQZ510,80,NAME=QZ510-A,ALIAS=press2,DHCP=1,IP=198.18.0.55,MASK=255.255.0.0,"
            "GATEWAY=198.18.0.254,MAC=00:0E:C6:00:00:21\r");
}

TEST(ModsimConfig, PiecesInAnyOrderAndUnknownKeysIgnored) {
  Rig rig({kSpecA});
  rig.send("VELKORQZ510,01,COLOR=blue,IP=198.18.0.77,TO=00:0E:C6:00:00:21,ALIAS=,"
           "MAC=00:0E:C6:00:00:99\r");
  auto ack = rig.host.receive_n(1);
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(ack[0], "VELKORQZ510,81,OK\r");
  auto m = rig.sim.modules()[0];
  EXPECT_EQ(m.ip, "198.18.0.77");
  EXPECT_EQ(m.alias, "");
  EXPECT_EQ(m.mac, "00:0E:C6:00:00:99");
  // The new MAC is the module's identity from now on.
  rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:21,IP=198.18.0.78\r");
  EXPECT_FALSE(rig.host.receive(kQuietMs));
  rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:99,IP=198.18.0.78\r");
  ASSERT_TRUE(rig.host.receive());
  EXPECT_EQ(rig.sim.modules()[0].ip, "198.18.0.78");
}

TEST(ModsimConfig, WrongMacIsIgnored) {
  Rig rig({kSpecA});
  rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:22,IP=198.18.0.55\r");
  EXPECT_FALSE(rig.host.receive(kQuietMs));
  EXPECT_EQ(rig.sim.modules()[0], desc(kSpecA));
  EXPECT_EQ(rig.sim.stats().configs, 1u);
  EXPECT_EQ(rig.sim.stats().applied, 0u);
}

TEST(ModsimConfig, RefuseAcknowledgesWithoutOk) {
  Rig rig({kSpecA + ",behave=refuse"});
  rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:21,IP=198.18.0.55\r");
  auto ack = rig.host.receive_n(1);
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_NE(ack[0].find("VELKORQZ510,81"), std::string::npos);
  EXPECT_EQ(ack[0].find("OK"), std::string::npos);
  EXPECT_EQ(rig.sim.modules()[0].ip, "198.18.0.21");
}

TEST(ModsimConfig, ValuesAModuleCannotStoreAreRefused) {
  Rig rig({kSpecA});
  for (const char* bad : {"IP=198.18.0", "MASK=none", "MAC=00:0E:C6", "DHCP=x, "}) {
    rig.send(std::string("VELKORQZ510,01,TO=00:0E:C6:00:00:21,") + bad + "\r");
    auto ack = rig.host.receive();
    ASSERT_TRUE(ack) << bad;
    EXPECT_EQ(*ack, "VELKORQZ510,81,NG\r") << bad;
  }
  EXPECT_EQ(rig.sim.modules()[0], desc(kSpecA));
}

TEST(ModsimConfig, SilentAnswersSearchesButNeverAcknowledges) {
  Rig rig({kSpecA + ",behave=silent"});
  rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:21,IP=198.18.0.56\r");
  EXPECT_FALSE(rig.host.receive(kQuietMs));
  EXPECT_EQ(rig.sim.modules()[0].ip, "198.18.0.56");
  rig.send(kSearch);
  auto replies = rig.host.receive_n(1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_NE(replies[0].find("IP=198.18.0.56,"), std::string::npos);
}

TEST(ModsimConfig, TwiceAcknowledgesTwice) {
  Rig rig({kSpecA + ",behave=twice"});
  rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:21,DHCP=1, \r");
  auto acks = rig.host.receive_n(2);
  ASSERT_EQ(acks.size(), 2u);
  EXPECT_EQ(acks[0], "VELKORQZ510,81,OK\r");
  EXPECT_EQ(acks[1], "VELKORQZ510,81,OK\r");
}

TEST(ModsimConfig, StateFileFollowsEveryChange) {
  auto dir = temp_dir();
  auto state = dir / "sim.state";
  {
    Rig rig({kSpecA, "name=B,behave=late:10"}, {}, state.string());
    EXPECT_EQ(read_file(state), kSpecA + ",behave=ok\n" +
                                    modsim::format_module_spec(desc("name=B,behave=late:10", 2)) +
                                    "\n");
    rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:21,ALIAS=x,IP=198.18.0.60\r");
    ASSERT_TRUE(rig.host.receive());
    std::vector<modsim::ModuleSpec> back;
    std::size_t next = 1;
    std::string error;
    ASSERT_TRUE(modsim::load_module_file(state.string(), next, back, error)) << error;
    EXPECT_EQ(back, rig.sim.modules());
    EXPECT_EQ(back[0].alias, "x");
    EXPECT_EQ(back[0].ip, "198.18.0.60");
  }
  // Only the state file remains: temporary files were renamed over it.
  std::size_t files = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 1u);
  fs::remove_all(dir);
}

TEST(ModsimConfig, LogShowsEveryDatagramEscaped) {
  auto dir = temp_dir();
  auto log = dir / "sim.log";
  std::string host_peer;
  {
    Rig rig({kSpecA}, log.string());
    host_peer = "127.0.0.1:" + std::to_string(rig.host.port());
    rig.send(kSearch);
    ASSERT_TRUE(rig.host.receive());
    rig.send("VELKORQZ510,01,TO=00:0E:C6:00:00:21,DHCP=1, \r");
    ASSERT_TRUE(rig.host.receive());
  }
  std::istringstream in(read_file(log));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u) << read_file(log);
  auto tail = [](const std::string& line) {  // without the time stamp
    return line.substr(line.find(' ') + 1);
  };
  EXPECT_EQ(tail(lines[0]).rfind("RX 127.0.0.1:", 0), 0u);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 22), " 15 VELKORQZ510,00\\x0D");
  EXPECT_EQ(tail(lines[1]), "TX " + host_peer + " " + std::to_string(kReplyA.size()) + " " +
                                modsim::escape_datagram(kReplyA));
  EXPECT_NE(lines[2].find(" VELKORQZ510,01,TO=00:0E:C6:00:00:21,DHCP=1, \\x0D"),
            std::string::npos);
  EXPECT_NE(lines[3].find(" TX 127.0.0.1:"), std::string::npos);
  EXPECT_NE(lines[3].find(" 18 VELKORQZ510,81,OK\\x0D"), std::string::npos);
  fs::remove_all(dir);
}

// ---------------------------------------------------------------------------
// Step-by-step use and the command-line program

TEST(ModsimStep, CallerDrivesTheSimulator) {
  Host host;
  modsim::SimulatorOptions o = Rig::options({"name=S,behave=late:50"}, host.port(), {}, {});
  modsim::ModuleSimulator sim(o);
  std::string error;
  ASSERT_TRUE(sim.bind(&error)) << error;
  ASSERT_NE(sim.port(), 0);
  host.send(sim.port(), kSearch);
  EXPECT_EQ(sim.step(kAnswerWaitMs), 1);
  EXPECT_FALSE(host.receive(0));  // still due
  // Due answers go out from step() even when no request comes.
  auto until = Clock::now() + 2s;
  while (Clock::now() < until) {
    EXPECT_EQ(sim.step(100), 0);
    if (auto d = host.receive(10)) {
      EXPECT_NE(d->find("NAME=S,"), std::string::npos);
      return;
    }
  }
  FAIL() << "delayed reply never sent";
}

TEST(ModsimStep, BindFailureIsReported) {
  Host host;
  modsim::SimulatorOptions o;
  o.bind_address = "127.0.0.1";
  o.port = host.port();  // taken (the host socket does not share)
  modsim::ModuleSimulator sim(o);
  std::string error;
  EXPECT_FALSE(sim.bind(&error));
  EXPECT_NE(error.find("bind"), std::string::npos);
}

struct Child {
  pid_t pid = -1;
  int out = -1;
};

Child spawn(const std::vector<std::string>& args) {
  int pipefd[2];
  EXPECT_EQ(::pipe2(pipefd, O_CLOEXEC), 0);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(MODSIM_PATH));
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipefd[1], 1);
    ::execv(MODSIM_PATH, argv.data());
    ::_exit(127);
  }
  ::close(pipefd[1]);
  return {pid, pipefd[0]};
}

std::string read_line(int fd, int timeout_ms) {
  std::string line;
  auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char c;
    if (::read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line.push_back(c);
  }
  return line;
}

std::string read_all(int fd, int timeout_ms) {
  std::string text;
  auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

int wait_exit(pid_t pid, int timeout_ms) {
  auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  while (Clock::now() < until) {
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(10ms);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

TEST(ModsimCli, AnswersAfterReadyAndStopsOnSigterm) {
  Host host;
  Child c = spawn({"--bind", "127.0.0.1", "--port", "0", "--reply-to", "127.0.0.1",
                   "--reply-port=" + std::to_string(host.port()), "--module", kSpecA,
                   "--module", "name=Z,behave=refuse", "--duration", "60"});
  std::string ready = read_line(c.out, 5000);
  ASSERT_EQ(ready.rfind("READY ", 0), 0u) << ready;
  int port = std::atoi(ready.c_str() + 6);
  ASSERT_GT(port, 0);
  host.send(static_cast<std::uint16_t>(port), kSearch);
  auto replies = host.receive_n(2);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0], kReplyA);
  host.send(static_cast<std::uint16_t>(port), "VELKORQZ510,01,TO=00:0E:C6:00:00:02,ALIAS=z\r");
  auto ack = host.receive();
  ASSERT_TRUE(ack);
  EXPECT_EQ(*ack, "VELKORQZ510,81,NG\r");
  ::kill(c.pid, SIGTERM);
  EXPECT_EQ(wait_exit(c.pid, 5000), 0);
  ::close(c.out);
}

TEST(ModsimCli, DurationEndsTheRun) {
  Child c = spawn({"--bind", "127.0.0.1", "--port", "0", "--reply-to", "127.0.0.1",
                   "--duration", "0.3"});
  EXPECT_EQ(read_line(c.out, 5000).rfind("READY ", 0), 0u);
  EXPECT_EQ(wait_exit(c.pid, 5000), 0);
  ::close(c.out);
}

TEST(ModsimCli, BadOptionsExitWithTwo) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--bogus"}, {"--module", "mac=nope"}, {"--port", "70000"},
        {"--duration", "-1"}, {"--modules", "/nonexistent/file"}}) {
    Child c = spawn(args);
    EXPECT_EQ(wait_exit(c.pid, 5000), 2) << args[0];
    ::close(c.out);
  }
  Child h = spawn({"--help"});
  std::string text = read_all(h.out, 5000);
  EXPECT_EQ(text.rfind("Usage: modsim", 0), 0u);
  for (const char* opt : {"--module", "--modules", "--bind", "--port", "--reply-to", "--reply-port",
                          "--log", "--state", "--duration", "burst:N", "late:MS"})
    EXPECT_NE(text.find(opt), std::string::npos) << opt;
  EXPECT_EQ(wait_exit(h.pid, 5000), 0);
  ::close(h.out);
}

}  // namespace
