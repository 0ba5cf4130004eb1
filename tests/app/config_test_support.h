// Helpers of the single-module configuration tests: the dialog shown and
// driven once its address probe has finished, a row double-clicked, and the
// namespace's count of echo requests sent.
#pragma once

#include "app_test_support.h"

#include "FormUtils.h"
#include "Forms.h"
#include "StringGrid.h"
#include "Unit1.h"
#include "Unit2.h"

#include <QFile>
#include <QStringList>
#include <QTest>

#include <functional>
#include <memory>

namespace configtest {

// Runs `action` once the dialog is the modal window and its probe is done.
inline std::shared_ptr<bool> whenDialogReady(std::function<void()> action, int limitMs = 30000)
{
    return apptest::whenModal([](QWidget *w) { return w == Form2 && !Form2->AddressProbeRunning(); },
                              [action = std::move(action)](QWidget *) { action(); }, limitMs);
}

// Shows the dialog for module index `tag` as the main window does, runs
// `inside` once it is ready, and returns the modal result. The dialog is
// cancelled afterwards if `inside` left it open.
inline int showDialog(int tag, std::function<void()> inside)
{
    Form2->Tag = tag;
    auto ready = whenDialogReady([inside = std::move(inside)] {
        inside();
        if (Form2->isVisible())
            Form2->reject();
    });
    const int result = Form2->exec();
    if (!*ready)
        qWarning("the dialog never became ready");
    return result;
}

// Echo requests sent from this network namespace so far (the kernel's
// Icmp OutEchos counter, kept per namespace).
inline qint64 icmpOutEchos()
{
    QFile snmp(QStringLiteral("/proc/net/snmp"));
    if (!snmp.open(QIODevice::ReadOnly))
        return -1;
    // A /proc file reports no size: read it whole rather than to atEnd().
    QStringList names;
    for (const QByteArray &raw : snmp.readAll().split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        if (!line.startsWith(QLatin1String("Icmp: ")))
            continue;
        const QStringList fields = line.mid(6).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (names.isEmpty()) {
            names = fields;
            continue;
        }
        const qsizetype at = names.indexOf(QStringLiteral("OutEchos"));
        return at >= 0 && at < fields.size() ? fields[at].toLongLong() : -1;
    }
    return -1;
}

// Double-clicks a cell of a module's row, as the operator opens the dialog.
inline void doubleClickRow(int row, int column = 1)
{
    TStringGrid *grid = apptest::grid();
    const QPoint at = apptest::cellCentre(grid, grid->VisualRow(row), column);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
}

} // namespace configtest
