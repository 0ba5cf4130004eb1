// Configuring one module on a test LAN of network namespaces (see
// scripts/with-testlan.sh): the recommended address found by echo requests,
// and the whole command from a double-click to the module's acknowledgement,
// with the module simulator of namespace 1 logging what it receives.
// Environment: APP_CONFIG_LAN ("subnet": host 198.18.0.10 with .11 answering;
// "top": host 198.18.0.253; "slash28": host 198.18.30.13/28 with .14
// answering) and APP_LAN_ID_FILE (where the LAN's id is
// recorded for the clean-up check).
#include "config_test_support.h"
#include "Configuration.h"

#include "autoset_test_support.h"

#include "AppMessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>

#include <functional>

using apptest::gridRow;
using apptest::gridRowOf;
using apptest::search;
using apptest::ui;
using configtest::showDialog;

namespace {

const QString kModuleMask = QStringLiteral("255.255.255.0");
const QString kGateway = QStringLiteral("198.18.0.1");

#define REQUIRE_LAN(name)                                                                          \
    do {                                                                                           \
        if (qEnvironmentVariable("APP_CONFIG_LAN") != QLatin1String(name))                        \
            QSKIP("runs on the LAN \"" name "\" only");                                            \
    } while (false)

// Configuration requests that the simulator of namespace 1 has received.
QStringList configRequests()
{
    return apptest::configRequests(apptest::testLanFile(QStringLiteral("m1.log")));
}

QString lastLogLine()
{
    const QStringList lines = apptest::logLines();
    return lines.isEmpty() ? QString() : lines.constLast();
}

// Fills the recommended group with a module row's own settings, so that a
// test changes exactly what it means to.
void recommendTheRow(int n)
{
    const QStringList fields = gridRow(n);
    Form2->NumberedEdit(8)->setText(fields.at(4));
    Form2->NumberedEdit(9)->setText(fields.at(5));
    Form2->NumberedEdit(10)->setText(fields.at(6));
    ui<QLineEdit>(Form2, "Edit11")->setText(fields.at(2));
    ui<QRadioButton>(Form2, fields.at(3) == QLatin1String("Enable") ? "rbtnEnable" : "rbtnDisable")->click();
}

// The whole command from a double-click on the module's row: `edit` runs in
// the ready dialog, which is then closed with "Set"; the queued answers take
// the boxes that follow. The command runs from the event loop once the grid
// has handled the double-click and ends before the loop regains control.
bool configureByDoubleClick(int rowNumber, std::function<void()> edit)
{
    bool set = false;
    auto ready = configtest::whenDialogReady([&] {
        edit();
        set = apptest::clickEnabled(ui(Form2, "Button1")) && !Form2->isVisible();
    });
    configtest::doubleClickRow(rowNumber);
    const bool ran = QTest::qWaitFor([&] { return *ready; }, 30000);
    return ran && set;
}

} // namespace

class ConfigLanTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!apptest::onTestLan())
            QSKIP("runs on a test LAN only");
    }
    void init()
    {
        AppMessageBox::reset();
        apptest::writeOptionFile("[option]\nSNumber=5\nSTimeOut=1000\n");
        QVERIFY(apptest::startProgram());
    }
    void cleanup()
    {
        apptest::stopProgram();
        apptest::removeOptionFile();
        AppMessageBox::reset();
    }

    void hostServicesOnTheLan()
    {
        REQUIRE_LAN("subnet");
        QCOMPARE(Form1->Services().PingAddress(QStringLiteral("198.18.0.11")), 1);
        QCOMPARE(Form1->Services().PingAddress(QStringLiteral("198.18.0.12")), 0);
        QString text;
        QCOMPARE(Form1->Services().ReadHostAdapter(1, text), 0);
        QCOMPARE(text, QStringLiteral("198.18.0.10"));
        QCOMPARE(Form1->Services().ReadHostAdapter(2, text), 0);
        QCOMPARE(text, kModuleMask);
        QCOMPARE(Form1->Services().ReadHostAdapter(3, text), 0);
        QCOMPARE(text, kGateway);
        QVERIFY(AppMessageBox::shown().isEmpty());
    }

    void recommendationIsTheFirstSilentAddress()
    {
        REQUIRE_LAN("subnet");
        // Before any search: .11 answers, .12 is silent.
        const qint64 echoes = configtest::icmpOutEchos();
        QVERIFY(echoes >= 0);
        QStringList recommended;
        qint64 sentForIt = 0;
        showDialog(0, [&] {
            for (int n = 8; n <= 10; ++n)
                recommended << Form2->NumberedEdit(n)->text();
            sentForIt = configtest::icmpOutEchos() - echoes;

            // A host address without four parts: nothing to count from, no
            // request sent.
            Form2->NumberedEdit(8)->setText(QStringLiteral("198.18.0"));
            Form2->SearchRecommendedAddress();
            for (int n = 8; n <= 10; ++n)
                recommended << Form2->NumberedEdit(n)->text();
        });
        QCOMPARE(recommended, (QStringList{"198.18.0.12", kModuleMask, kGateway, "0.0.0.0", "0.0.0.0", "0.0.0.0"}));
        QCOMPARE(sentForIt, 2);
        QCOMPARE(configtest::icmpOutEchos() - echoes, 2);
    }

    void recommendationSkipsAddressesOfModulesFound()
    {
        REQUIRE_LAN("subnet");
        // GHOST reports 198.18.0.12 but does not answer echo requests.
        search();
        const int ghost = gridRowOf(QStringLiteral("GHOST"));
        QVERIFY(ghost > 0);
        QCOMPARE(apptest::grid()->Cells(4, ghost), QStringLiteral("198.18.0.12"));
        const qint64 echoes = configtest::icmpOutEchos();
        QVERIFY(echoes >= 0);
        QString recommended;
        showDialog(ghost - 1, [&] { recommended = Form2->NumberedEdit(8)->text(); });
        QCOMPARE(recommended, QStringLiteral("198.18.0.13"));
        QCOMPARE(configtest::icmpOutEchos() - echoes, 2); // .11 and .13
    }

    void closingOrShowingAgainDuringTheProbe()
    {
        REQUIRE_LAN("subnet");
        // The silent .12 keeps the probe busy for half a second.
        Form2->Tag = 0;
        bool wasProbing = false;
        bool setWasDisabled = false;
        auto closed = apptest::whenModal([](QWidget *w) { return w == Form2; }, [&](QWidget *) {
            wasProbing = Form2->AddressProbeRunning();
            setWasDisabled = !ui(Form2, "Button1")->isEnabled();
            Form2->reject();
        });
        QCOMPARE(Form2->exec(), int(mrCancel));
        QVERIFY(*closed);
        QVERIFY(wasProbing);
        QVERIFY(setWasDisabled);
        // Abandoned: the host's own address is still where the probe starts.
        QCOMPARE(Form2->NumberedEdit(8)->text(), QStringLiteral("198.18.0.10"));
        QVERIFY(!Form2->AddressProbeRunning());
        QVERIFY(ui(Form2, "Button1")->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        // A second showing while the probe runs starts it over; one result.
        QString recommended;
        std::shared_ptr<bool> read;
        auto again = apptest::whenModal([](QWidget *w) { return w == Form2 && Form2->AddressProbeRunning(); },
                                        [&](QWidget *) {
                                            read = configtest::whenDialogReady([&] {
                                                recommended = Form2->NumberedEdit(8)->text();
                                                Form2->reject();
                                            });
                                            Form2->FormShow();
                                        });
        Form2->exec();
        QVERIFY(*again);
        QVERIFY(read && *read);
        QCOMPARE(recommended, QStringLiteral("198.18.0.12"));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void configureOneModule()
    {
        REQUIRE_LAN("subnet");
        search();
        const int n = gridRowOf(QStringLiteral("IO-1"));
        QVERIFY(n > 0);
        const QStringList before = gridRow(n).mid(1); // NAME to MAC
        QCOMPARE(before, (QStringList{"IO-1", "Pump", "Disable", "198.18.0.101", kModuleMask, kGateway,
                                      "00:0E:C6:00:00:01"}));
        const qsizetype requests = configRequests().size();

        AppMessageBox::setNextAnswer(QMessageBox::Yes);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(configureByDoubleClick(n, [] {
            Form2->NumberedEdit(8)->setText(QStringLiteral("198.18.0.150"));
            Form2->NumberedEdit(9)->setText(kModuleMask);
            Form2->NumberedEdit(10)->setText(kGateway);
            ui<QLineEdit>(Form2, "Edit11")->setText(QStringLiteral("Line-3"));
            ui<QRadioButton>(Form2, "rbtnEnable")->click();
        }));

        const QList<AppMessageBox::Shown> shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].title, QStringLiteral("Confirm"));
        QCOMPARE(shown[0].text, QString::asprintf("Do you really want to change the setting of No.%d module to", n));
        QCOMPARE(shown[0].icon, QMessageBox::Question);
        QCOMPARE(shown[0].buttons, QMessageBox::Yes | QMessageBox::Cancel);
        QCOMPARE(shown[1].title, QStringLiteral("Information"));
        QCOMPARE(shown[1].text, QStringLiteral("Setting complete"));
        QCOMPARE(shown[1].icon, QMessageBox::Information);
        // The Part's line, then the module's MAC and what changed.
        QVERIFY2(lastLogLine().startsWith(QStringLiteral("Module set up successfully (00:0E:C6:")), qPrintable(lastLogLine()));

        // Exactly this request (the simulator writes its log a moment after
        // answering), and the grid shows what the check found.
        QTRY_COMPARE(configRequests().mid(requests),
                 QStringList{"VELKORQZ510,01,TO=00:0E:C6:00:00:01,ALIAS=Line-3,IP=198.18.0.150,DHCP=1, \\x0D"});
        QVERIFY(gridRow(gridRowOf(QStringLiteral("IO-1"))).mid(1) != before);
        search();
        QCOMPARE(gridRow(gridRowOf(QStringLiteral("IO-1"))).mid(1),
                 (QStringList{"IO-1", "Line-3", "Enable", "198.18.0.150", kModuleMask, kGateway,
                              "00:0E:C6:00:00:01"}));
    }

    void refusingModuleFailsAndSilentOneIsSetByTheCheck()
    {
        REQUIRE_LAN("subnet");
        search();
        for (const char *name : {"NG", "QUIET"}) {
            // QUIET takes its settings without a word: the check sees them.
            const bool quiet = QLatin1String(name) == QLatin1String("QUIET");
            AppMessageBox::reset();
            AppMessageBox::setNextAnswer(QMessageBox::Yes);
            AppMessageBox::setNextAnswer(QMessageBox::Ok);
            const int n = gridRowOf(QLatin1String(name));
            QVERIFY(n > 0);
            QElapsedTimer clock;
            clock.start();
            QVERIFY(configureByDoubleClick(n, [n] {
                recommendTheRow(n);
                ui<QLineEdit>(Form2, "Edit11")->setText(QStringLiteral("Renamed"));
            }));
            const QList<AppMessageBox::Shown> shown = AppMessageBox::shown();
            QCOMPARE(shown.size(), 2);
            QCOMPARE(shown[1].text, quiet ? QStringLiteral("Setting complete") : QStringLiteral("Setting Error"));
            QVERIFY(lastLogLine().startsWith(quiet ? QStringLiteral("Module set up successfully (")
                                                   : QStringLiteral("Module refused the setting (")));
            if (quiet)
                QVERIFY(clock.elapsed() >= 1000); // the whole wait for an answer
        }
    }

    void nothingChangedOrCancelledSendsNothing()
    {
        REQUIRE_LAN("subnet");
        search();
        const int n = gridRowOf(QStringLiteral("IO-5"));
        QVERIFY(n > 0);
        const qsizetype requests = configRequests().size();
        const int lines = apptest::logList()->count();

        QVERIFY(configureByDoubleClick(n, [n] { recommendTheRow(n); }));
        QVERIFY(AppMessageBox::shown().isEmpty());

        AppMessageBox::setNextAnswer(QMessageBox::Cancel);
        QVERIFY(configureByDoubleClick(n, [n] {
            recommendTheRow(n);
            ui<QRadioButton>(Form2, "rbtnEnable")->click();
        }));
        QCOMPARE(AppMessageBox::shown().size(), 1);
        QCOMPARE(AppMessageBox::shown()[0].title, QStringLiteral("Confirm"));

        QTest::qWait(300);
        QCOMPARE(configRequests().size(), requests);
        QCOMPARE(apptest::logList()->count(), lines);
    }

    void draggedRowsStillNameTheirModule()
    {
        REQUIRE_LAN("subnet");
        search();
        TStringGrid *grid = apptest::grid();
        const int n = gridRowOf(QStringLiteral("IO-5"));
        QVERIFY(n > 1);
        apptest::drag(grid->viewport(), apptest::cellCentre(grid, grid->VisualRow(n), 0),
                      apptest::cellCentre(grid, 1, 0));
        QCOMPARE(grid->VisualRow(n), 1);

        const qsizetype requests = configRequests().size();
        AppMessageBox::setNextAnswer(QMessageBox::Yes);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QString name;
        QVERIFY(configureByDoubleClick(n, [&] {
            name = Form2->NumberedEdit(1)->text();
            recommendTheRow(n);
            ui<QLineEdit>(Form2, "Edit11")->setText(QStringLiteral("Moved"));
        }));
        QCOMPARE(name, QStringLiteral("IO-5"));
        QCOMPARE(AppMessageBox::shown()[0].text,
                 QString::asprintf("Do you really want to change the setting of No.%d module to", n));
        QTRY_COMPARE(configRequests().mid(requests), QStringList{"VELKORQZ510,01,TO=00:0E:C6:00:00:05,ALIAS=Moved\\x0D"});
        QVERIFY2(lastLogLine().startsWith(QStringLiteral("Module set up successfully (00:0E:C6:00:00:05, alias '")),
                 qPrintable(lastLogLine()));
        QVERIFY(lastLogLine().endsWith(QStringLiteral("' -> 'Moved')")));
    }

    void givenAddressIsTakenAndNoAliasStaysNone()
    {
        REQUIRE_LAN("subnet");
        // Without the check no search follows the setting.
        Form1->SearchAgainAfterSetting = false;
        search();
        // GHOST reported no alias; it is given the recommended .13 (it holds
        // .12 itself) and static addressing, its alias field left as shown.
        const int ghost = gridRowOf(QStringLiteral("GHOST"));
        QVERIFY(ghost > 0);
        QCOMPARE(apptest::grid()->Cells(2, ghost), QStringLiteral("N/A"));
        const qsizetype requests = configRequests().size();
        AppMessageBox::setNextAnswer(QMessageBox::Yes);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QString recommended;
        QVERIFY(configureByDoubleClick(ghost, [&] {
            recommended = Form2->NumberedEdit(8)->text();
            ui<QRadioButton>(Form2, "rbtnDisable")->click();
        }));
        QCOMPARE(recommended, QStringLiteral("198.18.0.13"));
        QCOMPARE(AppMessageBox::shown().at(1).text, QStringLiteral("Setting complete"));
        QTRY_COMPARE(configRequests().mid(requests),
                     QStringList{"VELKORQZ510,01,TO=00:0E:C6:00:00:02,ALIAS=,IP=198.18.0.13,DHCP=0, \\x0D"});

        // Nobody answers echo on .13, yet it is taken until the next search
        // says who holds what.
        showDialog(gridRowOf(QStringLiteral("IO-5")) - 1,
                   [&] { recommended = Form2->NumberedEdit(8)->text(); });
        QCOMPARE(recommended, QStringLiteral("198.18.0.14"));
    }

    void searchAgainAfterSettingShowsWhatTheModuleReports()
    {
        REQUIRE_LAN("subnet");
        Form1->SearchAgainAfterSetting = true;
        search();
        const int n = gridRowOf(QStringLiteral("IO-5"));
        QVERIFY(n > 0);
        AppMessageBox::setNextAnswer(QMessageBox::Yes);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(configureByDoubleClick(n, [n] {
            recommendTheRow(n);
            ui<QLineEdit>(Form2, "Edit11")->setText(QStringLiteral("Checked"));
        }));
        // The check comes before the closing box: what it found decides.
        QVERIFY(lastLogLine().startsWith(QStringLiteral("Module set up successfully (00:0E:C6:00:00:05, ")));
        QVERIFY(apptest::logLines().contains(QStringLiteral("00:0E:C6:00:00:05 now reports IP 198.18.0.105, mask "
                                                            "255.255.255.0, gateway 198.18.0.1, DHCP Disable, alias "
                                                            "Checked")));
        // The grid is the new search's, with every module of the LAN.
        QCOMPARE(Form1->Tag, 5);
        QCOMPARE(apptest::grid()->Cells(2, gridRowOf(QStringLiteral("IO-5"))), QStringLiteral("Checked"));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void slash28NeverProposesItsBroadcast()
    {
        REQUIRE_LAN("slash28");
        // Host .13/28, .14 answers: .15 is the subnet's broadcast address,
        // which the system refuses to ping, and nothing above it is in the
        // subnet.
        const qint64 echoes = configtest::icmpOutEchos();
        QVERIFY(echoes >= 0);
        QStringList recommended;
        showDialog(0, [&] {
            for (int n = 8; n <= 10; ++n)
                recommended << Form2->NumberedEdit(n)->text();
        });
        QCOMPARE(recommended, QStringList(3, QStringLiteral("0.0.0.0")));
        QCOMPARE(configtest::icmpOutEchos() - echoes, 1); // .14 only

        // The range search of the auto configuration over the whole /28 and
        // beyond: neither the network .0, the gateway .1, the host .13 nor
        // the broadcast .15 is listed.
        frm_AutoSet->show();
        autosettest::searchFree(QStringLiteral("198.18.30.1"), QStringLiteral("198.18.30.18"), QStringLiteral("100"));
        QStringList expected = autosettest::range(QStringLiteral("198.18.30."), autosettest::seq(2, 12));
        expected << QStringLiteral("198.18.30.17") << QStringLiteral("198.18.30.18");
        QCOMPARE(autosettest::addresses(), expected);
        frm_AutoSet->hide();
    }

    void downAdapterProposesNothing()
    {
        REQUIRE_LAN("slash28");
        // With the adapter down no echo request can leave: .14, which the
        // module namespace holds, must not look free after 0 ms.
        const QString adapter = QStringLiteral("tl%1h").arg(qEnvironmentVariable("TESTLAN_ID"));
        QVERIFY(apptest::ip({"link", "set", adapter, "down"}));
        QStringList recommended;
        showDialog(0, [&] {
            for (int n = 8; n <= 10; ++n)
                recommended << Form2->NumberedEdit(n)->text();
        });
        apptest::ip({"link", "set", adapter, "up"});
        apptest::ip({"route", "add", "default", "via", "198.18.30.1", "dev", adapter});
        QCOMPARE(recommended, QStringList(3, QStringLiteral("0.0.0.0")));
    }

    void noAddressAboveTheTopOfTheSubnet()
    {
        REQUIRE_LAN("top");
        const qint64 echoes = configtest::icmpOutEchos();
        QVERIFY(echoes >= 0);
        QStringList recommended;
        showDialog(0, [&] {
            for (int n = 8; n <= 10; ++n)
                recommended << Form2->NumberedEdit(n)->text();
        });
        QCOMPARE(recommended, QStringList(3, QStringLiteral("0.0.0.0")));
        QCOMPARE(configtest::icmpOutEchos(), echoes);
    }

    // The host has an adapter with nothing behind it first in kernel order,
    // the default-route adapter (A-1 behind it) and tl<id>h2 on 198.19.7.0/24
    // (B-1 behind it).
    void adapterChoiceOnSeveralAdapters()
    {
        REQUIRE_LAN("adapters");
        // The segment's adapter, by its address: on Windows its identifier
        // (kept in option.ini) is not the name the operator reads.
        const QString secondAddress = QStringLiteral(", 198.19.7.10");
        QString second;
        QString secondLabel;
        QString text;
        QCOMPARE(Form1->Services().ReadHostAdapter(1, text), 0);
        QCOMPARE(text, QStringLiteral("198.19.200.10")); // "First adapter", the default

        // The choice lists every adapter, is kept in option.ini and moves
        // the recommended settings to that adapter's subnet.
        QStringList listed;
        apptest::whenModalFor(frm_Configuration, 0, [&](QWidget *) {
            QComboBox *adapters = ui<QComboBox>(frm_Configuration, "cbox_Adapter");
            for (int i = 0; i < adapters->count(); ++i) {
                listed << adapters->itemText(i);
                if (listed.back().endsWith(secondAddress)) {
                    second = adapters->itemData(i).toString();
                    secondLabel = listed.back().chopped(secondAddress.size());
                }
            }
            adapters->setCurrentIndex(adapters->findData(second));
            apptest::clickNamed(frm_Configuration, "btnSet");
        });
        QVERIFY(apptest::clickNamed(Form1, "ToolButton1"));
        QCOMPARE(listed.size(), 4);
        QCOMPARE(listed.front(), QStringLiteral("First adapter"));
        QVERIFY(!second.isEmpty());
#ifndef _WIN32
        QCOMPARE(second, QStringLiteral("tl%1h2").arg(qEnvironmentVariable("TESTLAN_ID")));
        QCOMPARE(secondLabel, second);
#endif
        QVERIFY(apptest::readOptionFile().contains("Adapter=" + second.toLatin1()));

        search();
        QCOMPARE(Form1->Tag, 2);
        QCOMPARE(apptest::statusPanel(1)->text(), QStringLiteral("3 NIC"));
        const int b = gridRowOf(QStringLiteral("B-1"));
        QVERIFY(b > 0);
        QCOMPARE(apptest::grid()->item(b - 1, 4)->toolTip(), QStringLiteral("via %1, 198.19.7.10").arg(secondLabel));
        QStringList recommended;
        showDialog(b - 1, [&] {
            for (int n = 8; n <= 10; ++n)
                recommended << Form2->NumberedEdit(n)->text();
        });
        // No default route leaves by that adapter: no gateway to propose.
        QCOMPARE(recommended, (QStringList{"198.19.7.11", kModuleMask, QString()}));

        // Started again with an adapter the host does not have: the first
        // adapter, said once in the log.
        apptest::stopProgram();
        apptest::writeOptionFile("[option]\nSNumber=5\nSTimeOut=1000\nAdapter=gone0\n");
        QVERIFY(apptest::startProgram());
        QCOMPARE(apptest::logList()->findItems(QStringLiteral("Adapter gone0 not found"), Qt::MatchStartsWith).size(), 1);
        QCOMPARE(Form1->Services().ReadHostAdapter(1, text), 0);
        QCOMPARE(text, QStringLiteral("198.19.200.10"));
    }
};

QTEST_MAIN(ConfigLanTest)
#include "config_lan_test.moc"
