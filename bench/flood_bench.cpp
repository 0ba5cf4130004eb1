// Searches under a flood of garbage on the reply port: how many of the
// genuine modules each of ten searches finds, with and without the drain of
// the reply port before the search request. Run by bench/run-flood-bench.sh
// on a test LAN, where one namespace floods the host and another holds the
// modules; nothing leaves the LAN.
//   flood_bench search EXPECTED         the searches (host namespace)
//   flood_bench flood ADDR PORT SECONDS the flood (a module namespace)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "state.h"
#include "zarfel.h"

namespace {

using Clock = std::chrono::steady_clock;

int flood(const char *address, int port, int seconds)
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (s < 0 || inet_pton(AF_INET, address, &to.sin_addr) != 1)
        return 2;
    char junk[1400];
    std::memset(junk, 'x', sizeof junk);
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto report = start + std::chrono::seconds(5);
    unsigned long sent = 0, reported = 0;
    // Bounded in time and count: it stops by itself.
    for (unsigned long i = 0; i < 200000000ul && Clock::now() < end; ++i) {
        const size_t size = 1 + (i * 7919u) % sizeof junk; // mixed sizes
        if (sendto(s, junk, size, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) > 0)
            ++sent;
        if ((i & 1023) == 0 && Clock::now() >= report) {
            std::printf("flood: %lu datagrams/s\n", (sent - reported) / 5);
            std::fflush(stdout);
            reported = sent;
            report += std::chrono::seconds(5);
        }
    }
    close(s);
    return 0;
}

int searches(int expected)
{
    Zarfel_SetMessageHandler([](const char *) {});
    for (const bool drain : {false, true}) {
        zarfel::setDrainBeforeSearch(drain);
        if (Zarfel_Init(ZARFEL_REPLY_PORT) != 0)
            return 1;
        Zarfel_SetOptions(1500, 0);
        int complete = 0;
        std::string counts;
        for (int run = 0; run < 10; ++run) {
            // The backlog builds up between two searches, as between two
            // clicks of an operator.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            Zarfel_BroadcastStart("255.255.255.255", ZARFEL_DEVICE_PORT, nullptr);
            while (Zarfel_GetState())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const int found = Zarfel_GetCount();
            complete += found == expected;
            counts += (run ? " " : "") + std::to_string(found);
        }
        std::printf("%-16s all %d modules found in %2d of 10 searches (found: %s)\n",
                    drain ? "with drain:" : "without drain:", expected, complete, counts.c_str());
        Zarfel_Close();
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "search") == 0)
        return searches(std::atoi(argv[2]));
    if (argc == 5 && std::strcmp(argv[1], "flood") == 0)
        return flood(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    std::fprintf(stderr, "usage: flood_bench search EXPECTED | flood ADDR PORT SECONDS\n");
    return 2;
}
