#include "AppFileDialog.h"

#include <QFileDialog>

#include <optional>

namespace {

struct State {
    std::optional<QString> answer;
    QString caption;
};

State &state()
{
    static State s;
    return s;
}

} // namespace

QString AppFileDialog::saveFileName(QWidget *parent, const QString &caption, const QString &suggested,
                                    const QString &filter)
{
    state().caption = caption;
    if (state().answer) {
        const QString path = *state().answer;
        state().answer.reset();
        return path;
    }
    return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
}

QString AppFileDialog::openFileName(QWidget *parent, const QString &caption, const QString &filter)
{
    state().caption = caption;
    if (state().answer) {
        const QString path = *state().answer;
        state().answer.reset();
        return path;
    }
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

void AppFileDialog::setNextAnswer(const QString &path)
{
    state().answer = path;
}

QString AppFileDialog::lastCaption()
{
    return state().caption;
}

void AppFileDialog::reset()
{
    state() = State{};
}
