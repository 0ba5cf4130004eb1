// Keeps a window's designed layout when the operator enlarges it: each
// listed widget takes its share of the extra width and height, by moving or
// by growing; every other widget stays where the design puts it.
#pragma once

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <vector>

class Anchors
{
public:
    // The window's present size is its designed one, below which it may not
    // shrink.
    explicit Anchors(QWidget *window);

    // Shares, 0 to 1, of the extra width and height by which the widget
    // moves right and down, and by which it grows.
    struct Share
    {
        double moveX = 0, moveY = 0, growWidth = 0, growHeight = 0;
    };
    void add(QWidget *widget, Share share);

    // Lays the widgets out for the window's present size (its resize event).
    void apply();

    QSize designSize() const { return m_design; }

private:
    struct Item
    {
        QPointer<QWidget> widget;
        QRect design;
        Share share;
    };
    QWidget *m_window;
    QSize m_design;
    std::vector<Item> m_items;
};
