// The search options: loading option.ini at start-up, the Options dialog's
// checks and messages, what Set keeps and writes, the user's folder where
// the program's cannot take them, and a failed write.
#include "app_test_support.h"

#include "AppMessageBox.h"
#include "Configuration.h"
#include "Forms.h"
#include "Options.h"
#include "Unit1.h"
#include "UpDown.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <unistd.h>

using apptest::ui;

namespace {

const QByteArray kCommented = "; options of the search program\n"
                              "[window]\n"
                              "Left=10\n"
                              "\n"
                              "[option]\n"
                              "# hand-written note\n"
                              "STimeOut=1500\n"
                              "Colour=blue\n"
                              "SNumber=4\n";

// Opens the Options dialog with the Options button and runs `inside` while
// it is shown; the dialog must be closed by `inside` (or is cancelled).
bool withOptionsDialog(const std::function<void()> &inside)
{
    bool ran = false;
    apptest::whenModalFor(frm_Configuration, 0, [&](QWidget *) {
        ran = true;
        inside();
        if (frm_Configuration->isVisible())
            apptest::clickNamed(frm_Configuration, "Button1");
    });
    if (!apptest::clickNamed(Form1, "ToolButton1"))
        return false;
    return ran && !frm_Configuration->isVisible();
}

// The dialog's two fields: the wished number of results and the time-out.
QLineEdit *countField()
{
    return ui<QLineEdit>(frm_Configuration, "edit_WishNumber");
}

QLineEdit *timeOutField()
{
    return ui<QLineEdit>(frm_Configuration, "edit_TimeOut");
}

void enter(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    edit->clear();
    QTest::keyClicks(edit, text);
}

struct Outcome {
    QList<AppMessageBox::Shown> shown;
    bool stillOpen = false;
    QString count;
    QString timeOut;
};

// Types both fields, presses Set and reports what happened.
Outcome setValues(const QString &count, const QString &timeOut, int answers = 1)
{
    Outcome outcome;
    withOptionsDialog([&] {
        enter(countField(), count);
        enter(timeOutField(), timeOut);
        for (int i = 0; i < answers; ++i)
            AppMessageBox::setNextAnswer(QMessageBox::Ok);
        if (!apptest::clickNamed(frm_Configuration, "btnSet"))
            return;
        outcome.shown = AppMessageBox::shown();
        outcome.stillOpen = frm_Configuration->isVisible();
        outcome.count = countField()->text();
        outcome.timeOut = timeOutField()->text();
    });
    return outcome;
}

bool isErrorBox(const AppMessageBox::Shown &box, const QString &text)
{
    return box.title == QStringLiteral("Error") && box.text == text && box.icon == QMessageBox::Critical
        && box.buttons == QMessageBox::StandardButtons(QMessageBox::Ok);
}

} // namespace

class OptionsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        AppMessageBox::reset();
        apptest::removeOptionFile();
        // Never the real user's configuration folder.
        QVERIFY(configHome.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
        QDir(configHome.path()).removeRecursively();
        QDir().mkpath(configHome.path());
#ifdef _WIN32
        // Windows names the folder itself, whatever the environment says:
        // Qt's test folder instead, emptied for each case.
        QStandardPaths::setTestModeEnabled(true);
        QDir(QFileInfo(options::userFilePath()).path()).removeRecursively();
#endif
    }
    void cleanup()
    {
        apptest::stopProgram();
        AppMessageBox::reset();
        if (restoreProgramDir)
            QFile::setPermissions(QCoreApplication::applicationDirPath(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                      | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        restoreProgramDir = false;
        QFile::setPermissions(apptest::optionFilePath(), QFile::ReadOwner | QFile::WriteOwner);
        QDir(apptest::optionFilePath()).removeRecursively();
        apptest::removeOptionFile();
    }

    void loadsTheSavedOptionsOrTheDefaults_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("number");
        QTest::addColumn<uint>("timeOut");
        QTest::newRow("no file") << QByteArray() << 0 << 2000u;
        QTest::newRow("commented file") << kCommented << 4 << 1500u;
        QTest::newRow("not integers") << QByteArray("[option]\nSNumber=many\nSTimeOut=x1\n") << 0 << 2000u;
        // As the Windows functions read them: the leading number, quotes gone.
        QTest::newRow("leading number") << QByteArray("[option]\nSNumber=\"5\"\nSTimeOut=1.5 ; s\n") << 5 << 1u;
        QTest::newRow("other section") << QByteArray("[options]\nSNumber=3\n") << 0 << 2000u;
    }
    void loadsTheSavedOptionsOrTheDefaults()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, number);
        QFETCH(uint, timeOut);
        if (!file.isNull())
            apptest::writeOptionFile(file);
        QVERIFY(apptest::startProgram());
        QCOMPARE(Form1->SearchNumber, number);
        QCOMPARE(Form1->SearchTimeOut, timeOut);
        QCOMPARE(apptest::readOptionFile(), file.isNull() ? QByteArray() : file); // reading changes nothing
        QCOMPARE(QFile::exists(apptest::optionFilePath()), !file.isNull());
    }

    void dialogShowsTheStoredValues()
    {
        apptest::writeOptionFile(kCommented);
        QVERIFY(apptest::startProgram());
        QString prompt, count, timeOut;
        QList<QWidget *> chain;
        QVERIFY(withOptionsDialog([&] {
            prompt = ui<QLabel>(frm_Configuration, "Label4")->text();
            count = countField()->text();
            timeOut = timeOutField()->text();
            QWidget *w = timeOutField();
            for (int i = 0; i < 7; ++i, w = w->nextInFocusChain()) {
                while (!(w->focusPolicy() & Qt::TabFocus))
                    w = w->nextInFocusChain();
                chain << w;
            }
        }));
        QCOMPARE(prompt, QStringLiteral("Please enter the time in milliseconds that Dalvora should wait for the search "
                                        "to end, and \nthe number of search results."));
        QCOMPARE(count, QStringLiteral("4"));
        QCOMPARE(timeOut, QStringLiteral("1500"));
        // Tab follows the controls as they are shown, top to bottom.
        QCOMPARE(chain, (QList<QWidget *>{timeOutField(), countField(), ui(frm_Configuration, "UpDown1"),
                                           ui(frm_Configuration, "cbox_Adapter"), ui(frm_Configuration, "chk_SearchAgain"),
                                           ui(frm_Configuration, "btnSet"), ui(frm_Configuration, "Button1")}));
        QCOMPARE(frm_Configuration->windowTitle(), QStringLiteral("Options"));
        QCOMPARE(ui<QLabel>(frm_Configuration, "Label2")->text(), QStringLiteral("Searching Timeout"));
        QCOMPARE(ui<QLabel>(frm_Configuration, "Label1")->text(), QStringLiteral("Number of search results"));
        QCOMPARE(ui<QLabel>(frm_Configuration, "Label3")->text(), QStringLiteral("ms"));
        QCOMPARE(ui(frm_Configuration, "btnSet")->geometry(), QRect(104, 224, 75, 25));
        QCOMPARE(ui(frm_Configuration, "Button1")->geometry(), QRect(184, 224, 75, 25));
        QCOMPARE(ui(frm_Configuration, "UpDown1")->geometry(), QRect(232, 120, 25, 21));
    }

    void inputErrorsKeepTheDialogOpenAndStoreNothing_data()
    {
        QTest::addColumn<QString>("count");
        QTest::addColumn<QString>("timeOut");
        QTest::addColumn<QString>("message");
        const QString invalid = QStringLiteral("Invalid numeric entry.");
        QTest::newRow("negative count") << "-5" << "1000" << "'-5' is not a valid integer value.";
        QTest::newRow("negative time-out") << "3" << "-5" << "'-5' is not a valid integer value.";
        QTest::newRow("empty count reported first") << "" << "abc" << invalid;
        QTest::newRow("empty time-out") << "3" << "" << invalid;
        QTest::newRow("blank inside") << "1 0" << "1000" << "'1 0' is not a valid integer value.";
        QTest::newRow("count beyond 32 bits") << "2147483648" << "1000" << "'2147483648' is not a valid integer value.";
        QTest::newRow("time-out beyond 32 bits")
            << "5" << "99999999999" << "'99999999999' is not a valid integer value.";
    }
    void inputErrorsKeepTheDialogOpenAndStoreNothing()
    {
        QFETCH(QString, count);
        QFETCH(QString, timeOut);
        QFETCH(QString, message);
        apptest::writeOptionFile(kCommented);
        QVERIFY(apptest::startProgram());

        const Outcome outcome = setValues(count, timeOut);
        QCOMPARE(outcome.shown.size(), 1);
        QVERIFY2(isErrorBox(outcome.shown[0], message), qPrintable(outcome.shown[0].text));
        QVERIFY(outcome.stillOpen);
        QCOMPARE(outcome.count, count);
        QCOMPARE(outcome.timeOut, timeOut);
        QCOMPARE(Form1->SearchNumber, 4);
        QCOMPARE(Form1->SearchTimeOut, 1500u);
        QCOMPARE(apptest::readOptionFile(), kCommented);
    }

    void setKeepsAndWritesBothValues()
    {
        apptest::writeOptionFile(kCommented);
        QVERIFY(apptest::startProgram());

        const Outcome outcome = setValues(QStringLiteral("0007"), QStringLiteral("500"), 0);
        QVERIFY(outcome.shown.isEmpty());
        QVERIFY(!outcome.stillOpen);
        QCOMPARE(Form1->SearchNumber, 7);
        QCOMPARE(Form1->SearchTimeOut, 500u);
        // Comments, the other section and the other key keep their places.
        QCOMPARE(apptest::readOptionFile(), QByteArray("; options of the search program\n"
                                                       "[window]\n"
                                                       "Left=10\n"
                                                       "\n"
                                                       "[option]\n"
                                                       "# hand-written note\n"
                                                       "STimeOut=500\n"
                                                       "Colour=blue\n"
                                                       "SNumber=7\n"));

        // The next opening shows what was kept.
        QString count, timeOut;
        QVERIFY(withOptionsDialog([&] {
            count = countField()->text();
            timeOut = timeOutField()->text();
        }));
        QCOMPARE(count, QStringLiteral("7"));
        QCOMPARE(timeOut, QStringLiteral("500"));
    }

    void setCreatesAMissingFile()
    {
        QVERIFY(apptest::startProgram());
        const Outcome outcome = setValues(QStringLiteral("101"), QStringLiteral("0"), 0);
        QVERIFY(outcome.shown.isEmpty());
        QCOMPARE(Form1->SearchNumber, 101);
        QCOMPARE(Form1->SearchTimeOut, 0u);
        // A new file takes the system's line ends.
#ifdef _WIN32
        QCOMPARE(apptest::readOptionFile(), QByteArray("[option]\r\nSNumber=101\r\nSTimeOut=0\r\n"));
#else
        QCOMPARE(apptest::readOptionFile(), QByteArray("[option]\nSNumber=101\nSTimeOut=0\n"));
#endif
    }

    void searchAgainIsOnByDefaultAndKeptOnceTurnedOff()
    {
        // A file without the key: the check is on, and the file stays as it is.
        apptest::writeOptionFile("[option]\nSNumber=2\nSTimeOut=1500\n");
        QVERIFY(apptest::startProgram());
        QVERIFY(Form1->SearchAgainAfterSetting);
        QVERIFY(withOptionsDialog([] {
            QCheckBox *again = ui<QCheckBox>(frm_Configuration, "chk_SearchAgain");
            QVERIFY(again->isChecked());
            QCOMPARE(again->geometry(), QRect(24, 184, 233, 17));
            apptest::clickNamed(frm_Configuration, "btnSet");
        }));
        QCOMPARE(apptest::readOptionFile(), QByteArray("[option]\nSNumber=2\nSTimeOut=1500\n"));
        QVERIFY(withOptionsDialog([] {
            apptest::clickEnabled(ui<QCheckBox>(frm_Configuration, "chk_SearchAgain"));
            apptest::clickNamed(frm_Configuration, "btnSet");
        }));
        QVERIFY(!Form1->SearchAgainAfterSetting);
        QCOMPARE(apptest::readOptionFile(), QByteArray("[option]\nSNumber=2\nSTimeOut=1500\nSearchAgain=0\n"));

        // Read back at the next start, and turned on again as 1.
        apptest::stopProgram();
        QVERIFY(apptest::startProgram());
        QVERIFY(!Form1->SearchAgainAfterSetting);
        QVERIFY(withOptionsDialog([] {
            QCheckBox *again = ui<QCheckBox>(frm_Configuration, "chk_SearchAgain");
            QVERIFY(!again->isChecked());
            again->setChecked(true);
            apptest::clickNamed(frm_Configuration, "btnSet");
        }));
        QVERIFY(Form1->SearchAgainAfterSetting);
        QCOMPARE(apptest::readOptionFile(), QByteArray("[option]\nSNumber=2\nSTimeOut=1500\nSearchAgain=1\n"));
    }

    void cancelChangesNothing()
    {
        apptest::writeOptionFile(kCommented);
        QVERIFY(apptest::startProgram());
        QVERIFY(withOptionsDialog([] {
            enter(countField(), QStringLiteral("9"));
            enter(timeOutField(), QStringLiteral("9999"));
            apptest::clickNamed(frm_Configuration, "Button1");
        }));
        QCOMPARE(Form1->SearchNumber, 4);
        QCOMPARE(Form1->SearchTimeOut, 1500u);
        QCOMPARE(apptest::readOptionFile(), kCommented);
        QString count;
        QVERIFY(withOptionsDialog([&] { count = countField()->text(); }));
        QCOMPARE(count, QStringLiteral("4"));
    }

    void upDownStepsBetweenZeroAndHundred()
    {
        QVERIFY(apptest::startProgram());
        QStringList seen;
        QVERIFY(withOptionsDialog([&] {
            TUpDown *arrows = ui<TUpDown>(frm_Configuration, "UpDown1");
            QLineEdit *edit = countField();
            enter(edit, QStringLiteral("99"));
            QTest::mouseClick(arrows->upButton(), Qt::LeftButton);
            seen << edit->text();
            QTest::mouseClick(arrows->upButton(), Qt::LeftButton);
            seen << edit->text();
            enter(edit, QStringLiteral("1"));
            QTest::mouseClick(arrows->downButton(), Qt::LeftButton);
            seen << edit->text();
            QTest::mouseClick(arrows->downButton(), Qt::LeftButton);
            seen << edit->text();
            enter(edit, QStringLiteral("250"));
            seen << edit->text(); // typing is not limited
            QTest::keyClick(edit, Qt::Key_Up);
            seen << edit->text();
        }));
        QCOMPARE(seen, (QStringList{"100", "100", "0", "0", "250", "100"}));
    }

    void failedWriteKeepsTheFileAndTellsTheOperator()
    {
        apptest::writeOptionFile(kCommented);
        QVERIFY(apptest::startProgram());

#ifdef _WIN32
        QSKIP("a full disk is simulated by a file size limit (setrlimit), which Windows lacks");
#else
        // A full disk: the new file cannot be written completely.
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit tiny = saved;
        tiny.rlim_cur = 16;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        const Outcome outcome = setValues(QStringLiteral("8"), QStringLiteral("900"));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);

        // Nowhere to keep them: in force for this run, and the operator is
        // told that and why, naming both places.
        QCOMPARE(outcome.shown.size(), 1);
        QCOMPARE(outcome.shown[0].title, QStringLiteral("Warning"));
        QCOMPARE(outcome.shown[0].icon, QMessageBox::Warning);
        QVERIFY(outcome.shown[0].text.contains(apptest::optionFilePath()));
        QVERIFY(outcome.shown[0].text.contains(options::userFilePath()));
        QVERIFY(!outcome.stillOpen);
        QCOMPARE(Form1->SearchNumber, 8);
        QCOMPARE(Form1->SearchTimeOut, 900u);
        QCOMPARE(apptest::readOptionFile(), kCommented);
        const QStringList leftovers = QDir(QCoreApplication::applicationDirPath())
                                          .entryList({QStringLiteral("*option.ini*")}, QDir::Files | QDir::Hidden);
        QCOMPARE(leftovers, QStringList{QStringLiteral("option.ini")});
        QVERIFY(QDir(QFileInfo(options::userFilePath()).path())
                    .entryList(QDir::Files | QDir::Hidden).isEmpty());
#endif
    }

    // Where option.ini beside the program cannot take the values: a folder
    // in its place (which must not stop the start either), a file marked
    // read-only, a folder the user may not write, a link (read, never
    // written through).
    void setFallsBackToTheUserFolder_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("folder in place") << "folder";
        QTest::newRow("read-only file") << "file";
        QTest::newRow("read-only folder") << "dir";
        QTest::newRow("link") << "link";
    }
    void setFallsBackToTheUserFolder()
    {
        QFETCH(QString, obstacle);
        const QString programDir = QCoreApplication::applicationDirPath();
        if (obstacle == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(apptest::optionFilePath() + QStringLiteral("/inside")));
        } else if (obstacle == QLatin1String("link")) {
            const QString elsewhere = configHome.filePath(QStringLiteral("elsewhere.ini"));
            QFile file(elsewhere);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kCommented) == kCommented.size());
            file.close();
            QVERIFY(QFile::link(elsewhere, apptest::optionFilePath()));
            if (!QFileInfo(apptest::optionFilePath()).isSymbolicLink())
                QSKIP("the link made is a shortcut file, no symbolic link (Windows without the right to make one)");
        } else {
            apptest::writeOptionFile(kCommented);
            if (obstacle == QLatin1String("file"))
                QVERIFY(QFile::setPermissions(apptest::optionFilePath(), QFile::ReadOwner | QFile::ReadGroup));
        }
        if (obstacle == QLatin1String("dir")) {
            QVERIFY(QFile::setPermissions(programDir, QFile::ReadOwner | QFile::ExeOwner));
            restoreProgramDir = true;
            if (::access(QFile::encodeName(programDir).constData(), W_OK) == 0)
                QSKIP("this user may write any folder (run without CAP_DAC_OVERRIDE to test it)");
        }

        QVERIFY(apptest::startProgram());
        const int number = obstacle == QLatin1String("folder") ? 0 : 4;
        QCOMPARE(Form1->SearchNumber, number);
        QCOMPARE(Form1->SearchTimeOut, obstacle == QLatin1String("folder") ? 2000u : 1500u);

        const Outcome outcome = setValues(QStringLiteral("12"), QStringLiteral("3000"));
        QVERIFY(!outcome.stillOpen);
        QCOMPARE(Form1->SearchNumber, 12);
        QCOMPARE(Form1->SearchTimeOut, 3000u);
        if (obstacle == QLatin1String("dir")) {
            // A folder the user cannot write is the system's, as an installed
            // program's is: the user's folder from the start, without a word.
            QVERIFY2(outcome.shown.isEmpty(), qPrintable(outcome.shown.value(0).text));
        } else {
            QCOMPARE(outcome.shown.size(), 1);
            QCOMPARE(outcome.shown[0].title, QStringLiteral("Information"));
            QVERIFY2(outcome.shown[0].text.startsWith(
                         QStringLiteral("The options were saved in '%1'.").arg(options::userFilePath())),
                     qPrintable(outcome.shown[0].text));
        }
        if (obstacle != QLatin1String("folder"))
            QCOMPARE(apptest::readOptionFile(), kCommented); // not overwritten
        if (obstacle == QLatin1String("link"))
            QVERIFY(QFileInfo(apptest::optionFilePath()).isSymLink());
        QVERIFY(QFileInfo(options::userFilePath()).isFile());
        if (obstacle != QLatin1String("folder")) {
            // Nothing of the program's file is lost on the move: other
            // sections and keys this version does not know go with it.
            QFile user(options::userFilePath());
            QVERIFY(user.open(QIODevice::ReadOnly));
            const QByteArray moved = user.readAll();
            QVERIFY2(moved.contains("[window]") && moved.contains("Left=10") && moved.contains("Colour=blue"),
                     moved.constData());
        }

        // The next start reads the user's copy first.
        apptest::stopProgram();
        QVERIFY(apptest::startProgram());
        QCOMPARE(Form1->SearchNumber, 12);
        QCOMPARE(Form1->SearchTimeOut, 3000u);
    }

private:
    QTemporaryDir configHome;
    bool restoreProgramDir = false;
};

QTEST_MAIN(OptionsTest)
#include "options_test.moc"
