#include "AppMessageBox.h"

#include <QApplication>
#include <QWidget>

namespace {

struct State {
    QList<QMessageBox::StandardButton> answers;
    QList<AppMessageBox::Shown> shown;
    int beeps = 0;
};

State &state()
{
    static State s;
    return s;
}

} // namespace

QMessageBox::StandardButton AppMessageBox::show(QWidget *parent, const QString &title,
                                                const QString &text, QMessageBox::Icon icon,
                                                QMessageBox::StandardButtons buttons)
{
    state().shown.append({title, text, icon, buttons});
    if (!state().answers.isEmpty())
        return state().answers.takeFirst();

    QMessageBox box(icon, title, text, buttons, parent);
    box.setObjectName(QStringLiteral("AppMessageBox"));
    const int answer = box.exec();
    return static_cast<QMessageBox::StandardButton>(answer);
}

void AppMessageBox::error(QWidget *parent, const QString &text)
{
    show(parent, QStringLiteral("Error"), text, QMessageBox::Critical, QMessageBox::Ok);
}

void AppMessageBox::beep()
{
    ++state().beeps;
    QApplication::beep();
}

void AppMessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    state().answers.append(answer);
}

QList<AppMessageBox::Shown> AppMessageBox::shown()
{
    return state().shown;
}

int AppMessageBox::beeps()
{
    return state().beeps;
}

void AppMessageBox::reset()
{
    state() = State{};
}
