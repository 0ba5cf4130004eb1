// The main window at start-up, with and without the library, the windows it
// creates, Clear, and how it closes.
#include "app_test_support.h"

#include "About.h"
#include "AppMessageBox.h"
#include "Autoset.h"
#include "Configuration.h"
#include "Forms.h"
#include "LibraryMessages.h"
#include "StringGrid.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"

#include <QApplication>
#include <QHash>
#include <QImage>
#include <QPalette>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QListWidget>
#include <QProcess>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QToolButton>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <future>
#include <thread>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using apptest::logLines;
using apptest::ui;

namespace {

const QString kCaption = QStringLiteral("Dalvora Version 1.0.5 (13, November, 2006)");

#ifdef _WIN32
using PortHolder = SOCKET;
const PortHolder kNoHolder = INVALID_SOCKET;
void release(PortHolder holder) { ::closesocket(holder); }
#else
using PortHolder = int;
const PortHolder kNoHolder = -1;
void release(PortHolder holder) { ::close(holder); }
#endif

// A UDP socket holding the reply port, as another program would.
PortHolder holdUdpPort(uint16_t port)
{
#ifdef _WIN32
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return kNoHolder;
#endif
    const PortHolder fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd != kNoHolder && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd != kNoHolder)
        release(fd);
    return kNoHolder;
}

// How the library words "address in use" after its explanation.
QString addressInUseText()
{
#ifdef _WIN32
    return QStringLiteral("(error %1)").arg(WSAEADDRINUSE);
#else
    return QString::fromLatin1(std::strerror(EADDRINUSE));
#endif
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        AppMessageBox::reset();
        apptest::removeOptionFile();
    }
    void cleanup()
    {
        apptest::stopProgram();
        AppMessageBox::reset();
        apptest::removeOptionFile();
    }

    void startsWithItsSixWindowsAndLayout()
    {
        QVERIFY(apptest::startProgram());
        QVERIFY(AppMessageBox::shown().isEmpty());

        QCOMPARE(Form1->windowTitle(), kCaption);
        QCOMPARE(Form1->VersionText, QStringLiteral("Version 1.0.5 (13, November, 2006)"));
        // Designed size, which the operator may enlarge but not shrink.
        QCOMPARE(Form1->size(), QSize(680, 403));
        QCOMPARE(Form1->minimumSize(), QSize(680, 403));
        QVERIFY(Form1->maximumSize().width() > 680 && Form1->maximumSize().height() > 403);
        QVERIFY(Form1->windowFlags() & Qt::WindowMaximizeButtonHint);
        QVERIFY(Form1->windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(Form1->Tag, 0);
        QCOMPARE(Form1->SearchTimeOut, 2000u);
        QCOMPARE(Form1->SearchNumber, 0);

        // Every component carries its name.
        const struct {
            QWidget *window;
            QString name;
            QStringList components;
        } named[] = {
            {Form1, QStringLiteral("Form1"),
             {"CoolBar1", "ToolBar1", "ToolButton1", "ToolButton2", "ToolButton3", "ToolButton4", "ToolButton5",
              "ToolButton6", "PopupMenu1", "pmenuSet", "pmenuAutoSet", "PopupMenuHelp", "DalvoraHelp1",
              "AboutDalvora1", "StringGrid1", "ListBox1", "StatusBar1"}},
            {Form3, QStringLiteral("Form3"),
             {"Label1", "Label2", "Label3", "Label4", "ProgressBar1", "Button2", "Timer1"}},
            {frm_Configuration, QStringLiteral("frm_Configuration"),
             {"Label1", "Label2", "Label3", "Label4", "edit_TimeOut", "edit_WishNumber", "UpDown1", "btnSet",
              "Button1"}},
            {Form2, QStringLiteral("Form2"), {}},
            {frm_AutoSet, QStringLiteral("frm_AutoSet"), {}},
            {frm_About, QStringLiteral("frm_About"), {}},
        };
        for (const auto &window : named) {
            QCOMPARE(window.window->objectName(), window.name);
            for (const QString &component : window.components)
                QVERIFY2(window.window->findChild<QObject *>(component), qPrintable(component));
        }

        // Tool bar: order, sizes, captions, images, menus and blue captions.
        QCOMPARE(ui(Form1, "CoolBar1")->geometry(), QRect(0, 0, 680, 57));
        QToolButton *const configuration = ui<QToolButton>(Form1, "ToolButton2");
        QToolButton *const help = ui<QToolButton>(Form1, "ToolButton6");
        const QList<QToolButton *> order = {ui<QToolButton>(Form1, "ToolButton3"), configuration,
                                            ui<QToolButton>(Form1, "ToolButton4"), ui<QToolButton>(Form1, "ToolButton1"),
                                            help, ui<QToolButton>(Form1, "ToolButton5")};
        const QStringList captions = {QStringLiteral("&Search"), QStringLiteral("&Configuration"),
                                      QStringLiteral("Clea&r"),  QStringLiteral("&Options"),
                                      QStringLiteral("&Help"),   QStringLiteral("E&xit")};
        int left = -1;
        for (int i = 0; i < order.size(); ++i) {
            QToolButton *button = order[i];
            const bool dropDown = button == configuration || button == help;
            QCOMPARE(button->text(), captions[i]);
            QCOMPARE(button->size(), QSize(dropDown ? 88 : 75, 50));
            QCOMPARE(button->iconSize(), QSize(32, 30));
            QVERIFY(!button->icon().isNull());
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
            QVERIFY(button->autoRaise());
            QCOMPARE(button->popupMode(), dropDown ? QToolButton::MenuButtonPopup : QToolButton::DelayedPopup);
            QCOMPARE(button->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::blue));
            QVERIFY(button->x() > left);
            left = button->x();
        }
        QCOMPARE(configuration->menu(), ui<QMenu>(Form1, "PopupMenu1"));
        QCOMPARE(ui<QMenu>(Form1, "PopupMenu1")->actions().size(), 2);
        QCOMPARE(ui<QAction>(Form1, "pmenuSet")->text(), QStringLiteral("Set single module"));
        QCOMPARE(ui<QAction>(Form1, "pmenuAutoSet")->text(), QStringLiteral("Set multiple modules"));
        QCOMPARE(help->menu(), ui<QMenu>(Form1, "PopupMenuHelp"));
        QCOMPARE(ui<QAction>(Form1, "DalvoraHelp1")->text(), QStringLiteral("Help Contents"));
        QCOMPARE(ui<QAction>(Form1, "AboutDalvora1")->text(), QStringLiteral("About Dalvora"));
        QVERIFY(ui(Form1, "ToolButton3")->isEnabled());
        QVERIFY(!configuration->isEnabled());
        for (const char *always : {"ToolButton4", "ToolButton1", "ToolButton6", "ToolButton5"})
            QVERIFY2(ui(Form1, always)->isEnabled(), always);

        // Result grid: 10 columns, the title row and two empty rows.
        TStringGrid *grid = apptest::grid();
        // As wide as the window, so that its scroll bar shows whole.
        QCOMPARE(grid->geometry(), QRect(0, 64, 680, 201));
        QCOMPARE(grid->columnCount(), 10);
        QCOMPARE(grid->RowCount(), 3);
        const int widths[] = {50, 70, 86, 62, 92, 94, 92, 98, 67, 67};
        const QStringList titles = {QStringLiteral("NO"), QStringLiteral("NAME"), QStringLiteral("ALIAS"),
                                    QStringLiteral("DHCP"), QStringLiteral("IP"), QStringLiteral("MASK"),
                                    QStringLiteral("GATEWAY"), QStringLiteral("MAC"), QString(), QString()};
        for (int column = 0; column < 10; ++column) {
            QCOMPARE(grid->ColWidth(column), widths[column]);
            QCOMPARE(grid->ColumnTitle(column), titles[column]);
            QCOMPARE(Form1->GetDalvora_Item(column), titles[column]);
        }
        QCOMPARE(grid->horizontalHeader()->height(), 24);
        QCOMPARE(grid->rowHeight(0), 24);
        QCOMPARE(grid->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        QCOMPARE(grid->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

        // Log and status bar.
        QCOMPARE(apptest::logList()->geometry(), QRect(0, 272, 680, 81));
        QCOMPARE(apptest::logList()->count(), 0);
        QCOMPARE(ui(Form1, "StatusBar1")->geometry(), QRect(0, 377, 680, 26));
        QCOMPARE(apptest::statusPanel(0)->width(), 100);
        QCOMPARE(apptest::statusPanel(1)->width(), 50);
        QVERIFY(apptest::statusPanel(0)->text().isEmpty());

        // The other five windows, created once, hidden, with their captions
        // and sizes; four of them centred on the screen.
        QVERIFY(Form3 && Form2 && frm_Configuration && frm_AutoSet && frm_About);
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const struct {
            QWidget *window;
            QString caption;
            QSize size;
            bool centred;
        } windows[] = {
            {Form3, QStringLiteral("Search Progress"), {471, 134}, true},
            {Form2, QStringLiteral("Configuration"), {439, 287}, true},
            {frm_Configuration, QStringLiteral("Options"), {280, 263}, false},
            {frm_AutoSet, QStringLiteral("Auto Configuration"), {648, 440}, true},
            {frm_About, QStringLiteral("About Dalvora"), {289, 256}, true},
        };
        for (const auto &w : windows) {
            QVERIFY(!w.window->isVisible());
            QCOMPARE(w.window->windowTitle(), w.caption);
            QCOMPARE(w.window->size(), w.size);
            if (w.centred) {
                const QSize outer = w.window->frameGeometry().size();
                QCOMPARE(w.window->pos(), QPoint(screen.width() / 2 - outer.width() / 2,
                                                 screen.height() / 2 - outer.height() / 2));
            }
        }
        QCOMPARE(frm_Configuration->pos(), QPoint(380, 116));
    }

    // A widget reached by a name its window no longer has, has twice or
    // gives to another kind of widget stops the run there, naming it,
    // instead of crashing later on a null pointer or passing on the wrong
    // widget. Each case runs in a child process, which it ends.
    void widgetLookupStopsOnAMissingAmbiguousOrMistypedName()
    {
        const QByteArray probe = qgetenv("APP_LOOKUP_PROBE");
        if (!probe.isEmpty()) {
            QWidget window;
            window.setObjectName(QStringLiteral("Probe"));
            (new QLabel(&window))->setObjectName(QStringLiteral("Twice"));
            (new QLabel(new QWidget(&window)))->setObjectName(QStringLiteral("Twice"));
            (new QLabel(&window))->setObjectName(QStringLiteral("Caption"));
            QCOMPARE(ui<QLabel>(&window, "Caption")->parent(), &window);
            if (probe == "missing")
                ui(&window, "Gone");
            else if (probe == "twice")
                ui(&window, "Twice");
            else
                ui<QToolButton>(&window, "Caption");
            QFAIL("the lookup returned");
        }
        const struct {
            const char *probe;
            const char *said;
        } cases[] = {
            {"missing", "Probe has nothing named Gone"},
            {"twice", "Probe has more than one object named Twice"},
            {"mistyped", "Probe: Caption is a QLabel, not a QToolButton"},
        };
        for (const auto &c : cases) {
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("APP_LOOKUP_PROBE"), QString::fromLatin1(c.probe));
            environment.insert(QStringLiteral("QTEST_DISABLE_STACK_DUMP"), QStringLiteral("1"));
            environment.insert(QStringLiteral("QTEST_DISABLE_CORE_DUMP"), QStringLiteral("1"));
            QStringList arguments{QStringLiteral("widgetLookupStopsOnAMissingAmbiguousOrMistypedName")};
#ifdef _WIN32
            // Without a console Qt logs to the debugger, and the platform
            // comes from the command line only.
            environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
            arguments << QStringLiteral("-platform") << QStringLiteral("offscreen");
#endif
            child.setProcessEnvironment(environment);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QCoreApplication::applicationFilePath(), arguments);
            QVERIFY(child.waitForFinished(30000));
            const QByteArray said = child.readAll();
            QVERIFY2(child.exitStatus() == QProcess::CrashExit || child.exitCode() != 0, said.constData());
            QVERIFY2(said.contains(c.said), said.constData());
        }
    }

    void libraryThatCannotStartLeavesSearchDisabled()
    {
        // Another program holds the reply port: the library reports its own
        // failure and the program runs on without the search command.
        const PortHolder holder = holdUdpPort(54321);
        QVERIFY(holder != kNoHolder);
        apptest::writeOptionFile("[option]\nSNumber=6\nSTimeOut=1500\n");
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        const bool started = apptest::startProgram();
        release(holder);
        QVERIFY(started);

        const auto shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral("bind() failed"));
        QCOMPARE(shown[0].title, libraryMessageTitle());
        QCOMPARE(shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        // The log says what the box cannot: who holds the port, and why.
        const QStringList said = logLines();
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].startsWith(QStringLiteral("Reply port 54321 is held by another program, probably a second "
                                                   "copy of this one: ")) &&
                     said[0].contains(addressInUseText()),
                 qPrintable(said[0]));

        QVERIFY(!ui(Form1, "ToolButton3")->isEnabled());
        QVERIFY(!ui(Form1, "ToolButton2")->isEnabled());
        QCOMPARE(Form1->windowTitle(), kCaption);
        QCOMPARE(apptest::grid()->ColWidth(0), 50);
        QCOMPARE(apptest::grid()->ColWidth(7), 98);
        // The options dialog still loads the saved options.
        QCOMPARE(Form1->SearchNumber, 6);
        QCOMPARE(Form1->SearchTimeOut, 1500u);
        for (const char *usable : {"ToolButton4", "ToolButton1", "ToolButton6", "ToolButton5"})
            QVERIFY2(ui(Form1, usable)->isEnabled(), usable);

        // The Search button stays disabled for the whole run.
        QVERIFY(apptest::clickNamed(Form1, "ToolButton4"));
        QVERIFY(!ui(Form1, "ToolButton3")->isEnabled());
        QVERIFY(apptest::clickNamed(Form1, "ToolButton5"));
        QVERIFY(!Form1->isVisible());
        QCOMPARE(logLines(), said + QStringList{QStringLiteral("Exit")});
    }

    void exitWritesItsLineAndClosesTheLibrary()
    {
        QVERIFY(apptest::startProgram());
        QVERIFY(holdUdpPort(54321) == kNoHolder); // the library holds the reply port

        QVERIFY(apptest::clickNamed(Form1, "ToolButton5"));
        QVERIFY(!Form1->isVisible());
        QCOMPARE(logLines(), QStringList{QStringLiteral("Exit")});
        const PortHolder fd = holdUdpPort(54321);
        QVERIFY2(fd != kNoHolder, "the library released the reply port");
        release(fd);
    }

    void closeBoxClosesTheLibraryWithoutExitLine()
    {
        QVERIFY(apptest::startProgram());
        Form1->close();
        QVERIFY(!Form1->isVisible());
        QVERIFY(logLines().isEmpty());
        const PortHolder fd = holdUdpPort(54321);
        QVERIFY2(fd != kNoHolder, "the library released the reply port");
        release(fd);
    }

    void exitAcceleratorWorks()
    {
        QVERIFY(apptest::startProgram());
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        QTest::keyClick(Form1, Qt::Key_X, Qt::AltModifier);
        QTRY_VERIFY(!Form1->isVisible());
        QCOMPARE(logLines(), QStringList{QStringLiteral("Exit")});
    }

    void libraryMessagesAreShownOnTheInterfaceThreadWithoutHoldingTheRaiser()
    {
        QVERIFY(apptest::startProgram());
        const ZarfelMessageHandler handler = libraryMessageHandler();

        // Raised on the user-interface thread: shown there at once.
        AppMessageBox::setNextAnswer(QMessageBox::Ok);
        handler("Windows Sockets can not be closed.");
        QCOMPARE(AppMessageBox::shown().size(), 1);

        // Raised on the library's receive thread while the window thread is
        // in Zarfel_Close, waiting for that thread without processing
        // events: the raiser must return by itself, and the box follows on
        // the window thread.
        auto raised = std::async(std::launch::async, [&] { handler("Socket Error: 10, Test !!"); });
        const bool joined = raised.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
        if (!joined) {
            // Let the stuck raiser go, so that the failure ends the test.
            AppMessageBox::setNextAnswer(QMessageBox::Ok);
            QCoreApplication::processEvents();
        }
        QVERIFY2(joined, "the raising thread waited for the window thread, which was waiting for it");
        QCOMPARE(AppMessageBox::shown().size(), 1);
        auto answered = apptest::whenModal([](QWidget *w) { return qobject_cast<QMessageBox *>(w) != nullptr; },
                                           [](QWidget *box) {
                                               auto *messageBox = qobject_cast<QMessageBox *>(box);
                                               QTest::mouseClick(messageBox->button(QMessageBox::Ok), Qt::LeftButton);
                                           });
        QTRY_VERIFY_WITH_TIMEOUT(*answered, 20000);

        const auto shown = AppMessageBox::shown();
        QCOMPARE(shown.size(), 2);
        for (const auto &box : shown) {
            QCOMPARE(box.title, libraryMessageTitle());
            QCOMPARE(box.icon, QMessageBox::Warning);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        QCOMPARE(shown[0].text, QStringLiteral("Windows Sockets can not be closed."));
        QCOMPARE(shown[1].text, QStringLiteral("Socket Error: 10, Test !!"));
    }

    void clearEmptiesTheGridOnly()
    {
        QVERIFY(apptest::startProgram());
        TStringGrid *grid = apptest::grid();
        // Rows as a search leaves them.
        for (int n = 1; n <= 2; ++n) {
            for (int column = 0; column < 8; ++column)
                grid->SetCells(column, n, QStringLiteral("%1-%2").arg(n).arg(column));
            grid->SetRowCount(grid->RowCount() + 1);
        }
        grid->MoveRow(2, 1);
        apptest::logList()->addItem(QStringLiteral("Search..."));
        apptest::statusPanel(0)->setText(QStringLiteral("Search complete"));
        Form1->Tag = 2;
        ui(Form1, "ToolButton2")->setEnabled(true);

        QVERIFY(apptest::clickNamed(Form1, "ToolButton4"));
        QCOMPARE(grid->RowCount(), 3);
        for (int row = 1; row < 3; ++row) {
            QCOMPARE(grid->VisualRow(row), row);
            for (int column = 0; column < 10; ++column)
                QVERIFY(grid->Cells(column, row).isEmpty());
        }
        QVERIFY(!ui(Form1, "ToolButton2")->isEnabled());
        QCOMPARE(logLines(), QStringList{QStringLiteral("Search...")});
        QCOMPARE(apptest::statusPanel(0)->text(), QStringLiteral("Search complete"));
        QCOMPARE(Form1->Tag, 2);
    }

    // Title row and fixed column under a dark palette: their text must stand
    // out from their background by the usual 4.5:1 of readable text.
    void fixedCellsAreReadableUnderADarkPalette()
    {
        const QPalette saved = QApplication::palette();
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(53, 53, 53));
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Base, QColor(35, 35, 35));
        dark.setColor(QPalette::Text, Qt::white);
        dark.setColor(QPalette::Button, QColor(53, 53, 53));
        dark.setColor(QPalette::ButtonText, Qt::white);
        dark.setColor(QPalette::Mid, QColor(80, 80, 80));
        QApplication::setPalette(dark);
        QVERIFY(apptest::startProgram());
        TStringGrid *grid = apptest::grid();
        grid->SetCells(0, 1, QStringLiteral("1"));

        QHeaderView *top = grid->horizontalHeader();
        const QImage titles = top->grab().toImage();
        const QRect name(top->sectionViewportPosition(1), 0, top->sectionSize(1), top->height());
        const double titleContrast = textContrast(titles, name.adjusted(2, 2, -2, -2));
        const QImage cells = grid->viewport()->grab().toImage();
        const double cellContrast = textContrast(cells, grid->visualRect(grid->model()->index(0, 0)).adjusted(1, 1, -1, -1));
        QApplication::setPalette(saved);
        QVERIFY2(titleContrast >= 4.5, qPrintable(QString::number(titleContrast)));
        QVERIFY2(cellContrast >= 4.5, qPrintable(QString::number(cellContrast)));
    }

private:
    // WCAG contrast of the text in `area` of `image` against its background:
    // the background is the area's most frequent colour, the text its pixel
    // farthest from that in luminance. 1 when the area shows no text.
    static double textContrast(const QImage &image, const QRect &area)
    {
        auto luminance = [](QRgb rgb) {
            auto channel = [](int v) {
                const double c = v / 255.0;
                return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) + 0.0722 * channel(qBlue(rgb));
        };
        QHash<QRgb, int> counts;
        const QRect inside = area.intersected(image.rect());
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                ++counts[image.pixel(x, y)];
        if (counts.isEmpty())
            return 1.0;
        QRgb background = counts.constBegin().key();
        for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
            if (it.value() > counts.value(background))
                background = it.key();
        const double lb = luminance(background);
        double best = 1.0;
        for (auto it = counts.constBegin(); it != counts.constEnd(); ++it) {
            const double l = luminance(it.key());
            best = std::max(best, (std::max(l, lb) + 0.05) / (std::min(l, lb) + 0.05));
        }
        return best;
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
