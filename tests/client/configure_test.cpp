// The configuration steps against a scripted table of exports.
#include "client/Configure.h"

#include "fake_exports.h"

#include <gtest/gtest.h>

using namespace zclient;

namespace {

std::vector<Record> found()
{
    std::vector<Record> records(3);
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].name = "M" + std::to_string(i + 1);
        records[i].alias = i == 1 ? "" : "pump";
        records[i].dhcp = true;
        records[i].ip = "198.18.0." + std::to_string(101 + i);
        records[i].mac = "00:0E:C6:00:00:0" + std::to_string(i + 1);
    }
    return records;
}

std::vector<PlanItem> threeModules()
{
    return batchPlan(pairTicked({3, 1, 2}, {"198.18.000.077", "198.18.0.80", "198.18.0.81"}, 3), found(),
                     "255.255.255.0", "198.18.0.1");
}

} // namespace

TEST(Batch, KthTickedModuleGetsKthTickedAddress)
{
    // 7 and 0 name no record of the last search: passed over, taking none.
    const auto pairs = pairTicked({7, 2, 0, 1, 3}, {"a", "b"}, 3);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].module, 2);
    EXPECT_EQ(pairs[0].address, "a");
    EXPECT_EQ(pairs[1].module, 1);
    EXPECT_EQ(pairs[1].address, "b");
}

TEST(Batch, StepsReportProgressAndTheSummary)
{
    Session session(fake::exports({0, -2, 0}));
    Configuration batch(session, threeModules());
    EXPECT_EQ(batch.check(), "");
    EXPECT_EQ(batch.next(), 0);
    EXPECT_EQ(batch.next(), -2);
    EXPECT_EQ(batch.done(), 2);
    EXPECT_EQ(batch.failed(), 1);
    EXPECT_FALSE(batch.finished());
    EXPECT_EQ(batch.next(), 0);
    EXPECT_TRUE(batch.finished());
    // Static addressing, the host's mask and gateway, the module's own MAC
    // and alias; the address in the form that was checked.
    EXPECT_EQ(fake::requests, (std::vector<std::string>{
                                  "3 198.18.0.63 255.255.255.0 198.18.0.1 00:0E:C6:00:00:03 0 pump",
                                  "1 198.18.0.80 255.255.255.0 198.18.0.1 00:0E:C6:00:00:01 0 pump",
                                  "2 198.18.0.81 255.255.255.0 198.18.0.1 00:0E:C6:00:00:02 0 "}));
    // Without the check an acknowledgement is all there is to tell.
    EXPECT_EQ(batch.summary(),
              "Batch complete: 2 of 3 modules acknowledged, 1 failed. Search again to see what each module took.");
    EXPECT_EQ(batch.outcome(), "1 module setting failed.\nSearch again to see what each module took.");
}

TEST(Batch, StopBetweenItemsLeavesTheRestNotTried)
{
    Session session(fake::exports({-2}));
    Configuration batch(session, threeModules());
    batch.next();
    batch.stop();
    EXPECT_TRUE(batch.finished());
    EXPECT_EQ(fake::requests.size(), 1u);
    EXPECT_EQ(batch.summary(),
              "Batch ended: 0 of 3 modules acknowledged, 1 failed, 2 not tried. Search again to see what each module took.");

    Configuration clean(session, threeModules());
    clean.next();
    clean.stop();
    EXPECT_EQ(clean.summary(), "Batch ended: 1 of 3 modules acknowledged, 0 failed, 2 not tried");
    EXPECT_EQ(clean.outcome(), "Setting complete");

    // No after the last module's failure still ends the batch, with nothing
    // left untried.
    Configuration last(session, {threeModules()[0]});
    last.next();
    last.stop();
    EXPECT_EQ(last.summary().rfind("Batch ended: 1 of 1 modules acknowledged, 0 failed", 0), 0u);
}

TEST(Batch, AFailedCheckSendsNothing)
{
    auto items = threeModules();
    items[1].give.ip = "198.18.0.300";
    Session session(fake::exports());
    Configuration batch(session, items);
    EXPECT_EQ(batch.check(), "'198.18.0.300' is not valid IP address.");
    // Even a caller that goes on anyway sends nothing for that item.
    batch.next();
    EXPECT_EQ(batch.next(), -1);
    EXPECT_EQ(fake::requests.size(), 1u);
}

TEST(Session, WaitCallsIdleUntilTheSearchEndsOrTheBound)
{
    Session session(fake::exports());
    int idles = 0;
    fake::searchPolls = 3;
    EXPECT_TRUE(session.waitWhileSearching(std::chrono::seconds(5), [&] { ++idles; }));
    EXPECT_EQ(idles, 3);
    fake::searchPolls = 1000000;
    EXPECT_FALSE(session.waitWhileSearching(std::chrono::milliseconds(20), [] {}));
    fake::searchPolls = 0;
}

namespace {

// The records of a confirming search: module k as it answered.
std::vector<Record> after(const std::vector<PlanItem> &items, const std::vector<bool> &tookIt)
{
    std::vector<Record> records;
    for (std::size_t k = 0; k < items.size(); ++k) {
        Record r = items[k].reported;
        if (tookIt[k]) {
            r.ip = *items[k].give.ip;
            r.mask = *items[k].give.mask;
            r.gateway = *items[k].give.gateway;
            r.dhcp = false;
        }
        records.push_back(r);
    }
    return records;
}

} // namespace

TEST(Confirm, TheModulesOwnReportDecidesTheOutcome)
{
    auto items = threeModules();
    items.push_back(items[0]);
    items[3].module = 4;
    items[3].give.mac = "00:0E:C6:00:00:04";
    items[3].reported.mac = *items[3].give.mac;
    // Acknowledged and took it; acknowledged but kept its old settings;
    // refused; unacknowledged but took it (an acknowledgement that did not
    // count).
    Session session(fake::exports({0, 0, 1, -2}));
    Configuration batch(session, items);
    while (!batch.finished())
        batch.next();
    EXPECT_EQ(batch.awaited(), (std::vector<std::string>{"00:0E:C6:00:00:03", "00:0E:C6:00:00:01",
                                                          "00:0E:C6:00:00:02", "00:0E:C6:00:00:04"}));
    const auto seen = after(batch.items(), {true, false, false, true});
    batch.confirm(&seen);
    EXPECT_EQ(batch.outcomes(), (std::vector<Outcome>{Outcome::Set, Outcome::NotConfirmed, Outcome::Refused,
                                                      Outcome::Set}));
    EXPECT_EQ(batch.summary(), "Batch complete: 2 of 4 modules set, 1 not confirmed, 1 failed. Search again to see "
                               "what each module took.");
    EXPECT_EQ(batch.outcome(), "1 module not confirmed: it does not report the new settings.\n1 module setting "
                               "failed.\nSearch again to see what each module took.");
    EXPECT_EQ(reportedInstead("00:0e:c6:00:00:01", seen),
              "reports IP 198.18.0.101, mask , gateway , DHCP Enable, alias pump");

    // Not answering the check is no proof either; with the check off an
    // acknowledgement is never more than that.
    const std::vector<Record> none;
    batch.confirm(&none);
    EXPECT_EQ(batch.outcomes()[0], Outcome::NotConfirmed);
    EXPECT_EQ(batch.outcomes()[3], Outcome::Failed);
    EXPECT_EQ(reportedInstead("00:0E:C6:00:00:01", none), "did not answer");
    batch.confirm(nullptr);
    EXPECT_EQ(batch.outcomes(), (std::vector<Outcome>{Outcome::Acknowledged, Outcome::Acknowledged,
                                                      Outcome::Refused, Outcome::Failed}));
}

TEST(Confirm, EveryModuleUnderTheMacMustReportTheNewSettings)
{
    const Settings give{"198.18.0.9", std::nullopt, std::nullopt, std::nullopt, "new", std::nullopt};
    Record took = found()[0];
    took.ip = "198.18.000.011"; // the same address in another form
    took.alias = "new";
    Record kept = found()[0];
    const std::vector<Record> one{took};
    EXPECT_EQ(judgeOutcome(0, give, "00-0e-c6-00-00-01", &one), Outcome::Set);
    const std::vector<Record> both{took, kept};
    EXPECT_EQ(judgeOutcome(0, give, took.mac, &both), Outcome::NotConfirmed);
    // Nothing went out: no check makes it set.
    EXPECT_EQ(judgeOutcome(-1, give, took.mac, &one), Outcome::Failed);
}

TEST(Session, ConfirmingSearchEndsOnceEveryAwaitedModuleAnswered)
{
    Session session(fake::exports());
    fake::table = found();
    fake::pollsPerRecord = 10;
    int idles = 0;
    fake::searchPolls = 1000;
    EXPECT_TRUE(session.confirmingSearch("255.255.255.255", 57188, {"00:0e:c6:00:00:02"}, [&] { ++idles; }));
    EXPECT_TRUE(fake::stopped);
    EXPECT_LT(idles, 30);

    // One awaited module never answers: the search lasts its time-out.
    fake::searchPolls = 200;
    EXPECT_TRUE(session.confirmingSearch("255.255.255.255", 57188, {"00:0E:C6:00:00:01", "00:0E:C6:00:00:09"},
                                         [] {}));
    EXPECT_FALSE(fake::stopped);
    EXPECT_EQ(fake::polled, 200);
    fake::table.clear();
}
