// End to end on the test LAN: the library in the host namespace broadcasts a
// search that simulated modules in other namespaces answer, and configures
// one outside the host's subnet by its MAC. Runs under with-testlan.sh.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "zarfel.h"

namespace {

struct Found {
    int number;
    std::string ip, mac;
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
        byName[name] = Found{n, ip, mac};
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

} // namespace

TEST(TestLan, BroadcastSearchAndConfigurationByMac)
{
    const char *dir = std::getenv("TESTLAN_DIR");
    if (!dir)
        GTEST_SKIP() << "runs on the test LAN (scripts/with-testlan.sh)";
    ASSERT_EQ(Zarfel_Init(54321), 0);

    auto modules = searchAll();
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
