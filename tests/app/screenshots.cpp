// Renders every window of the program to PNG for the documentation: the
// main window after a search of simulated modules, the progress dialog
// during that search, the options dialog and the other dialogs.
// Usage: app_screenshots OUTPUT_DIR   (on a test LAN: scripts/screenshots.sh)
#include "app_test_support.h"
#include "config_test_support.h"

#include "About.h"
#include "Autoset.h"
#include "Configuration.h"
#include "Forms.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPixmap>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdio>

namespace {

QString outputDir;
int failures = 0;

void save(QWidget *window, const QString &name)
{
    const QString path = QDir(outputDir).filePath(name);
    if (!window->grab().save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// Shows a dialog modally, saves it once it is on screen, and closes it.
void saveModal(QDialog *dialog, const QString &name, int delayMs = 200)
{
    auto taken = apptest::whenModalFor(dialog, delayMs, [=](QWidget *) {
        save(dialog, name);
        dialog->reject();
    });
    dialog->exec();
    if (!*taken)
        ++failures;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Search Configuration"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    outputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputDir);

    apptest::writeOptionFile("[option]\nSNumber=0\nSTimeOut=1500\n");
    auto simulator = apptest::startSimulator({
        apptest::module(1, "QZ510", "Pump-1", 0),
        apptest::module(2, "QZ510", "Pump-2", 0),
        apptest::module(3, "QZ510-DI", "", 1),
        apptest::module(4, "QZ520-AO", "Valve", 0),
    });
    if (!simulator)
        return 1;
    if (!apptest::startProgram())
        return 1;

    auto progress = apptest::whenModalFor(Form3, 800, [](QWidget *) { save(Form3, QStringLiteral("search-progress.png")); });
    apptest::ui<QToolButton>(Form1, "ToolButton3")->click();
    if (!*progress || Form1->Tag != 4)
        ++failures;
    QTest::qWait(100);
    save(Form1, QStringLiteral("main-window.png"));

    saveModal(frm_Configuration, QStringLiteral("options.png"));
    // The configuration dialog for the first module, once its recommended
    // address has been found.
    Form2->Tag = 0;
    auto configuration = configtest::whenDialogReady([] {
        save(Form2, QStringLiteral("configuration.png"));
        Form2->reject();
    });
    Form2->exec();
    if (!*configuration)
        ++failures;
    // The auto configuration dialog with every module and the free
    // addresses of its default range (host to gateway) ticked.
    auto autoset = apptest::whenModalFor(frm_AutoSet, 200, [](QWidget *) {
        frm_AutoSet->btnSearchClick();
        frm_AutoSet->btnSelectAllClick();
        frm_AutoSet->btnIPSetectAllClick();
        QTest::qWait(100);
        save(frm_AutoSet, QStringLiteral("auto-configuration.png"));
        frm_AutoSet->reject();
    });
    frm_AutoSet->exec();
    if (!*autoset || apptest::addressList()->topLevelItemCount() != 4)
        ++failures;
    saveModal(frm_About, QStringLiteral("about.png"));

    simulator.reset();
    apptest::stopProgram();
    apptest::removeOptionFile();
    return failures == 0 ? 0 : 1;
}
