// Helpers of the auto configuration tests: the result grid filled as a
// search fills it, the two lists read back, header clicks with the mouse,
// and the dialog's free address search driven through its button.
#pragma once

#include "app_test_support.h"

#include "AppMessageBox.h"
#include "Autoset.h"
#include "Forms.h"
#include "StringGrid.h"
#include "Unit1.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <utility>

namespace autosettest {

struct GridModule
{
    GridModule(QString name_, QString alias_, QString ip_, QString mask_ = QStringLiteral("255.255.255.0"),
               QString gateway_ = QStringLiteral("198.18.0.1"), QString mac_ = QString())
        : name(std::move(name_)), alias(std::move(alias_)), ip(std::move(ip_)), mask(std::move(mask_)),
          gateway(std::move(gateway_)), mac(std::move(mac_))
    {
    }
    QString name;
    QString alias; // as the grid shows it ("N/A" for none)
    QString ip;
    QString mask;
    QString gateway;
    QString mac;
};

// The grid after a search that listed these modules: rows 1..N, two empty
// rows after them, Tag = N, the Configuration button enabled.
inline void fillGrid(const QList<GridModule> &modules)
{
    TStringGrid *grid = apptest::grid();
    Form1->ToolButton4Click();
    int n = 0;
    for (const GridModule &m : modules) {
        ++n;
        const QString mac = m.mac.isEmpty() ? QStringLiteral("00:0E:C6:00:00:%1").arg(n, 2, 16, QLatin1Char('0')).toUpper()
                                            : m.mac;
        const QStringList cells{QString::number(n), m.name, m.alias, QStringLiteral("Disable"), m.ip, m.mask,
                                m.gateway, mac};
        for (int column = 0; column < cells.size(); ++column)
            grid->SetCells(column, n, cells.at(column));
        grid->SetRowCount(grid->RowCount() + 1);
    }
    Form1->Tag = n;
    apptest::ui<QToolButton>(Form1, "ToolButton2")->setEnabled(n > 0);
}

// Columns 1..5 of a module row: name, alias, IP, mask, gateway.
inline QStringList moduleRow(int row)
{
    const QTreeWidgetItem *item = apptest::moduleList()->topLevelItem(row);
    QStringList texts;
    if (!item)
        return texts;
    for (int column = 1; column <= 5; ++column)
        texts << item->text(column);
    return texts;
}

// One column of every module row, top to bottom.
inline QStringList moduleColumn(int column)
{
    return apptest::columnTexts(apptest::moduleList(), column);
}

inline QList<int> moduleNumbers()
{
    const QTreeWidget *modules = apptest::moduleList();
    QList<int> numbers;
    for (int i = 0; i < modules->topLevelItemCount(); ++i)
        numbers << Tfrm_AutoSet::ModuleNumber(modules->topLevelItem(i));
    return numbers;
}

// The proposed addresses, top to bottom.
inline QStringList addresses()
{
    return apptest::columnTexts(apptest::addressList(), 1);
}

// The rows of a list whose box is ticked.
inline QList<int> ticked(const QTreeWidget *list)
{
    QList<int> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->checkState(0) == Qt::Checked)
            rows << i;
    }
    return rows;
}

inline void tick(QTreeWidget *list, const QList<int> &rows)
{
    for (int row : rows)
        list->topLevelItem(row)->setCheckState(0, Qt::Checked);
}

// A left click on the middle of a column's header.
inline void clickHeader(QTreeWidget *list, int column)
{
    QHeaderView *header = list->header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

// "1.2.3.1".."1.2.3.5" style lists.
inline QStringList range(const QString &prefix, const QList<int> &lastParts)
{
    QStringList texts;
    for (int part : lastParts)
        texts << prefix + QString::number(part);
    return texts;
}

inline QList<int> seq(int from, int to)
{
    QList<int> v;
    for (int i = from; i <= to; ++i)
        v << i;
    return v;
}

// Fills the search fields and presses "Search"; returns once the search has
// ended, with its duration in milliseconds.
inline qint64 searchFree(const QString &start, const QString &end, const QString &number)
{
    using apptest::ui;
    ui<QLineEdit>(frm_AutoSet, "editStartIP")->setText(start);
    ui<QLineEdit>(frm_AutoSet, "editEndIP")->setText(end);
    ui<QLineEdit>(frm_AutoSet, "editNumber")->setText(number);
    QWidget *button = ui(frm_AutoSet, "btnSearch");
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button, Qt::LeftButton);
    return clock.elapsed();
}

} // namespace autosettest
