// The neighbour table on Windows, through IP Helper without privilege: an
// address's entry as the echo request left it (GetIpNetEntry2); where the
// system holds none, a resolution of its own (ResolveIpNetEntry2, or SendARP
// where that is missing). Those calls may block for seconds, so a few
// workers make them and the window only collects answers. The functions are
// looked up at run time: an IP Helper without them (Wine's, for one) leaves
// the table unusable and echo alone decides, as before.
#include "NeighbourCheck.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace hostnet {

namespace {

constexpr int kWorkers = 8;

using GetEntry = DWORD(WINAPI *)(PMIB_IPNET_ROW2);
using ResolveEntry = DWORD(WINAPI *)(PMIB_IPNET_ROW2, const SOCKADDR_INET *);
using SendArp = DWORD(WINAPI *)(IPAddr, IPAddr, PVOID, PULONG);

struct Functions
{
    GetEntry get = nullptr;
    ResolveEntry resolve = nullptr;
    SendArp sendArp = nullptr;
};

template <typename F>
F lookUp(HMODULE dll, const char *name)
{
    return reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(GetProcAddress(dll, name)));
}

NeighbourState stateOf(NL_NEIGHBOR_STATE state)
{
    switch (state) {
    case NlnsIncomplete: return NeighbourState::Incomplete;
    case NlnsProbe: return NeighbourState::Probe;
    case NlnsDelay: return NeighbourState::Delay;
    case NlnsStale: return NeighbourState::Stale;
    case NlnsReachable: return NeighbourState::Reachable;
    case NlnsPermanent: return NeighbourState::Permanent;
    case NlnsUnreachable: return NeighbourState::Failed;
    default: return NeighbourState::Unknown;
    }
}

NeighbourState lookUpAddress(const Functions &f, std::uint32_t address)
{
    if (f.get) {
        MIB_IPNET_ROW2 row{};
        row.Address.si_family = AF_INET;
        row.Address.Ipv4.sin_family = AF_INET;
        row.Address.Ipv4.sin_addr.s_addr = htonl(address);
        DWORD index = 0;
        if (GetBestInterface(htonl(address), &index) != NO_ERROR)
            return NeighbourState::Unknown;
        row.InterfaceIndex = index;
        const DWORD got = f.get(&row);
        if (got == NO_ERROR && row.State != NlnsUnreachable && row.State != NlnsIncomplete)
            return stateOf(row.State);
        if (got == NO_ERROR || !f.resolve)
            return got == NO_ERROR ? stateOf(row.State) : NeighbourState::Unknown;
        return f.resolve(&row, nullptr) == NO_ERROR ? NeighbourState::Reachable : NeighbourState::Failed;
    }
    ULONG mac[2] = {0, 0};
    ULONG size = sizeof mac;
    return f.sendArp(htonl(address), 0, mac, &size) == NO_ERROR && size > 0 ? NeighbourState::Reachable
                                                                             : NeighbourState::Failed;
}

// Shared with the workers, which may outlive the table: a call that blocks
// must never hold up whoever closes it.
struct Shared
{
    Functions functions;
    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::uint32_t> asked;
    std::vector<std::pair<std::uint32_t, NeighbourState>> answered;
    bool stop = false;
};

void work(std::shared_ptr<Shared> s)
{
    std::unique_lock<std::mutex> hold(s->lock);
    for (;;) {
        s->wake.wait(hold, [&] { return s->stop || !s->asked.empty(); });
        if (s->stop)
            return;
        const std::uint32_t address = s->asked.front();
        s->asked.pop_front();
        hold.unlock();
        const NeighbourState state = lookUpAddress(s->functions, address);
        hold.lock();
        if (!s->stop)
            s->answered.emplace_back(address, state);
    }
}

class WindowsNeighbourTable final : public NeighbourTable
{
public:
    WindowsNeighbourTable() : s_(std::make_shared<Shared>())
    {
        if (const HMODULE dll = GetModuleHandleA("iphlpapi.dll")) {
            s_->functions.get = lookUp<GetEntry>(dll, "GetIpNetEntry2");
            s_->functions.resolve = lookUp<ResolveEntry>(dll, "ResolveIpNetEntry2");
            s_->functions.sendArp = lookUp<SendArp>(dll, "SendARP");
        }
        usable_ = s_->functions.get || s_->functions.sendArp;
    }
    ~WindowsNeighbourTable() override
    {
        {
            std::lock_guard<std::mutex> hold(s_->lock);
            s_->stop = true;
        }
        s_->wake.notify_all();
        for (std::thread &t : workers_)
            t.detach();
    }
    bool usable() const override { return usable_; }
    void ask(const std::vector<std::uint32_t> &addresses) override
    {
        if (!usable_ || addresses.empty())
            return;
        {
            std::lock_guard<std::mutex> hold(s_->lock);
            s_->asked.insert(s_->asked.end(), addresses.begin(), addresses.end());
        }
        open_ += addresses.size();
        while (workers_.size() < kWorkers && workers_.size() < open_)
            workers_.emplace_back(work, s_);
        s_->wake.notify_all();
    }
    std::vector<std::pair<std::uint32_t, NeighbourState>> answers() override
    {
        std::lock_guard<std::mutex> hold(s_->lock);
        open_ -= std::min(open_, s_->answered.size());
        return std::exchange(s_->answered, {});
    }
    std::size_t open() const override { return open_; }
    void cancel() override
    {
        std::lock_guard<std::mutex> hold(s_->lock);
        s_->asked.clear();
        s_->answered.clear();
        open_ = 0;
    }

private:
    std::shared_ptr<Shared> s_;
    std::vector<std::thread> workers_;
    std::size_t open_ = 0;
    bool usable_ = false;
};

} // namespace

std::unique_ptr<NeighbourTable> OpenNeighbourTable()
{
    return std::make_unique<WindowsNeighbourTable>();
}

// The system's echo service needs no privilege on Windows: no datagram
// probes are needed in its place.
std::unique_ptr<EchoProbes> OpenDatagramProbes(std::size_t, const EchoOptions &)
{
    return nullptr;
}

} // namespace hostnet
