#include "FormUtils.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cmath>

namespace {

constexpr int kDesignPixels = 11;
// Both platforms' desktops ship at 9 pt, 12 pixels: that is not a wish for
// larger lettering, so it keeps the designed font.
constexpr int kStockDesktopPixels = 12;

int fontPixels()
{
    // The application's font is the desktop's: windows set only their own.
    const int desktop = QFontInfo(QApplication::font()).pixelSize();
    return desktop > kStockDesktopPixels ? desktop : kDesignPixels;
}

QSize scaledSize(const QSize &size)
{
    return {size.width() >= QWIDGETSIZE_MAX ? size.width() : scaled(size.width()),
            size.height() >= QWIDGETSIZE_MAX ? size.height() : scaled(size.height())};
}

// The window's designed widgets only: a widget's own parts (scroll bars,
// headers, viewports) are laid out by that widget, and menus are windows.
void scaleChildren(QWidget *parent)
{
    for (QWidget *child : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() || child->objectName().isEmpty() || child->objectName().startsWith(QLatin1String("qt_")))
            continue;
        child->setMinimumSize(scaledSize(child->minimumSize()));
        child->setMaximumSize(scaledSize(child->maximumSize()));
        if (!parent->layout())
            child->setGeometry(QRect(scaled(child->x()), scaled(child->y()), scaled(child->width()),
                                     scaled(child->height())));
        scaleChildren(child);
    }
}

} // namespace

QFont designFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(fontPixels());
    return font;
}

double fontScale()
{
    return double(fontPixels()) / kDesignPixels;
}

int scaled(int length)
{
    return int(std::lround(length * fontScale()));
}

void applyDesignFont(QWidget *window)
{
    window->setFont(designFont());
    if (fontScale() > 1) {
        window->setMinimumSize(scaledSize(window->minimumSize()));
        scaleChildren(window);
    }
}

void setLabelText(QLabel *label, const QString &text)
{
    label->setText(text);
    label->adjustSize();
}

void autoSizeLabels(QWidget *window)
{
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (!label->wordWrap())
            label->adjustSize();
    }
}

void setClientSize(QWidget *window, int width, int height)
{
    window->setFixedSize(scaled(width), scaled(height));
}

std::filesystem::path nativePath(const QString &path)
{
#if defined(_WIN32)
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}
