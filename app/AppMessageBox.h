// The one way the program shows message boxes and sounds the beep, so that
// every box has the same look and tests can answer boxes and observe what
// was shown without a real modal window.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

class AppMessageBox
{
public:
    struct Shown {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };

    // Shows a modal box and returns the button that closed it. Runs on the
    // user-interface thread only.
    static QMessageBox::StandardButton show(QWidget *parent, const QString &title, const QString &text,
                                            QMessageBox::Icon icon,
                                            QMessageBox::StandardButtons buttons = QMessageBox::Ok);
    // The standard input-error box: title "Error", error icon, OK.
    static void error(QWidget *parent, const QString &text);
    // The default system beep.
    static void beep();

    // Test hooks. A queued answer is taken by the next box instead of showing
    // it; every box is recorded whether shown or answered.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    static QList<Shown> shown();
    static int beeps();
    static void reset();
};
