// "Set multiple modules" end to end: the dialog shown from the main window's
// menu, modules and free addresses ticked, "Set", and what every simulated
// module received (the simulator's log) and applied (its settings), with the
// library's real sockets.
//
// Runs in the layout "stray" of scripts/testlan.sh: the host's first
// adapter has 198.18.0.2/24 with the gateway 198.18.0.1, so the modules get
// the mask 255.255.255.0 and the gateway 198.18.0.1; 198.18.1.x addresses
// never answer echo and are proposed as free.
#include "AppFileDialog.h"
#include "app_test_support.h"
#include "autoset_test_support.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

using namespace autosettest;
using apptest::addressList;
using apptest::gridColumn;
using apptest::logLines;
using apptest::moduleList;
using apptest::search;
using apptest::ui;

namespace {

const QString kFree = QStringLiteral("198.18.1.");
const QString kHostMask = QStringLiteral("255.255.255.0");
const QString kHostGateway = QStringLiteral("198.18.0.1");

// A module whose mask and gateway differ from the host's, so that a request
// carries every piece.
modsim::ModuleSpec foreignModule(std::size_t index, const std::string &name, const std::string &alias, int dhcp,
                                 const std::string &behaviour = "ok")
{
    modsim::ModuleSpec desc = apptest::module(index, name, alias, dhcp, behaviour);
    desc.mask = "255.255.0.0";
    desc.gateway = "198.18.0.254";
    return desc;
}

QString text(const std::string &s)
{
    return QString::fromStdString(s);
}

} // namespace

class AutosetBatchTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (apptest::netnsLayout() != QLatin1String("stray"))
            QSKIP("sends broadcasts and echo requests: runs in the layout \"stray\" of scripts/testlan.sh");
    }
    void init()
    {
        AppMessageBox::reset();
        apptest::removeOptionFile();
        Tfrm_AutoSet::sortAscending = true;
        QVERIFY(logDir.isValid());
    }
    void cleanup()
    {
        apptest::stopProgram();
        simulator.reset();
        AppMessageBox::reset();
        apptest::removeOptionFile();
        QFile::remove(logPath());
    }

    void cancelCloseBoxAndMissingTicksChangeNothing()
    {
        QVERIFY(start({foreignModule(1, "M1", "one", 1), foreignModule(2, "M2", "", 0),
                       foreignModule(3, "M3", "three", 0)}));
        const auto everything = [] {
            searchFree(kFree + "1", kFree + "9", QStringLiteral("3"));
            frm_AutoSet->btnSelectAllClick();
            frm_AutoSet->btnIPSetectAllClick();
        };
        QVERIFY(runBatch(everything, "btnCancel"));
        QVERIFY(runBatch(everything, nullptr)); // the close box
        // Addresses ticked, no module.
        QVERIFY(runBatch([] {
            searchFree(kFree + "1", kFree + "9", QStringLiteral("3"));
            frm_AutoSet->btnIPSetectAllClick();
        }));
        // Modules ticked, no address.
        QVERIFY(runBatch([] {
            searchFree(kFree + "1", kFree + "9", QStringLiteral("3"));
            frm_AutoSet->btnSelectAllClick();
        }));
        // Modules ticked, no search at all.
        QVERIFY(runBatch([] { frm_AutoSet->btnSelectAllClick(); }));
        // After Clear the grid holds no module to configure, though its
        // first empty row can still be ticked.
        Form1->ToolButton4Click();
        QVERIFY(runBatch([] {
            searchFree(kFree + "1", kFree + "9", QStringLiteral("1"));
            frm_AutoSet->btnSelectAllClick();
            frm_AutoSet->btnIPSetectAllClick();
        }));

        QVERIFY(configRequests().isEmpty());
        QCOMPARE(simulator->stats().configs, 0u);
        QVERIFY(AppMessageBox::shown().isEmpty());
        QCOMPARE(text(simulator->modules().at(0).ip), QStringLiteral("198.18.0.101"));
    }

    void tickedModulesTakeTheTickedAddressesInOrder()
    {
        QVERIFY(start({foreignModule(1, "M1", "one", 1), foreignModule(2, "M2", "", 1),
                       foreignModule(3, "M3", "", 7), foreignModule(4, "M4", "four", 0)}));
        const int logStart = apptest::logList()->count();
        // The summary's Save keeps the previous settings.
        const QString previous = logDir.filePath(QStringLiteral("previous.csv"));
        AppMessageBox::setNextAnswer(QMessageBox::Save);
        AppFileDialog::setNextAnswer(previous);
        QVERIFY(runBatch([] {
            searchFree(kFree + "1", kFree + "254", QStringLiteral("6"));
            QCOMPARE(addresses(), range(kFree, seq(1, 6)));
            tick(moduleList(), {0, 2, 3});
            tick(addressList(), {1, 3, 4});
        }));

        // Head, the alias the module reported (none, though the grid shows
        // "N/A"), the new address, the host's mask and gateway, static
        // addressing.
        const QStringList expected{
            "VELKORQZ510,01,TO=00:0E:C6:00:00:01,ALIAS=one,IP=198.18.1.2,MASK=255.255.255.0,"
            "GATEWAY=198.18.0.1,DHCP=0, \\x0D",
            "VELKORQZ510,01,TO=00:0E:C6:00:00:03,ALIAS=,IP=198.18.1.4,MASK=255.255.255.0,"
            "GATEWAY=198.18.0.1,DHCP=0, \\x0D",
            // M4 had DHCP off already: no DHCP piece.
            "VELKORQZ510,01,TO=00:0E:C6:00:00:04,ALIAS=four,IP=198.18.1.5,MASK=255.255.255.0,"
            "GATEWAY=198.18.0.1\\x0D",
        };
        QCOMPARE(configRequests(), expected);

        const auto modules = simulator->modules();
        QCOMPARE(text(modules.at(0).ip), kFree + "2");
        QCOMPARE(text(modules.at(0).mask), kHostMask);
        QCOMPARE(text(modules.at(0).gateway), kHostGateway);
        QCOMPARE(modules.at(0).dhcp, 0);
        QCOMPARE(text(modules.at(0).alias), QStringLiteral("one"));
        QCOMPARE(text(modules.at(1).ip), QStringLiteral("198.18.0.102")); // not ticked
        QCOMPARE(modules.at(1).dhcp, 1);
        QCOMPARE(text(modules.at(2).ip), kFree + "4");
        QCOMPARE(text(modules.at(2).alias), QString());
        QCOMPARE(modules.at(2).dhcp, 0);
        QCOMPARE(text(modules.at(3).ip), kFree + "5");

        QCOMPARE(AppMessageBox::shown().size(), 1);
        const AppMessageBox::Shown summary = AppMessageBox::shown().constFirst();
        QVERIFY(summary.text.startsWith(QStringLiteral("Setting complete\n\n")));
        QCOMPARE(summary.title, QStringLiteral("Information"));
        QCOMPARE(summary.icon, QMessageBox::Information);
        QCOMPARE(summary.buttons, QMessageBox::Ok | QMessageBox::Save);

        // The grid shows the old addresses until the next search; the log
        // has a line per module and a summary.
        QCOMPARE(apptest::grid()->Cells(4, 1), QStringLiteral("198.18.0.101"));
        const QString hostPart = QStringLiteral("mask 255.255.0.0 -> 255.255.255.0, gateway 198.18.0.254 -> 198.18.0.1");
        QCOMPARE(logLines(logStart),
                 (QStringList{"Module 1 (00:0E:C6:00:00:01, ip 198.18.0.101 -> 198.18.1.2, " + hostPart
                                  + ", dhcp Enable -> Disable): acknowledged",
                              "Module 3 (00:0E:C6:00:00:03, ip 198.18.0.103 -> 198.18.1.4, " + hostPart
                                  + ", dhcp Enable -> Disable): acknowledged",
                              "Module 4 (00:0E:C6:00:00:04, ip 198.18.0.104 -> 198.18.1.5, " + hostPart
                                  + "): acknowledged",
                              "Batch complete: 3 of 3 modules acknowledged, 0 failed",
                              "Previous settings of 3 modules saved in " + previous}));
        QVERIFY(search(4));
        QCOMPARE(gridColumn(4), (QStringList{kFree + "2", "198.18.0.102", kFree + "4", kFree + "5"}));
        QCOMPARE(gridColumn(3), (QStringList{"Disable", "Enable", "Disable", "Disable"}));

        // "Import from CSV..." puts the three back, after one confirmation
        // that lists what changes.
        AppMessageBox::reset();
        AppFileDialog::setNextAnswer(previous);
        AppMessageBox::setNextAnswer(QMessageBox::Yes);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        Form1->GridImportClick();
        const QList<AppMessageBox::Shown> shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(0).title, QStringLiteral("Confirm"));
        QVERIFY2(shown.at(0).text.contains(QStringLiteral("\nline 3: 00:0E:C6:00:00:03: ip 198.18.1.4 -> 198.18.0.103, "
                                                          "mask 255.255.255.0 -> 255.255.0.0, gateway 198.18.0.1 -> "
                                                          "198.18.0.254, dhcp Disable -> Enable\n")),
                 qPrintable(shown.at(0).text));
        QVERIFY(shown.at(1).text.startsWith(QStringLiteral("Setting complete")));
        const auto restored = simulator->modules();
        for (const std::size_t k : {0u, 2u, 3u}) {
            QCOMPARE(text(restored.at(k).ip), QStringLiteral("198.18.0.10%1").arg(k + 1));
            QCOMPARE(text(restored.at(k).mask), QStringLiteral("255.255.0.0"));
            QCOMPARE(text(restored.at(k).gateway), QStringLiteral("198.18.0.254"));
        }
        QCOMPARE(restored.at(0).dhcp, 1);
        QCOMPARE(restored.at(3).dhcp, 0);
    }

    void moreModulesThanAddressesAndTheReverse()
    {
        QVERIFY(start({foreignModule(1, "M1", "one", 0), foreignModule(2, "M2", "two", 0),
                       foreignModule(3, "M3", "three", 0)}));
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(runBatch([] {
            searchFree(kFree + "1", kFree + "254", QStringLiteral("4"));
            frm_AutoSet->btnSelectAllClick();
            tick(addressList(), {0, 2});
        }));
        QCOMPARE(configRequests().size(), 2);
        auto modules = simulator->modules();
        QCOMPARE(text(modules.at(0).ip), kFree + "1");
        QCOMPARE(text(modules.at(1).ip), kFree + "3");
        QCOMPARE(text(modules.at(2).ip), QStringLiteral("198.18.0.103"));
        QCOMPARE(AppMessageBox::shown().size(), 1);
        QVERIFY(AppMessageBox::shown().constFirst().text.startsWith(QStringLiteral("Setting complete\n")));

        // Two modules and five addresses: the first two ticked ones are used.
        AppMessageBox::reset();
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(runBatch([] {
            searchFree(kFree + "10", kFree + "254", QStringLiteral("6"));
            QCOMPARE(addresses(), range(kFree, {10, 11, 12, 13, 14, 15}));
            tick(moduleList(), {1, 2});
            tick(addressList(), {1, 2, 3, 4, 5});
        }));
        QCOMPARE(configRequests().size(), 4);
        modules = simulator->modules();
        QCOMPARE(text(modules.at(0).ip), kFree + "1");
        QCOMPARE(text(modules.at(1).ip), kFree + "11");
        QCOMPARE(text(modules.at(2).ip), kFree + "12");
        QCOMPARE(AppMessageBox::shown().size(), 1);
    }

    void sortingDecidesWhoGetsWhichAddress()
    {
        QVERIFY(start({foreignModule(1, "M1", "a", 0), foreignModule(2, "M2", "b", 0),
                       foreignModule(3, "M3", "c", 0)}));
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(runBatch([] {
            clickHeader(moduleList(), 1); // the first click sorts descending
            QCOMPARE(moduleColumn(1), (QStringList{"M3", "M2", "M1"}));
            searchFree(kFree + "1", kFree + "254", QStringLiteral("3"));
            frm_AutoSet->btnSelectAllClick();
            frm_AutoSet->btnIPSetectAllClick();
        }));
        const auto modules = simulator->modules();
        QCOMPARE(text(modules.at(2).ip), kFree + "1");
        QCOMPARE(text(modules.at(1).ip), kFree + "2");
        QCOMPARE(text(modules.at(0).ip), kFree + "3");
    }

    void failureAnsweredYesUsesUpItsAddress()
    {
        QVERIFY(start({foreignModule(1, "M1", "a", 0), foreignModule(2, "M2", "", 0, "refuse"),
                       foreignModule(3, "M3", "c", 0)}));
        AppMessageBox::setNextAnswer(QMessageBox::Yes);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(runBatch([] {
            searchFree(kFree + "1", kFree + "254", QStringLiteral("3"));
            frm_AutoSet->btnSelectAllClick();
            frm_AutoSet->btnIPSetectAllClick();
        }));
        const auto modules = simulator->modules();
        QCOMPARE(text(modules.at(0).ip), kFree + "1");
        QCOMPARE(text(modules.at(1).ip), QStringLiteral("198.18.0.102")); // refused
        QCOMPARE(text(modules.at(2).ip), kFree + "3");
        QCOMPARE(configRequests().size(), 3);
        QVERIFY(configRequests().at(1).contains(QStringLiteral("TO=00:0E:C6:00:00:02,ALIAS=,IP=198.18.1.2,")));

        const QList<AppMessageBox::Shown> shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(0).text, QStringLiteral("Setting Error!\r\rName: M2\r\nALIAS: N/A\r\nIP: 198.18.0.102"
                                                  "\r\rDo you continue?"));
        QCOMPARE(shown.at(0).title, QStringLiteral("Error"));
        QCOMPARE(shown.at(0).icon, QMessageBox::Critical);
        QCOMPARE(shown.at(0).buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY(shown.at(1).text.startsWith(QStringLiteral("1 module setting failed.\nSearch again to see what each module took.\n")));
        QCOMPARE(shown.at(1).title, QStringLiteral("Warning"));
        QCOMPARE(shown.at(1).icon, QMessageBox::Warning);
        QCOMPARE(shown.at(1).buttons, QMessageBox::Ok | QMessageBox::Save);
    }

    void searchAgainAfterSettingLogsWhatEachSetModuleReports()
    {
        QVERIFY(start({foreignModule(1, "M1", "a", 0), foreignModule(2, "M2", "", 0, "refuse"),
                       foreignModule(3, "M3", "c", 0, "vanish")}));
        Form1->SearchAgainAfterSetting = true;
        AppMessageBox::setNextAnswer(QMessageBox::Yes);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(runBatch([] {
            searchFree(kFree + "1", kFree + "254", QStringLiteral("3"));
            frm_AutoSet->btnSelectAllClick();
            frm_AutoSet->btnIPSetectAllClick();
        }));
        const QStringList log = logLines();
        // Every module a request went to is checked; the grid is the new search's.
        QCOMPARE(log.filter(QStringLiteral(" now reports ")),
                 (QStringList{"00:0E:C6:00:00:01 now reports IP 198.18.1.1, mask 255.255.255.0, gateway 198.18.0.1, "
                              "DHCP Disable, alias a",
                              "00:0E:C6:00:00:02 now reports IP 198.18.0.102, mask 255.255.0.0, gateway "
                              "198.18.0.254, DHCP Disable, alias N/A"}));
        // Acknowledged but gone from the new search: not confirmed, never set.
        QCOMPARE(log.filter(QStringLiteral("did not answer")), QStringList{"00:0E:C6:00:00:03 did not answer"});
        QVERIFY(log.filter(QStringLiteral("Module 3 (00:0E:C6:00:00:03, ip 198.18.0.103 -> 198.18.1.3, "))
                    .constLast()
                    .endsWith(QStringLiteral("): not confirmed")));
        QCOMPARE(log.filter(QStringLiteral("Batch complete")),
                 QStringList{"Batch complete: 1 of 3 modules set, 1 not confirmed, 1 failed. Search again to see "
                             "what each module took."});
        QCOMPARE(AppMessageBox::shown().constLast().icon, QMessageBox::Warning);
        QCOMPARE(Form1->Tag, 2);
        QCOMPARE(apptest::grid()->Cells(4, 1) + apptest::grid()->Cells(4, 2),
                 QStringLiteral("198.18.1.1198.18.0.102"));
    }

    void failureAnsweredNoEndsTheBatchWithoutSummary()
    {
        QVERIFY(start({foreignModule(1, "M1", "a", 0), foreignModule(2, "M2", "b", 0, "refuse"),
                       foreignModule(3, "M3", "c", 0)}));
        AppMessageBox::setNextAnswer(QMessageBox::No);
        QVERIFY(runBatch([] {
            searchFree(kFree + "1", kFree + "254", QStringLiteral("3"));
            frm_AutoSet->btnSelectAllClick();
            frm_AutoSet->btnIPSetectAllClick();
        }));
        const auto modules = simulator->modules();
        QCOMPARE(text(modules.at(0).ip), kFree + "1"); // configured before the failure: stays
        QCOMPARE(text(modules.at(2).ip), QStringLiteral("198.18.0.103"));
        QCOMPARE(configRequests().size(), 2);
        QCOMPARE(AppMessageBox::shown().size(), 1);
        QVERIFY(AppMessageBox::shown().constFirst().text.startsWith(QStringLiteral("Setting Error!\r\rName: M2")));
    }

    void summaryCountsEveryFailure()
    {
        // Two refuse, one never acknowledges (the library gives up after a
        // second, though the module took the settings).
        QVERIFY(start({foreignModule(1, "M1", "a", 0, "refuse"), foreignModule(2, "M2", "b", 0),
                       foreignModule(3, "M3", "c", 0, "silent"), foreignModule(4, "M4", "d", 0, "refuse")}));
        for (int i = 0; i < 3; ++i)
            AppMessageBox::setNextAnswer(QMessageBox::Yes);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(runBatch([] {
            searchFree(kFree + "1", kFree + "254", QStringLiteral("4"));
            frm_AutoSet->btnSelectAllClick();
            frm_AutoSet->btnIPSetectAllClick();
        }));
        const QList<AppMessageBox::Shown> shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 4);
        QVERIFY(shown.at(0).text.contains(QStringLiteral("Name: M1\r\n")));
        QVERIFY(shown.at(1).text.contains(QStringLiteral("Name: M3\r\n")));
        QVERIFY(shown.at(2).text.contains(QStringLiteral("Name: M4\r\n")));
        QVERIFY(shown.at(3).text.startsWith(QStringLiteral("3 modules setting failed.\nSearch again to see what each module took.\n")));
        QCOMPARE(shown.at(3).icon, QMessageBox::Warning);
        QCOMPARE(text(simulator->modules().at(1).ip), kFree + "2");
    }

    void factoryModulesSharingOneAddressEachGetTheirOwn()
    {
        auto factory = [](std::size_t index, const char *mac) {
            modsim::ModuleSpec desc = apptest::module(index, "QZ510", "", 1);
            desc.ip = "198.18.0.200";
            desc.mac = mac;
            return desc;
        };
        QVERIFY(start({foreignModule(1, "M1", "a", 0), factory(2, "00:0E:C6:AA:00:01"),
                       factory(3, "00:0E:C6:AA:00:02"), factory(4, "00:0E:C6:AA:00:03")}));
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(runBatch([] {
            // The shared factory address answers no echo here, yet it is in
            // use: it is never proposed.
            searchFree(QStringLiteral("198.18.0.198"), QStringLiteral("198.18.0.202"), QStringLiteral("10"));
            QCOMPARE(addresses(), range(QStringLiteral("198.18.0."), {198, 199, 201, 202}));
            // Sorting by the shared IP mixes the rows; each keeps its module.
            clickHeader(moduleList(), 3);
            tick(moduleList(), {0, 1, 2});
            QCOMPARE(moduleColumn(3), (QStringList{"198.18.0.200", "198.18.0.200", "198.18.0.200", "198.18.0.101"}));
            frm_AutoSet->btnIPSetectAllClick();
        }));
        QStringList macs;
        for (const QString &request : configRequests())
            macs << request.section(QLatin1Char(','), 2, 2);
        macs.sort();
        QCOMPARE(macs, (QStringList{"TO=00:0E:C6:AA:00:01", "TO=00:0E:C6:AA:00:02", "TO=00:0E:C6:AA:00:03"}));
        QSet<QString> given;
        for (int i = 1; i <= 3; ++i)
            given << text(simulator->modules().at(std::size_t(i)).ip);
        QCOMPARE(given, (QSet<QString>{"198.18.0.198", "198.18.0.199", "198.18.0.201"}));
        QCOMPARE(AppMessageBox::shown().size(), 1);
        QVERIFY(AppMessageBox::shown().constFirst().text.startsWith(QStringLiteral("Setting complete\n")));

        QVERIFY(search(4));
        QStringList ips = gridColumn(4);
        ips.sort();
        QCOMPARE(ips, (QStringList{"198.18.0.101", "198.18.0.198", "198.18.0.199", "198.18.0.201"}));
    }

    void progressShowsEachModuleAndStopEndsBetweenTwo()
    {
        // Three modules that never acknowledge: each takes the library's
        // whole wait. Stop, pressed while the first one is waited for, is
        // taken before the second.
        QVERIFY(start({foreignModule(1, "S1", "a", 0, "silent"), foreignModule(2, "S2", "b", 0, "silent"),
                       foreignModule(3, "S3", "c", 0, "silent")}));
        const int logStart = apptest::logList()->count();
        AppMessageBox::setNextAnswer(QMessageBox::Yes); // the first failure's prompt
        QString status;
        int bar = -1;
        bool visible = false;
        QVERIFY(runBatch([&] {
            searchFree(kFree + "1", kFree + "254", QStringLiteral("3"));
            frm_AutoSet->btnSelectAllClick();
            frm_AutoSet->btnIPSetectAllClick();
            QTimer::singleShot(300, Form1, [&] {
                auto *progress = ui<QDialog>(Form1, "frmBatchProgress");
                visible = progress->isVisible();
                status = ui<QLabel>(progress, "lblBatchStatus")->text();
                bar = ui<QProgressBar>(progress, "ProgressBatch")->value();
                QTest::mouseClick(ui(progress, "btnBatchStop"), Qt::LeftButton);
            });
        }));
        QVERIFY(visible);
        QCOMPARE(status, QStringLiteral("Setting module 2 of 3"));
        QCOMPARE(bar, 1);
        QCOMPARE(configRequests().size(), 1);
        QCOMPARE(logLines(logStart),
                 (QStringList{"Module 1 (00:0E:C6:00:00:01, ip 198.18.0.101 -> 198.18.1.1, mask 255.255.0.0 -> "
                              "255.255.255.0, gateway 198.18.0.254 -> 198.18.0.1): failed",
                              "Batch ended: 0 of 3 modules acknowledged, 1 failed, 2 not tried. "
                              "Search again to see what each module took."}));
        // The prompt only: a stopped batch ends without a summary box.
        QCOMPARE(AppMessageBox::shown().size(), 1);
        QVERIFY(AppMessageBox::shown().constFirst().text.startsWith(QStringLiteral("Setting Error!\r\rName: S1")));
        QVERIFY(!Form1->findChild<QDialog *>(QStringLiteral("frmBatchProgress"))); // gone, not merely hidden
    }

    void hostWithoutGatewayOrAddressIsRefusedBeforeSending()
    {
        QVERIFY(start({foreignModule(1, "M1", "a", 0)}));
        // The PC loses its gateway, then its address, between the address
        // search and "Set".
        const auto batchAfter = [](const QList<QStringList> &commands) {
            bool changed = true;
            const bool ran = runBatch([&] {
                searchFree(kFree + "1", kFree + "254", QStringLiteral("1"));
                frm_AutoSet->btnSelectAllClick();
                frm_AutoSet->btnIPSetectAllClick();
                for (const QStringList &command : commands)
                    changed = apptest::ip(command) && changed;
            });
            return ran && changed;
        };
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(batchAfter({{"route", "del", "default"}}));
        QVERIFY(apptest::ip({"route", "add", "default", "via", "198.18.0.1", "dev", "tv0"}));
        QVERIFY(batchAfter({{"addr", "del", "198.18.0.2/24", "dev", "tv0"}}));
        const bool restored = apptest::ip({"addr", "add", "198.18.0.2/24", "dev", "tv0"})
                              && apptest::ip({"route", "add", "default", "via", "198.18.0.1", "dev", "tv0"});
        QVERIFY(restored);

        QVERIFY(configRequests().isEmpty());
        const QList<AppMessageBox::Shown> shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(0).text, THostServices::NoHostGatewayMessage());
        QCOMPARE(shown.at(1).text, THostServices::NoHostAddressMessage());
        QCOMPARE(shown.at(1).title, QStringLiteral("Error"));
        QCOMPARE(shown.at(1).icon, QMessageBox::Critical);
    }

    void secondBatchWithoutSearchDoesNotHandOutTheSameAddresses()
    {
        QVERIFY(start({foreignModule(1, "M1", "a", 0), foreignModule(2, "M2", "b", 0)}));
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(runBatch([] {
            searchFree(kFree + "1", kFree + "254", QStringLiteral("1"));
            tick(moduleList(), {0});
            frm_AutoSet->btnIPSetectAllClick();
        }));
        QCOMPARE(text(simulator->modules().at(0).ip), kFree + "1");
        // 198.18.1.1 answers no echo here, yet M1 holds it now.
        QStringList proposed;
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(runBatch([&] {
            searchFree(kFree + "1", kFree + "254", QStringLiteral("2"));
            proposed = addresses();
            tick(moduleList(), {1});
            frm_AutoSet->btnIPSetectAllClick();
        }));
        QCOMPARE(proposed, range(kFree, {2, 3}));
        QCOMPARE(text(simulator->modules().at(1).ip), kFree + "2");
    }

private:
    QString logPath() const { return logDir.filePath(QStringLiteral("modules.log")); }

    // Simulated modules logging what they receive, the program started and
    // a search that lists them all.
    bool start(std::vector<modsim::ModuleSpec> modules)
    {
        const int count = int(modules.size());
        simulator = apptest::startSimulator(std::move(modules), logPath());
        if (!simulator)
            return false;
        // The pairing and the progress without the check, which has a case
        // of its own: the outcome is what each module acknowledged.
        apptest::writeOptionFile(
            QStringLiteral("[option]\nSNumber=%1\nSTimeOut=5000\nSearchAgain=0\n").arg(count).toLatin1());
        return apptest::startProgram() && search(count);
    }

    // "Set multiple modules": `prepare` runs in the shown dialog, then the
    // dialog is closed with the named button (none: its close box). True
    // once the command has run through.
    static bool runBatch(const std::function<void()> &prepare, const char *closeWith = "btnSet")
    {
        auto ran = apptest::whenModalFor(frm_AutoSet, 50, [=](QWidget *) {
            prepare();
            if (closeWith)
                apptest::clickNamed(frm_AutoSet, closeWith);
            else
                frm_AutoSet->close();
        });
        ui<QAction>(Form1, "pmenuAutoSet")->trigger();
        return *ran && !frm_AutoSet->isVisible();
    }

    // The configuration requests the modules received, as logged.
    QStringList configRequests() const { return apptest::configRequests(logPath()); }

    QTemporaryDir logDir;
    std::unique_ptr<modsim::ModuleSimulator> simulator;
};

QTEST_MAIN(AutosetBatchTest)
#include "autoset_batch_test.moc"
