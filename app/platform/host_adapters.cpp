// The host's adapters as the program sees them: the library's adapter list,
// the operator's choice among them and the chosen adapter's settings.
// Portable: the list is the platform's part.
#include "HostNetwork.h"

#include "adapters.h"

#include <algorithm>
#include <mutex>

namespace hostnet {

namespace {
std::mutex g_choiceMutex;
std::string g_choice;
} // namespace

void SetHostAdapterChoice(const std::string &id)
{
    const std::lock_guard lock(g_choiceMutex);
    g_choice = id;
}

std::string HostAdapterChoice()
{
    const std::lock_guard lock(g_choiceMutex);
    return g_choice;
}

std::vector<HostAdapter> ListHostAdapters()
{
    std::vector<HostAdapter> adapters;
    for (const zarfel::platform::Adapter &a : zarfel::platform::listAdapters().adapters)
        adapters.push_back({a.id, a.label, a.address, a.mask, a.canBroadcast});
    return adapters;
}

HostAdapterSettings ReadHostAdapterSettings()
{
    const zarfel::platform::AdapterList list = zarfel::platform::listAdapters();
    HostAdapterSettings settings;
    settings.listFailed = !list.read;
    if (list.adapters.empty()) {
        settings.address = settings.mask = settings.gateway = "0.0.0.0";
        return settings;
    }
    // The chosen adapter; else, and when the host no longer has it, the
    // first one listed.
    const std::string choice = HostAdapterChoice();
    auto chosen = std::find_if(list.adapters.begin(), list.adapters.end(),
                               [&](const zarfel::platform::Adapter &a) { return a.id == choice; });
    if (choice.empty() || chosen == list.adapters.end())
        chosen = list.adapters.begin();
    settings.address = AddressToText(chosen->address);
    settings.mask = AddressToText(chosen->mask);
    settings.gateway = chosen->gateway != 0 ? AddressToText(chosen->gateway) : std::string();
    settings.result = 0;
    return settings;
}

int ReadHostAdapter(int item, std::string &text, bool *sizeQueryFailed)
{
    if (sizeQueryFailed)
        *sizeQueryFailed = false;
    if (item < 1 || item > 3)
        return 1;
    const HostAdapterSettings settings = ReadHostAdapterSettings();
    if (sizeQueryFailed)
        *sizeQueryFailed = settings.listFailed;
    text = item == 1 ? settings.address : item == 2 ? settings.mask : settings.gateway;
    return settings.result;
}

} // namespace hostnet
