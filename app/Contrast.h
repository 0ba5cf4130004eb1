// Colours the windows choose themselves (tool bar captions, field
// backgrounds, the About lettering) stay readable on any desktop scheme:
// each is used only where it stands out from the palette around it by the
// usual 4.5:1 of readable text, and the palette's own colour is used where
// it does not.
#pragma once

#include <QColor>
#include <QList>
#include <QPalette>

#include <functional>
#include <initializer_list>

class QWidget;

namespace contrast {

// Readable text stands out from its background by at least this ratio.
inline constexpr double kReadable = 4.5;

// The contrast ratio of two colours by their relative luminance, 1 to 21.
double ratio(const QColor &a, const QColor &b);

// `wanted` where it contrasts readably with every colour of `against`, else
// `fallback` where that does, else black or white, whichever contrasts more.
QColor readable(const QColor &wanted, const QList<QColor> &against, const QColor &fallback);

// Sets `role` of `widget` to `wanted` where that is readable against the
// `against` roles of `around`, the palette the widget sits in; else to
// around's own colour for the role. Disabled widgets keep around's colours.
void setReadable(QWidget *widget, QPalette::ColorRole role, const QColor &wanted, const QPalette &around,
                 std::initializer_list<QPalette::ColorRole> against);

// Runs `apply` now and again once the desktop's colours have changed, so
// that a scheme switched at run time is followed.
void followPalette(QWidget *window, std::function<void()> apply);

} // namespace contrast
