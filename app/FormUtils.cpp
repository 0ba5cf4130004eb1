#include "FormUtils.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <QWidget>

QFont designFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(11);
    return font;
}

void applyDesignFont(QWidget *window)
{
    window->setFont(designFont());
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
    window->setFixedSize(width, height);
}

std::filesystem::path nativePath(const QString &path)
{
#if defined(_WIN32)
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}
