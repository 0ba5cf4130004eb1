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
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <vector>

namespace {

const QString kAssociation = QStringLiteral(
    "The file name association is incomplete or invalid. "
    "There is no application associated with the given file name extension.");

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
        AppMessageBox::reset();
    }

    void helpWithoutTheFileSaysSo()
    {
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(apptest::clickEnabled(Form1->ToolButton6));
        const auto shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("Fehler"));
        QCOMPARE(shown[0].text, QStringLiteral("The specified file was not found."));
        QCOMPARE(shown[0].icon, QMessageBox::Warning);
        QCOMPARE(shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void helpWithTheFileButNoViewer()
    {
        QFile chm(work.filePath(QStringLiteral("main.chm")));
        QVERIFY(chm.open(QIODevice::WriteOnly));
        chm.write("ITSF");
        chm.close();
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(apptest::clickEnabled(Form1->ToolButton6));
        // "Help Contents" behaves exactly like the button.
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        Form1->DalvoraHelp1->trigger();
        const auto shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 2);
        for (const auto &box : shown) {
            QCOMPARE(box.title, QStringLiteral("Fehler"));
            QCOMPARE(box.text, kAssociation);
        }
    }

    void aboutShowsTheVersionsAndThePicture()
    {
        const QString version = Form1->VersionText;
        QCOMPARE(Form1->windowTitle(), QStringLiteral("Dalvora ") + version);
        QCOMPARE(frm_About->Label3->text(),
                 version + QStringLiteral("\n\nVelkor CO., LTD.\nWeb site: www.velkor.example"));
        QCOMPARE(frm_About->Label4->text(), QStringLiteral("ZarfelDLL     Version 1.0.3"));
        QCOMPARE(frm_About->windowTitle(), QStringLiteral("About Dalvora"));
        const QPixmap picture = frm_About->Image1->pixmap();
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.size(), QSize(65, 241));

        // The menu item opens it modally; OK closes it, texts kept.
        auto answered = apptest::whenModal([](QWidget *w) { return w == frm_About; },
                                           [](QWidget *) { frm_About->Button1->click(); });
        Form1->AboutDalvora1->trigger();
        QVERIFY(*answered);
        QCOMPARE(frm_About->Label4->text(), QStringLiteral("ZarfelDLL     Version 1.0.3"));
    }

    void aDamagedPictureLeavesTheBoxWithoutOne()
    {
        const auto jpeg = aboutPictureJpeg();
        QVERIFY(!frm_About->setPicture(jpeg.data(), jpeg.size() / 2));
        QVERIFY(frm_About->Image1->pixmap().isNull());
        const std::vector<unsigned char> junk(300, 0xFF);
        QVERIFY(!frm_About->setPicture(junk.data(), junk.size()));
        QVERIFY(!frm_About->setPicture(nullptr, 0));
        // The box still opens, with its texts.
        auto answered = apptest::whenModal([](QWidget *w) { return w == frm_About; },
                                           [](QWidget *) { frm_About->Button1->click(); });
        Form1->AboutDalvora1->trigger();
        QVERIFY(*answered);
        QVERIFY(frm_About->setPicture(jpeg.data(), jpeg.size()));
    }

private:
    QTemporaryDir work;
};

QTEST_MAIN(HelpAboutTest)
#include "help_about_test.moc"
