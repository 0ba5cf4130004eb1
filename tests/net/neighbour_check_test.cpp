// The walk's probes with a scripted echo prober and a scripted neighbour
// table: which silent addresses the table takes, the datagram probes where
// echo cannot be used, the host's own addresses and the bound on addresses
// waiting for address resolution. Nothing is sent.
#include "platform/HostNetwork.h"
#include "platform/NeighbourCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

using hostnet::EchoResult;
using hostnet::FreeAddressProbes;
using hostnet::FreeAddressWalk;
using hostnet::NeighbourState;

namespace {

std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

// Every request resolves on the third pump() with the scripted result.
class Probes final : public hostnet::EchoProbes
{
public:
    Probes(bool usable, std::function<int(std::uint32_t)> result) : usable_(usable), result_(std::move(result)) {}
    bool usable() const override { return usable_; }
    std::size_t window() const override { return 1000; }
    void enqueue(std::uint32_t address, std::uint64_t tag) override
    {
        sent.push_back(address);
        flying_.push_back({tag, address, now_ + 3});
    }
    std::size_t pending() const override { return flying_.size(); }
    std::vector<EchoResult> pump(int) override
    {
        ++now_;
        std::vector<EchoResult> out;
        std::erase_if(flying_, [&](const Flying &f) {
            if (f.due > now_)
                return false;
            out.push_back({f.tag, f.address, usable_ ? result_(f.address) : hostnet::kEchoUnusable});
            return true;
        });
        return out;
    }
    void cancel() override { flying_.clear(); }
    std::vector<std::uint32_t> sent;

private:
    struct Flying
    {
        std::uint64_t tag;
        std::uint32_t address;
        long due;
    };
    bool usable_;
    std::function<int(std::uint32_t)> result_;
    std::vector<Flying> flying_;
    long now_ = 0;
};

class Table final : public hostnet::NeighbourTable
{
public:
    explicit Table(std::map<std::uint32_t, NeighbourState> entries) : entries_(std::move(entries)) {}
    bool usable() const override { return true; }
    void ask(const std::vector<std::uint32_t> &addresses) override
    {
        open_.insert(open_.end(), addresses.begin(), addresses.end());
        asked.insert(asked.end(), addresses.begin(), addresses.end());
    }
    std::vector<std::pair<std::uint32_t, NeighbourState>> answers() override
    {
        std::vector<std::pair<std::uint32_t, NeighbourState>> out;
        for (const std::uint32_t a : open_) {
            const auto it = entries_.find(a);
            out.emplace_back(a, it == entries_.end() ? NeighbourState::Unknown : it->second);
        }
        open_.clear();
        return out;
    }
    std::size_t open() const override { return open_.size(); }
    void cancel() override { open_.clear(); }
    std::vector<std::uint32_t> asked;

private:
    std::map<std::uint32_t, NeighbourState> entries_;
    std::vector<std::uint32_t> open_;
};

const std::vector<hostnet::HostAdapter> kAdapters = {{"a", "a", ip(198, 18, 0, 10), 0xFFFFFF00u, true},
                                                     {"b", "b", ip(198, 18, 9, 10), 0xFFFFFF00u, true}};

std::vector<std::uint32_t> walk(const std::vector<std::uint32_t> &candidates, hostnet::EchoProbes &probes)
{
    hostnet::FreeAddressSearch search;
    search.addresses = candidates;
    search.wanted = 1000;
    FreeAddressWalk w(search, probes);
    for (int i = 0; i < 100000 && !w.finished(); ++i)
        w.pump(5);
    EXPECT_TRUE(w.finished());
    return w.found();
}

const auto kSilent = [](std::uint32_t) { return hostnet::kEchoSilent; };

} // namespace

TEST(NeighbourCheck, EntriesWithAHardwareAddressAreInUse)
{
    const std::map<std::uint32_t, NeighbourState> entries = {
        {ip(198, 18, 0, 4), NeighbourState::Reachable}, {ip(198, 18, 0, 5), NeighbourState::Stale},
        {ip(198, 18, 0, 6), NeighbourState::Delay},     {ip(198, 18, 0, 7), NeighbourState::Probe},
        {ip(198, 18, 0, 8), NeighbourState::Permanent}, {ip(198, 18, 0, 20), NeighbourState::Failed},
        {ip(198, 18, 0, 21), NeighbourState::Incomplete}, {ip(198, 18, 0, 22), NeighbourState::NoArp},
        {ip(198, 19, 0, 4), NeighbourState::Reachable}};
    Table table(entries);
    Probes echo(true, [](std::uint32_t a) { return a == ip(198, 18, 0, 3) ? hostnet::kEchoAnswered : hostnet::kEchoSilent; });
    FreeAddressProbes probes(echo, nullptr, &table, kAdapters);
    std::vector<std::uint32_t> candidates;
    for (unsigned d : {2, 3, 4, 5, 6, 7, 8, 10, 20, 21, 22})
        candidates.push_back(ip(198, 18, 0, d));
    candidates.push_back(ip(198, 18, 9, 10)); // the host's other adapter
    candidates.push_back(ip(198, 19, 0, 4));  // beyond the own segments: echo alone
    EXPECT_EQ(walk(candidates, probes), (std::vector<std::uint32_t>{ip(198, 18, 0, 2), ip(198, 18, 0, 20),
                                                                    ip(198, 18, 0, 21), ip(198, 18, 0, 22),
                                                                    ip(198, 19, 0, 4)}));
    EXPECT_EQ(std::count(echo.sent.begin(), echo.sent.end(), ip(198, 18, 0, 10)), 0) << "own address not probed";
    EXPECT_EQ(std::count(echo.sent.begin(), echo.sent.end(), ip(198, 18, 9, 10)), 0);
    EXPECT_EQ(std::count(table.asked.begin(), table.asked.end(), ip(198, 19, 0, 4)), 0);
    EXPECT_FALSE(probes.tableOnly());
}

TEST(NeighbourCheck, DatagramsWhereEchoCannotBeUsed)
{
    Table table({{ip(198, 18, 0, 4), NeighbourState::Reachable}});
    Probes echo(false, kSilent), datagrams(true, kSilent);
    FreeAddressProbes probes(echo, &datagrams, &table, kAdapters);
    ASSERT_TRUE(probes.usable());
    EXPECT_TRUE(probes.tableOnly());
    const std::vector<std::uint32_t> candidates = {ip(198, 18, 0, 3), ip(198, 18, 0, 4), ip(198, 19, 0, 5)};
    // Beyond the own segments nothing can be known, so nothing is listed.
    EXPECT_EQ(walk(candidates, probes), std::vector<std::uint32_t>{ip(198, 18, 0, 3)});
    EXPECT_TRUE(echo.sent.empty());

    // Without a table the datagrams say nothing: the walk ends at once.
    Probes echo2(false, kSilent), datagrams2(true, kSilent);
    FreeAddressProbes blind(echo2, &datagrams2, nullptr, kAdapters);
    FreeAddressWalk w(hostnet::RangeSearch(ip(198, 18, 0, 1), ip(198, 18, 0, 9), 5), blind);
    EXPECT_TRUE(w.echoUnusable());
    EXPECT_FALSE(w.neighbourTableOnly());
}

TEST(NeighbourCheck, AddressResolutionWaitsStayBounded)
{
    // A /22 of silent addresses whose resolution fails: never more than the
    // bound wait at once, and every one is still probed and listed.
    std::map<std::uint32_t, NeighbourState> failed;
    std::vector<std::uint32_t> candidates;
    for (std::uint32_t a = ip(198, 18, 0, 20); a < ip(198, 18, 2, 200); ++a)
        candidates.push_back(a);
    for (const std::uint32_t a : candidates)
        failed[a] = NeighbourState::Failed;
    Table failing(failed);
    Probes echo(true, kSilent);
    const std::vector<hostnet::HostAdapter> wide = {{"a", "a", ip(198, 18, 0, 10), 0xFFFFFC00u, true}};
    FreeAddressProbes probes(echo, nullptr, &failing, wide);
    EXPECT_EQ(walk(candidates, probes).size(), candidates.size());
    EXPECT_EQ(probes.maxArpWaiting(), hostnet::kArpWaitLimit);
    EXPECT_EQ(echo.sent.size(), candidates.size());
}
