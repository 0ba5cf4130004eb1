// The single-module configuration dialog on real widgets: its layout, the
// fields it fills from a grid row, the DHCP choice, and the checks of "Set";
// the command's cases that end before anything is sent, and a MAC that two
// modules share. Simulated modules in the test's own network namespace
// answer the search.
#include "config_test_support.h"

#include "AppMessageBox.h"
#include "platform/HostNetwork.h"
#include "FormUtils.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

using apptest::gridRowOf;
using apptest::module;
using apptest::ui;
using configtest::showDialog;

namespace {

QLineEdit *edit(int n)
{
    return Form2->NumberedEdit(n);
}

// The next widget that the Tab key reaches.
QWidget *nextTabStop(QWidget *from)
{
    QWidget *w = from->nextInFocusChain();
    while (w != from && !(w->focusPolicy() & Qt::TabFocus))
        w = w->nextInFocusChain();
    return w;
}

} // namespace

class ConfigDialogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        AppMessageBox::reset();
        apptest::writeOptionFile("[option]\nSNumber=3\nSTimeOut=1000\n");
        simulator = apptest::startSimulator({
            module(1, "QZ510-A", "pump", 0),
            module(2, "QZ510-B", "", 1),
            module(3, "QZ510-C", "valve", 7),
        });
        QVERIFY(simulator);
        QVERIFY(apptest::startProgram());
    }
    void cleanup()
    {
        simulator.reset();
        apptest::stopProgram();
        AppMessageBox::reset();
        apptest::removeOptionFile();
    }

    void layout()
    {
        QCOMPARE(Form2->windowTitle(), QStringLiteral("Configuration"));
        QCOMPARE(Form2->size(), QSize(439, 287));
        QCOMPARE(Form2->font().pixelSize(), designFont().pixelSize());
        struct Place {
            const char *name;
            const char *parent;
            QRect at;
        };
        const Place places[] = {
            {"GroupBox1", "Form2", {16, 16, 193, 257}},  {"Edit1", "GroupBox1", {64, 32, 113, 21}},
            {"Edit7", "GroupBox1", {64, 64, 113, 21}},   {"Edit2", "GroupBox1", {64, 192, 113, 21}},
            {"editDHCP", "GroupBox1", {88, 224, 89, 21}}, {"Button4", "GroupBox1", {120, 8, 65, 17}},
            {"GroupBox2", "Form2", {224, 16, 201, 257}}, {"Edit11", "GroupBox2", {72, 128, 113, 21}},
            {"GroupBox3", "GroupBox2", {16, 160, 169, 41}}, {"rbtnDisable", "GroupBox3", {104, 16, 57, 17}},
            {"Edit3", "GroupBox2", {72, 200, 113, 21}},   {"Button1", "GroupBox2", {32, 224, 73, 25}},
            {"Button2", "GroupBox2", {112, 224, 73, 25}},
        };
        for (const Place &p : places) {
            const QWidget *w = ui(Form2, p.name);
            QCOMPARE(w->parentWidget()->objectName(), QLatin1String(p.parent));
            QCOMPARE(w->geometry(), p.at);
        }
        // A label 16 pixels in, 4 below the top of its field.
        const QLabel *dhcpLabel = ui<QLabel>(Form2, "Label7");
        QCOMPARE(dhcpLabel->text(), QStringLiteral("DHCP Mode:"));
        QCOMPARE(dhcpLabel->pos(), QPoint(16, 228));

        for (int n : {1, 2, 4, 5, 6, 7}) {
            QVERIFY(edit(n)->isReadOnly());
            QCOMPARE(edit(n)->focusPolicy(), Qt::ClickFocus);
        }
        QCOMPARE(edit(1)->palette().color(QPalette::Base), QColor(212, 208, 200));
        QCOMPARE(edit(5)->palette().color(QPalette::Base), QColor(216, 213, 249));
        QCOMPARE(ui<QLineEdit>(Form2, "editDHCP")->palette().color(QPalette::Base), QColor(216, 213, 249));
        // The recommended fields in tab order 0 to 3.
        QCOMPARE(nextTabStop(edit(8)), edit(9));
        QCOMPARE(nextTabStop(edit(9)), edit(10));
        QCOMPARE(nextTabStop(edit(10)), ui<QLineEdit>(Form2, "Edit11"));

        QCOMPARE(configtest::showDialog(0, [] {
                     QVERIFY(!ui(Form2, "Button3")->isVisible());
                     QVERIFY(!ui(Form2, "Button4")->isVisible());
                     QVERIFY(!edit(3)->isVisible());
                     QVERIFY(edit(8)->isVisible());
                 }),
                 int(mrCancel));
    }

    void fieldsFollowTheGridRow()
    {
        apptest::search();
        QCOMPARE(Form1->Tag, 3);
        const int noAlias = gridRowOf(QStringLiteral("QZ510-B"));
        QVERIFY(noAlias > 0);

        // The command opens it for the selected row; Cancel sends nothing.
        apptest::grid()->SelectRow(noAlias);
        QString dhcpAfterDisable;
        auto ready = configtest::whenDialogReady([&] {
            QCOMPARE(Form2->Tag, noAlias - 1);
            QCOMPARE(ui<QGroupBox>(Form2, "GroupBox1")->title(), QStringLiteral("Original Settings"));
            QCOMPARE(edit(1)->text(), QStringLiteral("QZ510-B"));
            QCOMPARE(edit(7)->text(), QStringLiteral("00:0E:C6:00:00:02"));
            QCOMPARE(edit(4)->text(), QStringLiteral("198.18.0.102"));
            QCOMPARE(edit(5)->text(), QStringLiteral("255.255.255.0"));
            QCOMPARE(edit(6)->text(), QStringLiteral("198.18.0.1"));
            QCOMPARE(edit(2)->text(), QStringLiteral("N/A"));
            QCOMPARE(ui<QLineEdit>(Form2, "Edit11")->text(), QStringLiteral("N/A"));
            QCOMPARE(ui<QLineEdit>(Form2, "editDHCP")->text(), QStringLiteral("Enabled"));
            QVERIFY(ui<QRadioButton>(Form2, "rbtnEnable")->isChecked());
            QCOMPARE(edit(3)->text(), QStringLiteral("Enable"));
            QTest::mouseClick(ui(Form2, "rbtnDisable"), Qt::LeftButton);
            dhcpAfterDisable = edit(3)->text();
            QCOMPARE(ui<QLineEdit>(Form2, "editDHCP")->text(), QStringLiteral("Enabled"));
            apptest::clickEnabled(ui(Form2, "Button2"));
        });
        Form1->ToolButton2Click();
        QVERIFY(*ready);
        QCOMPARE(dhcpAfterDisable, QStringLiteral("Disable"));
        QVERIFY(AppMessageBox::shown().isEmpty());
        QCOMPARE(simulator->stats().configs, 0u);

        // A module with DHCP off, and any non-zero mode counts as on.
        showDialog(gridRowOf(QStringLiteral("QZ510-A")) - 1, [] {
            QCOMPARE(ui<QLineEdit>(Form2, "editDHCP")->text(), QStringLiteral("Disabled"));
            QVERIFY(ui<QRadioButton>(Form2, "rbtnDisable")->isChecked());
            QCOMPARE(edit(3)->text(), QStringLiteral("Disable"));
            QCOMPARE(ui<QLineEdit>(Form2, "Edit11")->text(), QStringLiteral("pump"));
            ui<QRadioButton>(Form2, "rbtnEnable")->click();
            QCOMPARE(edit(3)->text(), QStringLiteral("Enable"));
        });
        showDialog(gridRowOf(QStringLiteral("QZ510-C")) - 1, [] {
            QCOMPARE(ui<QLineEdit>(Form2, "editDHCP")->text(), QStringLiteral("Enabled"));
            QCOMPARE(edit(3)->text(), QStringLiteral("Enable"));
        });
    }

    void previousAndNextFollowTheIndex()
    {
        // Hidden for good, but kept in step with the module shown.
        const auto states = [](int count, int tag) {
            Form1->Tag = count;
            Form2->Tag = tag;
            Form2->CheckButton();
            return std::pair(ui(Form2, "Button3")->isEnabled(), ui(Form2, "Button4")->isEnabled());
        };
        QCOMPARE(states(1, 0), std::pair(false, false));
        QCOMPARE(states(3, 0), std::pair(false, true));
        QCOMPARE(states(3, 1), std::pair(true, true));
        QCOMPARE(states(3, 2), std::pair(true, false));
        Form1->Tag = 0;
    }

    void setChecksTheThreeAddresses()
    {
        apptest::search();
        int result = showDialog(0, [] {
            edit(8)->setText(QString());
            edit(9)->setText(QStringLiteral("255.255.255.255"));
            edit(10)->setText(QStringLiteral("198.18.0.1"));
            AppMessageBox::setNextAnswer(QMessageBox::Ok);
            AppMessageBox::setNextAnswer(QMessageBox::Ok);
            apptest::clickEnabled(ui(Form2, "Button1"));
            QVERIFY(Form2->isVisible());
            QCOMPARE(edit(4)->text(), QString());
            QCOMPARE(edit(5)->text(), QStringLiteral("255.255.255.255"));
            QCOMPARE(edit(6)->text(), QStringLiteral("198.18.0.1"));
        });
        QCOMPARE(result, int(mrCancel));
        const QList<AppMessageBox::Shown> shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 2);
        // An empty field: what the PC lacks when it has no address, else
        // the plain message.
        std::string hostAddress;
        const bool pcHasAddress = hostnet::ReadHostAdapter(1, hostAddress) == 0;
        QCOMPARE(shown[0].text, pcHasAddress ? QStringLiteral("Invalid numeric entry.") : THostServices::NoHostAddressMessage());
        QCOMPARE(shown[1].text, QStringLiteral("'255.255.255.255' is a not valid MASK."));
        for (const AppMessageBox::Shown &box : shown) {
            QCOMPARE(box.title, QStringLiteral("Error"));
            QCOMPARE(box.icon, QMessageBox::Critical);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }

        // The other two messages, and the dialog's own modal result OK once
        // all three are usable, whatever the DHCP choice.
        AppMessageBox::reset();
        result = showDialog(0, [] {
            edit(8)->setText(QStringLiteral("a.b.c.d"));
            edit(9)->setText(QStringLiteral("255.255.255.0"));
            edit(10)->setText(QStringLiteral("0.0.0.0"));
            AppMessageBox::setNextAnswer(QMessageBox::Ok);
            AppMessageBox::setNextAnswer(QMessageBox::Ok);
            apptest::clickEnabled(ui(Form2, "Button1"));
            ui<QRadioButton>(Form2, "rbtnEnable")->click();
            edit(8)->setText(QStringLiteral("198.18.0.77"));
            edit(10)->setText(QStringLiteral("198.18.0.254"));
            ui<QLineEdit>(Form2, "Edit11")->setText(QStringLiteral("Line 2"));
            apptest::clickEnabled(ui(Form2, "Button1"));
        });
        QCOMPARE(result, int(mrOk));
        QCOMPARE(AppMessageBox::shown().size(), 2);
        QCOMPARE(AppMessageBox::shown()[0].text, QStringLiteral("'a.b.c.d' is a not valid IP address."));
        QCOMPARE(AppMessageBox::shown()[1].text, QStringLiteral("'0.0.0.0' is a not valid Gateway."));
        QCOMPARE(edit(4)->text(), QStringLiteral("198.18.0.77"));
        QCOMPARE(edit(2)->text(), QStringLiteral("Line 2"));
        QCOMPARE(edit(3)->text(), QStringLiteral("Enable"));
    }

    void operatorTextIsSentAsChecked()
    {
        apptest::search();
        const int noAlias = gridRowOf(QStringLiteral("QZ510-B"));
        QVERIFY(noAlias > 0);
        // Text that would add pieces to the request is refused, one box per
        // field, and the dialog stays open; nothing reaches a module.
        QStringList refused;
        showDialog(noAlias - 1, [&] {
            edit(8)->setText(QStringLiteral("198.18.0.77 ,MAC=02:00:00:00:00:99"));
            edit(10)->setText(QStringLiteral("198.18.0.1\r"));
            ui<QLineEdit>(Form2, "Edit11")->setText(QStringLiteral("x,DHCP=1"));
            for (int i = 0; i < 3; ++i)
                AppMessageBox::setNextAnswer(QMessageBox::Ok);
            apptest::clickEnabled(ui(Form2, "Button1"));
            QVERIFY(Form2->isVisible());
            for (const AppMessageBox::Shown &box : AppMessageBox::shown())
                refused << box.text;
        });
        QCOMPARE(refused, (QStringList{THostServices::UnsendableTextMessage("198.18.0.77 ,MAC=02:00:00:00:00:99"),
                                       THostServices::UnsendableTextMessage("198.18.0.1\r"),
                                       THostServices::UnsendableTextMessage("x,DHCP=1")}));

        // The alias field holds what a module holds; addresses go out in the
        // form that was checked (000.077 is octal 63).
        AppMessageBox::reset();
        QStringList sent;
        const int result = showDialog(noAlias - 1, [&] {
            ui<QLineEdit>(Form2, "Edit11")->setText(QStringLiteral("123456789012345"));
            edit(8)->setText(QStringLiteral("198.18.000.077"));
            edit(9)->setText(QStringLiteral("255.255.255.0 "));
            edit(10)->setText(QStringLiteral("198.18.0.1"));
            apptest::clickEnabled(ui(Form2, "Button1"));
            for (int n : {2, 4, 5, 6})
                sent << edit(n)->text();
        });
        QCOMPARE(result, int(mrOk));
        QCOMPARE(sent, (QStringList{"12345678901", "198.18.0.63", "255.255.255.0", "198.18.0.1"}));
        QVERIFY(AppMessageBox::shown().isEmpty());
        QCOMPARE(simulator->stats().configs, 0u);
    }

    void sharedMacIsConfiguredOnlyOnTheOperatorsWord()
    {
        // Two modules with different settings report one MAC: a request to
        // it changes both.
        modsim::ModuleSpec first = module(1, "TWIN-A", "a", 0), second = module(2, "TWIN-B", "b", 0);
        second.mac = first.mac;
        const QString mac = QString::fromStdString(first.mac);
        simulator.reset();
        simulator = apptest::startSimulator({first, second});
        QVERIFY(simulator);
        const int firstLine = apptest::logList()->count();
        QVERIFY(apptest::search(2));
        const int a = gridRowOf(QStringLiteral("TWIN-A")), b = gridRowOf(QStringLiteral("TWIN-B"));
        QVERIFY(a > 0 && b > 0);
        QVERIFY(apptest::grid()->CellWarning(7, a));
        QVERIFY(apptest::grid()->CellWarning(7, b));
        QCOMPARE(apptest::logLines(firstLine).filter(mac).size(), 1);

        // The command as the operator gives it: the row double-clicked, a
        // new address, "Set", and the usual confirmation.
        const auto configureRow = [&](QMessageBox::StandardButton allOfThem) {
            AppMessageBox::reset();
            AppMessageBox::setNextAnswer(QMessageBox::Yes);
            AppMessageBox::setNextAnswer(allOfThem);
            AppMessageBox::setNextAnswer(QMessageBox::Ok);
            bool set = false;
            auto ready = configtest::whenDialogReady([&] {
                edit(8)->setText(QStringLiteral("198.18.0.150"));
                set = apptest::clickEnabled(ui(Form2, "Button1")) && !Form2->isVisible();
            });
            configtest::doubleClickRow(a);
            return QTest::qWaitFor([&] { return *ready; }, 30000) && set;
        };

        QVERIFY(configureRow(QMessageBox::No));
        QList<AppMessageBox::Shown> shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[1].buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY2(shown[1].text.contains(mac), qPrintable(shown[1].text));
        QTest::qWait(300);
        QCOMPARE(simulator->stats().configs, 0u);
        for (const modsim::ModuleSpec &m : simulator->modules())
            QCOMPARE(m.ip, m.name == "TWIN-A" ? first.ip : second.ip);

        QVERIFY(configureRow(QMessageBox::Yes));
        shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown[2].text, QStringLiteral("Setting complete"));
        QCOMPARE(simulator->stats().applied, 2u);
        for (const modsim::ModuleSpec &m : simulator->modules())
            QCOMPARE(m.ip, std::string("198.18.0.150"));
    }

    void commandWithoutAModuleDoesNothing()
    {
        auto opened = configtest::whenDialogReady([] { Form2->reject(); }, 3000);
        // No search yet: the grid is empty.
        apptest::grid()->SelectRow(1);
        Form1->StringGrid1DblClick();
        apptest::search();
        // One of the two empty rows below the modules.
        configtest::doubleClickRow(Form1->Tag + 1);
        QTest::qWait(300);
        QCOMPARE(apptest::grid()->Row(), Form1->Tag + 1);
        // After Clear.
        Form1->ToolButton4Click();
        Form1->pmenuSetClick();
        QVERIFY(!*opened);
        QVERIFY(AppMessageBox::shown().isEmpty());
        QCOMPARE(simulator->stats().configs, 0u);
    }

private:
    std::unique_ptr<modsim::ModuleSimulator> simulator;
};

QTEST_MAIN(ConfigDialogTest)
#include "config_dialog_test.moc"
