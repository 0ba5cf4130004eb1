#include "Contrast.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>

namespace contrast {

namespace {

double luminance(const QColor &colour)
{
    const auto channel = [](float value) {
        const double c = double(value);
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

bool readableOn(const QColor &colour, const QList<QColor> &against)
{
    return std::all_of(against.begin(), against.end(),
                       [&](const QColor &other) { return ratio(colour, other) >= kReadable; });
}

// Runs the window's colouring once the whole application has taken the new
// palette: widgets learn of it one by one, in no set order.
class PaletteFollower : public QObject
{
public:
    PaletteFollower(QWidget *window, std::function<void()> apply)
        : QObject(window), m_apply(std::move(apply))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ApplicationPaletteChange && !m_pending) {
            m_pending = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    m_pending = false;
                    m_apply();
                },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_apply;
    bool m_pending = false;
};

} // namespace

double ratio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readable(const QColor &wanted, const QList<QColor> &against, const QColor &fallback)
{
    if (readableOn(wanted, against))
        return wanted;
    if (readableOn(fallback, against))
        return fallback;
    const auto worst = [&](const QColor &colour) {
        double least = 21.0;
        for (const QColor &other : against)
            least = std::min(least, ratio(colour, other));
        return least;
    };
    const QColor black(Qt::black);
    const QColor white(Qt::white);
    return worst(black) >= worst(white) ? black : white;
}

void setReadable(QWidget *widget, QPalette::ColorRole role, const QColor &wanted, const QPalette &around,
                 std::initializer_list<QPalette::ColorRole> against)
{
    QPalette palette = widget->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        QList<QColor> backgrounds;
        for (const QPalette::ColorRole other : against)
            backgrounds << around.color(group, other);
        palette.setColor(group, role, readable(wanted, backgrounds, around.color(group, role)));
    }
    palette.setColor(QPalette::Disabled, role, around.color(QPalette::Disabled, role));
    widget->setPalette(palette);
}

void followPalette(QWidget *window, std::function<void()> apply)
{
    apply();
    new PaletteFollower(window, std::move(apply));
}

} // namespace contrast
