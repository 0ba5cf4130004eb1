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

    // The log line: "Batch complete: 2 of 3 modules set, 1 failed. Search
    // again to see what each module took.", "Batch ended: ..., 1 not tried".
    std::string summary() const;
    // The closing box's text: "Setting complete", or how many failed.
    std::string outcome() const;

private:
    Session &session_;
    std::vector<PlanItem> items_;
    std::vector<std::int32_t> results_;
    bool ended_ = false;
};

} // namespace zclient
