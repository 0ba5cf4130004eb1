#include "Anchors.h"

#include <algorithm>
#include <cmath>

namespace {

int part(int extra, double share)
{
    return static_cast<int>(std::lround(extra * share));
}

} // namespace

Anchors::Anchors(QWidget *window)
    : m_window(window), m_design(window->size())
{
    window->setMinimumSize(m_design);
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

void Anchors::add(QWidget *widget, Share share)
{
    m_items.push_back({widget, widget->geometry(), share});
}

void Anchors::apply()
{
    const int dw = std::max(0, m_window->width() - m_design.width());
    const int dh = std::max(0, m_window->height() - m_design.height());
    for (const Item &item : m_items) {
        if (!item.widget)
            continue;
        const QPoint at = item.design.topLeft() + QPoint(part(dw, item.share.moveX), part(dh, item.share.moveY));
        if (item.share.growWidth == 0 && item.share.growHeight == 0) {
            // Labels size themselves to their text: only their place is ours.
            item.widget->move(at);
            continue;
        }
        item.widget->setGeometry(QRect(at, item.design.size()
                                               + QSize(part(dw, item.share.growWidth), part(dh, item.share.growHeight))));
    }
}
