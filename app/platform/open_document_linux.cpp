// Opening a document on a freedesktop.org desktop: the file is checked here,
// xdg-mime is asked for the viewer of the document's type, and xdg-open is
// started detached so that the window never waits for the viewer.
#include "OpenDocument.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

#include <new>

namespace platform {
namespace {

int checkDocumentFile(const QString &file, QString *absolutePath)
{
    if (file.isEmpty())
        return kOpenFileNotFound;
    // Qt names no working folder once that folder has been removed.
    const QString workingFolder = QDir::currentPath();
    if (QDir::isRelativePath(file) && workingFolder.isEmpty())
        return kOpenPathNotFound;
    const QFileInfo info(QDir(workingFolder).absoluteFilePath(file));
    if (!info.exists()) {
        // The folder the file would be in tells a missing file from a
        // missing folder, and from a folder we may not look into.
        const QFileInfo folder(info.absolutePath());
        if (!folder.isDir())
            return kOpenPathNotFound;
        return folder.isExecutable() ? kOpenFileNotFound : kOpenAccessDenied;
    }
    // The viewer runs as this user: if we cannot read the file, neither can it.
    if (!info.isReadable())
        return kOpenAccessDenied;
    *absolutePath = info.absoluteFilePath();  // links kept: the viewer shows the name given
    return kOpenStarted;
}

// A desktop entry's id names its file below applications/, with the '/' of
// sub-folders written as '-' ("vendor-viewer.desktop" may be vendor/viewer.desktop).
bool entryCanRun(const QString &id)
{
    if (id.contains(QLatin1Char('/')))
        return false;
    QStringList names{id};
    for (qsizetype dash = id.indexOf(QLatin1Char('-')); dash >= 0; dash = id.indexOf(QLatin1Char('-'), dash + 1))
        names << QString(id).replace(dash, 1, QLatin1Char('/'));
    names << QString(id).replace(QLatin1Char('-'), QLatin1Char('/'));
    for (const QString &name : names) {
        QFile entry(QStandardPaths::locate(QStandardPaths::ApplicationsLocation, name));
        if (entry.fileName().isEmpty() || !entry.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        // Usable when its main group says how to start it.
        bool mainGroup = false;
        while (!entry.atEnd()) {
            const QByteArray line = entry.readLine().trimmed();
            if (line.startsWith('['))
                mainGroup = line == "[Desktop Entry]";
            else if (mainGroup && (line.startsWith("Exec=") ? line.size() > 5 : line == "DBusActivatable=true"))
                return true;
        }
        return false;
    }
    return false;
}

// xdg-open hands any file to some program, a browser at worst; the operator
// is better told that no viewer is set up. So the opener is used only when
// xdg-mime names a viewer for the document's type and that viewer is
// installed: 31 when there is no opener or no viewer, 27 when the named
// viewer is missing or cannot be started, 28 when xdg-mime hangs.
int findOpener(const QString &absolutePath, int timeoutMs, QString *opener)
{
    *opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    const QString mimeTool = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (opener->isEmpty() || mimeTool.isEmpty())
        return kOpenNoAssociation;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(absolutePath);
    if (type.isDefault())
        return kOpenNoAssociation;
    // Viewers register a type under any of its names.
    const QDeadlineTimer deadline(timeoutMs);
    for (const QString &name : QStringList{type.name()} + type.aliases()) {
        QProcess query;
        query.setStandardInputFile(QProcess::nullDevice());
        query.setStandardErrorFile(QProcess::nullDevice());
        query.start(mimeTool, {QStringLiteral("query"), QStringLiteral("default"), name});
        if (!query.waitForFinished(static_cast<int>(deadline.remainingTime()))) {
            if (query.error() != QProcess::Timedout)
                return kOpenNoAssociation;
            query.kill();
            query.waitForFinished();
            return kOpenTimeout;
        }
        // Several entries come separated by ';': the first is the default.
        const QString entry =
            QString::fromLocal8Bit(query.readAllStandardOutput()).section(QLatin1Char(';'), 0, 0).trimmed();
        if (query.exitCode() == 0 && !entry.isEmpty())
            return entryCanRun(entry) ? kOpenStarted : kOpenAssociationIncomplete;
    }
    return kOpenNoAssociation;
}

} // namespace

int OpenDocument(const std::string &file, int lookupTimeoutMs)
{
    try {
        QString absolutePath;
        const QString name = QFile::decodeName(QByteArray::fromStdString(file));
        const int checked = checkDocumentFile(name, &absolutePath);
        if (!openDocumentStarted(checked))
            return checked;
        QString opener;
        const int found = findOpener(absolutePath, lookupTimeoutMs, &opener);
        if (!openDocumentStarted(found))
            return found;
        // Started by hand rather than by QDesktopServices, which may choose
        // another launcher than the one just asked (or none, on a display
        // platform without desktop services). Detached: Help never waits.
        QProcess viewer;
        viewer.setProgram(opener);
        viewer.setArguments({absolutePath});
        viewer.setStandardInputFile(QProcess::nullDevice());
        viewer.setStandardOutputFile(QProcess::nullDevice());
        // The opener was found as an executable file, so it failing to start
        // means it is no valid program.
        return viewer.startDetached() ? kOpenStarted : kOpenBadFormat;
    } catch (const std::bad_alloc &) {
        return kOpenOutOfMemory;
    }
}

int OpenDocument(const std::string &file)
{
    return OpenDocument(file, kDesktopLookupTimeoutMs);
}

} // namespace platform
