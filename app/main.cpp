// The program "search": creates its windows once and runs until the main
// window closes.
#include "AppMessageBox.h"
#include "Forms.h"
#include "Unit1.h"

#include <QApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <exception>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Search Configuration"));
    try {
        createApplicationForms();
        Form1->show();
        // For the install test: where Help would look, once the windows are
        // up, without a viewer or a display to watch.
        if (qEnvironmentVariableIsSet("DALVORA_PRINT_HELP_FILE")) {
            QTimer::singleShot(0, [] {
                std::fprintf(stdout, "%s\n", QFile::encodeName(TForm1::HelpFile()).constData());
                std::fflush(stdout);
                QApplication::quit();
            });
        }
        QApplication::exec();
    } catch (const std::exception &e) {
        AppMessageBox::show(nullptr, QApplication::applicationName(), QString::fromLocal8Bit(e.what()),
                            QMessageBox::Critical, QMessageBox::Ok);
    }
    destroyApplicationForms();
    return 0;
}
