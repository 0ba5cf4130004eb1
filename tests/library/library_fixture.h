// Common ground of the export tests: a message recorder in place of message
// boxes, a library initialised on a free reply port, and a scripted peer.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "udp_peer.h"
#include "zarfel.h"

namespace testing_support {

class Messages {
public:
    static void ZARFEL_CALL record(const char *text)
    {
        std::lock_guard lock(mutex());
        list().emplace_back(text);
    }
    static std::vector<std::string> taken()
    {
        std::lock_guard lock(mutex());
        std::vector<std::string> out;
        out.swap(list());
        return out;
    }

private:
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string> &list()
    {
        static std::vector<std::string> l;
        return l;
    }
};

using Clock = std::chrono::steady_clock;

inline long long msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Waits until the library's search has ended; false after limitMs.
inline bool waitSearchEnd(long long limitMs = 10000)
{
    const auto t = Clock::now();
    while (Zarfel_GetState() != 0) {
        if (msSince(t) > limitMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Zarfel_SetMessageHandler(&Messages::record);
        Messages::taken();
    }
    void TearDown() override
    {
        Zarfel_Close();
        Zarfel_SetMessageHandler(nullptr);
    }
    void init()
    {
        replyPort = freeUdpPort();
        ASSERT_EQ(Zarfel_Init(replyPort), 0);
    }
    // Starts a search aimed at the peer, and takes the request off the wire.
    void search(uint32_t timeoutMs = 1000, int32_t wished = 0)
    {
        Zarfel_SetOptions(timeoutMs, wished);
        ASSERT_EQ(Zarfel_BroadcastStart("127.0.0.1", peer.port(), nullptr), 15);
        const auto request = peer.receive();
        ASSERT_TRUE(request);
        ASSERT_EQ(*request, "VELKORQZ510,00\r");
    }
    void answer(const std::string &datagram) { peer.sendTo(replyPort, datagram); }

    uint16_t replyPort = 0;
    UdpPeer peer;
};

} // namespace testing_support
