// The main window's host network services on a host that has no network
// adapter and may not send ICMP echo requests: a namespace with the loopback
// only, without the raw-socket privilege, ICMP datagram sockets not admitted
// (see the registration in CMakeLists.txt; APP_NO_ADAPTER_NO_ECHO=1 there).
#include "config_test_support.h"

#include "AppMessageBox.h"

#include <QApplication>
#include <QPushButton>

#include "platform/HostNetwork.h"

namespace {

const QString kNoAdapter = QStringLiteral("error while get the size of Buffer Size for GetAdaptersInfo");

int adapterBoxes()
{
    int boxes = 0;
    for (const AppMessageBox::Shown &box : AppMessageBox::shown()) {
        if (box.text != kNoAdapter)
            return -1;
        if (box.title != QStringLiteral("Search Configuration") || box.icon != QMessageBox::NoIcon
            || box.buttons != QMessageBox::StandardButtons(QMessageBox::Ok))
            return -2;
        ++boxes;
    }
    return boxes;
}

int linesStarting(const QString &head)
{
    int lines = 0;
    for (const QString &line : apptest::logLines())
        lines += line.startsWith(head);
    return lines;
}

int echoLines()
{
    return linesStarting(QStringLiteral("No free address can be proposed"));
}

// Without echo the neighbour table alone decides, which the log says once.
int tableOnlyLines()
{
    return linesStarting(QStringLiteral("Ping not permitted: free addresses are proposed by the neighbour table"));
}

} // namespace

class HostServicesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (qgetenv("APP_NO_ADAPTER_NO_ECHO") != "1")
            QSKIP("runs in a namespace without adapter and echo permission only");
#ifndef _WIN32
        // Windows opens an echo handle without any right: only sending fails.
        QVERIFY2(!hostnet::EchoProber().usable(), "echo requests are permitted here");
#endif
        QApplication::setApplicationName(QStringLiteral("Search Configuration"));
    }
    void init()
    {
        AppMessageBox::reset();
        QVERIFY(apptest::startProgram());
    }
    void cleanup()
    {
        apptest::stopProgram();
        AppMessageBox::reset();
        apptest::removeOptionFile();
    }

    void noAdapterIsToldOncePerCall()
    {
        QString text = QStringLiteral("unchanged");
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QCOMPARE(Form1->Services().ReadHostAdapter(1, text), 1);
        QCOMPARE(text, QStringLiteral("0.0.0.0"));
        QCOMPARE(adapterBoxes(), 1);
        // An item outside 1 to 3 is refused before the adapter is read.
        text = QStringLiteral("unchanged");
        QCOMPARE(Form1->Services().ReadHostAdapter(4, text), 1);
        QCOMPARE(text, QStringLiteral("unchanged"));
        QCOMPARE(adapterBoxes(), 1);
    }

    void noEchoPermissionIsToldOncePerRun()
    {
#ifdef _WIN32
        QSKIP("Windows cannot tell the missing echo right before sending (tests/windows tests the -1 then)");
#endif
        // The dialog: one box for its one read of the adapter, then no
        // address can be probed (no adapter, no segment the neighbour table
        // could tell of), so all three recommended fields are "0.0.0.0".
        for (int showing = 0; showing < 2; ++showing) {
            AppMessageBox::reset();
            AppMessageBox::setNextAnswer(QMessageBox::Ok);
            QStringList recommended;
            configtest::showDialog(0, [&] {
                for (int n = 8; n <= 10; ++n)
                    recommended << Form2->NumberedEdit(n)->text();
            });
            QCOMPARE(recommended, QStringList(3, QStringLiteral("0.0.0.0")));
            QCOMPARE(adapterBoxes(), 1);
            QCOMPARE(tableOnlyLines(), 1);
        }
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        // Set with the three placeholders: their one reason, once, not a box
        // for each field.
        AppMessageBox::reset();
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        configtest::showDialog(0, [] { apptest::ui<QPushButton>(Form2, "Button1")->click(); });
        QStringList errors;
        for (const AppMessageBox::Shown &box : AppMessageBox::shown())
            if (box.text != kNoAdapter)
                errors << box.text;
        QCOMPARE(errors, QStringList{QStringLiteral("No free address could be proposed: ping not permitted. "
                                                    "Enter the settings by hand.")});

        QCOMPARE(Form1->Services().PingAddress(QStringLiteral("198.18.0.2")), -1);
        QCOMPARE(Form1->Services().PingAddress(QStringLiteral("198.18.0.3")), -1);
        QCOMPARE(echoLines(), 1);
    }
};

QTEST_MAIN(HostServicesTest)
#include "host_services_test.moc"
