// Figures of the receive side: CPU of an idle search, bursts of replies
// accepted whole or not, and how soon an acknowledgement is seen.
// Sends to 127.0.0.1 only.
#include <sys/resource.h>
#include <sys/select.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "modsim_process.h"
#include "net.h"
#include "state.h"
#include "udp_peer.h"
#include "zarfel.h"

using namespace std::chrono;
using testing_support::UdpPeer;

namespace {

void quiet(const char *) {}

double cpuMs(int who)
{
    rusage u{};
    getrusage(who, &u);
    const long long us = (static_cast<long long>(u.ru_utime.tv_sec) + u.ru_stime.tv_sec) * 1000000LL +
                         u.ru_utime.tv_usec + u.ru_stime.tv_usec;
    return static_cast<double>(us) / 1000.0;
}

void waitEnd()
{
    while (Zarfel_GetState())
        std::this_thread::sleep_for(milliseconds(1));
}

uint16_t initLibrary(int receiveBuffer)
{
    zarfel::setReceiveBufferRequest(receiveBuffer);
    const uint16_t port = testing_support::freeUdpPort();
    if (Zarfel_Init(port) != 0) {
        std::fprintf(stderr, "Zarfel_Init failed\n");
        std::exit(1);
    }
    return port;
}

void idleSearch()
{
    const int defaultRequest = zarfel::receiveBufferRequest();
    initLibrary(defaultRequest);
    UdpPeer silent;
    Zarfel_SetOptions(2000, 0);
    const double before = cpuMs(RUSAGE_SELF);
    const auto t = steady_clock::now();
    Zarfel_BroadcastStart("127.0.0.1", silent.port(), nullptr);
    // the way the program follows a search: a look every 100 ms
    while (Zarfel_GetState())
        std::this_thread::sleep_for(milliseconds(100));
    const double cpu = cpuMs(RUSAGE_SELF) - before;
    const auto took = duration_cast<milliseconds>(steady_clock::now() - t).count();
    Zarfel_Close();
    std::printf("idle search: %lld ms long, %.2f ms CPU (target < 5 ms)\n", static_cast<long long>(took), cpu);

    // For comparison: waiting 1 ms for data, then 1 ms for a stop, in turn.
    UdpPeer socketToWatch;
    std::atomic<double> loopCpu{0};
    std::thread reference([&] {
        const double b = cpuMs(RUSAGE_THREAD);
        const auto start = steady_clock::now();
        while (steady_clock::now() - start < milliseconds(2000)) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(socketToWatch.fd(), &set);
            timeval wait{0, 1000};
            select(socketToWatch.fd() + 1, &set, nullptr, nullptr, &wait);
            std::this_thread::sleep_for(milliseconds(1));
        }
        loopCpu = cpuMs(RUSAGE_THREAD) - b;
    });
    reference.join();
    std::printf("  for comparison, a 1 ms polling loop over 2 s: %.2f ms CPU\n", loopCpu.load());
}

// A burst of replies "at once" from the module simulator, a process of its
// own as a module is: accepted whole or not, and how long the search took to
// end with the last of them (it ends at the wished number, the burst's size).
void simulatorBurst(int count, int receiveBuffer, const char *label)
{
    const uint16_t port = initLibrary(receiveBuffer);
    const int granted = zarfel::platform::receiveBuffer(zarfel::state().receiver);
    testing_support::ModsimProcess sim(MODSIM_PATH,
                                       {"--bind", "127.0.0.1", "--port", "0", "--reply-to", "127.0.0.1",
                                        "--reply-port", std::to_string(port), "--duration", "60", "--module",
                                        "behave=burst:" + std::to_string(count)});
    Zarfel_SetOptions(5000, count);
    const auto start = steady_clock::now();
    Zarfel_BroadcastStart("127.0.0.1", sim.port(), nullptr);
    waitEnd();
    const auto done = steady_clock::now();
    const int accepted = Zarfel_GetCount();
    Zarfel_Close();
    std::printf("burst %5d, %-15s (SO_RCVBUF %7d): accepted %5d/%-5d %s, search ended after %7.2f ms\n",
                count, label, granted, accepted, count, accepted == count ? "all " : "LOST",
                duration<double, std::milli>(done - start).count());
}

void acknowledgementLatency()
{
    const uint16_t port = initLibrary(zarfel::receiveBufferRequest());
    UdpPeer module;
    Zarfel_SetOptions(1000, 1);
    Zarfel_BroadcastStart("127.0.0.1", module.port(), nullptr);
    (void)module.receive(1000);
    module.sendTo(port, testing_support::reply("QZ510", "", 0, "198.18.0.20", "00:0E:C6:00:00:01"));
    waitEnd();

    std::vector<double> latencies;
    for (int i = 0; i < 50; ++i) {
        steady_clock::time_point ackSent;
        std::thread answer([&] {
            if (module.receive(2000)) {
                ackSent = steady_clock::now();
                module.sendTo(port, "VELKORQZ510,81,OK\r");
            }
        });
        const std::string ip = "198.18.0." + std::to_string(30 + i);
        const int r = Zarfel_ConfigModule(1, ip.c_str(), nullptr, nullptr, nullptr, 0, nullptr);
        const auto returned = steady_clock::now();
        answer.join();
        if (r == 0)
            latencies.push_back(duration<double, std::micro>(returned - ackSent).count());
    }
    Zarfel_Close();
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) {
        std::printf("acknowledgement: none answered\n");
        return;
    }
    std::printf("acknowledgement seen after: median %.0f us, max %.0f us over %zu requests (target < 1000 us)\n",
                latencies[latencies.size() / 2], latencies.back(), latencies.size());
}

} // namespace

int main()
{
    Zarfel_SetMessageHandler(&quiet);
    std::printf("Zarfel receive benchmarks (loopback)\n");
    idleSearch();
    const int own = zarfel::receiveBufferRequest();
    for (int n : {250, 1000, 5000}) {
        simulatorBurst(n, 0, "default buffer");
        simulatorBurst(n, own, "library setting");
    }
    acknowledgementLatency();
    return 0;
}
