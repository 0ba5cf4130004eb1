// End to end on the test LAN: the library in the host namespace broadcasts a
// search that simulated modules in other namespaces answer, and configures
// one outside the host's subnet by its MAC; on a host with several adapters
// the search reaches every segment and a configuration leaves by the adapter
// its module was heard on. Runs under with-testlan.sh.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "zarfel.h"

namespace {

struct Found {
    int number;
    std::string ip, mac, adapter;
};

std::map<std::string, Found> searchAll()
{
    Zarfel_SetOptions(1500, 0);
    EXPECT_EQ(Zarfel_BroadcastStart("255.255.255.255", 57188, nullptr), 15);
    for (int i = 0; i < 1000 && Zarfel_GetState(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Zarfel_GetState(), 0);
    std::map<std::string, Found> byName;
    for (int n = 1; n <= Zarfel_GetCount(); ++n) {
        char name[16], alias[12], ip[20], mask[20], gw[20], mac[20];
        int32_t dhcp = 0;
        EXPECT_EQ(Zarfel_GetModuleInfo(n, name, alias, ip, mask, gw, mac, &dhcp), 0);
        char adapter[ZARFEL_ADDRESS_SIZE] = "?";
        EXPECT_EQ(Zarfel_GetModuleAdapter(n, adapter), 0);
        byName[name] = Found{n, ip, mac, adapter};
    }
    return byName;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Datagrams each interface of this namespace has sent so far.
std::map<std::string, long> sentPerInterface()
{
    std::map<std::string, long> sent;
    for (const auto &entry : std::filesystem::directory_iterator("/sys/class/net")) {
        const std::string name = entry.path().filename().string();
        if (name != "lo")
            sent[name] = std::stol("0" + slurp(entry.path().string() + "/statistics/tx_packets"));
    }
    return sent;
}

std::map<std::string, long> sentDuring(const std::map<std::string, long> &before)
{
    std::map<std::string, long> delta;
    for (const auto &[name, count] : sentPerInterface())
        delta[name] = count - (before.count(name) ? before.at(name) : 0);
    return delta;
}

// Search requests a simulator's log shows it received, byte for byte.
int searchRequestsIn(const std::string &log)
{
    std::istringstream lines(log);
    int n = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.find(" RX ") != std::string::npos && line.find(" 15 VELKORQZ510,00") != std::string::npos)
            ++n;
    return n;
}

} // namespace

TEST(TestLan, BroadcastSearchAndConfigurationByMac)
{
    const char *dir = std::getenv("TESTLAN_DIR");
    if (!dir)
        GTEST_SKIP() << "runs on the test LAN (scripts/with-testlan.sh)";
    ASSERT_EQ(Zarfel_Init(54321), 0);

    // One adapter: one request on the wire, as it always was.
    const auto before = sentPerInterface();
    auto modules = searchAll();
    for (const auto &[name, count] : sentDuring(before))
        EXPECT_EQ(count, 1) << name;
    EXPECT_EQ(searchRequestsIn(slurp(std::string(dir) + "/m1.log")), 1);
    ASSERT_EQ(modules.size(), 3u);
    ASSERT_TRUE(modules.count("IN-1") && modules.count("IN-2") && modules.count("OUT"));
    const Found out = modules["OUT"];
    EXPECT_EQ(out.ip, "198.19.5.20");

    // The module is outside 198.18.0.0/24: only the broadcast by MAC reaches it.
    EXPECT_EQ(Zarfel_ConfigModule(out.number, "198.19.5.30", "255.255.255.0", "198.19.5.1", out.mac.c_str(), 0,
                                  "moved"),
              0);
    EXPECT_NE(slurp(std::string(dir) + "/m2.state").find("ip=198.19.5.30"), std::string::npos);

    modules = searchAll();
    ASSERT_EQ(modules.size(), 3u);
    EXPECT_EQ(modules["OUT"].ip, "198.19.5.30");
    EXPECT_EQ(modules["IN-1"].ip, "198.18.0.101") << "the others are untouched";
    Zarfel_Close();
}

// The host has an adapter with nothing behind it first in kernel order, the
// default-route adapter on 198.18.0.0/24 and a second one on 198.19.7.0/24.
TEST(TestLanAdapters, SearchesEverySegmentAndConfiguresThroughTheRightOne)
{
    const char *dir = std::getenv("TESTLAN_DIR");
    if (!dir)
        GTEST_SKIP() << "runs on the test LAN (scripts/with-testlan.sh)";
    ASSERT_EQ(Zarfel_Init(54321), 0);

    const auto before = sentPerInterface();
    auto modules = searchAll();
    const auto sent = sentDuring(before);
    EXPECT_EQ(sent.size(), 3u);
    for (const auto &[name, count] : sent)
        EXPECT_EQ(count, 1) << "one request out of " << name;
    ASSERT_EQ(modules.size(), 4u);
    EXPECT_EQ(modules["A-1"].adapter, "198.18.0.10");
    EXPECT_EQ(modules["A-2"].adapter, "198.18.0.10");
    EXPECT_EQ(modules["B-1"].adapter, "198.19.7.10");
    EXPECT_EQ(modules["B-2"].adapter, "198.19.7.10");
    char none[ZARFEL_ADDRESS_SIZE] = "untouched";
    EXPECT_EQ(Zarfel_GetModuleAdapter(5, none), -1);
    EXPECT_STREQ(none, "untouched");

    // B-2 is on the segment without the default route.
    const Found b2 = modules["B-2"];
    EXPECT_EQ(Zarfel_ConfigModule(b2.number, "198.19.7.150", "255.255.255.0", "198.19.7.1", b2.mac.c_str(), 0,
                                  "moved"),
              0);
    EXPECT_NE(slurp(std::string(dir) + "/m2.state").find("ip=198.19.7.150"), std::string::npos);
    EXPECT_EQ(slurp(std::string(dir) + "/m1.log").find("VELKORQZ510,01"), std::string::npos)
        << "the other segment saw no configuration request";

    modules = searchAll();
    ASSERT_EQ(modules.size(), 4u);
    EXPECT_EQ(modules["B-2"].ip, "198.19.7.150");
    EXPECT_EQ(modules["B-1"].ip, "198.19.7.101");
    Zarfel_Close();
}
