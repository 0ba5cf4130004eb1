// "Set multiple modules" on a test LAN of network namespaces (see
// scripts/with-testlan.sh and tests/app/CMakeLists.txt): the host
// 198.18.0.10/24 behind the gateway 198.18.0.1, module namespace 1 holding
// 198.18.0.101 plus addresses that answer echo, with four simulated modules,
// three of them fresh from the factory sharing 198.18.0.200, and module
// namespace 2 with one module that refuses configuration. With
// APP_AUTOSET_LAN=outcomes, module namespace 1 holds instead three factory
// modules that acknowledge late, never hear a configuration, or refuse late.
// Environment: APP_LAN_ID_FILE (where the LAN's id is recorded for the
// clean-up check); TESTLAN_* from with-testlan.sh.
#include "app_test_support.h"
#include "autoset_test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>

#include <set>

#include "platform/HostNetwork.h"

using namespace autosettest;
using apptest::moduleList;
using apptest::testLanFile;
using apptest::ui;

namespace {

// Answering echo besides the gateway (.1), the host (.10) and the module
// namespaces (.101, .102): the extra addresses of module namespace 1.
const QList<int> kAnswering{21, 23, 24, 37};
const QString kNet = QStringLiteral("198.18.0.");
const QStringList kFactoryMacs{"00:0E:C6:F0:00:01", "00:0E:C6:F0:00:02", "00:0E:C6:F0:00:03"};

// The settings a simulator holds now, one module per line of its state file.
std::vector<modsim::ModuleSpec> lanState(int ns)
{
    std::vector<modsim::ModuleSpec> modules;
    QFile file(testLanFile(QStringLiteral("m%1.state").arg(ns)));
    if (!file.open(QIODevice::ReadOnly))
        return modules;
    std::size_t index = 1;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        modsim::ModuleSpec desc;
        std::string error;
        if (modsim::parse_module_spec(line.toStdString(), index++, desc, error))
            modules.push_back(desc);
        else
            qWarning("state line '%s': %s", line.constData(), error.c_str());
    }
    return modules;
}

// The configuration requests the simulator of module namespace `ns` received.
QStringList lanRequests(int ns)
{
    return apptest::configRequests(testLanFile(QStringLiteral("m%1.log").arg(ns)));
}

const modsim::ModuleSpec *byMac(const std::vector<modsim::ModuleSpec> &modules, const QString &mac)
{
    for (const modsim::ModuleSpec &m : modules) {
        if (QString::fromStdString(m.mac) == mac)
            return &m;
    }
    return nullptr;
}

// The grid row (module number) of a MAC address; 0 when not listed.
int rowOfMac(const QString &mac)
{
    return apptest::gridRowOf(mac, 7);
}

// The one-at-a-time walk over the same range with the same modules in use,
// probing with the main window's echo request.
QStringList sequentialWalk(const QString &start, const QString &end, int wanted)
{
    hostnet::FreeAddressSearch search = hostnet::RangeSearch(hostnet::AddressFromText(start.toStdString()),
                                                             hostnet::AddressFromText(end.toStdString()), wanted);
    for (const QString &address : apptest::gridColumn(4))
        search.inUse.insert(hostnet::AddressFromText(address.toStdString()));
    QStringList texts;
    for (std::uint32_t a : hostnet::SequentialFreeAddressWalk(search, [](std::uint32_t address) {
             return Form1->Services().PingAddress(QString::fromStdString(hostnet::AddressToText(address)));
         }))
        texts << QString::fromStdString(hostnet::AddressToText(a));
    return texts;
}

// The program started with a search that waits for `modules` answers.
bool startAndSearch(int modules)
{
    AppMessageBox::reset();
    Tfrm_AutoSet::sortAscending = true;
    apptest::writeOptionFile(QByteArray("[option]\nSNumber=") + QByteArray::number(modules) + "\nSTimeOut=5000\n");
    return apptest::startProgram() && apptest::search(modules);
}

void stopAndForget()
{
    apptest::stopProgram();
    apptest::removeOptionFile();
    AppMessageBox::reset();
}

} // namespace

class AutosetLanTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!apptest::onTestLan())
            QSKIP("runs on a test LAN only");
        QVERIFY(startAndSearch(5));
    }
    void cleanupTestCase()
    {
        stopAndForget();
    }

    void dialogShowsTheHostAndProposesWhatTheOneAtATimeWalkProposes()
    {
        frm_AutoSet->show();
        QCOMPARE(ui<QLineEdit>(frm_AutoSet, "Edit1")->text(), QStringLiteral("198.18.0.10"));
        QCOMPARE(ui<QLineEdit>(frm_AutoSet, "Edit2")->text(), QStringLiteral("255.255.255.0"));
        QCOMPARE(ui<QLineEdit>(frm_AutoSet, "Edit3")->text(), QStringLiteral("198.18.0.1"));
        QCOMPARE(moduleList()->topLevelItemCount(), 5);
        QCOMPARE(ui<QLineEdit>(frm_AutoSet, "editNumber")->text(), QStringLiteral("5"));

        // The default range runs from the host down to the gateway; both
        // answer, the addresses between them are free.
        QTest::mouseClick(ui(frm_AutoSet, "btnSearch"), Qt::LeftButton);
        QCOMPARE(addresses(), range(kNet, {2, 3, 4, 5, 6}));

        // Answering addresses, skipped ones and the modules' own addresses
        // (answering or not: the factory one, .200, answers nobody's echo)
        // are left out, exactly as by the walk of one request at a time.
        for (const auto &[start, end, wanted] :
             {std::tuple{kNet + "15", kNet + "45", 1000}, std::tuple{kNet + "45", kNet + "15", 7},
              std::tuple{kNet + "195", kNet + "205", 100}, std::tuple{kNet + "99", kNet + "103", 100},
              std::tuple{kNet + "20", kNet + "24", 0}, std::tuple{kNet + "21", kNet + "24", 0}}) {
            searchFree(start, end, QString::number(wanted));
            const QStringList concurrent = addresses();
            QCOMPARE(concurrent, sequentialWalk(start, end, wanted));
        }
        searchFree(kNet + "15", kNet + "45", QStringLiteral("1000"));
        QCOMPARE(addresses(), range(kNet, seq(15, 15) + seq(17, 20) + seq(22, 22) + seq(25, 31) + seq(33, 36) +
                                              seq(38, 45)));
        searchFree(kNet + "195", kNet + "205", QStringLiteral("100"));
        QCOMPARE(addresses(), range(kNet, {195, 196, 197, 198, 199, 201, 202, 203, 204, 205}));
        frm_AutoSet->hide();
        QVERIFY(AppMessageBox::shown().isEmpty());
    }

    void factoryModulesSharingOneAddressGetOneEach()
    {
        QCOMPARE(Form1->Tag, 5);
        const QString refusing = QStringLiteral("00:0E:C6:00:02:01");
        for (const QString &mac : kFactoryMacs)
            QVERIFY2(rowOfMac(mac) > 0, qPrintable(mac));
        QVERIFY(rowOfMac(refusing) > 0);
        QCOMPARE(apptest::grid()->Cells(4, rowOfMac(kFactoryMacs.at(0))), kNet + "200");

        AppMessageBox::reset();
        AppMessageBox::setNextAnswer(QMessageBox::Yes); // the refusing module
        AppMessageBox::setNextAnswer(QMessageBox::Ok);  // the summary
        QStringList names, proposed;
        auto ran = apptest::whenModalFor(frm_AutoSet, 50, [&](QWidget *) {
            // Sorted by name: IN-2 (which refuses) first, then IN-1, then
            // the three factory modules in no particular order.
            clickHeader(moduleList(), 1);
            names = moduleColumn(1);
            tick(moduleList(), {0, 2, 3, 4});
            searchFree(kNet + "50", kNet + "60", QStringLiteral("4"));
            proposed = addresses();
            frm_AutoSet->btnIPSetectAllClick();
            apptest::clickNamed(frm_AutoSet, "btnSet");
        });
        ui<QAction>(Form1, "pmenuAutoSet")->trigger();
        QVERIFY(*ran);
        QCOMPARE(names, (QStringList{"IN-2", "IN-1", "FAC", "FAC", "FAC"}));
        QCOMPARE(proposed, range(kNet, {50, 51, 52, 53}));

        // What each simulated module received and applied.
        const std::vector<modsim::ModuleSpec> ns1 = lanState(1);
        QCOMPARE(int(ns1.size()), 4);
        QSet<QString> given;
        const QStringList ns1Requests = lanRequests(1);
        for (const QString &mac : kFactoryMacs) {
            const modsim::ModuleSpec *m = byMac(ns1, mac);
            QVERIFY2(m, qPrintable(mac));
            const QString ip = QString::fromStdString(m->ip);
            given << ip;
            QCOMPARE(QString::fromStdString(m->mask), QStringLiteral("255.255.255.0"));
            QCOMPARE(QString::fromStdString(m->gateway), QStringLiteral("198.18.0.1"));
            QCOMPARE(m->dhcp, 0);
            QCOMPARE(QString::fromStdString(m->alias), QString()); // none, as reported
            // One request per module, naming it by its MAC address.
            QStringList own;
            for (const QString &request : ns1Requests) {
                if (request.startsWith(QStringLiteral("VELKORQZ510,01,TO=%1,").arg(mac)))
                    own << request;
            }
            QCOMPARE(own, QStringList{QStringLiteral("VELKORQZ510,01,TO=%1,ALIAS=,IP=%2,DHCP=0, \\x0D")
                                          .arg(mac, ip)});
        }
        QCOMPARE(given, (QSet<QString>{kNet + "51", kNet + "52", kNet + "53"}));
        const modsim::ModuleSpec *in1 = byMac(ns1, QStringLiteral("00:0E:C6:00:01:01"));
        QVERIFY(in1);
        QCOMPARE(QString::fromStdString(in1->ip), kNet + "101"); // not ticked
        QCOMPARE(in1->dhcp, 1);
        QCOMPARE(ns1Requests.size(), 3 + 1); // the refusing module's request reached namespace 1 too

        // The refusing module was sent the first ticked address, which is
        // used up; it keeps its settings.
        const std::vector<modsim::ModuleSpec> ns2 = lanState(2);
        QCOMPARE(int(ns2.size()), 1);
        QCOMPARE(QString::fromStdString(ns2.front().ip), kNet + "102");
        QCOMPARE(lanRequests(2).filter(QStringLiteral("TO=%1,").arg(refusing)),
                 QStringList{QStringLiteral("VELKORQZ510,01,TO=%1,ALIAS=,IP=198.18.0.50\\x0D")
                                 .arg(refusing)});

        const QList<AppMessageBox::Shown> shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(0).text, QStringLiteral("Setting Error!\r\rName: IN-2\r\nALIAS: N/A\r\nIP: 198.18.0.102"
                                                  "\r\rDo you continue?"));
        QVERIFY(shown.at(1).text.startsWith(QStringLiteral("1 module setting failed.\nSearch again to see what each module took.\n")));

        // A new search lists the three with distinct addresses, and those
        // are in use for the next free address search although nobody
        // answers echo on them; so is .50, given to the module that refused
        // it, which the search found elsewhere.
        QVERIFY(apptest::search(5));
        QSet<QString> listed;
        for (const QString &mac : kFactoryMacs)
            listed << apptest::grid()->Cells(4, rowOfMac(mac));
        QCOMPARE(listed, given);
        frm_AutoSet->show();
        searchFree(kNet + "50", kNet + "55", QStringLiteral("100"));
        QCOMPARE(addresses(), range(kNet, {54, 55}));
        frm_AutoSet->hide();
    }
};

// The same batch against modules that do not all do what they say: three
// fresh from the factory at 198.18.0.200, named F-1 to F-3; F-1 applies at
// once but acknowledges 4.5 s late, F-2 never hears a configuration, F-3
// refuses 0.9 s late. Only what a module reports afterwards makes it "set":
// late answers of one module must not pass for another's.
class AutosetOutcomeLanTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!apptest::onTestLan())
            QSKIP("runs on a test LAN only");
        QVERIFY(startAndSearch(3));
    }
    void cleanupTestCase()
    {
        stopAndForget();
    }

    void onlyTheModuleReportingItsNewSettingsIsSet()
    {
        for (int i = 0; i < 3; ++i)
            AppMessageBox::setNextAnswer(QMessageBox::Yes); // go on after each failure
        AppMessageBox::setNextAnswer(QMessageBox::Ok);      // the summary
        const int firstLine = apptest::logList()->count();
        QElapsedTimer took;
        took.start();
        QStringList names;
        auto ran = apptest::whenModalFor(frm_AutoSet, 50, [&](QWidget *) {
            clickHeader(moduleList(), 1); // descending
            clickHeader(moduleList(), 1);
            names = moduleColumn(1);
            tick(moduleList(), {0, 1, 2});
            searchFree(kNet + "50", kNet + "60", QStringLiteral("3"));
            frm_AutoSet->btnIPSetectAllClick();
            apptest::clickNamed(frm_AutoSet, "btnSet");
        });
        ui<QAction>(Form1, "pmenuAutoSet")->trigger();
        QVERIFY(*ran);
        QVERIFY2(took.elapsed() < 60000, "the batch and its check took too long");
        QCOMPARE(names, (QStringList{"F-1", "F-2", "F-3"}));

        // The k-th module by name got the k-th free address.
        const std::vector<modsim::ModuleSpec> state = lanState(1);
        QCOMPARE(int(state.size()), 3);
        QStringList ips;
        for (const QString &mac : kFactoryMacs) {
            const modsim::ModuleSpec *m = byMac(state, mac);
            QVERIFY2(m, qPrintable(mac));
            ips << QString::fromStdString(m->ip);
        }
        QCOMPARE(ips, (QStringList{kNet + "50", kNet + "200", kNet + "200"}));
        QCOMPARE(lanRequests(1).size(), 3);

        // The last word on each module, after the check.
        const QRegularExpression line(QStringLiteral("^Module \\d+ \\((\\S+), ip \\S+ -> (\\S+)(?:, .*)?\\): ([a-z ]+)$"));
        QMap<QString, QString> outcome;
        const QStringList logged = apptest::logLines(firstLine);
        for (const QString &text : logged)
            if (const QRegularExpressionMatch m = line.match(text); m.hasMatch())
                outcome[m.captured(1)] = m.captured(3);
        QCOMPARE(outcome.value(kFactoryMacs.at(0)), QStringLiteral("set"));
        // F-2 heard nothing. F-3 refused; its refusal may also be taken for
        // the late answer of F-2, which shares its address, and the late OK
        // of F-1 may come while it is waited for: its report then belies it.
        QVERIFY2((QStringList{"failed", "not confirmed"}).contains(outcome.value(kFactoryMacs.at(1))),
                 qPrintable(logged.join(QLatin1Char('\n'))));
        QVERIFY2((QStringList{"refused", "failed", "not confirmed"}).contains(outcome.value(kFactoryMacs.at(2))),
                 qPrintable(logged.join(QLatin1Char('\n'))));
        QVERIFY2(logged.filter(QStringLiteral("Batch complete: 1 of 3 modules set, ")).size() == 1,
                 qPrintable(logged.join(QLatin1Char('\n'))));

        const QList<AppMessageBox::Shown> shown = AppMessageBox::shown();
        QVERIFY(!shown.isEmpty());
        QCOMPARE(shown.last().title, QStringLiteral("Warning"));
        QVERIFY2(!shown.last().text.contains(QStringLiteral("Setting complete")), qPrintable(shown.last().text));
        // The grid shows what the check found.
        QCOMPARE(apptest::grid()->Cells(4, rowOfMac(kFactoryMacs.at(0))), kNet + "50");
        QCOMPARE(apptest::grid()->Cells(4, rowOfMac(kFactoryMacs.at(2))), kNet + "200");
    }
};

// One program, two test LANs: APP_AUTOSET_LAN=outcomes picks the second.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariable("APP_AUTOSET_LAN") == QLatin1String("outcomes")) {
        AutosetOutcomeLanTest test;
        return QTest::qExec(&test, argc, argv);
    }
    AutosetLanTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "autoset_lan_test.moc"
