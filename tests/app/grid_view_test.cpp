// The main window for a plant of many modules: enlarged and brought back at
// that size, opened at a larger desktop font, the grid sorted by a click on
// a title, the filter, and Set on a sorted row reaching the module that row
// shows. Simulated modules in the test's own network namespace answer the
// search.
#include "config_test_support.h"

#include "AppMessageBox.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTreeWidget>

using apptest::gridRowOf;
using apptest::module;
using apptest::ui;

namespace {

// The grid's cells of one column in the order shown, for the rows shown.
QStringList shownColumn(int column)
{
    const TStringGrid *grid = apptest::grid();
    QStringList texts;
    for (const int row : grid->DisplayedRows())
        if (!grid->isRowHidden(row - 1))
            texts << grid->Cells(column, row);
    return texts;
}

void clickTitle(int column)
{
    QHeaderView *titles = apptest::grid()->horizontalHeader();
    const QPoint at(titles->sectionViewportPosition(column) + titles->sectionSize(column) / 2, 12);
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, {}, at);
}

modsim::ModuleSpec at(std::size_t index, const std::string &name, const std::string &alias, const std::string &ip)
{
    modsim::ModuleSpec m = module(index, name, alias, 0);
    m.ip = ip;
    return m;
}

} // namespace

class GridViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        AppMessageBox::reset();
        apptest::removeOptionFile();
    }
    void cleanup()
    {
        simulator.reset();
        apptest::stopProgram();
        AppMessageBox::reset();
        apptest::removeOptionFile();
    }

    void enlargedWindowComesBackAtThatSize()
    {
        // A run that leaves the window as it was writes nothing.
        QVERIFY(apptest::startProgram());
        apptest::stopProgram();
        QVERIFY(!QFile::exists(apptest::optionFilePath()));

        QVERIFY(apptest::startProgram());
        Form1->resize(760, 560);
        TStringGrid *grid = apptest::grid();
        QWidget *log = apptest::logList();
        // The grid and the log take the extra room; the tool bar stays.
        QCOMPARE(grid->geometry(), QRect(0, 64, 760, 201 + 118));
        QCOMPARE(log->geometry(), QRect(0, 272 + 118, 760, 81 + 39));
        QCOMPARE(ui(Form1, "StatusBar1")->geometry(), QRect(0, 534, 760, 26));
        QCOMPARE(ui(Form1, "ToolButton3")->geometry().topLeft(), QPoint(0, 0));
        // Not smaller than designed.
        Form1->resize(500, 300);
        QCOMPARE(Form1->size(), QSize(680, 403));
        Form1->resize(760, 560);
        Form1->move(12, 20);
        grid->SetColWidth(7, 140);
        apptest::stopProgram();

        QVERIFY(apptest::startProgram());
        QCOMPARE(Form1->size(), QSize(760, 560));
        QCOMPARE(Form1->pos(), QPoint(12, 20));
        QCOMPARE(apptest::grid()->ColWidth(7), 140);
        QCOMPARE(apptest::grid()->ColWidth(4), 92);
        QCOMPARE(apptest::grid()->height(), 201 + 118);
        apptest::stopProgram();

        // A place off every screen is not taken: the window opens centred.
        apptest::writeOptionFile("[window]\nMainPosition=5000,-4000\nMainSize=700,420\n");
        QVERIFY(apptest::startProgram());
        QCOMPARE(Form1->size(), QSize(700, 420));
        const QPoint off = Form1->frameGeometry().center() - QGuiApplication::primaryScreen()->geometry().center();
        QVERIFY2(off.manhattanLength() <= 8, qPrintable(QStringLiteral("%1,%2").arg(off.x()).arg(off.y())));

        // Auto Configuration: both lists grow, its buttons follow the edges,
        // and the size it is left at comes back.
        auto shown = apptest::whenModalFor(frm_AutoSet, 50, [](QWidget *) {
            frm_AutoSet->resize(748, 500);
            QCOMPARE(apptest::moduleList()->size(), QSize(313 + 100, 313 + 60));
            QCOMPARE(apptest::addressList()->size(), QSize(265, 137 + 60));
            QCOMPARE(ui(frm_AutoSet, "btnSet")->pos(), QPoint(464 + 100, 400 + 60));
            QCOMPARE(ui(frm_AutoSet, "GroupBox2")->geometry(), QRect(352 + 100, 16, 281, 105));
            apptest::clickNamed(frm_AutoSet, "btnCancel");
        });
        ui<QAction>(Form1, "pmenuAutoSet")->trigger();
        QVERIFY(*shown);
        apptest::stopProgram();
        QVERIFY(apptest::startProgram());
        QCOMPARE(frm_AutoSet->size(), QSize(748, 500));
    }

    // A desktop at 16 pt: the windows take its size and nothing clips.
    void largerDesktopFontClipsNothing()
    {
        const QFont desktop = QApplication::font();
        const auto restore = qScopeGuard([&] {
            apptest::stopProgram();
            QApplication::setFont(desktop);
        });
        QFont large = desktop;
        large.setPointSize(16);
        QApplication::setFont(large);
        QVERIFY(apptest::startProgram());

        const TStringGrid *grid = apptest::grid();
        const QFontMetrics titles = grid->horizontalHeader()->fontMetrics();
        QCOMPARE(titles.height(), QFontMetrics(large).height());
        QCOMPARE(grid->ColumnTitle(6), QStringLiteral("GATEWAY"));
        QVERIFY(titles.horizontalAdvance(QStringLiteral("GATEWAY")) < grid->ColWidth(6));
        QVERIFY(grid->horizontalHeader()->height() >= titles.height());
        QVERIFY(grid->verticalHeader()->defaultSectionSize() >= grid->fontMetrics().height());
        for (int column = 0; column < grid->columnCount(); ++column)
            QVERIFY2(grid->TitleWidth(column) <= grid->ColWidth(column), qPrintable(grid->ColumnTitle(column)));
        // The windows open, and may shrink no further than, larger than designed.
        QVERIFY(Form1->minimumWidth() > 680 && Form1->minimumHeight() > 403);
        QCOMPARE(Form1->size(), Form1->minimumSize());

        // The single dialog: labels and fields as large as their texts
        // need, inside their boxes.
        QVERIFY(Form2->width() > 439 && Form2->height() > 287);
        for (const QLabel *label : Form2->findChildren<QLabel *>()) {
            QVERIFY2(label->width() >= label->sizeHint().width() && label->height() >= label->sizeHint().height(),
                     qPrintable(label->objectName()));
            QVERIFY2(label->parentWidget()->rect().contains(label->geometry()), qPrintable(label->objectName()));
        }
        for (const QLineEdit *field : Form2->findChildren<QLineEdit *>())
            QVERIFY2(field->height() >= field->sizeHint().height(), qPrintable(field->objectName()));
    }

    void titleClickSortsAndSetReachesTheRowsModule()
    {
        QVERIFY(startWithModules());
        TStringGrid *grid = apptest::grid();
        const QStringList numeric{"198.18.0.9", "198.18.0.10", "198.18.0.25", "198.18.0.100"};

        // IP in numeric order, then reversed by a second click.
        clickTitle(4);
        QCOMPARE(shownColumn(4).mid(0, 4), numeric);
        QCOMPARE(grid->SortColumn(), 4);
        clickTitle(4);
        QStringList reversed = numeric;
        std::reverse(reversed.begin(), reversed.end());
        QCOMPARE(shownColumn(4).mid(0, 4), reversed);
        // Texts as text, whatever their case; the spare rows stay last.
        clickTitle(2);
        QCOMPARE(shownColumn(2), (QStringList{"Fan", "N/A", "pump", "Valve", "", ""}));
        // Every row keeps its module: the NO cell and the MAC stay together.
        for (int row = 1; row <= 4; ++row)
            QCOMPARE(grid->Cells(7, row).right(2), QStringLiteral("0%1").arg(grid->Cells(0, row)));

        // Set on the top row after sorting by IP configures that module.
        clickTitle(4);
        const int top = grid->DisplayedRows().first();
        QCOMPARE(grid->Cells(4, top), QStringLiteral("198.18.0.9"));
        QVERIFY(top != 1); // not the module that a row position would name
        AppMessageBox::setNextAnswer(QMessageBox::Yes);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        int shownModule = 0;
        auto ready = configtest::whenDialogReady([&] {
            shownModule = Form2->Tag + 1;
            Form2->NumberedEdit(8)->setText(QStringLiteral("198.18.0.150"));
            apptest::clickEnabled(ui(Form2, "Button1"));
        });
        configtest::doubleClickRow(top);
        QVERIFY(QTest::qWaitFor([&] { return *ready; }, 30000));
        QCOMPARE(shownModule, top);
        const QStringList requests = apptest::configRequests(logPath());
        QCOMPARE(requests.size(), 1);
        QVERIFY2(requests[0].contains(QStringLiteral("TO=%1,").arg(grid->Cells(7, top))), qPrintable(requests[0]));
        QVERIFY2(requests[0].contains(QStringLiteral("IP=198.18.0.150")), qPrintable(requests[0]));
    }

    void filterShowsTheRowsHoldingTheText()
    {
        QVERIFY(startWithModules());
        TStringGrid *grid = apptest::grid();
        auto *filter = ui<QLineEdit>(Form1, "editFilter");
        // Ctrl+F reaches the field from the grid.
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(filter->hasFocus());

        // Any column, whatever the case.
        QTest::keyClicks(filter, QStringLiteral("PUMP"));
        QCOMPARE(shownColumn(1), QStringList{"M1"});
        QCOMPARE(grid->Row(), gridRowOf(QStringLiteral("M1")));
        filter->setText(QStringLiteral("0.10"));
        QCOMPARE(shownColumn(4).size(), 2); // .10 and .100
        filter->setText(QStringLiteral("00:00:03"));
        QCOMPARE(shownColumn(1), QStringList{"M3"});
        filter->setText(QStringLiteral("nothing like it"));
        QVERIFY(shownColumn(1).isEmpty());
        // A hidden row is no target for Configuration.
        auto opened = configtest::whenDialogReady([] { Form2->reject(); }, 2000);
        Form1->ToolButton2Click();
        QVERIFY(!*opened);

        // The filter holds for the next search; emptied, every row shows.
        filter->setText(QStringLiteral("valve"));
        QVERIFY(apptest::search(4));
        QCOMPARE(shownColumn(1), QStringList{"M3"});
        filter->clear();
        QCOMPARE(shownColumn(1).size(), 6);
        QCOMPARE(apptest::logLines().last(), QStringLiteral("4 modules found"));
    }

private:
    QString logPath() const { return logDir.filePath(QStringLiteral("modules.log")); }

    // Four modules whose addresses sort differently as text and as numbers.
    bool startWithModules()
    {
        apptest::writeOptionFile("[option]\nSNumber=4\nSTimeOut=3000\nSearchAgain=0\n");
        simulator = apptest::startSimulator({at(1, "M1", "pump", "198.18.0.100"), at(2, "M2", "", "198.18.0.9"),
                                             at(3, "M3", "Valve", "198.18.0.25"), at(4, "M4", "Fan", "198.18.0.10")},
                                            logPath());
        return simulator && apptest::startProgram() && apptest::search(4);
    }

    QTemporaryDir logDir;
    std::unique_ptr<modsim::ModuleSimulator> simulator;
};

QTEST_MAIN(GridViewTest)
#include "grid_view_test.moc"
