// Configuring one module or a batch as steps the caller drives: a plan,
// a check of all of it before anything is sent, then one module per next()
// so that the caller can show progress, ask after a failure or stop.
#pragma once

#include "Record.h"
#include "Session.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zclient {

struct PlanItem {
    std::int32_t module = 0; // the library's record number
    Record reported;         // the module as the last search reported it
    Settings give;
};

// The batch's pairing: the k-th ticked module gets the k-th ticked address.
// A module number without a record of the last search (outside 1 to
// recordCount) is passed over and takes no address.
struct Pair {
    std::int32_t module;
    std::string address;
};
std::vector<Pair> pairTicked(const std::vector<std::int32_t> &tickedModules,
                             const std::vector<std::string> &tickedAddresses, std::int32_t recordCount);
// Each paired module gets its address, the host's mask and gateway and
// static addressing, and keeps its own MAC and alias. `records` are the
// last search's, record n at index n - 1.
std::vector<PlanItem> batchPlan(const std::vector<Pair> &pairs, const std::vector<Record> &records,
                                const std::string &mask, const std::string &gateway);
// A row of a file for the module found: an alias equal to the module's is
// left out, so that a list applied unchanged sends nothing.
PlanItem fileItem(std::int32_t module, const Record &reported, Settings give);

// What a configured module is told to have ended as. The module's own report
// in the confirming search is the truth; an acknowledgement alone proves
// nothing, as it carries no MAC.
enum class Outcome {
    Set,          // the confirming search saw the new settings
    NotConfirmed, // acknowledged, but reports its old settings or did not answer
    Refused,
    Failed,       // no acknowledgement, not sent, nothing sent
    Acknowledged, // accepted, and no check asked for
};
// "set", "not confirmed", "refused", "failed", "acknowledged".
const char *outcomeText(Outcome outcome);
// Whether a module's report shows every setting of `give` (addresses by
// value, MACs in any case).
bool reportsGiven(const Record &seen, const Settings &give);
// One module's outcome from Zarfel_ConfigModule's result and the records of
// the confirming search (null: no check). `mac` is the MAC the module is to
// answer under; every record with it must show the new settings.
Outcome judgeOutcome(std::int32_t result, const Settings &give, const std::string &mac,
                     const std::vector<Record> *after);
// What a module not confirmed reports instead, for the operator: "reports IP
// ..., mask ..." or "did not answer".
std::string reportedInstead(const std::string &mac, const std::vector<Record> &after);

class Configuration {
public:
    Configuration(Session &session, std::vector<PlanItem> items) : session_(session), items_(std::move(items)) {}

    // The first problem of any item in the program's words, or empty. An
    // item with a problem is never sent, whether this was asked or not.
    std::string check() const;

    bool finished() const { return ended_ || done() == total(); }
    const PlanItem &current() const { return items_[results_.size()]; }
    // Configures the current item: Zarfel_ConfigModule's result (-1 for an
    // item that failed its check). Valid addresses go out in canonical form.
    std::int32_t next();
    // Ends the batch (the operator's Stop, or No after a failure), also
    // after its last item: the operator chose to end it.
    void stop();

    int total() const { return static_cast<int>(items_.size()); }
    int done() const { return static_cast<int>(results_.size()); }
    int failed() const;
    int notTried() const { return total() - done(); }
    bool ended() const { return ended_; }
    const std::vector<std::int32_t> &results() const { return results_; }
    const std::vector<PlanItem> &items() const { return items_; }

    // The MACs the confirming search waits for: each module a request went
    // to, under the MAC it is to have.
    std::vector<std::string> awaited() const;
    // The MAC item k is to answer under.
    std::string macAfter(int k) const;
    // Judges every module tried by the records of the confirming search;
    // null when the check is off. Until then each outcome is the
    // acknowledgement's.
    void confirm(const std::vector<Record> *after);
    bool confirmed() const { return confirmed_; }
    const std::vector<Outcome> &outcomes() const { return outcomes_; }
    int counted(Outcome outcome) const;

    // The log line: "Batch complete: 2 of 3 modules set, 1 not confirmed,
    // 1 failed. Search again to see what each module took.", "Batch ended:
    // ..., 1 not tried"; "acknowledged" instead of "set" without a check.
    std::string summary() const;
    // The closing box's text: "Setting complete", or how many failed or
    // were not confirmed.
    std::string outcome() const;

private:
    Session &session_;
    std::vector<PlanItem> items_;
    std::vector<std::int32_t> results_;
    std::vector<Settings> sent_; // as they went out, for the check
    std::vector<Outcome> outcomes_;
    bool ended_ = false;
    bool confirmed_ = false;
};

} // namespace zclient
