// The search program on a test LAN of network namespaces (see
// scripts/with-testlan.sh): the modules answer from namespaces of their own
// behind a bridge, one of them outside the host's subnet.
// Environment: APP_LAN_EXPECT (the module names, comma-separated) and
// APP_LAN_ID_FILE (where the LAN's id is recorded for the clean-up check).
#include "app_test_support.h"

#include "AppMessageBox.h"
#include "Forms.h"
#include "Unit1.h"

#include <QLabel>
#include <QTest>

class LanTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!apptest::onTestLan())
            QSKIP("runs on a test LAN only");
    }
    void cleanup()
    {
        apptest::stopProgram();
        apptest::removeOptionFile();
        AppMessageBox::reset();
    }

    void searchFindsTheModulesOfTheLan()
    {
        apptest::writeOptionFile("[option]\nSTimeOut=2000\n");
        QVERIFY(apptest::startProgram());
        QVERIFY(apptest::search());

        QStringList expected = qEnvironmentVariable("APP_LAN_EXPECT").split(QLatin1Char(','));
        QStringList names;
        for (int n = 1; n <= Form1->Tag; ++n) {
            QCOMPARE(apptest::grid()->Cells(0, n), QString::number(n));
            names << apptest::grid()->Cells(1, n);
        }
        expected.sort();
        names.sort();
        QCOMPARE(names, expected);
        QCOMPARE(apptest::statusPanel(0)->text(), QStringLiteral("Search complete"));
        QVERIFY(AppMessageBox::shown().isEmpty());
    }
};

QTEST_MAIN(LanTest)
#include "lan_test.moc"
