// The concurrent free-address walk against the one-at-a-time walk, with a
// scripted prober: results and reply times per address are chosen by the
// test, nothing is sent.
#include "platform/HostNetwork.h"
#include "platform/echo_pacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>

using hostnet::EchoProbes;
using hostnet::EchoResult;
using hostnet::FreeAddressSearch;
using hostnet::FreeAddressWalk;
using hostnet::kEchoAnswered;
using hostnet::kEchoSilent;
using hostnet::kEchoUnusable;

namespace {

std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

// A prober whose requests resolve after a number of pump() calls chosen per
// address, with a result chosen per address.
class ScriptedProbes final : public EchoProbes
{
public:
    ScriptedProbes(std::size_t window, std::function<int(std::uint32_t)> result,
                   std::function<int(std::uint32_t)> ticks = [](std::uint32_t) { return 1; }, bool usable = true)
        : window_(window), result_(std::move(result)), ticks_(std::move(ticks)), usable_(usable)
    {
    }

    bool usable() const override { return usable_; }
    std::size_t window() const override { return window_; }
    void enqueue(std::uint32_t address, std::uint64_t tag) override
    {
        probed.push_back(address);
        inFlight_.push_back({address, tag, now_ + ticks_(address), order_++});
        maxPending = std::max(maxPending, inFlight_.size());
    }
    std::size_t pending() const override { return inFlight_.size(); }
    std::vector<EchoResult> pump(int) override
    {
        ++now_;
        std::vector<Entry> due;
        for (auto it = inFlight_.begin(); it != inFlight_.end();) {
            if (it->due <= now_) {
                due.push_back(*it);
                it = inFlight_.erase(it);
            } else {
                ++it;
            }
        }
        // Out of order on purpose: later requests first among those due.
        std::sort(due.begin(), due.end(), [](const Entry &a, const Entry &b) { return a.order > b.order; });
        std::vector<EchoResult> out;
        for (const Entry &e : due)
            out.push_back({e.tag, e.address, usable_ ? result_(e.address) : kEchoUnusable});
        return out;
    }
    void cancel() override
    {
        inFlight_.clear();
        ++cancels;
    }

    std::vector<std::uint32_t> probed;
    std::size_t maxPending = 0;
    int cancels = 0;

private:
    struct Entry
    {
        std::uint32_t address;
        std::uint64_t tag;
        long due;
        long order;
    };
    std::size_t window_;
    std::function<int(std::uint32_t)> result_;
    std::function<int(std::uint32_t)> ticks_;
    bool usable_;
    std::vector<Entry> inFlight_;
    long now_ = 0;
    long order_ = 0;
};

std::vector<std::uint32_t> runWalk(FreeAddressWalk &walk)
{
    for (int i = 0; i < 100000 && !walk.finished(); ++i)
        walk.pump(5);
    EXPECT_TRUE(walk.finished());
    return walk.found();
}

// The range search's loop exactly as the dialog walks it: probe unless the
// low four bits are zero, then compare after every step.
std::vector<std::uint32_t> dialogLoop(std::uint32_t lo, std::uint32_t hi, long long wanted,
                                      const std::function<int(std::uint32_t)> &probe,
                                      std::vector<std::uint32_t> *probed = nullptr)
{
    if (lo > hi)
        std::swap(lo, hi);
    std::vector<std::uint32_t> found;
    std::uint32_t cur = lo;
    while (cur <= hi) {
        if ((cur & 0xF) != 0) {
            if (probed)
                probed->push_back(cur);
            if (probe(cur) == kEchoSilent)
                found.push_back(cur);
        }
        if (cur == 0xFFFFFFFFu)
            break;
        ++cur;
        if (static_cast<long long>(found.size()) >= wanted)
            break;
    }
    return found;
}

std::vector<std::uint32_t> rangeOf(std::uint32_t first, std::uint32_t last)
{
    std::vector<std::uint32_t> v;
    for (std::uint32_t a = first; a <= last; ++a)
        v.push_back(a);
    return v;
}

// Plain 32-bit draws (std::mt19937 hands them out as a wider type).
struct Random32
{
    explicit Random32(std::uint32_t seed) : engine(seed) {}
    std::uint32_t operator()() { return static_cast<std::uint32_t>(engine()); }
    std::mt19937 engine;
};

} // namespace

TEST(FreeAddressWalk, EveryAddressFreeStopsAtTheWishedNumber)
{
    const auto allFree = [](std::uint32_t) { return kEchoSilent; };
    ScriptedProbes five(64, allFree);
    FreeAddressWalk walk5(hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 254), 5), five);
    EXPECT_EQ(runWalk(walk5), rangeOf(ip(198, 18, 0, 1), ip(198, 18, 0, 5)));
    EXPECT_EQ(five.probed.size(), 5u) << "no probe beyond the fifth free address";

    ScriptedProbes twenty(64, allFree);
    FreeAddressWalk walk20(hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 254), 20), twenty);
    std::vector<std::uint32_t> expected = rangeOf(ip(198, 18, 0, 1), ip(198, 18, 0, 15));
    for (std::uint32_t a : rangeOf(ip(198, 18, 0, 17), ip(198, 18, 0, 21)))
        expected.push_back(a);
    EXPECT_EQ(runWalk(walk20), expected);
}

TEST(FreeAddressWalk, WishedNumberZeroMakesExactlyOneStep)
{
    const auto allFree = [](std::uint32_t) { return kEchoSilent; };
    ScriptedProbes probes(64, allFree);
    FreeAddressWalk walk(hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 254), 0), probes);
    EXPECT_EQ(runWalk(walk), std::vector<std::uint32_t>{ip(198, 18, 0, 1)});
    EXPECT_EQ(probes.probed.size(), 1u);
    EXPECT_EQ(walk.stepsDone(), 1u);

    // The first step is a skipped address: nothing is probed or listed.
    ScriptedProbes skipped(64, allFree);
    FreeAddressWalk walkSkip(hostnet::RangeSearch(ip(198, 18, 0, 16), ip(198, 18, 0, 40), 0), skipped);
    EXPECT_TRUE(runWalk(walkSkip).empty());
    EXPECT_TRUE(skipped.probed.empty());

    // The first address answers: probed, not listed.
    ScriptedProbes answered(64, [](std::uint32_t) { return kEchoAnswered; });
    FreeAddressWalk walkAnswered(hostnet::RangeSearch(ip(198, 18, 0, 5), ip(198, 18, 0, 40), 0), answered);
    EXPECT_TRUE(runWalk(walkAnswered).empty());
    EXPECT_EQ(answered.probed, std::vector<std::uint32_t>{ip(198, 18, 0, 5)});
}

TEST(FreeAddressWalk, LowNibbleZeroSkippedAndLastOctet255Probed)
{
    const auto allFree = [](std::uint32_t) { return kEchoSilent; };
    ScriptedProbes probes(16, allFree);
    FreeAddressWalk walk(hostnet::RangeSearch(ip(198, 18, 2, 3), ip(198, 18, 1, 250), 1000), probes);
    const std::vector<std::uint32_t> found = runWalk(walk);
    const std::vector<std::uint32_t> expected = {ip(198, 18, 1, 250), ip(198, 18, 1, 251), ip(198, 18, 1, 252),
                                                 ip(198, 18, 1, 253), ip(198, 18, 1, 254), ip(198, 18, 1, 255),
                                                 ip(198, 18, 2, 1),   ip(198, 18, 2, 2),   ip(198, 18, 2, 3)};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(std::count(probes.probed.begin(), probes.probed.end(), ip(198, 18, 2, 0)), 0);
}

TEST(FreeAddressWalk, ReversedRangeGivesTheSameList)
{
    const auto some = [](std::uint32_t a) { return (a % 3 == 0) ? kEchoAnswered : kEchoSilent; };
    ScriptedProbes forward(8, some), backward(8, some);
    FreeAddressWalk a(hostnet::RangeSearch(ip(198, 18, 0, 20), ip(198, 18, 0, 90), 12), forward);
    FreeAddressWalk b(hostnet::RangeSearch(ip(198, 18, 0, 90), ip(198, 18, 0, 20), 12), backward);
    EXPECT_EQ(runWalk(a), runWalk(b));
    EXPECT_EQ(a.found().size(), 12u);
}

TEST(FreeAddressWalk, HostSubnetSearchFindsTheFirstSilentAddressAboveTheHost)
{
    const FreeAddressSearch search = hostnet::HostSubnetSearch(ip(192, 168, 1, 10));
    EXPECT_EQ(search.first, ip(192, 168, 1, 11));
    EXPECT_EQ(search.last, ip(192, 168, 1, 253));
    EXPECT_FALSE(search.skipZeroLowNibble);
    EXPECT_EQ(search.wanted, 1);

    ScriptedProbes probes(64, [](std::uint32_t a) { return a == ip(192, 168, 1, 11) ? kEchoAnswered : kEchoSilent; });
    FreeAddressWalk walk(search, probes);
    EXPECT_EQ(runWalk(walk), std::vector<std::uint32_t>{ip(192, 168, 1, 12)});
    EXPECT_EQ(probes.probed, (std::vector<std::uint32_t>{ip(192, 168, 1, 11), ip(192, 168, 1, 12)}));
}

TEST(FreeAddressWalk, HostSubnetSearchNearTheTop)
{
    const FreeAddressSearch none = hostnet::HostSubnetSearch(ip(192, 168, 1, 253));
    ScriptedProbes probes(64, [](std::uint32_t) { return kEchoSilent; });
    FreeAddressWalk walk(none, probes);
    EXPECT_TRUE(walk.finished());
    EXPECT_TRUE(walk.found().empty());
    EXPECT_TRUE(probes.probed.empty());
    EXPECT_EQ(walk.totalSteps(), 0u);

    ScriptedProbes busy(64, [](std::uint32_t) { return kEchoAnswered; });
    FreeAddressWalk walkBusy(hostnet::HostSubnetSearch(ip(192, 168, 1, 250)), busy);
    EXPECT_TRUE(runWalk(walkBusy).empty());
    EXPECT_EQ(busy.probed,
              (std::vector<std::uint32_t>{ip(192, 168, 1, 251), ip(192, 168, 1, 252), ip(192, 168, 1, 253)}));
}

TEST(FreeAddressWalk, UnusableEchoListsNothingAndEndsAtOnce)
{
    ScriptedProbes probes(64, [](std::uint32_t) { return kEchoUnusable; }, [](std::uint32_t) { return 1; }, false);
    // The widest range there is: the walk must not step through it.
    FreeAddressWalk walk(hostnet::RangeSearch(ip(0, 0, 0, 1), ip(255, 255, 255, 254), 5), probes);
    EXPECT_TRUE(walk.finished());
    EXPECT_TRUE(walk.echoUnusable());
    EXPECT_TRUE(walk.found().empty());
    EXPECT_TRUE(probes.probed.empty());
}

TEST(FreeAddressWalk, UnusableResultsCountAsInUse)
{
    // A prober that fails per address (not as a whole) lists nothing for those.
    ScriptedProbes probes(8, [](std::uint32_t a) { return (a & 1) ? kEchoUnusable : kEchoSilent; });
    FreeAddressWalk walk(hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 12), 100), probes);
    EXPECT_EQ(runWalk(walk), (std::vector<std::uint32_t>{ip(198, 18, 0, 2), ip(198, 18, 0, 4), ip(198, 18, 0, 6),
                                                          ip(198, 18, 0, 8), ip(198, 18, 0, 10), ip(198, 18, 0, 12)}));
}

TEST(FreeAddressWalk, HugeRangeTouchesOnlyWhatItNeeds)
{
    ScriptedProbes probes(64, [](std::uint32_t) { return kEchoSilent; });
    FreeAddressWalk walk(hostnet::RangeSearch(ip(0, 0, 0, 1), ip(255, 255, 255, 254), 3), probes);
    EXPECT_EQ(runWalk(walk), (std::vector<std::uint32_t>{ip(0, 0, 0, 1), ip(0, 0, 0, 2), ip(0, 0, 0, 3)}));
    EXPECT_EQ(walk.totalSteps(), 0xFFFFFFFEull);
    EXPECT_EQ(probes.probed.size(), 3u);
}

TEST(FreeAddressWalk, WindowBoundsTheRequestsInFlight)
{
    ScriptedProbes probes(8, [](std::uint32_t) { return kEchoSilent; }, [](std::uint32_t) { return 4; });
    FreeAddressWalk walk(hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 200), 1000), probes);
    runWalk(walk);
    EXPECT_EQ(probes.maxPending, 8u) << "the window is used, and never exceeded";
    EXPECT_EQ(walk.found().size(), 200u - 12u);
}

TEST(FreeAddressWalk, NoSpeculativeProbesBeyondTheWishedNumber)
{
    // Slow silent addresses with fast answering ones between them: only as
    // many requests fly as could still be needed.
    const auto result = [](std::uint32_t a) { return (a % 4 == 0) ? kEchoAnswered : kEchoSilent; };
    ScriptedProbes probes(64, result, [](std::uint32_t a) { return (a % 4 == 0) ? 1 : 6; });
    FreeAddressWalk walk(hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 250), 4), probes);
    runWalk(walk);
    EXPECT_LE(probes.maxPending, 4u);
    std::vector<std::uint32_t> sequentialProbed;
    const auto expected = dialogLoop(ip(198, 18, 0, 1), ip(198, 18, 0, 250), 4, result, &sequentialProbed);
    EXPECT_EQ(walk.found(), expected);
    EXPECT_EQ(probes.probed, sequentialProbed);
}

TEST(FreeAddressWalk, InUseAddressesAreNeitherProbedNorListed)
{
    FreeAddressSearch search = hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 10), 100);
    search.inUse = {ip(198, 18, 0, 3), ip(198, 18, 0, 7)};
    ScriptedProbes probes(4, [](std::uint32_t) { return kEchoSilent; });
    FreeAddressWalk walk(search, probes);
    const std::vector<std::uint32_t> found = runWalk(walk);
    EXPECT_EQ(found, (std::vector<std::uint32_t>{ip(198, 18, 0, 1), ip(198, 18, 0, 2), ip(198, 18, 0, 4),
                                                  ip(198, 18, 0, 5), ip(198, 18, 0, 6), ip(198, 18, 0, 8),
                                                  ip(198, 18, 0, 9), ip(198, 18, 0, 10)}));
    EXPECT_EQ(std::count(probes.probed.begin(), probes.probed.end(), ip(198, 18, 0, 3)), 0);
    EXPECT_EQ(std::count(probes.probed.begin(), probes.probed.end(), ip(198, 18, 0, 7)), 0);
}

TEST(FreeAddressWalk, ReservedAddressesOfTheHostsSubnet)
{
    using Set = std::unordered_set<std::uint32_t>;
    // A /28: network .0, broadcast .15, besides the host and its gateway.
    EXPECT_EQ(hostnet::ReservedAddresses(ip(198, 18, 30, 2), 0xFFFFFFF0u, ip(198, 18, 30, 1)),
              (Set{ip(198, 18, 30, 0), ip(198, 18, 30, 15), ip(198, 18, 30, 2), ip(198, 18, 30, 1)}));
    // A /31 and a /32 have neither; no gateway, no mask, a mask with holes.
    EXPECT_EQ(hostnet::ReservedAddresses(ip(10, 0, 0, 4), 0xFFFFFFFEu, 0), (Set{ip(10, 0, 0, 4)}));
    EXPECT_EQ(hostnet::ReservedAddresses(ip(10, 0, 0, 4), 0xFFFFFFFFu, 0), (Set{ip(10, 0, 0, 4)}));
    EXPECT_EQ(hostnet::ReservedAddresses(ip(10, 0, 0, 4), 0, ip(10, 0, 0, 1)), (Set{ip(10, 0, 0, 4), ip(10, 0, 0, 1)}));
    EXPECT_EQ(hostnet::ReservedAddresses(ip(10, 0, 0, 4), 0xFF00FF00u, 0), (Set{ip(10, 0, 0, 4)}));

    // The single dialog's search stays inside the host's /28: with .11 to
    // .14 answering, neither the broadcast .15 nor anything beyond is
    // proposed; the gateway .12 is not even asked.
    std::vector<std::uint32_t> asked;
    ScriptedProbes probes(8, [&](std::uint32_t a) {
        asked.push_back(a);
        return kEchoAnswered;
    });
    FreeAddressWalk walk(hostnet::HostSubnetSearch(ip(198, 18, 30, 10), 0xFFFFFFF0u, ip(198, 18, 30, 12)), probes);
    while (!walk.finished())
        walk.pump(100);
    EXPECT_TRUE(walk.found().empty());
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::uint32_t>{ip(198, 18, 30, 11), ip(198, 18, 30, 13), ip(198, 18, 30, 14)}));
    // A /16 keeps the walk of the host's first three octets.
    const FreeAddressSearch wide = hostnet::HostSubnetSearch(ip(10, 1, 2, 3), 0xFFFF0000u, 0);
    EXPECT_EQ(wide.first, ip(10, 1, 2, 4));
    EXPECT_EQ(wide.last, ip(10, 1, 2, 253));
}

TEST(FreeAddressWalk, ExplicitCandidateListKeepsItsOrder)
{
    FreeAddressSearch search;
    search.addresses = std::vector<std::uint32_t>{ip(10, 0, 0, 9), ip(10, 0, 0, 2), ip(10, 0, 0, 9), ip(10, 0, 0, 5)};
    search.wanted = 3;
    const auto result = [](std::uint32_t a) { return a == ip(10, 0, 0, 2) ? kEchoAnswered : kEchoSilent; };
    ScriptedProbes probes(4, result);
    FreeAddressWalk walk(search, probes);
    EXPECT_EQ(runWalk(walk), hostnet::SequentialFreeAddressWalk(search, result));
    EXPECT_EQ(walk.found(), (std::vector<std::uint32_t>{ip(10, 0, 0, 9), ip(10, 0, 0, 9), ip(10, 0, 0, 5)}));
}

TEST(FreeAddressWalk, CancelKeepsAPrefixOfTheSequentialList)
{
    const auto result = [](std::uint32_t a) { return (a % 5 == 0) ? kEchoAnswered : kEchoSilent; };
    ScriptedProbes probes(4, result, [](std::uint32_t) { return 3; });
    const FreeAddressSearch search = hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 100), 50);
    FreeAddressWalk walk(search, probes);
    for (int i = 0; i < 3; ++i)
        walk.pump(5);
    walk.cancel();
    EXPECT_TRUE(walk.finished());
    EXPECT_TRUE(walk.cancelled());
    EXPECT_EQ(probes.pending(), 0u);
    const auto full = hostnet::SequentialFreeAddressWalk(search, result);
    ASSERT_LE(walk.found().size(), full.size());
    EXPECT_TRUE(std::equal(walk.found().begin(), walk.found().end(), full.begin()));
    EXPECT_TRUE(walk.pump(5).empty());
}

TEST(FreeAddressWalk, WishedNumberIsReadAgainDuringTheWalk)
{
    const auto allFree = [](std::uint32_t) { return kEchoSilent; };
    ScriptedProbes probes(2, allFree, [](std::uint32_t) { return 2; });
    FreeAddressWalk walk(hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 100), 1000), probes);
    while (walk.found().size() < 3 && !walk.finished())
        walk.pump(5);
    walk.setWanted(static_cast<long long>(walk.found().size()));
    EXPECT_TRUE(walk.finished());
    EXPECT_FALSE(walk.cancelled());

    ScriptedProbes raised(2, allFree);
    FreeAddressWalk grow(hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 100), 2), raised);
    grow.setWanted(6);
    EXPECT_EQ(runWalk(grow), rangeOf(ip(198, 18, 0, 1), ip(198, 18, 0, 6)));
}

TEST(FreeAddressWalk, PumpWithoutWaitingStillMakesProgress)
{
    ScriptedProbes probes(4, [](std::uint32_t a) { return (a & 1) ? kEchoAnswered : kEchoSilent; });
    FreeAddressWalk walk(hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 40), 6), probes);
    for (int i = 0; i < 1000 && !walk.finished(); ++i)
        walk.pump(0);
    ASSERT_TRUE(walk.finished());
    EXPECT_EQ(walk.found(), (std::vector<std::uint32_t>{ip(198, 18, 0, 2), ip(198, 18, 0, 4), ip(198, 18, 0, 6),
                                                         ip(198, 18, 0, 8), ip(198, 18, 0, 10), ip(198, 18, 0, 12)}));
}

TEST(FreeAddressWalk, SequentialTemplateIsTheDialogLoop)
{
    Random32 rng(7);
    for (int round = 0; round < 200; ++round) {
        const std::uint32_t lo = ip(198, 18, 0, 0) + rng() % 40;
        const std::uint32_t hi = lo + rng() % 60;
        const long long wanted = static_cast<long long>(rng() % 25) - 1;
        std::map<std::uint32_t, int> results;
        const auto probe = [&](std::uint32_t a) {
            auto it = results.find(a);
            if (it == results.end())
                it = results.emplace(a, static_cast<int>(rng() % 3) - 1).first;
            return it->second;
        };
        const auto loop = dialogLoop(lo, hi, wanted, probe);
        EXPECT_EQ(hostnet::SequentialFreeAddressWalk(hostnet::RangeSearch(hi, lo, wanted), probe), loop);
    }
}

// Many random walks: results, reply times, windows, skips, known addresses
// and wished numbers; the concurrent walk lists what the sequential walk
// lists, and probes exactly the addresses it probes, in the same order.
TEST(FreeAddressWalk, RandomWalksMatchTheSequentialWalk)
{
    Random32 rng(20240611);
    for (int round = 0; round < 600; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        FreeAddressSearch search;
        const std::uint32_t first = ip(198, 18, 3, 0) + rng() % 40;
        if (rng() % 5 == 0) {
            std::vector<std::uint32_t> list;
            const unsigned n = rng() % 30;
            for (unsigned i = 0; i < n; ++i)
                list.push_back(first + rng() % 50);
            search.addresses = list;
        } else {
            search.first = first;
            search.last = first + rng() % 70;
        }
        search.skipZeroLowNibble = rng() % 2 == 0;
        for (unsigned i = rng() % 6; i > 0; --i)
            search.inUse.insert(first + rng() % 70);
        search.wanted = static_cast<long long>(rng() % 30) - 2;
        const unsigned freeShare = rng() % 101;
        std::map<std::uint32_t, int> results;
        std::map<std::uint32_t, int> ticks;
        for (std::uint32_t a = first; a < first + 80; ++a) {
            const unsigned roll = rng() % 100;
            results[a] = roll < freeShare ? kEchoSilent : (roll % 7 == 0 ? kEchoUnusable : kEchoAnswered);
            ticks[a] = 1 + static_cast<int>(rng() % 6);
        }
        const auto result = [&](std::uint32_t a) { return results.at(a); };
        const std::size_t window = 1 + rng() % 12;

        std::vector<std::uint32_t> sequentialProbed;
        const auto expected = hostnet::SequentialFreeAddressWalk(search, [&](std::uint32_t a) {
            sequentialProbed.push_back(a);
            return result(a);
        });

        ScriptedProbes probes(window, result, [&](std::uint32_t a) { return ticks.at(a); });
        FreeAddressWalk walk(search, probes);
        std::vector<std::uint32_t> streamed;
        for (int i = 0; i < 100000 && !walk.finished(); ++i)
            for (std::uint32_t a : walk.pump(5))
                streamed.push_back(a);
        ASSERT_TRUE(walk.finished());
        EXPECT_EQ(walk.found(), expected);
        EXPECT_EQ(streamed, expected) << "pump() hands out each address once, in order";
        EXPECT_EQ(probes.probed, sequentialProbed);
        EXPECT_LE(probes.maxPending, window);
        EXPECT_EQ(probes.pending(), 0u);
    }
}

TEST(EchoPacer, BurstLeavesAtOnceThenOneRequestPerGap)
{
    using namespace std::chrono;
    hostnet::EchoPacer pacer;
    const auto t0 = hostnet::EchoPacer::Clock::now();
    for (int i = 0; i < hostnet::kEchoSendBurst; ++i) {
        ASSERT_EQ(pacer.nextSend(t0), t0) << "request " << i;
        pacer.sent(t0);
    }
    const auto gap = milliseconds(hostnet::kEchoSendGapMs);
    EXPECT_EQ(pacer.nextSend(t0), t0 + gap);
    pacer.sent(t0 + gap);
    EXPECT_EQ(pacer.nextSend(t0 + gap), t0 + 2 * gap);
    // A quiet spell earns the burst back, never more.
    const auto later = t0 + seconds(1);
    for (int i = 0; i < hostnet::kEchoSendBurst; ++i)
        pacer.sent(later);
    EXPECT_EQ(pacer.nextSend(later), later + gap);
}
