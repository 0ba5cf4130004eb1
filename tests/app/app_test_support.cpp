#include "app_test_support.h"

#include "Forms.h"
#include "Unit1.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QElapsedTimer>

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

std::unique_ptr<modsim::ModuleSimulator> startSimulator(std::vector<modsim::ModuleSpec> modules)
{
    modsim::SimulatorOptions options;
    options.modules = std::move(modules);
    auto simulator = std::make_unique<modsim::ModuleSimulator>(std::move(options));
    std::string error;
    if (!simulator->start(&error)) {
        qWarning("simulator: %s", error.c_str());
        return nullptr;
    }
    return simulator;
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

} // namespace apptest
