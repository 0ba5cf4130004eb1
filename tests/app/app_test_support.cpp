#include "app_test_support.h"

#include "Forms.h"
#include "Unit1.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QElapsedTimer>
#include <QThread>

namespace apptest {

QString optionFilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/option.ini");
}

void writeOptionFile(const QByteArray &contents)
{
    QFile file(optionFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
        qWarning("cannot write %s", qPrintable(optionFilePath()));
}

void removeOptionFile()
{
    QFile::remove(optionFilePath());
}

QByteArray readOptionFile()
{
    QFile file(optionFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool startProgram()
{
    QApplication::setQuitOnLastWindowClosed(false);
    createApplicationForms();
    Form1->show();
    return QTest::qWaitForWindowExposed(Form1);
}

void stopProgram()
{
    if (Form1 && Form1->isVisible())
        Form1->close();
    destroyApplicationForms();
}

bool clickEnabled(QWidget *widget)
{
    if (!widget) {
        qWarning("clickEnabled: no widget");
        return false;
    }
    if (!widget->isVisible() || !widget->isEnabled()) {
        qWarning("clickEnabled: %s is %s", qPrintable(widget->objectName()),
                 widget->isVisible() ? "disabled" : "hidden");
        return false;
    }
    QTest::mouseClick(widget, Qt::LeftButton);
    return true;
}

bool clickNamed(QWidget *window, const char *name)
{
    QWidget *widget = window ? window->findChild<QWidget *>(QString::fromLatin1(name)) : nullptr;
    if (!widget) {
        qWarning("clickNamed: no widget named %s", name);
        return false;
    }
    return clickEnabled(widget);
}

bool search(int expected)
{
    if (!clickNamed(Form1, "ToolButton3"))
        return false;
    if (expected >= 0 && Form1->Tag != expected)
        qWarning("the search listed %d modules, not %d", Form1->Tag, expected);
    return expected < 0 || Form1->Tag == expected;
}

QPoint cellCentre(const TStringGrid *grid, int visualRow, int column)
{
    const QHeaderView *side = grid->verticalHeader();
    const int y = side->sectionViewportPosition(side->logicalIndex(visualRow - 1)) + side->defaultSectionSize() / 2;
    return QPoint(grid->columnViewportPosition(column) + grid->columnWidth(column) / 2, y);
}

void drag(QWidget *surface, QPoint from, QPoint to)
{
    QTest::mousePress(surface, Qt::LeftButton, {}, from);
    for (int i = 1; i <= 10; ++i) {
        const QPoint at = from + (to - from) * i / 10;
        QMouseEvent move(QEvent::MouseMove, at, surface->mapToGlobal(at), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(surface, &move);
    }
    QTest::mouseRelease(surface, Qt::LeftButton, {}, to);
}

std::shared_ptr<bool> whenModal(std::function<bool(QWidget *)> match, std::function<void(QWidget *)> action,
                                int limitMs)
{
    auto done = std::make_shared<bool>(false);
    auto *timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && match(modal)) {
            timer->stop();
            timer->deleteLater();
            *done = true;
            action(modal);
        } else if (clock->elapsed() > limitMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
    return done;
}

std::shared_ptr<bool> whenModalFor(QWidget *modal, int delayMs, std::function<void(QWidget *)> action,
                                   int limitMs)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QPointer<QWidget> target(modal);
    return whenModal([=](QWidget *w) { return w == target && clock->elapsed() >= delayMs; }, std::move(action),
                     limitMs);
}

modsim::ModuleSpec module(std::size_t index, const std::string &name, const std::string &alias, int dhcp,
                          const std::string &behaviour)
{
    modsim::ModuleSpec desc = modsim::default_module(index);
    desc.name = name;
    desc.alias = alias;
    desc.dhcp = dhcp;
    std::string error;
    if (!modsim::parse_behaviour(behaviour, desc.behave, error))
        qWarning("bad behaviour %s: %s", behaviour.c_str(), error.c_str());
    return desc;
}

std::unique_ptr<modsim::ModuleSimulator> startSimulator(std::vector<modsim::ModuleSpec> modules,
                                                        const QString &logPath)
{
    modsim::SimulatorOptions options;
    options.modules = std::move(modules);
    options.log_path = logPath.toStdString();
    // Modules answer from their own addresses, as on a plant: the library
    // credits an acknowledgement only from the module's reported or given
    // address. Only in a namespace of the test's own, never on the
    // machine's network.
    const bool laidOut = qEnvironmentVariable("DALVORA_IN_NETNS") == QLatin1String("1");
#ifdef _WIN32
    // Windows sends from the socket's address only.
    options.own_source = false;
#else
    options.own_source = laidOut || !qEnvironmentVariableIsEmpty("TESTLAN_ID");
#endif
    if (options.own_source && laidOut) {
        // The layout's veth pair would hand each such broadcast back a second
        // time through the peer; strict reverse-path filtering drops that copy.
        QFile filter(QStringLiteral("/proc/sys/net/ipv4/conf/all/rp_filter"));
        if (!filter.open(QIODevice::WriteOnly) || filter.write("1\n") != 2) {
            qWarning("cannot turn on reverse-path filtering: modules answer from the host's address");
            options.own_source = false;
        }
    }
    auto simulator = std::make_unique<modsim::ModuleSimulator>(std::move(options));
    std::string error;
    if (!simulator->start(&error)) {
        qWarning("simulator: %s", error.c_str());
        return nullptr;
    }
    return simulator;
}

QStringList configRequests(const QString &logPath)
{
    QFile log(logPath);
    QStringList requests;
    if (!log.open(QIODevice::ReadOnly))
        return requests;
    while (!log.atEnd()) {
        const QStringList fields = QString::fromLatin1(log.readLine()).trimmed().split(QLatin1Char(' '));
        if (fields.size() >= 5 && fields.at(1) == QLatin1String("RX")
            && fields.at(4).startsWith(QLatin1String("VELKORQZ510,01,")))
            requests << fields.mid(4).join(QLatin1Char(' '));
    }
    return requests;
}

bool onTestLan()
{
    if (qEnvironmentVariableIsEmpty("TESTLAN_ID"))
        return false;
    QFile id(qEnvironmentVariable("APP_LAN_ID_FILE"));
    if (id.open(QIODevice::WriteOnly))
        id.write(qgetenv("TESTLAN_ID"));
    return true;
}

QString testLanFile(const QString &name)
{
    return QDir(qEnvironmentVariable("TESTLAN_DIR")).filePath(name);
}

QString netnsLayout()
{
    return qEnvironmentVariable("HOSTNET_LAYOUT");
}

bool ip(const QStringList &arguments)
{
#ifdef _WIN32
    // Under Wine, which starts a Linux program but neither waits for it
    // nor reports its exit status: a shell writes the status to a file
    // beside the test program (drive Z: is the Linux root).
    const QString status = QCoreApplication::applicationDirPath() + QStringLiteral("/ip.status");
    QFile::remove(status);
    if (!status.startsWith(QLatin1String("Z:/"))
        || !QProcess::startDetached(
            QStringLiteral("Z:/bin/sh"),
            QStringList{QStringLiteral("-c"), QStringLiteral("ip \"$@\"; echo $? >\"$0.new\"; mv \"$0.new\" \"$0\""),
                        status.mid(2)}
                + arguments)) {
        qWarning("cannot run ip from %s", qPrintable(status));
        return false;
    }
    QByteArray said;
    QElapsedTimer clock;
    clock.start();
    QFile file(status);
    while (!file.open(QIODevice::ReadOnly) && clock.elapsed() < 30000)
        QThread::msleep(20);
    said = file.readAll().trimmed();
    file.close();
    QFile::remove(status);
    if (said != "0")
        qWarning("ip %s: %s", qPrintable(arguments.join(QLatin1Char(' '))),
                 said.isEmpty() ? "no exit status" : said.constData());
    return said == "0";
#else
    return QProcess::execute(QStringLiteral("ip"), arguments) == 0;
#endif
}

} // namespace apptest
