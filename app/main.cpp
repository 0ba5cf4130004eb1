// The program "search": creates its windows once and runs until the main
// window closes.
#include "AppMessageBox.h"
#include "Forms.h"
#include "Unit1.h"

#include <QApplication>

#include <exception>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Search Configuration"));
    try {
        createApplicationForms();
        Form1->show();
        QApplication::exec();
    } catch (const std::exception &e) {
        AppMessageBox::show(nullptr, QApplication::applicationName(), QString::fromLocal8Bit(e.what()),
                            QMessageBox::Critical, QMessageBox::Ok);
    }
    destroyApplicationForms();
    return 0;
}
