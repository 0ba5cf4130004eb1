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

bool sameMac(const std::string &a, const std::string &b)
{
    return canonicalMac(a).value_or(a) == canonicalMac(b).value_or(b);
}

bool sameAddress(const std::optional<std::string> &give, const std::string &seen)
{
    return !give || *give == seen || (isValidAddress(*give) && addressValue(*give) == addressValue(seen));
}

// Results for which no request went out.
bool nothingSent(std::int32_t result)
{
    return result == -1 || result == -10;
}

} // namespace

const char *outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Set: return "set";
    case Outcome::NotConfirmed: return "not confirmed";
    case Outcome::Refused: return "refused";
    case Outcome::Failed: return "failed";
    case Outcome::Acknowledged: return "acknowledged";
    }
    return "failed";
}

bool reportsGiven(const Record &seen, const Settings &give)
{
    // A module on DHCP takes its addresses from the server, not from us.
    const bool addresses = give.dhcp.value_or(seen.dhcp) ||
                           (sameAddress(give.ip, seen.ip) && sameAddress(give.mask, seen.mask) &&
                            sameAddress(give.gateway, seen.gateway));
    return addresses && (!give.mac || sameMac(*give.mac, seen.mac)) && (!give.alias || *give.alias == seen.alias) &&
           (!give.dhcp || *give.dhcp == seen.dhcp);
}

Outcome judgeOutcome(std::int32_t result, const Settings &give, const std::string &mac,
                     const std::vector<Record> *after)
{
    const bool acknowledged = result == 0 || result == -9;
    if (!after)
        return acknowledged ? Outcome::Acknowledged : result == 1 ? Outcome::Refused : Outcome::Failed;
    if (nothingSent(result))
        return Outcome::Failed;
    bool seen = false, all = true;
    for (const Record &r : *after)
        if (sameMac(r.mac, mac)) {
            seen = true;
            all = all && reportsGiven(r, give);
        }
    if (seen && all)
        return Outcome::Set;
    if (acknowledged)
        return Outcome::NotConfirmed;
    return result == 1 ? Outcome::Refused : Outcome::Failed;
}

std::string reportedInstead(const std::string &mac, const std::vector<Record> &after)
{
    for (const Record &r : after)
        if (sameMac(r.mac, mac))
            return "reports IP " + r.ip + ", mask " + r.mask + ", gateway " + r.gateway + ", DHCP " +
                   (r.dhcp ? "Enable" : "Disable") + ", alias " + aliasForGrid(r.alias);
    return "did not answer";
}

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
    Settings give = item.give;
    if (!checkSettings(item.give, &item.reported)) {
        canonical(give.ip, item.reported.ip);
        canonical(give.mask, item.reported.mask);
        canonical(give.gateway, item.reported.gateway);
        result = session_.configure(item.module, give, item.reported.dhcp);
    }
    const int k = done();
    results_.push_back(result);
    sent_.push_back(std::move(give));
    outcomes_.push_back(judgeOutcome(result, sent_.back(), macAfter(k), nullptr));
    return result;
}

std::string Configuration::macAfter(int k) const
{
    const PlanItem &item = items_[static_cast<std::size_t>(k)];
    if (item.give.mac)
        if (const auto mac = canonicalMac(*item.give.mac))
            return *mac;
    return item.reported.mac;
}

std::vector<std::string> Configuration::awaited() const
{
    std::vector<std::string> macs;
    for (int k = 0; k < done(); ++k)
        if (!nothingSent(results_[static_cast<std::size_t>(k)]))
            macs.push_back(macAfter(k));
    return macs;
}

void Configuration::confirm(const std::vector<Record> *after)
{
    for (int k = 0; k < done(); ++k) {
        const auto i = static_cast<std::size_t>(k);
        outcomes_[i] = judgeOutcome(results_[i], sent_[i], macAfter(k), after);
    }
    confirmed_ = after != nullptr;
}

int Configuration::counted(Outcome outcome) const
{
    return static_cast<int>(std::count(outcomes_.begin(), outcomes_.end(), outcome));
}

void Configuration::stop()
{
    ended_ = true;
}

int Configuration::failed() const
{
    return counted(Outcome::Refused) + counted(Outcome::Failed);
}

std::string Configuration::summary() const
{
    const int set = counted(confirmed_ ? Outcome::Set : Outcome::Acknowledged);
    std::string s = std::string(ended_ ? "Batch ended" : "Batch complete") + ": " + std::to_string(set) + " of " +
                    std::to_string(total()) + " modules " + (confirmed_ ? "set" : "acknowledged") + ", ";
    if (const int n = counted(Outcome::NotConfirmed); n > 0)
        s += std::to_string(n) + " not confirmed, ";
    s += std::to_string(failed()) + " failed";
    if (ended_ && notTried() > 0)
        s += ", " + std::to_string(notTried()) + " not tried";
    return failed() > 0 ? s + ". " + kSearchAgain : s;
}

std::string Configuration::outcome() const
{
    const int n = failed(), unconfirmed = counted(Outcome::NotConfirmed);
    if (n == 0 && unconfirmed == 0)
        return "Setting complete";
    std::string s;
    if (unconfirmed > 0)
        s = std::to_string(unconfirmed) +
            (unconfirmed == 1 ? " module not confirmed: it does not report the new settings."
                              : " modules not confirmed: they do not report the new settings.");
    if (n == 0)
        return s;
    return (s.empty() ? s : s + "\n") + std::to_string(n) +
           (n == 1 ? " module setting failed." : " modules setting failed.") + "\n" + kSearchAgain;
}

} // namespace zclient
