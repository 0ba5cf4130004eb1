#include "LibraryMessages.h"

#include "AppMessageBox.h"

#include <QApplication>
#include <QMetaObject>
#include <QString>
#include <QThread>
#include <QWidget>

#include <cstdio>

#include "zarfel.h"

namespace {

void showOnGuiThread(const QString &text)
{
    QWidget *owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    AppMessageBox::show(owner, libraryMessageTitle(), text, QMessageBox::Warning, QMessageBox::Ok);
}

void ZARFEL_CALL onLibraryMessage(const char *text)
{
    const QString message = QString::fromLatin1(text ? text : "");
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        std::fprintf(stderr, "%s\n", text ? text : "");
        return;
    }
    if (QThread::currentThread() == app->thread()) {
        showOnGuiThread(message);
        return;
    }
    // Queued, and the raising thread goes on at once: the window thread may
    // be in Zarfel_Close waiting for that very thread to end.
    QMetaObject::invokeMethod(app, [message] { showOnGuiThread(message); }, Qt::QueuedConnection);
}

} // namespace

QString libraryMessageTitle()
{
    return QStringLiteral("Zarfel");
}

ZarfelMessageHandler libraryMessageHandler()
{
    return &onLibraryMessage;
}

void installLibraryMessageHandler()
{
    Zarfel_SetMessageHandler(&onLibraryMessage);
}

void removeLibraryMessageHandler()
{
    Zarfel_SetMessageHandler(nullptr);
}
