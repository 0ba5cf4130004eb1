// The walk's probes with the neighbour table's word on silent addresses.
// Portable: the echo prober, the datagram prober and the table come from the
// platform (or a test's stand-ins).
#include "NeighbourCheck.h"

#include <algorithm>
#include <thread>

namespace hostnet {

namespace {

// Silent results wait this long for others to share one table read.
constexpr auto kBatch = std::chrono::milliseconds(20);
// A request still waiting for echo is looked up this often: a host that
// answered address resolution is in use whatever echo will say, and knowing
// it early lets the walk go on at once.
constexpr auto kEarly = std::chrono::milliseconds(50);
// How often a table whose answers are still coming is looked at.
constexpr auto kTableSlice = std::chrono::milliseconds(5);

} // namespace

bool HoldsHardwareAddress(NeighbourState state)
{
    switch (state) {
    case NeighbourState::Reachable:
    case NeighbourState::Stale:
    case NeighbourState::Delay:
    case NeighbourState::Probe:
    case NeighbourState::Permanent:
        return true;
    default:
        return false;
    }
}

FreeAddressProbes::FreeAddressProbes(EchoProbes &echo, EchoProbes *datagrams, NeighbourTable *table,
                                     std::vector<HostAdapter> adapters)
    : adapters_(std::move(adapters))
{
    setUp(echo, datagrams, table);
}

FreeAddressProbes::FreeAddressProbes(std::size_t window, const EchoOptions &options)
    : ownEcho_(std::make_unique<EchoProber>(window, options)), ownTable_(OpenNeighbourTable()),
      adapters_(ListHostAdapters())
{
    if (!ownEcho_->usable())
        ownDatagrams_ = OpenDatagramProbes(window, options);
    setUp(*ownEcho_, ownDatagrams_.get(), ownTable_.get());
}

void FreeAddressProbes::setUp(EchoProbes &echo, EchoProbes *datagrams, NeighbourTable *table)
{
    table_ = table && table->usable() ? table : nullptr;
    active_ = &echo;
    // Without echo, datagrams only make the system resolve the address: the
    // table is then the only witness, so both must work.
    if (!echo.usable() && datagrams && datagrams->usable() && table_) {
        active_ = datagrams;
        tableOnly_ = true;
    }
}

FreeAddressProbes::~FreeAddressProbes() = default;

bool FreeAddressProbes::usable() const
{
    return active_->usable();
}

bool FreeAddressProbes::tableOnly() const
{
    return tableOnly_;
}

std::size_t FreeAddressProbes::window() const
{
    return active_->window();
}

bool FreeAddressProbes::onSegment(std::uint32_t address) const
{
    return std::any_of(adapters_.begin(), adapters_.end(), [&](const HostAdapter &a) {
        return a.mask != 0 && (a.address & a.mask) == (address & a.mask);
    });
}

bool FreeAddressProbes::own(std::uint32_t address) const
{
    return std::any_of(adapters_.begin(), adapters_.end(),
                       [&](const HostAdapter &a) { return a.address == address; });
}

void FreeAddressProbes::enqueue(std::uint32_t address, std::uint64_t tag)
{
    queued_.push_back({address, tag});
}

std::size_t FreeAddressProbes::pending() const
{
    return queued_.size() + (active_->pending() - decided_.size()) + checking_.size() + askedCount_ + ready_.size();
}

void FreeAddressProbes::release(Clock::time_point now)
{
    for (auto it = arpWaits_.begin(); it != arpWaits_.end();)
        it = now - it->second >= std::chrono::milliseconds(kArpWaitMs) ? arpWaits_.erase(it) : std::next(it);
    while (!queued_.empty()) {
        const Request request = queued_.front();
        if (own(request.address)) {
            ready_.push_back({request.tag, request.address, kEchoAnswered});
        } else {
            const bool resolves = onSegment(request.address);
            if (tableOnly_ && !resolves) {
                // No table entry is ever made for it: nothing can be known.
                ready_.push_back({request.tag, request.address, kEchoNotSent});
                queued_.pop_front();
                continue;
            }
            if (resolves && arpWaits_.size() >= kArpWaitLimit && arpWaits_.count(request.address) == 0)
                return;
            if (resolves) {
                arpWaits_[request.address] = now;
                maxArpWaits_ = std::max(maxArpWaits_, arpWaits_.size());
                if (table_)
                    inFlight_[request.tag] = {request.address, now};
            }
            active_->enqueue(request.address, request.tag);
        }
        queued_.pop_front();
    }
}

void FreeAddressProbes::take(const std::vector<EchoResult> &results, Clock::time_point now)
{
    for (EchoResult r : results) {
        inFlight_.erase(r.tag);
        if (decided_.erase(r.tag) != 0)
            continue; // handed out already
        const bool resolves = onSegment(r.address);
        if (r.result == kEchoSilent && resolves && table_) {
            if (checking_.empty())
                batchSince_ = now;
            checking_.push_back(r);
            continue;
        }
        if (r.result == kEchoAnswered)
            arpWaits_.erase(r.address); // resolved, or it could not have answered
        // A datagram's silence beyond the own segments tells nothing: no
        // table entry is made for such an address.
        if (r.result == kEchoSilent && tableOnly_)
            r.result = kEchoNotSent;
        ready_.push_back(r);
    }
}

void FreeAddressProbes::askTable(Clock::time_point now)
{
    // One read for every silent result so far, once the batch has had time
    // to fill or nothing more is coming.
    if (checking_.empty() || (now - batchSince_ < kBatch && active_->pending() > 0))
        return;
    std::vector<std::uint32_t> addresses;
    for (const EchoResult &r : checking_) {
        auto &waiting = asked_[r.address];
        if (waiting.empty())
            addresses.push_back(r.address);
        waiting.push_back({r, true});
        ++askedCount_;
    }
    checking_.clear();
    table_->ask(addresses);
}

void FreeAddressProbes::askEarly(Clock::time_point now)
{
    std::vector<std::uint32_t> addresses;
    for (auto &[tag, sent] : inFlight_) {
        if (now - sent.lastAsked < kEarly)
            continue;
        sent.lastAsked = now;
        auto &waiting = asked_[sent.address];
        if (waiting.empty())
            addresses.push_back(sent.address);
        waiting.push_back({{tag, sent.address, kEchoSilent}, false});
    }
    if (!addresses.empty())
        table_->ask(addresses);
}

void FreeAddressProbes::takeAnswers()
{
    if (!table_ || asked_.empty())
        return;
    for (const auto &[address, state] : table_->answers()) {
        const auto it = asked_.find(address);
        if (it == asked_.end())
            continue;
        const bool used = HoldsHardwareAddress(state);
        if (used || state == NeighbourState::Failed)
            arpWaits_.erase(address);
        for (Asked a : it->second) {
            if (a.final) {
                --askedCount_;
            } else {
                // Early: only an address in use is decided, if still open.
                if (!used || inFlight_.erase(a.result.tag) == 0)
                    continue;
                decided_.insert(a.result.tag);
            }
            a.result.result = used ? kNeighbourKnown : kEchoSilent;
            ready_.push_back(a.result);
        }
        asked_.erase(it);
    }
}

std::vector<EchoResult> FreeAddressProbes::pump(int maxWaitMs)
{
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(maxWaitMs, 0));
    for (;;) {
        auto now = Clock::now();
        release(now);
        if (!usable()) {
            // Nothing can be sent: the prober hands out kEchoUnusable.
            take(active_->pump(0), now);
        } else {
            auto wait = end - now;
            if (!checking_.empty())
                wait = std::min<Clock::duration>(wait, batchSince_ + kBatch - now);
            if (askedCount_ > 0)
                wait = std::min<Clock::duration>(wait, kTableSlice);
            if (!inFlight_.empty())
                wait = std::min<Clock::duration>(wait, kEarly);
            if (!queued_.empty())
                wait = std::min<Clock::duration>(wait, kTableSlice); // the budget frees up with time
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::max(wait, Clock::duration::zero()));
            if (active_->pending() > 0)
                take(active_->pump(static_cast<int>(ms.count())), Clock::now());
            else if (ms.count() > 0 && (askedCount_ > 0 || !queued_.empty()))
                std::this_thread::sleep_for(ms);
            now = Clock::now();
            if (table_) {
                askTable(now);
                askEarly(now);
            }
            takeAnswers();
        }
        if (!ready_.empty())
            return std::exchange(ready_, {});
        if (pending() == 0 || Clock::now() >= end)
            return {};
    }
}

void FreeAddressProbes::cancel()
{
    // Addresses already sent to keep waiting for resolution in the system,
    // so arpWaits_ stays.
    queued_.clear();
    checking_.clear();
    asked_.clear();
    askedCount_ = 0;
    inFlight_.clear();
    decided_.clear();
    ready_.clear();
    active_->cancel();
    if (table_)
        table_->cancel();
}

int ProbeFreeAddress(std::uint32_t address, const EchoOptions &options)
{
    FreeAddressProbes probes(1, options);
    if (!probes.usable())
        return kEchoUnusable;
    probes.enqueue(address, 0);
    using Clock = FreeAddressProbes::Clock;
    const auto giveUp = Clock::now() + std::chrono::milliseconds(std::max(options.timeoutMs, 0) + 2000);
    while (probes.pending() > 0 && Clock::now() < giveUp) {
        const std::vector<EchoResult> results = probes.pump(std::max(options.timeoutMs, 0) + 100);
        if (!results.empty())
            return results.front().result;
    }
    return kEchoNotSent;
}

} // namespace hostnet
