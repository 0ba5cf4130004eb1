// The program "search": creates its windows once and runs until the main
// window closes.
#include "AppMessageBox.h"
#include "Forms.h"
#include "Unit1.h"
#include "Version.h"

#include <QApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

constexpr const char *kUsage = R"(Usage: search [--help] [--version] [Qt options]

Finds the I/O modules on the local network and changes their network
settings, one module or many at once. The options of the Options dialog are
kept in option.ini beside the program, or, where that folder is the
system's, in ~/.config/search/option.ini. The Qt toolkit's own options
(-platform, -style, ...) are accepted as well.

  -h, --help     show this text and end
  --version      print the version and end
)";

// Answered before the toolkit starts: it would need a display first.
bool answeredWithoutWindows(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("search %s\n", DALVORA_VERSION);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (answeredWithoutWindows(argc, argv))
        return 0;
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
