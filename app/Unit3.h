// Search progress dialog: polls the library every 100 ms while it collects
// replies, and closes when the search is over or the operator stops it.
#pragma once

#include <QDialog>

#include <cstdint>

#include "ui_Unit3.h"

class QTimer;
namespace zclient {
class Session;
}

class TForm3 : public QDialog, private Ui::TForm3
{
    Q_OBJECT

public:
    // `session` is the search it follows.
    TForm3(QWidget *parent, zclient::Session &session);
    ~TForm3() override;

    // The search's time-out in milliseconds and wished number of results
    // (0 or less: none), given before each showing.
    void SetSearchOptions(uint32_t timeOut, int32_t number);

    QTimer *Timer1 = nullptr;
    // Elapsed time of the running search in milliseconds, counted in ticks.
    qint64 Timer1Tag = 0;

    // Event handlers.
    void FormCreate();
    void FormActivate();
    void Timer1Timer();
    void Button2Click();

    // Ends the dialog; the stop (mrIgnore) and every other end (mrCancel)
    // are the two outcomes the search command tells apart.
    void done(int result) override;
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool countMode() const;
    void setPosition(qint64 position);

    zclient::Session &m_session;
    uint32_t m_timeOut = 2000;
    int32_t m_number = 0;
};
