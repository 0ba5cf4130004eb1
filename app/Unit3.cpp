#include "Unit3.h"

#include "FormUtils.h"

#include <QKeyEvent>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <climits>

#include "client/Session.h"

namespace {
constexpr int kTimerInterval = 100;
}

TForm3::TForm3(QWidget *parent, zclient::Session &session)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_session(session)
{
    setupUi(this);
    applyDesignFont(this);
    autoSizeLabels(this);
    resize(scaled(471), scaled(134));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimerInterval);

    connect(Timer1, &QTimer::timeout, this, &TForm3::Timer1Timer);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
    FormCreate();
}

TForm3::~TForm3() = default;

void TForm3::SetSearchOptions(uint32_t timeOut, int32_t number)
{
    m_timeOut = timeOut;
    m_number = number;
}

void TForm3::FormCreate()
{
    Timer1->stop();
}

bool TForm3::countMode() const
{
    // A negative number (only from a hand-edited option.ini) sets no limit
    // in the library either, so the bar shows the time instead.
    return m_number > 0;
}

void TForm3::setPosition(qint64 position)
{
    // The bar holds its position within its range, as a value above the
    // maximum reads back as the maximum.
    ProgressBar1->setValue(int(std::clamp<qint64>(position, ProgressBar1->minimum(), ProgressBar1->maximum())));
}

void TForm3::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormActivate();
}

void TForm3::FormActivate()
{
    const qint64 previous = ProgressBar1->value();
    // A time-out beyond the bar's range fills the bar's whole range.
    qint64 maximum = 0;
    if (countMode()) {
        maximum = m_number;
        setLabelText(Label2, QStringLiteral(" / ") + QString::number(maximum));
    } else {
        maximum = std::min<qint64>(qint64(m_timeOut) + kTimerInterval, INT_MAX);
        setLabelText(Label2, QStringLiteral(" / ") + QString::number(m_timeOut) + QStringLiteral(" ms"));
    }
    ProgressBar1->setRange(0, int(maximum));
    setLabelText(Label1, QString::number(std::clamp<qint64>(previous, 0, maximum)));
    ProgressBar1->setValue(0);
    Timer1->start();
    Timer1Tag = 0;
}

void TForm3::Timer1Timer()
{
    Timer1Tag += kTimerInterval;
    setPosition(countMode() ? m_session.count() : Timer1Tag);
    setLabelText(Label4, QString::number(m_session.count()));
    const int position = ProgressBar1->value();
    setLabelText(Label1, QString::number(position));

    if (position == ProgressBar1->maximum() && !m_session.searching()) {
        done(mrCancel);
        return;
    }
    if (qint64(m_timeOut) + kTimerInterval < Timer1Tag && !m_session.searching())
        done(mrCancel);
}

void TForm3::Button2Click()
{
    m_session.stop();
    done(mrIgnore);
}

void TForm3::done(int result)
{
    // A hidden dialog has nothing left to poll.
    Timer1->stop();
    QDialog::done(result);
}

void TForm3::reject()
{
    // The close box ends the dialog like the timer does: no stop request.
    done(mrCancel);
}

void TForm3::keyPressEvent(QKeyEvent *event)
{
    // The dialog has no cancel button, so Escape does not close it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
