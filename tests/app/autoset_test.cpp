// The auto configuration dialog: its layout, its filling from the result
// grid and the host's adapter, the selection buttons, the header-click sort,
// and the free address search with its checks, range rules, progress, Stop
// and the wished number read again while it runs.
//
// Runs in a private network namespace of scripts/testlan.sh, layout
// "stray": the host's first adapter has 198.18.0.2/24 with a default route
// via 198.18.0.1, which nobody holds, and 198.18.0.3 sits on the loopback;
// those two answer echo, every other address stays silent. One case runs in
// the layout "unusable" instead, where no adapter can be read.
#include "app_test_support.h"
#include "autoset_test_support.h"

#include "FormUtils.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <memory>

#include "platform/HostNetwork.h"

#ifndef _WIN32
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

using namespace autosettest;
using apptest::addressList;
using apptest::moduleList;
using apptest::netnsLayout;
using apptest::ui;

namespace {

const QString kTest = QStringLiteral("198.18.1.");

QList<GridModule> threeModules()
{
    return {
        {QStringLiteral("QZ510-A"), QStringLiteral("pump"), QStringLiteral("198.18.0.101")},
        {QStringLiteral("QZ510-B"), QStringLiteral("N/A"), QStringLiteral("198.18.0.102")},
        {QStringLiteral("QZ510-C"), QStringLiteral("valve"), QStringLiteral("198.18.0.103"),
         QStringLiteral("255.255.0.0"), QStringLiteral("198.18.0.254")},
    };
}

// Every address of [from, to] (host order) that the walk does not skip.
QStringList unskipped(std::uint32_t from, std::uint32_t to, int limit)
{
    QStringList texts;
    for (std::uint32_t a = from; a <= to && texts.size() < limit; ++a) {
        if ((a & 0xFu) != 0)
            texts << QString::fromStdString(hostnet::AddressToText(a));
    }
    return texts;
}

std::uint32_t addr(const char *text)
{
    return hostnet::AddressFromText(text);
}

#ifndef _WIN32
// Takes the raw-socket capability out of the effective set, or puts it back
// (it stays permitted). With the kernel's default ping_group_range of a new
// namespace, no echo socket can then be opened.
bool setRawSocketCapability(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const auto bit = static_cast<std::uint32_t>(1u << CAP_NET_RAW);
    if (on)
        data[0].effective |= bit;
    else
        data[0].effective &= ~bit;
    return ::syscall(SYS_capset, &header, data) == 0;
}
#endif

} // namespace

class AutosetTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QString here = netnsLayout();
        if (here != QLatin1String("stray") && here != QLatin1String("unaddressed-first") && here != QLatin1String("unusable"))
            QSKIP("sends echo requests: runs in a namespace of scripts/testlan.sh only");
    }
    void init()
    {
        AppMessageBox::reset();
        apptest::removeOptionFile();
        Tfrm_AutoSet::sortAscending = true; // as at program start
        QVERIFY(apptest::startProgram());
    }
    void cleanup()
    {
        if (frm_AutoSet)
            frm_AutoSet->hide();
        apptest::stopProgram();
        AppMessageBox::reset();
        apptest::removeOptionFile();
    }

    void layoutAsDesigned()
    {
        Tfrm_AutoSet *d = frm_AutoSet;
        QCOMPARE(d->windowTitle(), QStringLiteral("Auto Configuration"));
        QCOMPARE(d->size(), QSize(648, 440));
        // Designed size, which the operator may enlarge but not shrink.
        QCOMPARE(d->minimumSize(), QSize(648, 440));
        QVERIFY(d->maximumSize().width() > 648 && d->maximumSize().height() > 440);
        QVERIFY(!(d->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(d->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(d->windowFlags() & Qt::WindowSystemMenuHint);
        QCOMPARE(d->font().pixelSize(), designFont().pixelSize());
        QCOMPARE(d->font().families(), designFont().families());

        struct Control {
            const char *name;
            const char *parent;
            const char *caption; // nullptr: none
            QRect geometry;
        };
        const Control controls[] = {
            {"GroupBox1", "frm_AutoSet", "Searched modules", {16, 16, 329, 377}},
            {"ListView1", "GroupBox1", nullptr, {8, 24, 313, 313}},
            {"btnSelectAll", "GroupBox1", "Select All", {88, 344, 73, 25}},
            {"btnInverse", "GroupBox1", "Inverse", {168, 344, 73, 25}},
            {"btnReset", "GroupBox1", "Reset", {248, 344, 73, 25}},
            {"GroupBox2", "frm_AutoSet", "Host PC", {352, 16, 281, 105}},
            {"Label1", "GroupBox2", "IP Address", {16, 28, -1, -1}},
            {"Edit1", "GroupBox2", nullptr, {112, 24, 129, 21}},
            {"Label2", "GroupBox2", "Subnet Mask", {16, 52, -1, -1}},
            {"Edit2", "GroupBox2", nullptr, {112, 48, 129, 21}},
            {"Label3", "GroupBox2", "Default Gateway", {16, 76, -1, -1}},
            {"Edit3", "GroupBox2", nullptr, {112, 72, 129, 21}},
            {"GroupBox3", "frm_AutoSet", "Recommend IP address", {352, 128, 281, 265}},
            {"Label4", "GroupBox3", "Reference IP", {8, 28, -1, -1}},
            {"editStartIP", "GroupBox3", nullptr, {80, 24, 81, 21}},
            {"Label6", "GroupBox3", "To", {168, 28, -1, -1}},
            {"editEndIP", "GroupBox3", nullptr, {192, 24, 81, 21}},
            {"Label5", "GroupBox3", "Num. of search results", {8, 60, -1, -1}},
            {"editNumber", "GroupBox3", nullptr, {120, 56, 33, 21}},
            {"UpDown1", "GroupBox3", nullptr, {152, 56, 17, 21}},
            {"btnSearch", "GroupBox3", "Search", {200, 56, 73, 25}},
            {"ListView2", "GroupBox3", nullptr, {8, 88, 265, 137}},
            {"btnIPSetectAll", "GroupBox3", "Select All", {64, 232, 65, 25}},
            {"btnIPInverse", "GroupBox3", "Inverse", {136, 232, 65, 25}},
            {"btnIPReset", "GroupBox3", "Reset", {208, 232, 65, 25}},
            {"btnSet", "frm_AutoSet", "Set", {464, 400, 73, 25}},
            {"btnCancel", "frm_AutoSet", "Cancel", {552, 400, 73, 25}},
        };
        for (const Control &c : controls) {
            QWidget *w = ui(d, c.name);
            QCOMPARE(w->parentWidget()->objectName(), QString::fromLatin1(c.parent));
            if (c.geometry.width() < 0)
                QCOMPARE(w->pos(), c.geometry.topLeft()); // labels size to their text
            else
                QCOMPARE(w->geometry(), c.geometry);
            if (!c.caption)
                continue;
            QString text;
            if (auto *box = qobject_cast<QGroupBox *>(w))
                text = box->title();
            else if (auto *label = qobject_cast<QLabel *>(w))
                text = label->text();
            else if (auto *button = qobject_cast<QPushButton *>(w))
                text = button->text();
            QCOMPARE(text, QString::fromLatin1(c.caption));
        }
        for (const char *host : {"Edit1", "Edit2", "Edit3"})
            QVERIFY2(ui<QLineEdit>(d, host)->isReadOnly(), host);
        QVERIFY(!ui<QLineEdit>(d, "editStartIP")->isReadOnly());

        // Tab order as the controls are shown: each group top to bottom and
        // left to right, the groups in their own order.
        const QStringList order{"ListView1", "btnSelectAll", "btnInverse", "btnReset", "Edit1", "Edit2",
                                "Edit3", "editStartIP", "editEndIP", "editNumber", "UpDown1", "btnSearch",
                                "ListView2", "btnIPSetectAll", "btnIPInverse", "btnIPReset", "btnSet",
                                "btnCancel"};
        QStringList chain;
        QWidget *const first = moduleList();
        QWidget *w = first;
        do {
            if (order.contains(w->objectName()) && !chain.contains(w->objectName()))
                chain << w->objectName();
            w = w->nextInFocusChain();
        } while (w != first);
        QCOMPARE(chain, order);

        // The additions for the search's progress sit in the free strip left
        // of "Set", clear of every designed control.
        for (const char *added : {"ProgressBar1", "lblSearchStatus"}) {
            QCOMPARE(ui(d, added)->parentWidget(), static_cast<QWidget *>(d));
            for (const char *given : {"GroupBox1", "GroupBox2", "GroupBox3", "btnSet", "btnCancel"})
                QVERIFY2(!ui(d, added)->geometry().intersects(ui(d, given)->geometry()), added);
        }
        QVERIFY(!ui(d, "ProgressBar1")->isVisibleTo(d));

        // No columns before the first show.
        QCOMPARE(moduleList()->columnCount(), 0);
        QCOMPARE(addressList()->columnCount(), 0);
    }

    void showFillsTheDialogFromTheGridAndTheHost()
    {
        fillGrid(threeModules());
        frm_AutoSet->show();
        Tfrm_AutoSet *d = frm_AutoSet;

        QTreeWidget *modules = moduleList();
        QCOMPARE(modules->columnCount(), 6);
        const QStringList captions{" ", "Name", "ALIAS", "IP", "MASK", "GateWay"};
        const QList<int> widths{22, 60, 66, 86, 86, 86};
        for (int c = 0; c < 6; ++c) {
            QCOMPARE(modules->headerItem()->text(c), captions.at(c));
            QCOMPARE(modules->columnWidth(c), widths.at(c));
        }
        QCOMPARE(modules->topLevelItemCount(), 3);
        QCOMPARE(moduleRow(0), (QStringList{"QZ510-A", "pump", "198.18.0.101", "255.255.255.0", "198.18.0.1"}));
        QCOMPARE(moduleRow(1), (QStringList{"QZ510-B", "N/A", "198.18.0.102", "255.255.255.0", "198.18.0.1"}));
        QCOMPARE(moduleRow(2), (QStringList{"QZ510-C", "valve", "198.18.0.103", "255.255.0.0", "198.18.0.254"}));
        QCOMPARE(moduleColumn(0), (QStringList{" ", " ", " "}));
        QCOMPARE(moduleNumbers(), (QList<int>{1, 2, 3}));
        QVERIFY(ticked(modules).isEmpty());
        QVERIFY(modules->topLevelItem(0)->flags() & Qt::ItemIsUserCheckable);

        QTreeWidget *list = addressList();
        QCOMPARE(list->columnCount(), 2);
        QCOMPARE(list->headerItem()->text(0), QStringLiteral(" "));
        QCOMPARE(list->headerItem()->text(1), QStringLiteral("IP"));
        QCOMPARE(list->columnWidth(0), 22);
        QCOMPARE(list->columnWidth(1), 86);
        QCOMPARE(list->topLevelItemCount(), 0);

        // The host of this namespace; the range runs from its address to
        // its gateway.
        QCOMPARE(ui<QLineEdit>(d, "Edit1")->text(), QStringLiteral("198.18.0.2"));
        QCOMPARE(ui<QLineEdit>(d, "Edit2")->text(), QStringLiteral("255.255.255.0"));
        QCOMPARE(ui<QLineEdit>(d, "Edit3")->text(), QStringLiteral("198.18.0.1"));
        QCOMPARE(ui<QLineEdit>(d, "editStartIP")->text(), QStringLiteral("198.18.0.2"));
        QCOMPARE(ui<QLineEdit>(d, "editEndIP")->text(), QStringLiteral("198.18.0.1"));

        QCOMPARE(ui<QLineEdit>(d, "editNumber")->text(), QStringLiteral("3"));
        QCOMPARE(ui<TUpDown>(d, "UpDown1")->Min(), 1);
        QCOMPARE(ui<TUpDown>(d, "UpDown1")->Max(), 3);
        QCOMPARE(ui<TUpDown>(d, "UpDown1")->Increment(), 1);
        QCOMPARE(ui<TUpDown>(d, "UpDown1")->Associate(), ui<QLineEdit>(d, "editNumber"));
        QVERIFY(AppMessageBox::shown().isEmpty());
    }

    void upDownStepsBetweenOneAndTheModuleCount()
    {
        fillGrid(threeModules());
        frm_AutoSet->show();
        TUpDown *arrows = ui<TUpDown>(frm_AutoSet, "UpDown1");
        QCOMPARE(ui<QLineEdit>(frm_AutoSet, "editNumber")->text(), QStringLiteral("3"));
        QTest::mouseClick(arrows->upButton(), Qt::LeftButton);
        QCOMPARE(ui<QLineEdit>(frm_AutoSet, "editNumber")->text(), QStringLiteral("3"));
        for (int i = 0; i < 4; ++i)
            QTest::mouseClick(arrows->downButton(), Qt::LeftButton);
        QCOMPARE(ui<QLineEdit>(frm_AutoSet, "editNumber")->text(), QStringLiteral("1"));
        QTest::mouseClick(arrows->upButton(), Qt::LeftButton);
        QCOMPARE(ui<QLineEdit>(frm_AutoSet, "editNumber")->text(), QStringLiteral("2"));
    }

    void copyStopsAtTheFirstEmptyNameButAlwaysTakesRowOne()
    {
        QList<GridModule> grid = threeModules();
        grid.append({QStringLiteral("QZ510-D"), QStringLiteral("d"), QStringLiteral("198.18.0.104")});
        grid[2].name.clear(); // the third module's name is empty
        fillGrid(grid);
        frm_AutoSet->show();
        QCOMPARE(moduleColumn(1), (QStringList{"QZ510-A", "QZ510-B"}));
        QCOMPARE(ui<QLineEdit>(frm_AutoSet, "editNumber")->text(), QStringLiteral("2"));
        frm_AutoSet->hide();

        // An empty first row is copied all the same; the test for an empty
        // name looks at the rows after it.
        grid[0].name.clear();
        fillGrid(grid);
        frm_AutoSet->show();
        QCOMPARE(moduleList()->topLevelItemCount(), 2);
        QCOMPARE(moduleRow(0), (QStringList{"", "pump", "198.18.0.101", "255.255.255.0", "198.18.0.1"}));
        QCOMPARE(moduleColumn(1), (QStringList{"", "QZ510-B"}));
        QCOMPARE(moduleNumbers(), (QList<int>{1, 2}));
        frm_AutoSet->hide();

        // No search yet: the empty grid still gives row 1.
        Form1->ToolButton4Click();
        frm_AutoSet->show();
        QCOMPARE(moduleList()->topLevelItemCount(), 1);
        QCOMPARE(moduleRow(0), (QStringList{"", "", "", "", ""}));
        QCOMPARE(ui<TUpDown>(frm_AutoSet, "UpDown1")->Max(), 1);
    }

    void selectionButtonsActOnTheirOwnList()
    {
        fillGrid(threeModules());
        frm_AutoSet->show();
        Tfrm_AutoSet *d = frm_AutoSet;
        searchFree(kTest + "1", kTest + "4", QStringLiteral("4"));
        QCOMPARE(addresses(), range(kTest, {1, 2, 3, 4}));
        QVERIFY(ticked(addressList()).isEmpty());

        tick(moduleList(), {1});
        QVERIFY(apptest::clickEnabled(ui(d, "btnInverse")));
        QCOMPARE(ticked(moduleList()), (QList<int>{0, 2}));
        QVERIFY(ticked(addressList()).isEmpty());
        QVERIFY(apptest::clickEnabled(ui(d, "btnSelectAll")));
        QCOMPARE(ticked(moduleList()), (QList<int>{0, 1, 2}));
        QVERIFY(apptest::clickEnabled(ui(d, "btnReset")));
        QVERIFY(ticked(moduleList()).isEmpty());

        tick(moduleList(), {0});
        tick(addressList(), {0, 3});
        QVERIFY(apptest::clickEnabled(ui(d, "btnIPInverse")));
        QCOMPARE(ticked(addressList()), (QList<int>{1, 2}));
        QCOMPARE(ticked(moduleList()), QList<int>{0});
        QVERIFY(apptest::clickEnabled(ui(d, "btnIPSetectAll")));
        QCOMPARE(ticked(addressList()), (QList<int>{0, 1, 2, 3}));
        QVERIFY(apptest::clickEnabled(ui(d, "btnIPReset")));
        QVERIFY(ticked(addressList()).isEmpty());
        QCOMPARE(ticked(moduleList()), QList<int>{0});

        // Showing the dialog again empties the address list and clears the
        // module ticks; the range fields keep the host's defaults.
        tick(addressList(), {1});
        d->hide();
        d->show();
        QCOMPARE(addressList()->topLevelItemCount(), 0);
        QVERIFY(ticked(moduleList()).isEmpty());
        QCOMPARE(moduleColumn(1), (QStringList{"QZ510-A", "QZ510-B", "QZ510-C"}));
        QCOMPARE(ui<QLineEdit>(d, "editStartIP")->text(), QStringLiteral("198.18.0.2"));
        QCOMPARE(ui<QLabel>(d, "lblSearchStatus")->text(), QString());
    }

    void headerClicksSortDescendingFirstAndAlternate()
    {
        fillGrid({{"M1", "b", "198.18.0.9"}, {"M3", "a", "198.18.0.10"}, {"M2", "c", "198.18.0.101"}});
        frm_AutoSet->show();
        QTreeWidget *modules = moduleList();
        tick(modules, {1}); // M3

        // The direction starts "ascending" and turns before each use: the
        // first click sorts descending.
        clickHeader(modules, 1);
        QCOMPARE(moduleColumn(1), (QStringList{"M3", "M2", "M1"}));
        QCOMPARE(Tfrm_AutoSet::sortAscending, false);
        clickHeader(modules, 1);
        QCOMPARE(moduleColumn(1), (QStringList{"M1", "M2", "M3"}));

        // Ticks and module numbers travel with their rows.
        QCOMPARE(ticked(modules), QList<int>{2});
        QCOMPARE(moduleNumbers(), (QList<int>{1, 3, 2}));
        QCOMPARE(moduleRow(2), (QStringList{"M3", "a", "198.18.0.10", "255.255.255.0", "198.18.0.1"}));
        QCOMPARE(moduleColumn(0), (QStringList{" ", " ", " "}));

        // Column 0 sorts nothing but turns the direction: the next click
        // sorts ascending again.
        clickHeader(modules, 0);
        QCOMPARE(moduleColumn(1), (QStringList{"M1", "M2", "M3"}));
        QCOMPARE(Tfrm_AutoSet::sortAscending, false);
        clickHeader(modules, 2); // alias, ascending
        QCOMPARE(moduleColumn(2), (QStringList{"a", "b", "c"}));
        QCOMPARE(moduleNumbers(), (QList<int>{2, 1, 3}));

        // The IP column sorts as text: .10 before .101 before .9.
        clickHeader(modules, 3); // descending
        QCOMPARE(moduleColumn(3), (QStringList{"198.18.0.9", "198.18.0.101", "198.18.0.10"}));
        clickHeader(modules, 3); // ascending
        QCOMPARE(moduleColumn(3), (QStringList{"198.18.0.10", "198.18.0.101", "198.18.0.9"}));
        QCOMPARE(modules->topLevelItemCount(), 3); // the scratch row is gone

        // The direction survives the next show: the one after the last
        // ascending sort is descending.
        frm_AutoSet->hide();
        frm_AutoSet->show();
        QCOMPARE(moduleColumn(1), (QStringList{"M1", "M3", "M2"})); // grid order again
        clickHeader(modules, 1);
        QCOMPARE(moduleColumn(1), (QStringList{"M3", "M2", "M1"}));

        // The address list's headers sort nothing and turn nothing.
        const bool direction = Tfrm_AutoSet::sortAscending;
        searchFree(kTest + "3", kTest + "1", QStringLiteral("3"));
        clickHeader(addressList(), 1);
        clickHeader(addressList(), 0);
        QCOMPARE(addresses(), range(kTest, {1, 2, 3}));
        QCOMPARE(Tfrm_AutoSet::sortAscending, direction);
    }

    void exchangeSortOnBytesDoesNotKeepEqualKeysInOrder()
    {
        fillGrid({{"B", "first", "198.18.0.11"}, {"B", "second", "198.18.0.12"}, {"A", "third", "198.18.0.13"}});
        frm_AutoSet->show();
        QTreeWidget *modules = moduleList();
        tick(modules, {0});
        Tfrm_AutoSet::sortAscending = false; // the next click sorts ascending
        clickHeader(modules, 1);
        QCOMPARE(moduleColumn(1), (QStringList{"A", "B", "B"}));
        QCOMPARE(moduleColumn(2), (QStringList{"third", "second", "first"}));
        QCOMPARE(moduleNumbers(), (QList<int>{3, 2, 1}));
        QCOMPARE(ticked(modules), QList<int>{2});

        // Bytes compare unsigned and case-sensitive; a prefix is smaller.
        frm_AutoSet->hide();
        fillGrid({{QString::fromLatin1("\xE9t\xE9"), "x", "198.18.0.11"},
                  {"zeta", "x", "198.18.0.12"},
                  {"Zeta", "x", "198.18.0.13"},
                  {"ze", "x", "198.18.0.14"}});
        frm_AutoSet->show();
        Tfrm_AutoSet::sortAscending = false;
        clickHeader(modules, 1);
        QCOMPARE(moduleColumn(1), (QStringList{"Zeta", "ze", "zeta", QString::fromLatin1("\xE9t\xE9")}));

        // One row: nothing to move.
        frm_AutoSet->hide();
        fillGrid({{"only", "x", "198.18.0.11"}});
        frm_AutoSet->show();
        clickHeader(modules, 1);
        clickHeader(modules, 1);
        QCOMPARE(moduleColumn(1), QStringList{"only"});
        QCOMPARE(modules->topLevelItemCount(), 1);
    }

    void searchChecksItsInputs()
    {
        fillGrid(threeModules());
        frm_AutoSet->show();
        searchFree(kTest + "1", kTest + "2", QStringLiteral("2"));
        const QStringList before = range(kTest, {1, 2});
        QCOMPARE(addresses(), before);
        tick(addressList(), {1});

        struct Case {
            QString start, end, number, message;
        };
        const QList<Case> cases{
            {"a.b.c.d", kTest + "2", "2", "'a.b.c.d' is not valid IP address."},
            {"0.0.0.0", kTest + "2", "2", "'0.0.0.0' is not valid IP address."},
            {kTest + "300", kTest + "2", "2", "'198.18.1.300' is not valid IP address."},
            {kTest + "1", "255.255.255.255", "2", "'255.255.255.255' is not valid IP address."},
            {"bad", "worse", "2", "'bad' is not valid IP address."}, // the start is checked first
            {kTest + "1", kTest + "2", "", "Invalid numeric entry."},
            {kTest + "1", kTest + "2", "-1", "Invalid numeric entry."},
            {kTest + "1", kTest + "2", " 5", "Invalid numeric entry."},
            {kTest + "1", kTest + "2", "5x", "Invalid numeric entry."},
            {kTest + "1", kTest + "2", "+5", "Invalid numeric entry."},
            {kTest + "1", kTest + "2", "2147483648", "'2147483648' is not a valid integer value."},
            {kTest + "1", kTest + "2", "99999999999999999999", "'99999999999999999999' is not a valid integer value."},
        };
        for (const Case &c : cases) {
            AppMessageBox::reset();
            AppMessageBox::setNextAnswer(QMessageBox::Ok);
            const qint64 took = searchFree(c.start, c.end, c.number);
            QVERIFY(took < 300); // nothing probed
            QCOMPARE(AppMessageBox::shown().size(), 1);
            const AppMessageBox::Shown box = AppMessageBox::shown().constFirst();
            QCOMPARE(box.text, c.message);
            QCOMPARE(box.title, QStringLiteral("Error"));
            QCOMPARE(box.icon, QMessageBox::Critical);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QCOMPARE(addresses(), before);
            QCOMPARE(ticked(addressList()), QList<int>{1});
        }

        // An empty reference field: nothing at all, whatever else is wrong.
        AppMessageBox::reset();
        for (const auto &[start, end] : {std::pair{QString(), kTest + "2"}, std::pair{kTest + "1", QString()},
                                         std::pair{QString(), QString()}}) {
            searchFree(start, end, QStringLiteral("x"));
            QVERIFY(AppMessageBox::shown().isEmpty());
            QCOMPARE(addresses(), before);
        }

        // The largest number passes and the walk lists the whole range.
        searchFree(kTest + "1", kTest + "3", QStringLiteral("2147483647"));
        QCOMPARE(addresses(), range(kTest, {1, 2, 3}));
        QVERIFY(ticked(addressList()).isEmpty()); // a new search discards the ticks
        QVERIFY(AppMessageBox::shown().isEmpty());
    }

    void searchRangeRules()
    {
        fillGrid(threeModules());
        frm_AutoSet->show();

        // Free addresses in ascending order up to the wished number; .16 is
        // skipped without a probe.
        searchFree(kTest + "1", kTest + "254", QStringLiteral("5"));
        QCOMPARE(addresses(), range(kTest, seq(1, 5)));
        const qint64 took = searchFree(kTest + "1", kTest + "254", QStringLiteral("20"));
        QCOMPARE(addresses(), range(kTest, seq(1, 15) + seq(17, 21)));
        QVERIFY2(took < 1500, qPrintable(QString::number(took)));

        // The same range named backwards.
        searchFree(kTest + "254", kTest + "1", QStringLiteral("20"));
        QCOMPARE(addresses(), range(kTest, seq(1, 15) + seq(17, 21)));

        // Across an octet: .255 is probed, .0, .240 and x.x.2.0 are not.
        searchFree(QStringLiteral("198.18.2.1"), kTest + "238", QStringLiteral("100"));
        QCOMPARE(addresses(), range(kTest, {238, 239, 241, 242, 243, 244, 245, 246, 247, 248, 249, 250, 251, 252,
                                            253, 254, 255}) << QStringLiteral("198.18.2.1"));

        // Start equal to end: that address, unless it is skipped.
        searchFree(kTest + "7", kTest + "7", QStringLiteral("1"));
        QCOMPARE(addresses(), range(kTest, {7}));
        searchFree(kTest + "128", kTest + "128", QStringLiteral("1"));
        QCOMPARE(addresses(), QStringList());

        // N = 0 makes one step: the first address is listed if free.
        searchFree(kTest + "9", kTest + "20", QStringLiteral("0"));
        QCOMPARE(addresses(), range(kTest, {9}));
        searchFree(kTest + "16", kTest + "20", QStringLiteral("0"));
        QCOMPARE(addresses(), QStringList());
        searchFree(QStringLiteral("198.18.0.2"), QStringLiteral("198.18.0.9"), QStringLiteral("0"));
        QCOMPARE(addresses(), QStringList()); // the host's own address answers

        // More wished than free: the whole range, the answering addresses
        // left out, and the host's gateway .1, which answers no echo here,
        // too.
        searchFree(QStringLiteral("198.18.0.1"), QStringLiteral("198.18.0.6"), QStringLiteral("100"));
        QCOMPARE(addresses(), range(QStringLiteral("198.18.0."), {4, 5, 6}));
        // Nor the subnet's network and broadcast address.
        searchFree(QStringLiteral("198.18.0.255"), QStringLiteral("198.18.1.1"), QStringLiteral("100"));
        QCOMPARE(addresses(), QStringList{QStringLiteral("198.18.1.1")});

        // Short forms follow inet_addr: 198.18.257 is 198.18.1.1, and one
        // hexadecimal number is a whole address.
        searchFree(QStringLiteral("198.18.257"), QStringLiteral("0xC6120103"), QStringLiteral("10"));
        QCOMPARE(addresses(), range(kTest, {1, 2, 3}));

        QVERIFY(AppMessageBox::shown().isEmpty());
    }

    void modulesOfTheLastSearchAreInUseWithoutAnsweringEcho()
    {
        // Two listed modules report addresses nobody answers on; a third
        // grid row lies beyond the search's count and does not count.
        fillGrid({{"M1", "a", kTest + "3"}, {"M2", "b", kTest + "5"}, {"M3", "c", kTest + "6"}});
        Form1->Tag = 2;
        frm_AutoSet->show();
        searchFree(kTest + "1", kTest + "8", QStringLiteral("100"));
        QCOMPARE(addresses(), range(kTest, {1, 2, 4, 6, 7, 8}));
        searchFree(kTest + "3", kTest + "8", QStringLiteral("0"));
        QCOMPARE(addresses(), QStringList());
    }

    void searchShowsProgressAndStopKeepsWhatWasFound()
    {
        fillGrid(threeModules());
        frm_AutoSet->show();
        Tfrm_AutoSet *d = frm_AutoSet;
        QVERIFY(!ui(d, "ProgressBar1")->isVisible());

        bool seen = false;
        QString caption, status;
        bool progressShown = false, rangeLocked = false;
        Qt::CursorShape dialogCursor = Qt::ArrowCursor, buttonCursor = Qt::WaitCursor;
        int progress = -1;
        QTimer::singleShot(700, d, [&] {
            seen = d->Searching();
            caption = ui<QPushButton>(d, "btnSearch")->text();
            status = ui<QLabel>(d, "lblSearchStatus")->text();
            progressShown = ui(d, "ProgressBar1")->isVisible();
            progress = ui<QProgressBar>(d, "ProgressBar1")->value();
            rangeLocked = !ui(d, "editStartIP")->isEnabled() && !ui(d, "editEndIP")->isEnabled();
            dialogCursor = d->cursor().shape();
            buttonCursor = ui(d, "btnSearch")->cursor().shape();
        });
        // Stop is the search button itself, relabelled.
        QTimer::singleShot(1200, d, [&] { QTest::mouseClick(ui(d, "btnSearch"), Qt::LeftButton); });
        const qint64 took = searchFree(kTest + "1", QStringLiteral("198.18.8.254"), QStringLiteral("2000"));

        QVERIFY(seen);
        QCOMPARE(caption, QStringLiteral("Stop"));
        QVERIFY2(status.startsWith(QStringLiteral("Searching... ")), qPrintable(status));
        QVERIFY(progressShown);
        QVERIFY(progress > 0 && progress < 1000);
        QVERIFY(rangeLocked);
        QCOMPARE(dialogCursor, Qt::WaitCursor);
        QCOMPARE(buttonCursor, Qt::ArrowCursor);

        QVERIFY2(took >= 1200 && took < 2500, qPrintable(QString::number(took)));
        const QStringList found = addresses();
        QVERIFY2(found.size() > 0 && found.size() < 2000, qPrintable(QString::number(found.size())));
        QCOMPARE(found, unskipped(addr("198.18.1.1"), addr("198.18.8.254"), int(found.size())));
        QCOMPARE(ui<QLabel>(d, "lblSearchStatus")->text(), QStringLiteral("Search stopped: %1 found").arg(found.size()));
        QCOMPARE(ui<QPushButton>(d, "btnSearch")->text(), QStringLiteral("Search"));
        QVERIFY(!ui(d, "ProgressBar1")->isVisible());
        QVERIFY(ui(d, "editStartIP")->isEnabled() && ui(d, "editEndIP")->isEnabled());
        QCOMPARE(d->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!ui(d, "btnSearch")->testAttribute(Qt::WA_SetCursor));
        QVERIFY(!d->Searching());

        // The next search starts afresh and runs to its end.
        searchFree(kTest + "1", kTest + "20", QStringLiteral("3"));
        QCOMPARE(addresses(), range(kTest, {1, 2, 3}));
        QCOMPARE(ui<QLabel>(d, "lblSearchStatus")->text(), QStringLiteral("3 found"));
    }

    void wishedNumberIsReadAgainWhileTheSearchRuns()
    {
        fillGrid(threeModules());
        frm_AutoSet->show();
        Tfrm_AutoSet *d = frm_AutoSet;
        // Types into the field as soon as the running search first lets
        // the window's events through, long before the first echo replies
        // are due (half a second).
        const auto typeWhileSearching = [d](const QString &text) {
            auto connection = std::make_shared<QMetaObject::Connection>();
            *connection = connect(d, &Tfrm_AutoSet::searchStarted, d, [d, text, connection] {
                QObject::disconnect(*connection);
                QTimer::singleShot(0, d, [d, text] { ui<QLineEdit>(d, "editNumber")->setText(text); });
            });
        };

        // Lowered: the walk stops at 10.
        typeWhileSearching(QStringLiteral("10"));
        searchFree(kTest + "1", QStringLiteral("198.18.4.254"), QStringLiteral("300"));
        QCOMPARE(addresses(), range(kTest, seq(1, 10)));

        // A half-typed number leaves the last valid one in force.
        typeWhileSearching(QString());
        searchFree(kTest + "1", kTest + "254", QStringLiteral("20"));
        QCOMPARE(addresses(), range(kTest, seq(1, 15) + seq(17, 21)));
        typeWhileSearching(QStringLiteral("99999999999"));
        searchFree(kTest + "1", kTest + "254", QStringLiteral("4"));
        QCOMPARE(addresses(), range(kTest, seq(1, 4)));

        // Raised: it goes on to the new number.
        typeWhileSearching(QStringLiteral("6"));
        searchFree(kTest + "1", kTest + "254", QStringLiteral("2"));
        QCOMPARE(addresses(), range(kTest, seq(1, 6)));

        // Lowered to what was already found, after the first replies: it
        // stops at once and keeps them.
        QTimer::singleShot(800, d, [d] { ui<QLineEdit>(d, "editNumber")->setText(QStringLiteral("1")); });
        const qint64 took = searchFree(kTest + "1", QStringLiteral("198.18.8.254"), QStringLiteral("2000"));
        QVERIFY2(took < 1500, qPrintable(QString::number(took)));
        const QStringList found = addresses();
        QVERIFY(found.size() >= 1 && found.size() < 2000);
        QCOMPARE(found, unskipped(addr("198.18.1.1"), addr("198.18.8.254"), int(found.size())));
        QCOMPARE(ui<QLabel>(d, "lblSearchStatus")->text(), QStringLiteral("%1 found").arg(found.size()));
        QVERIFY(AppMessageBox::shown().isEmpty());
    }

    void windowKeepsRepaintingDuringTheSearch()
    {
        fillGrid(threeModules());
        frm_AutoSet->show();
        QVERIFY(QTest::qWaitForWindowExposed(frm_AutoSet));
        Tfrm_AutoSet *d = frm_AutoSet;
        apptest::PaintCounter counter;
        addressList()->viewport()->installEventFilter(&counter);
        ui(d, "ProgressBar1")->installEventFilter(&counter);

        QTimer ticker;
        ticker.setInterval(20);
        int ticks = 0;
        qint64 longestGap = 0;
        QElapsedTimer sinceTick;
        connect(&ticker, &QTimer::timeout, &ticker, [&] {
            if (ticks > 0)
                longestGap = std::max(longestGap, sinceTick.elapsed());
            sinceTick.start();
            ++ticks;
        });
        ticker.start();
        const qint64 took = searchFree(kTest + "1", QStringLiteral("198.18.2.254"), QStringLiteral("150"));
        ticker.stop();
        QCOMPARE(addresses().size(), 150);
        QVERIFY2(ticks >= took / 40, qPrintable(QStringLiteral("%1 ticks in %2 ms").arg(ticks).arg(took)));
        // A window that froze for the search would show one gap as long as
        // the search itself (three rounds of half a second).
        QVERIFY2(longestGap < 500, qPrintable(QStringLiteral("longest gap %1 ms").arg(longestGap)));
        QVERIFY2(counter.paints >= 3, qPrintable(QStringLiteral("%1 paints").arg(counter.paints)));
        addressList()->viewport()->removeEventFilter(&counter);
        ui(d, "ProgressBar1")->removeEventFilter(&counter);
    }

    void closingTheDialogEndsTheSearch()
    {
        fillGrid(threeModules());
        QElapsedTimer clock;
        for (const char *button : {"btnCancel", "btnSet"}) {
            bool searchingWhenClosed = false;
            auto ran = apptest::whenModalFor(frm_AutoSet, 50, [&](QWidget *) {
                QTimer::singleShot(800, frm_AutoSet, [&] {
                    searchingWhenClosed = frm_AutoSet->Searching();
                    apptest::clickNamed(frm_AutoSet, button);
                });
                clock.start();
                searchFree(kTest + "1", QStringLiteral("198.18.8.254"), QStringLiteral("2000"));
            });
            const int result = frm_AutoSet->exec();
            QVERIFY(*ran);
            QVERIFY(searchingWhenClosed);
            QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(result, QString::fromLatin1(button) == QLatin1String("btnSet") ? int(mrOk) : int(mrCancel));
            QVERIFY(!frm_AutoSet->Searching());
            // What was found stays for the caller.
            const QStringList found = addresses();
            QVERIFY(!found.isEmpty());
            QCOMPARE(found, unskipped(addr("198.18.1.1"), addr("198.18.8.254"), int(found.size())));
        }

        // The close box gives Cancel as well.
        auto closed = apptest::whenModalFor(frm_AutoSet, 50, [](QWidget *) { frm_AutoSet->close(); });
        QCOMPARE(frm_AutoSet->exec(), int(mrCancel));
        QVERIFY(*closed);
    }

    void withoutEchoOnlyTheNeighbourTableDecides()
    {
#ifdef _WIN32
        QSKIP("takes a capability from this process, but Wine sends echo from its server");
#else
        fillGrid(threeModules());
        frm_AutoSet->show();
        if (!hostnet::EchoProber(1).usable())
            QSKIP("no echo socket here to begin with");
        QVERIFY(setRawSocketCapability(false));
        const bool unusable = !hostnet::EchoProber(1).usable();
        qint64 took = -1;
        if (unusable)
            took = searchFree(kTest + "1", kTest + "254", QStringLiteral("20"));
        QVERIFY(setRawSocketCapability(true));
        if (!unusable)
            QSKIP("ICMP datagram sockets are open to this group here");

        // Datagrams go out instead and the neighbour table decides; it
        // knows nothing of a range beyond the host's segment, so nothing
        // there is listed, at once, without a box; the log says why.
        QVERIFY2(took < 300, qPrintable(QString::number(took)));
        QCOMPARE(addresses(), QStringList());
        QVERIFY(AppMessageBox::shown().isEmpty());
        QCOMPARE(ui<QLabel>(frm_AutoSet, "lblSearchStatus")->text(), QStringLiteral("0 found"));
        QCOMPARE(apptest::logLines().filter(QStringLiteral("neighbour table alone")).size(), 1);
        QVERIFY(hostnet::EchoProber(1).usable());
        searchFree(kTest + "1", kTest + "254", QStringLiteral("2"));
        QCOMPARE(addresses(), range(kTest, {1, 2}));
#endif
    }

    void unreadableAdapterShowsZerosAndKeepsTheRange()
    {
        if (netnsLayout() != QLatin1String("unusable"))
            QSKIP("runs in the layout unusable of scripts/testlan.sh");
        fillGrid(threeModules());
        Tfrm_AutoSet *d = frm_AutoSet;
        d->show();
        for (const char *host : {"Edit1", "Edit2", "Edit3"})
            QCOMPARE(ui<QLineEdit>(d, host)->text(), QStringLiteral("0.0.0.0"));
        QCOMPARE(ui<QLineEdit>(d, "editStartIP")->text(), QString()); // the first show: empty
        QCOMPARE(ui<QLineEdit>(d, "editEndIP")->text(), QString());

        // Search with the fields left empty by a PC without address probes
        // nothing, and says what the PC lacks rather than nothing at all.
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(searchFree(QString(), QString(), QStringLiteral("3")) < 100);
        QCOMPARE(AppMessageBox::shown().size(), 1);
        QCOMPARE(AppMessageBox::shown().constFirst().text, THostServices::NoHostAddressMessage());
        QCOMPARE(addressList()->topLevelItemCount(), 0);
        AppMessageBox::reset();

        ui<QLineEdit>(d, "editStartIP")->setText(QStringLiteral("198.18.9.1"));
        ui<QLineEdit>(d, "editEndIP")->setText(QStringLiteral("198.18.9.9"));
        d->hide();
        d->show();
        QCOMPARE(ui<QLineEdit>(d, "editStartIP")->text(), QStringLiteral("198.18.9.1"));
        QCOMPARE(ui<QLineEdit>(d, "editEndIP")->text(), QStringLiteral("198.18.9.9"));
        QCOMPARE(ui<QLineEdit>(d, "Edit1")->text(), QStringLiteral("0.0.0.0"));
        QVERIFY(AppMessageBox::shown().isEmpty());
    }
};

QTEST_MAIN(AutosetTest)
#include "autoset_test.moc"
