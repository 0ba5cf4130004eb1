// The free-address walk over concurrent echo probes. Portable: the probes
// come from the platform's EchoProber (or a test's stand-in).
#include "HostNetwork.h"
#include "NeighbourCheck.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "client/Rules.h"

namespace hostnet {

// The address rule is the client layer's, one for every user.
std::uint32_t AddressFromText(const std::string &text)
{
    return zclient::addressValue(text);
}

std::string AddressToText(std::uint32_t address)
{
    return zclient::addressText(address);
}

bool IsValidAddressText(const std::string &text)
{
    return zclient::isValidAddress(text);
}

namespace {

using Clock = std::chrono::steady_clock;

// Steps handled per pump() call at most, so that a window that pumps stays
// responsive on a huge range of skipped or known addresses.
constexpr std::uint64_t kStepBudget = 1u << 16;

} // namespace

bool IsEchoDestination(std::uint32_t address)
{
    return (address >> 24) != 0 && address < 0xE0000000u;
}

std::unordered_set<std::uint32_t> ReservedAddresses(std::uint32_t host, std::uint32_t mask, std::uint32_t gateway)
{
    std::unordered_set<std::uint32_t> reserved;
    if (host != 0)
        reserved.insert(host);
    if (gateway != 0)
        reserved.insert(gateway);
    const bool contiguous = (~mask & (~mask + 1)) == 0; // the host part is 0...01...1
    if (host != 0 && mask != 0 && contiguous && (~mask) > 1u) {
        reserved.insert(host & mask);
        reserved.insert(host | ~mask);
    }
    return reserved;
}

FreeAddressSearch HostSubnetSearch(std::uint32_t host)
{
    FreeAddressSearch search;
    const std::uint32_t net = host & 0xFFFFFF00u;
    const std::uint32_t last = host & 0xFFu;
    if (last + 1 <= 253) {
        search.first = net | (last + 1);
        search.last = net | 253u;
    }
    search.wanted = 1;
    return search;
}

FreeAddressSearch HostSubnetSearch(std::uint32_t host, std::uint32_t mask, std::uint32_t gateway)
{
    FreeAddressSearch search = HostSubnetSearch(host);
    search.inUse = ReservedAddresses(host, mask, gateway);
    const std::uint32_t hostPart = ~mask;
    if (mask != 0 && (hostPart & (hostPart + 1)) == 0 && hostPart > 1u) {
        const std::uint32_t lastHost = (host | hostPart) - 1;
        search.last = std::min(search.last, lastHost);
    }
    return search;
}

FreeAddressSearch RangeSearch(std::uint32_t start, std::uint32_t end, long long wanted)
{
    FreeAddressSearch search;
    search.first = std::min(start, end);
    search.last = std::max(start, end);
    search.skipZeroLowNibble = true;
    search.wanted = wanted;
    return search;
}

FreeAddressWalk::FreeAddressWalk(FreeAddressSearch search, EchoProbes &probes)
    : search_(std::move(search)), probes_(probes)
{
    start();
}

FreeAddressWalk::FreeAddressWalk(FreeAddressSearch search, std::size_t window, const EchoOptions &options)
    : search_(std::move(search)), own_(std::make_unique<FreeAddressProbes>(window, options)), probes_(*own_)
{
    start();
}

void FreeAddressWalk::start()
{
    if (search_.addresses)
        total_ = search_.addresses->size();
    else if (search_.first <= search_.last)
        total_ = std::uint64_t{search_.last} - search_.first + 1;
    if (total_ == 0) {
        finished_ = true;
    } else if (!probes_.usable()) {
        // Every probe would give kEchoUnusable, which lists nothing: the
        // sequential walk would cover the whole range and list nothing.
        unusable_ = true;
        finished_ = true;
    }
}

FreeAddressWalk::~FreeAddressWalk()
{
    if (!finished_)
        probes_.cancel();
}

FreeAddressWalk::StepKind FreeAddressWalk::kindOf(std::uint32_t address) const
{
    if (search_.skipZeroLowNibble && (address & 0xFu) == 0)
        return StepKind::Skip;
    if (search_.inUse.count(address) != 0)
        return StepKind::InUse;
    return StepKind::Probe;
}

std::uint32_t FreeAddressWalk::addressAt(std::uint64_t index) const
{
    if (search_.addresses)
        return (*search_.addresses)[static_cast<std::size_t>(index)];
    return static_cast<std::uint32_t>(search_.first + index);
}

// The sequential walk reaches step `index` when it has not stopped after any
// earlier step. Every earlier step is either committed or open; even if all
// open probes that may still be free turn out free, the count stays below
// `wanted`, so the walk surely goes on.
bool FreeAddressWalk::reached(std::uint64_t index) const
{
    return index == 0 || free_ + maybeFree_ < search_.wanted;
}

void FreeAddressWalk::launch(std::uint64_t &budget)
{
    while (!finished_ && launched_ < total_ && budget > 0 && reached(launched_)) {
        const std::uint32_t address = addressAt(launched_);
        const StepKind kind = kindOf(address);
        if (kind == StepKind::Probe) {
            if (probes_.pending() >= probes_.window())
                break;
            probes_.enqueue(address, launched_);
            ++maybeFree_;
        }
        open_.push_back({address, kind, kind == StepKind::Probe ? kUnknown : kEchoAnswered});
        ++launched_;
        --budget;
    }
}

void FreeAddressWalk::apply(const std::vector<EchoResult> &results)
{
    for (const EchoResult &r : results) {
        if (finished_ || r.tag < committed_ || r.tag >= launched_)
            continue;
        Step &step = open_[static_cast<std::size_t>(r.tag - committed_)];
        if (step.kind != StepKind::Probe || step.result != kUnknown)
            continue;
        step.result = r.result;
        if (r.result != kEchoSilent)
            --maybeFree_;
    }
}

void FreeAddressWalk::commit(std::vector<std::uint32_t> &out, std::uint64_t &budget)
{
    while (!finished_ && !open_.empty() && open_.front().result != kUnknown && budget > 0) {
        const Step step = open_.front();
        open_.pop_front();
        ++committed_;
        --budget;
        if (step.kind == StepKind::Probe && step.result == kEchoSilent) {
            --maybeFree_;
            ++free_;
            found_.push_back(step.address);
            out.push_back(step.address);
        }
        if (free_ >= search_.wanted)
            finish();
    }
    if (!finished_ && committed_ == total_)
        finish();
}

void FreeAddressWalk::finish()
{
    finished_ = true;
    open_.clear();
    maybeFree_ = 0;
    probes_.cancel();
}

std::vector<std::uint32_t> FreeAddressWalk::pump(int maxWaitMs)
{
    std::vector<std::uint32_t> out;
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(maxWaitMs, 0));
    std::uint64_t budget = kStepBudget;
    std::pair<std::uint64_t, std::uint64_t> before{~std::uint64_t{0}, 0};
    for (;;) {
        commit(out, budget);
        launch(budget);
        commit(out, budget);
        if (finished_ || !out.empty() || budget == 0)
            return out;
        // Unless the front step's probe is in flight, more steps can be
        // handled at once.
        if (probes_.pending() == 0) {
            if (committed_ == before.first && launched_ == before.second)
                return out; // a prober that lost its requests; nothing to wait for
            before = {committed_, launched_};
            continue;
        }
        // The prober sends only while pumped: pump it even when no time is
        // left, so that pump(0) from a busy window still makes progress.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        apply(probes_.pump(static_cast<int>(std::max<decltype(left)>(left, 0))));
        if (left <= 0) {
            commit(out, budget);
            launch(budget);
            return out;
        }
    }
}

void FreeAddressWalk::setWanted(long long wanted)
{
    search_.wanted = wanted;
    // The sequential walk compares after each step; the last one committed
    // counts as the step just made.
    if (!finished_ && committed_ > 0 && free_ >= wanted)
        finish();
}

void FreeAddressWalk::cancel()
{
    if (finished_)
        return;
    cancelled_ = true;
    finish();
}

bool FreeAddressWalk::finished() const
{
    return finished_;
}

bool FreeAddressWalk::cancelled() const
{
    return cancelled_;
}

bool FreeAddressWalk::echoUnusable() const
{
    return unusable_;
}

bool FreeAddressWalk::neighbourTableOnly() const
{
    return probes_.tableOnly();
}

const std::vector<std::uint32_t> &FreeAddressWalk::found() const
{
    return found_;
}

std::uint64_t FreeAddressWalk::stepsDone() const
{
    return committed_;
}

std::uint64_t FreeAddressWalk::totalSteps() const
{
    return total_;
}

std::vector<std::uint32_t> FindFreeAddresses(const FreeAddressSearch &search, std::size_t window,
                                             const EchoOptions &options)
{
    FreeAddressWalk walk(search, window, options);
    while (!walk.finished())
        walk.pump(1000);
    return walk.found();
}

} // namespace hostnet
