// The host's neighbour table as a second witness for the free-address walk.
// A host that drops echo (a firewall, a controller set to ignore it) still
// answers address resolution, and every probe to an address of an adapter's
// own segment makes the system resolve it first: once the echo time-out has
// passed, a neighbour entry that holds a hardware address means the address
// is in use, whether or not echo came back (late replies included).
#pragma once

#include "HostNetwork.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace hostnet {

// The probe gave no echo reply, but the neighbour table holds a hardware
// address for it: in use.
inline constexpr int kNeighbourKnown = 2;

// How long the system keeps an address waiting for address resolution
// before giving up (Linux: three requests a second apart), with a margin.
inline constexpr int kArpWaitMs = 3500;
// At most this many addresses of one prober wait for address resolution at
// once. Linux's neighbour table holds 1,024 entries for the whole machine
// and past that silently sends no request at all, so a wide walk must not
// fill it.
inline constexpr std::size_t kArpWaitLimit = 256;

enum class NeighbourState { Unknown, Incomplete, Failed, Reachable, Stale, Delay, Probe, Permanent, NoArp };

// Reachable, stale, delay, probe and permanent entries hold a hardware
// address: someone answered for the address.
bool HoldsHardwareAddress(NeighbourState state);

// The host's neighbour table, asked about a batch of addresses at a time.
class NeighbourTable
{
public:
    virtual ~NeighbourTable() = default;
    // False when the table cannot be read at all (echo alone decides then).
    virtual bool usable() const = 0;
    // Asks about these addresses; their answers come from answers().
    virtual void ask(const std::vector<std::uint32_t> &addresses) = 0;
    // The answers known now, each asked address once; never waits long.
    virtual std::vector<std::pair<std::uint32_t, NeighbourState>> answers() = 0;
    // Addresses asked whose answer has not been handed out.
    virtual std::size_t open() const = 0;
    virtual void cancel() = 0;
};

// The platform's table: on Linux one rtnetlink dump per batch; on Windows
// IP Helper's entries, read by a few workers of their own.
std::unique_ptr<NeighbourTable> OpenNeighbourTable();

// Probes where no echo can be sent: one UDP datagram to the discard port 9
// of each address, which makes the system resolve it all the same. Every
// request gives kEchoSilent after the time-out (the table decides), or
// kEchoAnswered when the host refuses the port.
std::unique_ptr<EchoProbes> OpenDatagramProbes(std::size_t window, const EchoOptions &options);

// The probes of the free-address walk: echo requests (datagrams where echo
// cannot be used) whose silent results for addresses on an adapter's own
// segment go to the neighbour table in batches; the host's own addresses
// are never sent to and count as in use; and the requests are held back
// while kArpWaitLimit addresses wait for address resolution.
class FreeAddressProbes final : public EchoProbes
{
public:
    using Clock = std::chrono::steady_clock;

    // Over parts the caller owns (tests); `datagrams` and `table` may be null.
    FreeAddressProbes(EchoProbes &echo, EchoProbes *datagrams, NeighbourTable *table,
                      std::vector<HostAdapter> adapters);
    // Over the platform's parts and the host's adapters.
    explicit FreeAddressProbes(std::size_t window = kDefaultEchoWindow, const EchoOptions &options = {});
    ~FreeAddressProbes() override;
    FreeAddressProbes(const FreeAddressProbes &) = delete;
    FreeAddressProbes &operator=(const FreeAddressProbes &) = delete;

    bool usable() const override;
    bool tableOnly() const override;
    std::size_t window() const override;
    void enqueue(std::uint32_t address, std::uint64_t tag) override;
    std::size_t pending() const override;
    std::vector<EchoResult> pump(int maxWaitMs) override;
    void cancel() override;

    // Addresses waiting for address resolution now, and the most there were.
    std::size_t arpWaiting() const { return arpWaits_.size(); }
    std::size_t maxArpWaiting() const { return maxArpWaits_; }

private:
    struct Request
    {
        std::uint32_t address;
        std::uint64_t tag;
    };
    struct Sent
    {
        std::uint32_t address;
        Clock::time_point lastAsked;
    };
    struct Asked
    {
        EchoResult result;
        bool final; // after the time-out: no hardware address means free
    };
    void setUp(EchoProbes &echo, EchoProbes *datagrams, NeighbourTable *table);
    bool onSegment(std::uint32_t address) const;
    bool own(std::uint32_t address) const;
    void release(Clock::time_point now);
    void take(const std::vector<EchoResult> &results, Clock::time_point now);
    void askTable(Clock::time_point now);
    void askEarly(Clock::time_point now);
    void takeAnswers();

    std::unique_ptr<EchoProbes> ownEcho_, ownDatagrams_;
    std::unique_ptr<NeighbourTable> ownTable_;
    EchoProbes *active_ = nullptr; // echo, or the datagrams where echo is unusable
    NeighbourTable *table_ = nullptr;
    bool tableOnly_ = false;
    std::vector<HostAdapter> adapters_;
    std::deque<Request> queued_;                                // held back for the resolution budget
    std::vector<EchoResult> checking_;                          // silent, for the next batch
    Clock::time_point batchSince_{};                            // when checking_ got its first
    std::unordered_map<std::uint32_t, std::vector<Asked>> asked_; // asked of the table
    std::size_t askedCount_ = 0;                                 // final ones among them
    std::unordered_map<std::uint64_t, Sent> inFlight_;           // sent to the own segments, by tag
    std::unordered_set<std::uint64_t> decided_;                  // in use before the prober's result
    std::vector<EchoResult> ready_;
    std::unordered_map<std::uint32_t, Clock::time_point> arpWaits_;
    std::size_t maxArpWaits_ = 0;
};

// One address by the walk's probes: what a walk of one request at a time
// with the same checks makes of it.
int ProbeFreeAddress(std::uint32_t address, const EchoOptions &options = {});

} // namespace hostnet
