// Where the operator left a window: its place, its size, whether it was
// maximised and the widths of its list's columns, kept in option.ini's
// section "window" under keys named after the window.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QWidget;

struct WindowPlace
{
    std::optional<QPoint> position; // of the frame's top-left corner
    std::optional<QSize> size;      // of the client area
    bool maximized = false;
    QList<int> columns;

    bool operator==(const WindowPlace &) const = default;

    // The saved place of window `name`; anything missing or malformed is
    // left out.
    static WindowPlace read(const QString &name);
    // Saves it; a key it leaves out (the place of a maximised window) keeps
    // its saved value. False when no file could be written.
    bool write(const QString &name) const;
    // The window's present place (its normal one when maximised, which only
    // the flag says), with the given column widths.
    static WindowPlace of(const QWidget *window, const QList<int> &columns);

    // Gives `window` the saved size, at least its minimum and at most the
    // screen's free area, and the saved place when that is on a screen;
    // the saved state of maximisation takes effect at the next show.
    void restore(QWidget *window) const;
};

// True when enough of a frame's title strip lies on some screen for the
// operator to grab it.
bool reachableOnScreen(const QRect &frame);
