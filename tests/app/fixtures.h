// The windows as the tests see them: every widget found by its object name,
// the way the operator finds it by its caption, never through the window's
// members, which the windows keep to themselves. Also the readers of the
// grid, the log and the lists that many tests share. Qt Widgets only (no Qt
// Test, no simulator), so that the dialog benchmark can use it as well.
#pragma once

#include "Autoset.h"
#include "Forms.h"
#include "StringGrid.h"
#include "Unit1.h"

#include <QByteArray>
#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

namespace apptest {

// The object named `name` anywhere inside `window`: a widget, a layout or an
// action. A name that is missing, taken twice (a dialog's widgets are inside
// the main window too) or of another type ends the run at once, naming the
// window and the name, rather than letting the test fail later on a null
// pointer or on the wrong widget.
template <class T = QWidget>
T *ui(const QObject *window, const char *name)
{
    if (!window)
        qFatal("ui: no window to look for %s in", name);
    const QByteArray where = window->objectName().toLatin1();
    const QList<QObject *> found = window->findChildren<QObject *>(QString::fromLatin1(name));
    if (found.size() != 1)
        qFatal("%s has %s named %s", where.constData(), found.isEmpty() ? "nothing" : "more than one object", name);
    T *typed = qobject_cast<T *>(found.constFirst());
    if (!typed)
        qFatal("%s: %s is a %s, not a %s", where.constData(), name, found.constFirst()->metaObject()->className(),
               T::staticMetaObject.className());
    return typed;
}

// The main window's result grid, its log and its status bar panels 0 and 1.
inline TStringGrid *grid()
{
    return ui<TStringGrid>(Form1, "StringGrid1");
}

inline QListWidget *logList()
{
    return ui<QListWidget>(Form1, "ListBox1");
}

inline QLabel *statusPanel(int panel)
{
    return ui<QLabel>(Form1, QByteArray("StatusBarPanel" + QByteArray::number(panel)).constData());
}

// The auto configuration dialog's modules and its free addresses.
inline QTreeWidget *moduleList()
{
    return ui<QTreeWidget>(frm_AutoSet, "ListView1");
}

inline QTreeWidget *addressList()
{
    return ui<QTreeWidget>(frm_AutoSet, "ListView2");
}

// The log's lines from `first` on.
inline QStringList logLines(int first = 0)
{
    const QListWidget *log = logList();
    QStringList lines;
    for (int i = first; i < log->count(); ++i)
        lines << log->item(i)->text();
    return lines;
}

// One column of a list's rows, top to bottom.
inline QStringList columnTexts(const QTreeWidget *list, int column)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    return texts;
}

// A grid row's module fields, NO to MAC.
inline QStringList gridRow(int row)
{
    const TStringGrid *cells = grid();
    QStringList texts;
    for (int column = 0; column < 8; ++column)
        texts << cells->Cells(column, row);
    return texts;
}

// One field of every module the last search listed (rows 1 to Tag).
inline QStringList gridColumn(int column)
{
    const TStringGrid *cells = grid();
    QStringList texts;
    for (int row = 1; row <= Form1->Tag; ++row)
        texts << cells->Cells(column, row);
    return texts;
}

// The row of the last search's module whose `column` (NAME unless told)
// shows `text`; 0 when none does.
inline int gridRowOf(const QString &text, int column = 1)
{
    return int(gridColumn(column).indexOf(text)) + 1;
}

// Counts the paint events of the widgets it watches.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace apptest
