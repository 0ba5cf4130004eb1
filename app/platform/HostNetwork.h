// Host network services of the program: the host's own adapter settings,
// the check of typed address texts, one ICMP echo request at a time, and a
// concurrent echo prober with a free-address walk on top of it.
//
// No toolkit and no platform types in this header: the adapters come from
// the library's adapter list (library/platform/adapters.h), each platform
// supplies its own echo prober and address texts, the walk is portable. Addresses as numbers are IPv4 in host byte order, first
// octet most significant (what htonl(inet_addr(text)) gives).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace hostnet {

// --- Host adapter -------------------------------------------------------------

// An IPv4 adapter of the host: `id` names it in option.ini (the interface
// name on Linux, the adapter's identifier on Windows), `label` is what the
// operator reads; address and mask of its first IPv4 address.
struct HostAdapter
{
    std::string id;
    std::string label;
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
    bool canBroadcast = true; // a search's limited broadcast goes out of it
};

// The adapters that are up, not loopback and have an IPv4 address, in the
// system's order.
std::vector<HostAdapter> ListHostAdapters();

// The adapter that ReadHostAdapter reads, for the whole process: empty for
// the first adapter (the default). An id the host does not have (now) reads
// the first adapter as well.
void SetHostAdapterChoice(const std::string &id);
std::string HostAdapterChoice();

// The settings of the host's chosen adapter, by default its first network
// adapter that is up and has an IPv4 address (an adapter that is down or has
// none is passed over), read at once.
struct HostAdapterSettings
{
    // Dotted texts: its IPv4 address, that address's subnet mask and its
    // default gateway (empty when it has none). All "0.0.0.0" when no
    // adapter is up with an IPv4 address.
    std::string address, mask, gateway;
    int result = 1;          // 0 values read; 1 no adapter is up with an IPv4 address
    bool listFailed = false; // no adapter list could be read at all (nothing
                             // but the loopback, for one), so the caller
                             // can tell the operator; result is then 1
};
HostAdapterSettings ReadHostAdapterSettings();

// One setting of ReadHostAdapterSettings(): item 1 the address, 2 the mask,
// 3 the gateway.
//   0: `text` holds the value; empty when the value cannot be read (no
//      default route through that adapter, for one).
//   1: no adapter is up with an IPv4 address: `text` is "0.0.0.0"; or the
//      item is not 1 to 3: `text` unchanged.
// *sizeQueryFailed is the settings' listFailed, false for an item that is
// not 1 to 3 (nothing is read then).
int ReadHostAdapter(int item, std::string &text, bool *sizeQueryFailed = nullptr);

// --- Address texts ----------------------------------------------------------------

// True when the text converts (inet_addr) to an address other than 0.0.0.0
// and 255.255.255.255. Short, octal and hexadecimal forms pass ("10" is
// 0.0.0.10); malformed and empty texts convert to 255.255.255.255 and fail.
// Serves for addresses, masks and gateways alike (no contiguity check).
bool IsValidAddressText(const std::string &text);

// inet_addr in host byte order; 0xFFFFFFFF for a text it does not accept.
std::uint32_t AddressFromText(const std::string &text);
// Dotted decimal, as inet_ntoa writes it.
std::string AddressToText(std::uint32_t address);

// --- ICMP echo ----------------------------------------------------------------------

inline constexpr int kEchoAnswered = 1;  // an echo reply came from the address
inline constexpr int kEchoSilent = 0;    // no reply within the time-out
inline constexpr int kEchoUnusable = -1; // no echo socket could be opened, or
                                         // the system refuses to send echo
inline constexpr int kEchoNotSent = -2;  // the system refused to send this one
                                         // request (a broadcast address, an
                                         // adapter that is down, a firewall):
                                         // nothing is known of the address, so
                                         // it is never taken for free

inline constexpr int kEchoTimeoutMs = 500;
inline constexpr int kEchoTimeToLive = 255;
// Wide enough for every address of a /24 at once, so that a walk takes
// about one time-out; the sends are paced (kEchoSendGapMs) so that a plant
// network sees a trickle: up to kEchoSendBurst at once, then one request
// every kEchoSendGapMs.
inline constexpr std::size_t kDefaultEchoWindow = 256;
inline constexpr int kEchoSendBurst = 16;
inline constexpr int kEchoSendGapMs = 1;

enum class EchoSocketKind {
    Automatic, // datagram when the system permits it, raw otherwise
    Datagram,  // unprivileged ICMP datagram socket only
    Raw,       // raw ICMP socket only (needs the raw-socket privilege)
};

struct EchoOptions
{
    EchoSocketKind socketKind = EchoSocketKind::Automatic;
    int timeoutMs = kEchoTimeoutMs;
    int timeToLive = kEchoTimeToLive;
};

// Sends exactly one echo request (no data, time to live 255) and waits up to
// 500 ms for the matching reply: from that address, with the request's
// identifier and sequence number. Returns kEchoAnswered as soon as it
// arrives; other echo replies neither count nor end the wait. kEchoSilent
// when none came, kEchoNotSent when the system refused to send to the
// address (or it is one no request goes to: 0/8, multicast, broadcast),
// kEchoUnusable when no echo socket can be opened (on Windows: ICMP.DLL or
// one of its functions is missing, the sockets interface does not start in
// version 1.1, or the echo service refuses to work at all). The text is
// converted with inet_addr and not checked.
int PingAddress(const std::string &address);
int PingAddress(const std::string &address, const EchoOptions &options);

// False for the destinations no echo request is sent to on any platform:
// "this network" (0/8), multicast, the reserved block and the limited
// broadcast. Their probes give kEchoNotSent at once.
bool IsEchoDestination(std::uint32_t address);

struct EchoResult
{
    std::uint64_t tag = 0; // as given to enqueue()
    std::uint32_t address = 0;
    int result = kEchoSilent;
};

// What the free-address walk needs of an echo prober; tests put a scripted
// one in its place.
class EchoProbes
{
public:
    virtual ~EchoProbes() = default;
    // False when no echo socket could be opened: every request then gives
    // kEchoUnusable without being sent.
    virtual bool usable() const = 0;
    // At most this many requests are in flight at a time.
    virtual std::size_t window() const = 0;
    // Queues one request; requests leave in queue order.
    virtual void enqueue(std::uint32_t address, std::uint64_t tag) = 0;
    // Requests queued or in flight, whose result has not been handed out.
    virtual std::size_t pending() const = 0;
    // Sends what the window allows and waits up to maxWaitMs, returning as
    // soon as results are known (in the order they became known). Returns
    // at once with nothing when nothing is pending.
    virtual std::vector<EchoResult> pump(int maxWaitMs) = 0;
    // Forgets every pending request; their late replies are ignored.
    virtual void cancel() = 0;
    // True when no echo goes out and only the host's neighbour table tells
    // used addresses from free ones (NeighbourCheck.h).
    virtual bool tableOnly() const { return false; }
};

// Many echo requests over one non-blocking socket, at most `window` in
// flight, each with its own time-out from the moment it is sent, paced as
// kEchoSendBurst and kEchoSendGapMs say. Driven by
// pump(), so a window's event loop can run between calls; no threads. One
// prober belongs to one thread; several probers (and PingAddress calls) may
// run side by side, also in other threads. On Windows the requests go
// through the system's echo service, one event each, and the window is at
// most 64 (the events one wait can watch); the socket kind of the options
// makes no difference there.
class EchoProber final : public EchoProbes
{
public:
    explicit EchoProber(std::size_t window = kDefaultEchoWindow, const EchoOptions &options = {});
    ~EchoProber() override;
    EchoProber(const EchoProber &) = delete;
    EchoProber &operator=(const EchoProber &) = delete;

    bool usable() const override;
    // The kind of socket in use (Datagram or Raw); Automatic when unusable.
    EchoSocketKind socketKind() const;
    std::size_t window() const override;
    void enqueue(std::uint32_t address, std::uint64_t tag = 0) override;
    std::size_t pending() const override;
    std::vector<EchoResult> pump(int maxWaitMs) override;
    void cancel() override;

    // Requests sent and not yet resolved, and the most there ever were.
    std::size_t outstanding() const;
    std::size_t maxOutstanding() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// --- Free-address walk ------------------------------------------------------------

// The walk that both configuration dialogs make: candidates in order, one
// step each; a step probes the candidate unless it is skipped or known to be
// in use; a probe result of kEchoSilent lists the candidate as free; after
// every step the walk stops once the number listed has reached `wanted`
// (so it always makes at least one step).
struct FreeAddressSearch
{
    // Candidates in walk order: these when given, else first..last
    // ascending (none when first > last).
    std::optional<std::vector<std::uint32_t>> addresses;
    std::uint32_t first = 1;
    std::uint32_t last = 0;
    // Steps over candidates whose low four bits are zero without probing.
    bool skipZeroLowNibble = false;
    // Candidates that count as in use without a probe (modules that the
    // last search reported, for one).
    std::unordered_set<std::uint32_t> inUse;
    long long wanted = 1;
};

// The addresses of the host's subnet that no module may be given: the
// network address and the broadcast address of the host's subnet (none on
// a /31 or /32), the host's own address and its gateway (0 for none). A mask
// of 0 or with holes names no subnet: only the host and gateway then.
std::unordered_set<std::uint32_t> ReservedAddresses(std::uint32_t host, std::uint32_t mask, std::uint32_t gateway);

// The single-module dialog: the first free address after the host's own,
// up to .253 of the host's first three octets (none when the host's last
// octet is 253 or more).
FreeAddressSearch HostSubnetSearch(std::uint32_t host);
// The same within the host's subnet as its mask names it: never beyond the
// address below the subnet's broadcast address, and the reserved addresses
// (ReservedAddresses) in use. A mask of 0 or with holes changes nothing.
FreeAddressSearch HostSubnetSearch(std::uint32_t host, std::uint32_t mask, std::uint32_t gateway);
// The range search: start and end inclusive in either order, addresses
// with zero low four bits skipped, stop at `wanted`.
FreeAddressSearch RangeSearch(std::uint32_t start, std::uint32_t end, long long wanted);

// The one-at-a-time walk, with `probe` giving the result for one address.
template <class Probe>
std::vector<std::uint32_t> SequentialFreeAddressWalk(const FreeAddressSearch &search, Probe &&probe);

// The same walk with many probes in flight, giving exactly the sequential
// walk's list: steps are committed strictly in candidate order, and a
// candidate is probed only once the walk is sure to reach it, i.e. while the
// free addresses committed plus those still possible before it stay below
// `wanted`. It therefore never probes an address that the sequential walk
// would not probe. Cancelling keeps what was committed, a prefix of the
// sequential walk's list.
class FreeAddressWalk
{
public:
    // Probes through `probes`, which must outlive the walk and have nothing
    // pending.
    FreeAddressWalk(FreeAddressSearch search, EchoProbes &probes);
    // Probes through probes of its own: echo requests checked against the
    // host's neighbour table, never the host's own addresses
    // (FreeAddressProbes of NeighbourCheck.h).
    explicit FreeAddressWalk(FreeAddressSearch search, std::size_t window = kDefaultEchoWindow,
                             const EchoOptions &options = {});
    ~FreeAddressWalk();
    FreeAddressWalk(const FreeAddressWalk &) = delete;
    FreeAddressWalk &operator=(const FreeAddressWalk &) = delete;

    // Runs for up to maxWaitMs and returns the free addresses committed by
    // this call, in walk order; returns early when some were committed or
    // the walk has finished.
    std::vector<std::uint32_t> pump(int maxWaitMs);
    // Re-reads the wished number; it is compared after each committed step.
    void setWanted(long long wanted);
    void cancel();

    bool finished() const;
    bool cancelled() const;
    // The echo service could not be used: nothing can be listed, so the walk
    // ended at once (the sequential walk would list nothing either).
    bool echoUnusable() const;
    // Echo could not be used, so datagrams went out and only the host's
    // neighbour table told used addresses from free ones.
    bool neighbourTableOnly() const;
    const std::vector<std::uint32_t> &found() const;
    std::uint64_t stepsDone() const;
    std::uint64_t totalSteps() const;

private:
    enum class StepKind { Probe, Skip, InUse };
    struct Step
    {
        std::uint32_t address;
        StepKind kind;
        int result; // kUnknown until the probe's result is known
    };
    static constexpr int kUnknown = -100;

    void start();
    StepKind kindOf(std::uint32_t address) const;
    std::uint32_t addressAt(std::uint64_t index) const;
    bool reached(std::uint64_t index) const;
    void launch(std::uint64_t &budget);
    void commit(std::vector<std::uint32_t> &out, std::uint64_t &budget);
    void apply(const std::vector<EchoResult> &results);
    void finish();

    FreeAddressSearch search_;
    std::unique_ptr<EchoProbes> own_;
    EchoProbes &probes_;
    std::uint64_t total_ = 0;
    std::uint64_t launched_ = 0;  // steps handed out (probed, skipped, in use)
    std::uint64_t committed_ = 0; // steps whose outcome is in found_
    std::deque<Step> open_;       // steps launched_ - open_.size() .. launched_ - 1
    long long free_ = 0;          // listed so far
    long long maybeFree_ = 0;     // open probes not known to be in use
    std::vector<std::uint32_t> found_;
    bool finished_ = false;
    bool cancelled_ = false;
    bool unusable_ = false;
};

// Runs a FreeAddressWalk (with probes of its own) to its end (blocking).
std::vector<std::uint32_t> FindFreeAddresses(const FreeAddressSearch &search,
                                             std::size_t window = kDefaultEchoWindow,
                                             const EchoOptions &options = {});

// --- template definition ------------------------------------------------------------

template <class Probe>
std::vector<std::uint32_t> SequentialFreeAddressWalk(const FreeAddressSearch &search, Probe &&probe)
{
    std::vector<std::uint32_t> found;
    const auto step = [&](std::uint32_t address) {
        const bool skipped = search.skipZeroLowNibble && (address & 0xFu) == 0;
        if (!skipped && search.inUse.count(address) == 0 && probe(address) == kEchoSilent)
            found.push_back(address);
        return static_cast<long long>(found.size()) < search.wanted;
    };
    if (search.addresses) {
        for (const std::uint32_t address : *search.addresses)
            if (!step(address))
                break;
    } else if (search.first <= search.last) {
        for (std::uint32_t address = search.first;; ++address)
            if (!step(address) || address == search.last)
                break;
    }
    return found;
}

} // namespace hostnet
