// Help and About from the main window: the help file's error boxes and the
// About box's texts and picture.
#include "app_test_support.h"

#include "About.h"
#include "AboutPicture.h"
#include "AppMessageBox.h"
#include "Forms.h"
#include "Unit1.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <vector>

using apptest::ui;

namespace {

const QString kAssociation = QStringLiteral(
    "The file name association is incomplete or invalid. "
    "There is no application associated with the given file name extension.\n"
    "To read the help, install the package xchm (a CHM viewer).");

void writeFile(const QString &path, const QByteArray &contents, QFile::Permissions mode = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
        qWarning("cannot write %s", qPrintable(path));
    file.close();
    if (mode)
        file.setPermissions(mode);
}

// A desktop in `root`: xdg-mime naming a viewer for the help file's type,
// its entry, and an xdg-open that records the file it was given in
// root/opened.txt.
void fakeDesktop(const QString &root)
{
    const auto exec = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    writeFile(root + QStringLiteral("/bin/xdg-mime"),
              "#!/bin/sh\n"
              "case \"$1 $2\" in\n"
              "'query filetype') echo application/vnd.ms-htmlhelp ;;\n"
              "'query default') echo viewer.desktop ;;\n"
              "esac\n",
              exec);
    writeFile(root + QStringLiteral("/bin/xdg-open"),
              "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + QFile::encodeName(root) + "/opened.tmp'\n"
              "/bin/mv '" + QFile::encodeName(root) + "/opened.tmp' '" + QFile::encodeName(root) + "/opened.txt'\n",
              exec);
    writeFile(root + QStringLiteral("/data/applications/viewer.desktop"),
              "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer %f\n");
}

} // namespace

class HelpAboutTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        AppMessageBox::reset();
        QVERIFY(work.isValid());
        QVERIFY(QDir::setCurrent(work.path()));
        // No desktop opener on the path: the help file has no viewer.
        qputenv("PATH", work.path().toLocal8Bit());
        QVERIFY(apptest::startProgram());
    }
    void cleanup()
    {
        apptest::stopProgram();
        QFile::remove(work.filePath(QStringLiteral("main.chm")));
        if (!besideProgram.isEmpty())
            QFile::remove(besideProgram);
        besideProgram.clear();
        qunsetenv("XDG_DATA_HOME");
        AppMessageBox::reset();
    }

    void helpWithoutTheFileSaysSo()
    {
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(apptest::clickEnabled(ui(Form1, "ToolButton6")));
        const auto shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("Fehler"));
        QCOMPARE(shown[0].text, QStringLiteral("The specified file was not found."));
        QCOMPARE(shown[0].icon, QMessageBox::Warning);
        QCOMPARE(shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void helpWithTheFileButNoViewer()
    {
#ifdef _WIN32
        QSKIP("drives a desktop of xdg-open and file associations, Linux only (tests/windows tests the Windows opener)");
#endif
        QFile chm(work.filePath(QStringLiteral("main.chm")));
        QVERIFY(chm.open(QIODevice::WriteOnly));
        chm.write("ITSF");
        chm.close();
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(apptest::clickEnabled(ui(Form1, "ToolButton6")));
        // "Help Contents" behaves exactly like the button.
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        ui<QAction>(Form1, "DalvoraHelp1")->trigger();
        const auto shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 2);
        for (const auto &box : shown) {
            QCOMPARE(box.title, QStringLiteral("Fehler"));
            QCOMPARE(box.text, kAssociation);
        }
    }

    // Started from elsewhere (a launcher starts it in the home folder), Help
    // finds the file beside the program; one in the working folder wins.
    void helpFindsTheFileBesideTheProgram()
    {
#ifdef _WIN32
        QSKIP("drives a desktop of xdg-open and file associations, Linux only (tests/windows tests the Windows opener)");
#endif
        QTemporaryDir desktop;
        QVERIFY(desktop.isValid());
        fakeDesktop(desktop.path());
        qputenv("PATH", QFile::encodeName(desktop.path() + QStringLiteral("/bin")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(desktop.path() + QStringLiteral("/data")));
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/main.chm");
        writeFile(beside, "ITSF");
        besideProgram = beside;

        const QString opened = desktop.filePath(QStringLiteral("opened.txt"));
        auto openedFile = [&] {
            if (!QTest::qWaitFor([&] { return QFile::exists(opened); }, 4000))
                return QString();
            QFile f(opened);
            const QByteArray name = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
            QFile::remove(opened);
            return QFile::decodeName(name);
        };
        QVERIFY(apptest::clickEnabled(ui(Form1, "ToolButton6")));
        QCOMPARE(openedFile(), beside);

        writeFile(work.filePath(QStringLiteral("main.chm")), "ITSF");
        QVERIFY(apptest::clickEnabled(ui(Form1, "ToolButton6")));
        QCOMPARE(QFileInfo(openedFile()).canonicalFilePath(),
                 QFileInfo(work.filePath(QStringLiteral("main.chm"))).canonicalFilePath());
        QVERIFY(AppMessageBox::shown().isEmpty());
    }

    void aboutShowsTheVersionsAndThePicture()
    {
        const QString version = Form1->VersionText;
        QCOMPARE(Form1->windowTitle(), QStringLiteral("Dalvora ") + version);
        QCOMPARE(ui<QLabel>(frm_About, "Label3")->text(),
                 version + QStringLiteral("\n\nVelkor CO., LTD.\nWeb site: www.velkor.example"));
        QCOMPARE(ui<QLabel>(frm_About, "Label4")->text(), QStringLiteral("ZarfelDLL     Version 1.0.3"));
        QCOMPARE(frm_About->windowTitle(), QStringLiteral("About Dalvora"));
        const QPixmap picture = ui<QLabel>(frm_About, "Image1")->pixmap();
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.size(), QSize(65, 241));

        // The menu item opens it modally; OK closes it, texts kept.
        auto answered = apptest::whenModal([](QWidget *w) { return w == frm_About; },
                                           [](QWidget *) { ui<QPushButton>(frm_About, "Button1")->click(); });
        ui<QAction>(Form1, "AboutDalvora1")->trigger();
        QVERIFY(*answered);
        QCOMPARE(ui<QLabel>(frm_About, "Label4")->text(), QStringLiteral("ZarfelDLL     Version 1.0.3"));
    }

    void aDamagedPictureLeavesTheBoxWithoutOne()
    {
        const auto jpeg = aboutPictureJpeg();
        QVERIFY(!frm_About->setPicture(jpeg.data(), jpeg.size() / 2));
        QVERIFY(ui<QLabel>(frm_About, "Image1")->pixmap().isNull());
        const std::vector<unsigned char> junk(300, 0xFF);
        QVERIFY(!frm_About->setPicture(junk.data(), junk.size()));
        QVERIFY(!frm_About->setPicture(nullptr, 0));
        // The box still opens, with its texts.
        auto answered = apptest::whenModal([](QWidget *w) { return w == frm_About; },
                                           [](QWidget *) { ui<QPushButton>(frm_About, "Button1")->click(); });
        ui<QAction>(Form1, "AboutDalvora1")->trigger();
        QVERIFY(*answered);
        QVERIFY(frm_About->setPicture(jpeg.data(), jpeg.size()));
    }

private:
    QTemporaryDir work;
    QString besideProgram;
};

QTEST_MAIN(HelpAboutTest)
#include "help_about_test.moc"
