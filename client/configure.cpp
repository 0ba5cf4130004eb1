#include "Configure.h"

#include "ResultText.h"
#include "Rules.h"

#include <algorithm>

namespace zclient {

namespace {

const char *const kSearchAgain = "Search again to see what each module took.";

// Valid addresses go out as dotted decimal; one equal to the module's own
// goes as it is, so that the library sees no change.
void canonical(std::optional<std::string> &address, const std::string &reported)
{
    if (address && *address != reported && isValidAddress(*address))
        address = canonicalAddress(*address);
}

} // namespace

std::vector<Pair> pairTicked(const std::vector<std::int32_t> &tickedModules,
                             const std::vector<std::string> &tickedAddresses, std::int32_t recordCount)
{
    std::vector<Pair> pairs;
    for (const std::int32_t module : tickedModules) {
        if (pairs.size() == tickedAddresses.size())
            break;
        if (module >= 1 && module <= recordCount)
            pairs.push_back({module, tickedAddresses[pairs.size()]});
    }
    return pairs;
}

std::vector<PlanItem> batchPlan(const std::vector<Pair> &pairs, const std::vector<Record> &records,
                                const std::string &mask, const std::string &gateway)
{
    std::vector<PlanItem> items;
    for (const Pair &p : pairs) {
        if (p.module < 1 || static_cast<std::size_t>(p.module) > records.size())
            continue;
        const Record &r = records[static_cast<std::size_t>(p.module - 1)];
        items.push_back({p.module, r, Settings{p.address, mask, gateway, r.mac, r.alias, false}});
    }
    return items;
}

PlanItem fileItem(std::int32_t module, const Record &reported, Settings give)
{
    if (give.alias == reported.alias)
        give.alias.reset();
    return {module, reported, std::move(give)};
}

std::string Configuration::check() const
{
    for (const PlanItem &item : items_)
        if (const Problem p = checkSettings(item.give, &item.reported))
            return problemMessage(p);
    return {};
}

std::int32_t Configuration::next()
{
    const PlanItem &item = current();
    std::int32_t result = -1;
    if (!checkSettings(item.give, &item.reported)) {
        Settings give = item.give;
        canonical(give.ip, item.reported.ip);
        canonical(give.mask, item.reported.mask);
        canonical(give.gateway, item.reported.gateway);
        result = session_.configure(item.module, give, item.reported.dhcp);
    }
    results_.push_back(result);
    return result;
}

void Configuration::stop()
{
    ended_ = true;
}

int Configuration::failed() const
{
    return static_cast<int>(std::count_if(results_.begin(), results_.end(), [](std::int32_t r) { return r != 0; }));
}

std::string Configuration::summary() const
{
    std::string s = std::string(ended_ ? "Batch ended" : "Batch complete") + ": " + std::to_string(done() - failed()) +
                    " of " + std::to_string(total()) + " modules set, " + std::to_string(failed()) + " failed";
    if (ended_ && notTried() > 0)
        s += ", " + std::to_string(notTried()) + " not tried";
    return failed() > 0 ? s + ". " + kSearchAgain : s;
}

std::string Configuration::outcome() const
{
    const int n = failed();
    if (n == 0)
        return "Setting complete";
    return std::to_string(n) + (n == 1 ? " module setting failed." : " modules setting failed.") + "\n" +
           kSearchAgain;
}

} // namespace zclient
