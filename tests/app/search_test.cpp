// The search command end to end: real library, real sockets, simulated
// modules in the test's own network namespace, and the progress dialog.
#include "app_test_support.h"

#include "AppFileDialog.h"
#include "AppMessageBox.h"
#include "Forms.h"
#include "Unit1.h"
#include "Unit3.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QTest>

#include "platform/HostNetwork.h"
#include "zarfel.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#endif

using apptest::cellCentre;
using apptest::drag;
using apptest::gridRow;
using apptest::module;
using apptest::statusPanel;
using apptest::ui;

namespace {

int searchLines()
{
    return int(apptest::logLines().count(QStringLiteral("Search...")));
}

// Presses Search; returns once the progress dialog has closed, with the
// time that took.
qint64 pressSearch()
{
    QElapsedTimer clock;
    clock.start();
    if (!apptest::search())
        return -1;
    return clock.elapsed();
}

const QString kComplete = QStringLiteral("Search complete");

// The progress dialog's bar and its numbered labels.
QProgressBar *progressBar()
{
    return ui<QProgressBar>(Form3, "ProgressBar1");
}

QLabel *label(int n)
{
    return ui<QLabel>(Form3, QByteArray("Label" + QByteArray::number(n)).constData());
}

} // namespace

class SearchTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        AppMessageBox::reset();
        AppFileDialog::reset();
        apptest::removeOptionFile();
    }
    void cleanup()
    {
        simulator.reset();
        apptest::stopProgram();
        AppMessageBox::reset();
        apptest::removeOptionFile();
    }

    void searchListsTheModulesInOrderOfArrival()
    {
        apptest::writeOptionFile("[option]\nSNumber=0\nSTimeOut=1500\n");
        simulator = apptest::startSimulator({
            module(1, "QZ510-A", "pump", 0, "late:400"),
            module(2, "QZ510-B", "", 1),
            module(3, "QZ510-C", "valve", 7),
        });
        QVERIFY(simulator);
        QVERIFY(apptest::startProgram());

        const qint64 took = pressSearch();
        QVERIFY(took >= 1500);
        QVERIFY(!Form3->isVisible());
        QCOMPARE(statusPanel(0)->text(), kComplete);
        QCOMPARE(AppMessageBox::beeps(), 0);
        QCOMPARE(Form1->Tag, 3);
        QVERIFY(ui(Form1, "ToolButton2")->isEnabled());

        TStringGrid *grid = apptest::grid();
        QCOMPARE(grid->RowCount(), 6);
        const QString mask = QStringLiteral("255.255.255.0");
        const QString gw = QStringLiteral("198.18.0.1");
        QCOMPARE(gridRow(1), (QStringList{"1", "QZ510-B", "N/A", "Enable", "198.18.0.102", mask, gw, "00:0E:C6:00:00:02"}));
        QCOMPARE(gridRow(2), (QStringList{"2", "QZ510-C", "valve", "Enable", "198.18.0.103", mask, gw, "00:0E:C6:00:00:03"}));
        QCOMPARE(gridRow(3), (QStringList{"3", "QZ510-A", "pump", "Disable", "198.18.0.101", mask, gw, "00:0E:C6:00:00:01"}));
        for (int empty = 4; empty <= 5; ++empty)
            QCOMPARE(gridRow(empty).join(QString()), QString());
        QCOMPARE(grid->Row(), 1);
        QCOMPARE(apptest::logLines(), (QStringList{"Search...", "3 modules found"}));

        // The next search replaces the list and adds its two log lines.
        QVERIFY(pressSearch() >= 1500);
        QCOMPARE(grid->RowCount(), 6);
        QCOMPARE(Form1->Tag, 3);
        QCOMPARE(searchLines(), 2);
        QCOMPARE(apptest::logList()->count(), 4);
    }

    void searchThatFindsNothing()
    {
        apptest::writeOptionFile("[option]\nSTimeOut=1000\n");
        QVERIFY(apptest::startProgram());
        QVERIFY(pressSearch() >= 1000);
        QCOMPARE(apptest::grid()->RowCount(), 3);
        QCOMPARE(gridRow(1).join(QString()), QString());
        QCOMPARE(Form1->Tag, 0);
        QVERIFY(!ui(Form1, "ToolButton2")->isEnabled());
        QCOMPARE(statusPanel(0)->text(), kComplete);
        // Time mode: the bar ran to the time-out plus one tick.
        QCOMPARE(progressBar()->maximum(), 1100);
        QCOMPARE(progressBar()->value(), 1100);
        QCOMPARE(label(2)->text(), QStringLiteral(" / 1000 ms"));
    }

    void searchWithTheAdapterDownSaysNoRequestWasSent()
    {
        // The private namespace's one adapter pair, down: no route is left.
        QVERIFY(apptest::ip({"link", "set", "tv0", "down"}) && apptest::ip({"link", "set", "tv1", "down"}));
        struct Restore {
            ~Restore()
            {
                apptest::ip({"link", "set", "tv1", "up"});
                apptest::ip({"link", "set", "tv0", "up"});
                apptest::ip({"route", "replace", "default", "via", "198.18.0.1", "dev", "tv0"});
            }
        } restore;
        QVERIFY(apptest::startProgram());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(apptest::search(0));
        QVERIFY2(clock.elapsed() < 1000, "no progress dialog waits for replies to nothing");
#ifdef _WIN32
        // The words are the system's or, where it has none, the library's:
        // the number decides.
        const QString reason = statusPanel(0)->text().section(QStringLiteral(": "), 1).section(QStringLiteral(" (error "), 0, 0);
        const int code = WSAENETUNREACH;
        QVERIFY2(!reason.isEmpty(), qPrintable(statusPanel(0)->text()));
#else
        const QString reason = QString::fromLatin1(std::strerror(ENETUNREACH));
        const int code = ENETUNREACH;
#endif
        QVERIFY2(statusPanel(0)->text() != kComplete && statusPanel(0)->text().contains(reason),
                 qPrintable(statusPanel(0)->text()));
        QCOMPARE(apptest::logLines(),
                 QStringList({QStringLiteral("Search..."),
                              QStringLiteral("No search request could be sent: %1 (error %2)").arg(reason).arg(code)}));
    }

    void stopBeepsAndListsTheModulesCountedSoFar()
    {
        apptest::writeOptionFile("[option]\nSTimeOut=30000\n");
        simulator = apptest::startSimulator({module(1, "M1", "a", 0), module(2, "M2", "b", 0)});
        QVERIFY(simulator);
        QVERIFY(apptest::startProgram());

        bool stopWasEnabled = false;
        auto pressed = apptest::whenModalFor(Form3, 1000, [&](QWidget *) {
            stopWasEnabled = ui(Form3, "Button2")->isEnabled();
            apptest::clickNamed(Form3, "Button2");
        });
        const qint64 took = pressSearch();
        QVERIFY(*pressed);
        QVERIFY(stopWasEnabled);
        QVERIFY2(took < 15000, "the search ended long before its time-out");
        QCOMPARE(AppMessageBox::beeps(), 1);
        QCOMPARE(statusPanel(0)->text(), QStringLiteral("Search Stop"));
        QCOMPARE(Form1->Tag, 2);
        QCOMPARE(apptest::grid()->RowCount(), 5);
        QCOMPARE(apptest::grid()->Cells(1, 2), QStringLiteral("M2"));
        QTRY_COMPARE_WITH_TIMEOUT(Zarfel_GetState(), 0, 5000);
    }

    void closeBoxEndsTheDialogWithoutStoppingTheLibrary()
    {
        apptest::writeOptionFile("[option]\nSTimeOut=4000\n");
        simulator = apptest::startSimulator({module(1, "M1", "a", 0), module(2, "M2", "b", 0)});
        QVERIFY(simulator);
        QVERIFY(apptest::startProgram());

        QElapsedTimer sinceStart;
        auto closed = apptest::whenModalFor(Form3, 800, [&](QWidget *) { Form3->close(); });
        sinceStart.start();
        QVERIFY(pressSearch() < 3500);
        QVERIFY(*closed);
        QCOMPARE(AppMessageBox::beeps(), 0);
        QCOMPARE(statusPanel(0)->text(), kComplete);
        QCOMPARE(Form1->Tag, 2);
        QCOMPARE(apptest::grid()->Cells(1, 1), QStringLiteral("M1"));
        // No stop request: the library's search runs on to its time-out.
        QCOMPARE(Zarfel_GetState(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(Zarfel_GetState(), 0, 15000);
        QVERIFY(sinceStart.elapsed() >= 3900);
    }

    void searchRightAfterTheCloseBoxStartsCleanly()
    {
        // A search left running by the close box is ended before the next
        // one starts, and the next one lists its modules.
        apptest::writeOptionFile("[option]\nSTimeOut=20000\n");
        simulator = apptest::startSimulator({module(1, "M1", "a", 0)});
        QVERIFY(simulator);
        QVERIFY(apptest::startProgram());
        auto closed = apptest::whenModalFor(Form3, 600, [](QWidget *) { Form3->close(); });
        pressSearch();
        QVERIFY(*closed);
        QCOMPARE(Zarfel_GetState(), 1);

        auto stopped = apptest::whenModalFor(Form3, 1000, [](QWidget *) { apptest::clickNamed(Form3, "Button2"); });
        QVERIFY(pressSearch() < 10000);
        QVERIFY(*stopped);
        QCOMPARE(Form1->Tag, 1);
        QCOMPARE(apptest::grid()->Cells(1, 1), QStringLiteral("M1"));
        QTRY_COMPARE_WITH_TIMEOUT(Zarfel_GetState(), 0, 5000);
    }

    void countModeClosesWhenTheWishedNumberArrived()
    {
        apptest::writeOptionFile("[option]\nSNumber=3\nSTimeOut=20000\n");
        simulator = apptest::startSimulator({module(1, "M1", "", 0), module(2, "M2", "", 0), module(3, "M3", "", 0)});
        QVERIFY(simulator);
        QVERIFY(apptest::startProgram());

        int minimum = -1, maximum = -1;
        auto seen = apptest::whenModalFor(Form3, 0, [&](QWidget *) {
            minimum = progressBar()->minimum();
            maximum = progressBar()->maximum();
        });
        QVERIFY(pressSearch() < 10000);
        QVERIFY(*seen);
        QCOMPARE(minimum, 0);
        QCOMPARE(maximum, 3);
        QCOMPARE(progressBar()->value(), 3);
        QCOMPARE(label(4)->text(), QStringLiteral("3"));
        QCOMPARE(label(1)->text(), QStringLiteral("3"));
        QCOMPARE(label(2)->text(), QStringLiteral(" / 3"));
        QCOMPARE(Form1->Tag, 3);
        QCOMPARE(statusPanel(0)->text(), kComplete);
    }

    void timeModeRunsTheBarToTheTimeOut()
    {
        apptest::writeOptionFile("[option]\nSNumber=0\nSTimeOut=2000\n");
        simulator = apptest::startSimulator({module(1, "M1", "", 0)});
        QVERIFY(simulator);
        QVERIFY(apptest::startProgram());

        int maximum = -1, value = -1;
        QString label2, label1, label4;
        auto seen = apptest::whenModalFor(Form3, 700, [&](QWidget *) {
            maximum = progressBar()->maximum();
            value = progressBar()->value();
            label1 = label(1)->text();
            label2 = label(2)->text();
            label4 = label(4)->text();
        });
        QVERIFY(pressSearch() >= 2000);
        QVERIFY(*seen);
        QCOMPARE(maximum, 2100);
        QVERIFY(value > 0 && value < 2100);
        QCOMPARE(label1, QString::number(value));
        QCOMPARE(label2, QStringLiteral(" / 2000 ms"));
        QCOMPARE(label4, QStringLiteral("1"));
        QCOMPARE(progressBar()->value(), 2100);
        QCOMPARE(label(1)->text(), QStringLiteral("2100"));
        QCOMPARE(Form1->Tag, 1);
    }

    void draggedRowsAndColumnsKeepTheModuleNumbering()
    {
        apptest::writeOptionFile("[option]\nSNumber=3\nSTimeOut=5000\n");
        simulator = apptest::startSimulator({module(1, "M1", "one", 0), module(2, "M2", "two", 1),
                                             module(3, "M3", "three", 0)});
        QVERIFY(simulator);
        QVERIFY(apptest::startProgram());
        pressSearch();
        QCOMPARE(Form1->Tag, 3);
        TStringGrid *grid = apptest::grid();
        const QStringList third = gridRow(3);
        QCOMPARE(third.at(0), QStringLiteral("3"));

        // The operator drags module 3's row by its first cell to the top.
        QWidget *cells = grid->viewport();
        drag(cells, cellCentre(grid, 3, 0), cellCentre(grid, 1, 0));
        QCOMPARE(grid->VisualRow(3), 1);
        QCOMPARE(grid->VisualRow(1), 2);

        // ... and the "IP" column by its title next to "NO".
        QHeaderView *titles = grid->horizontalHeader();
        const auto titleCentre = [&](int logicalColumn) {
            return QPoint(titles->sectionViewportPosition(logicalColumn) + titles->sectionSize(logicalColumn) / 2, 12);
        };
        drag(titles->viewport(), titleCentre(4), titleCentre(1) - QPoint(titles->sectionSize(1) / 4, 0));
        QCOMPARE(grid->VisualColumn(4), 1);
        QCOMPARE(titles->logicalIndexAt(titleCentre(4)), 4);
        QCOMPARE(grid->ColumnTitle(4), QStringLiteral("IP")); // the title moved with its data
        QCOMPARE(grid->ColumnTitle(1), QStringLiteral("NAME"));

        // The fixed column cannot be dragged away from the left edge.
        drag(titles->viewport(), titleCentre(0), titleCentre(6));
        QCOMPARE(grid->VisualColumn(0), 0);

        // Every module's data is still found under its own number.
        QCOMPARE(gridRow(3), third);
        QCOMPARE(grid->Cells(4, 3), QStringLiteral("198.18.0.103"));
        QCOMPARE(grid->Cells(0, 1), QStringLiteral("1"));
        QCOMPARE(grid->Cells(1, 1), QStringLiteral("M1"));

        // Clicking the top row on screen selects module 3.
        QTest::mouseClick(cells, Qt::LeftButton, {}, cellCentre(grid, 1, 5));
        QCOMPARE(grid->Row(), 3);
        QCOMPARE(grid->Cells(7, grid->Row()), QStringLiteral("00:0E:C6:00:00:03"));

        // A new search lists the modules in their own order again; the
        // operator's column arrangement stays.
        pressSearch();
        QCOMPARE(grid->VisualRow(3), 3);
        QCOMPARE(grid->VisualColumn(4), 1);
        QCOMPARE(grid->Cells(4, 1), QStringLiteral("198.18.0.101"));
    }

    void sharedAddressesAreMarkedAndTheListCopiesAndExports()
    {
        apptest::writeOptionFile("[option]\nSNumber=3\nSTimeOut=5000\n");
        std::vector<modsim::ModuleSpec> modules = {module(1, "M1", "one", 0), module(2, "M2", "two", 0),
                                                   module(3, "M3", "three", 0)};
        modules[0].ip = modules[2].ip = "198.18.0.200";
        simulator = apptest::startSimulator(modules);
        QVERIFY(simulator);
        QVERIFY(apptest::startProgram());
        pressSearch();
        QCOMPARE(Form1->Tag, 3);
        TStringGrid *grid = apptest::grid();
        QCOMPARE(grid->Cells(1, 2), QStringLiteral("M2"));
        const int sharedRow = 1;
        const int alone = 2;
        QVERIFY(grid->CellWarning(4, 3));
        QVERIFY(grid->CellWarning(4, sharedRow));
        QVERIFY(!grid->CellWarning(4, alone));
        QVERIFY(!grid->CellWarning(5, sharedRow));
        QVERIFY(grid->item(sharedRow - 1, 4)->toolTip().startsWith(QStringLiteral("IP shared with 1 other module\nvia ")));
        QVERIFY(grid->item(sharedRow - 1, 1)->toolTip().startsWith(QStringLiteral("via ")));
        QCOMPARE(apptest::logList()->findItems(QStringLiteral("2 modules share 198.18.0.200"), Qt::MatchExactly).size(), 1);

        // Shown order, not storage order: IP moved next to NO, row 3 on top.
        grid->MoveColumn(4, 1);
        grid->MoveRow(3, 1);
        const QString titles = QStringLiteral("NO\tIP\tNAME\tALIAS\tDHCP\tMASK\tGATEWAY\tMAC\n");
        const auto line = [&](int n) { return grid->DisplayedCells(n).join(QLatin1Char('\t')) + QLatin1Char('\n'); };

        // Ctrl+C copies the selected rows, title row first.
        grid->setFocus();
        grid->selectRow(2); // module 3, shown first
        grid->selectionModel()->select(grid->model()->index(0, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), titles + line(3) + line(1));
        QVERIFY(line(3).startsWith(QStringLiteral("3\t") + grid->Cells(4, 3) + QLatin1Char('\t')));

        // The context menu offers Copy and Export.
        QContextMenuEvent press(QContextMenuEvent::Mouse, QPoint(60, 10), grid->viewport()->mapToGlobal(QPoint(60, 10)));
        QApplication::sendEvent(grid->viewport(), &press);
        QMenu *menu = ui<QMenu>(Form1, "GridMenu");
        QAction *exportCsv = ui<QAction>(Form1, "GridExport");
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(ui<QAction>(Form1, "GridCopy")->isEnabled() && exportCsv->isEnabled());
        menu->hide();

        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("plant.csv"));
        AppFileDialog::setNextAnswer(path);
        exportCsv->trigger();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList records = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        QCOMPARE(records.size(), 5); // titles, three modules, the empty rest
        QCOMPARE(records[0], QStringLiteral("NO,IP,NAME,ALIAS,DHCP,MASK,GATEWAY,MAC,ADAPTER"));
        QVERIFY2(records[1].startsWith(QStringLiteral("3,198.18.0.200,M3,three,Disable,255.255.255.0,")),
                 qPrintable(records[1]));
        // The adapter, "name, address", is quoted for its comma.
        QVERIFY2(records[1].endsWith(QLatin1Char('"')) && records[1].count(QLatin1Char('"')) == 2, qPrintable(records[1]));
        QCOMPARE(records[4], QString());
        QVERIFY(AppMessageBox::shown().isEmpty());

        // A folder that cannot take it: told so, nothing left behind.
        const QString nowhere = folder.filePath(QStringLiteral("gone/plant.csv"));
        AppFileDialog::setNextAnswer(nowhere);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        exportCsv->trigger();
        QCOMPARE(AppMessageBox::shown().size(), 1);
        QVERIFY(AppMessageBox::shown()[0].text.contains(nowhere));
        QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"plant.csv"});

        // A cancelled dialog writes nothing.
        AppFileDialog::setNextAnswer(QString());
        exportCsv->trigger();
        QCOMPARE(AppMessageBox::shown().size(), 1);

        // A link in the file's place: asked once, naming what it links to;
        // No leaves that file as it was, Yes replaces it and keeps the link.
        const QString victim = folder.filePath(QStringLiteral("victim.txt"));
        const QString link = folder.filePath(QStringLiteral("link.csv"));
        {
            QFile keep(victim);
            QVERIFY(keep.open(QIODevice::WriteOnly) && keep.write("keep\n") == 5);
        }
        QVERIFY(QFile::link(victim, link));
        if (!QFileInfo(link).isSymbolicLink())
            QSKIP("the link made is a shortcut file, no symbolic link (Windows without the right to make one)");
        AppMessageBox::reset();
        AppFileDialog::setNextAnswer(link);
        AppMessageBox::setNextAnswer(QMessageBox::No);
        exportCsv->trigger();
        QCOMPARE(AppMessageBox::shown().size(), 1);
        QVERIFY2(AppMessageBox::shown()[0].text.contains(QFileInfo(victim).canonicalFilePath()),
                 qPrintable(AppMessageBox::shown()[0].text));
        QCOMPARE(AppMessageBox::shown()[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QFile target(victim);
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("keep\n"));
        target.close();
        AppFileDialog::setNextAnswer(link);
        AppMessageBox::setNextAnswer(QMessageBox::Yes);
        exportCsv->trigger();
        QCOMPARE(AppMessageBox::shown().size(), 2);
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(target.open(QIODevice::ReadOnly));
        QVERIFY(target.readAll().startsWith("NO,IP,"));
    }

    // Addresses given to modules outlive the run in option.ini's own section,
    // until a search finds the module they went to at that address; the
    // operator may forget them, after one confirmation.
    void givenAddressesOutliveTheRunUntilASearchSeesThem()
    {
        const QByteArray options = "[option]\nSNumber=0\nSTimeOut=1000\n";
        apptest::writeOptionFile(options);
        simulator = apptest::startSimulator({module(1, "A", "", 0), module(2, "B", "", 0)});
        QVERIFY(simulator);
        QVERIFY(apptest::startProgram());
        const auto inUse = [](const char *address) {
            return Form1->Services().AddressesInUse().count(hostnet::AddressFromText(address)) == 1;
        };
        // B is found at .102; A is found at .101, not at .150.
        Form1->Services().NoteAddressGiven(QStringLiteral("198.18.0.150"), QStringLiteral("00:0E:C6:00:00:01"));
        Form1->Services().NoteAddressGiven(QStringLiteral("198.18.0.102"), QStringLiteral("00:0e:c6:00:00:02"));
        QCOMPARE(apptest::readOptionFile(),
                 options + "[given]\n198.18.0.150=00:0E:C6:00:00:01\n198.18.0.102=00:0e:c6:00:00:02\n");

        apptest::stopProgram();
        QVERIFY(apptest::startProgram());
        QVERIFY(inUse("198.18.0.150") && inUse("198.18.0.102"));
        QVERIFY(apptest::search(2));
        QVERIFY(inUse("198.18.0.150"));
        QCOMPARE(apptest::readOptionFile(), options + "[given]\n198.18.0.150=00:0E:C6:00:00:01\n");

        QAction *forget = ui<QAction>(Form1, "GridForgetGiven");
        AppMessageBox::setNextAnswer(QMessageBox::No);
        forget->trigger();
        QVERIFY(inUse("198.18.0.150"));
        AppMessageBox::setNextAnswer(QMessageBox::Yes);
        forget->trigger();
        QCOMPARE(AppMessageBox::shown().size(), 2);
        QVERIFY(!inUse("198.18.0.150"));
        QCOMPARE(apptest::readOptionFile(), options);
    }

private:
    std::unique_ptr<modsim::ModuleSimulator> simulator;
};

QTEST_MAIN(SearchTest)
#include "search_test.moc"
