#include "WindowPlace.h"

#include "Options.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// What a title strip needs on a screen to be grabbed.
constexpr int kTitleHeight = 24;
constexpr int kGrabWidth = 48;

QList<int> numbers(const QString &text)
{
    QList<int> values;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int value = part.trimmed().toInt(&ok);
        if (!ok)
            return {};
        values << value;
    }
    return values;
}

QString joined(const QList<int> &values)
{
    QStringList parts;
    for (const int value : values)
        parts << QString::number(value);
    return parts.join(QLatin1Char(','));
}

} // namespace

WindowPlace WindowPlace::read(const QString &name)
{
    WindowPlace place;
    const options::WindowKeys keys = options::readWindow();
    const auto value = [&keys](const QString &key) {
        for (const auto &[k, v] : keys)
            if (k.compare(key, Qt::CaseInsensitive) == 0)
                return v;
        return QString();
    };
    const QList<int> position = numbers(value(name + QStringLiteral("Position")));
    if (position.size() == 2)
        place.position = QPoint(position[0], position[1]);
    const QList<int> size = numbers(value(name + QStringLiteral("Size")));
    if (size.size() == 2 && size[0] > 0 && size[1] > 0)
        place.size = QSize(size[0], size[1]);
    place.maximized = value(name + QStringLiteral("Maximized")) == QStringLiteral("1");
    place.columns = numbers(value(name + QStringLiteral("Columns")));
    if (std::any_of(place.columns.begin(), place.columns.end(), [](int width) { return width < 0; }))
        place.columns.clear();
    return place;
}

bool WindowPlace::write(const QString &name) const
{
    options::WindowKeys keys;
    const auto put = [&keys, &name](const char *key, const QString &value) {
        keys.emplace_back(name + QLatin1String(key), value);
    };
    if (position)
        put("Position", QStringLiteral("%1,%2").arg(position->x()).arg(position->y()));
    if (size)
        put("Size", QStringLiteral("%1,%2").arg(size->width()).arg(size->height()));
    put("Maximized", maximized ? QStringLiteral("1") : QStringLiteral("0"));
    if (!columns.isEmpty())
        put("Columns", joined(columns));
    return options::writeWindow(keys).where != options::WriteResult::Nowhere;
}

WindowPlace WindowPlace::of(const QWidget *window, const QList<int> &columns)
{
    WindowPlace place;
    place.maximized = window->isMaximized();
    if (place.maximized) {
        const QRect normal = window->normalGeometry();
        if (normal.isValid())
            place.size = normal.size();
    } else {
        place.position = window->pos();
        place.size = window->size();
    }
    place.columns = columns;
    return place;
}

void WindowPlace::restore(QWidget *window) const
{
    if (size) {
        QSize wanted = size->expandedTo(window->minimumSize());
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            wanted = wanted.boundedTo(screen->availableGeometry().size().expandedTo(window->minimumSize()));
        window->resize(wanted);
    }
    if (position && reachableOnScreen(QRect(*position, window->size())))
        window->move(*position);
    if (maximized)
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
}

bool reachableOnScreen(const QRect &frame)
{
    const QRect title(frame.topLeft(), QSize(frame.width(), kTitleHeight));
    const QList<QScreen *> screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(), [&title](const QScreen *screen) {
        const QRect on = title & screen->availableGeometry();
        return on.width() >= kGrabWidth && on.height() >= kTitleHeight / 2;
    });
}
