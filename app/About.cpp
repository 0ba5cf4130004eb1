#include "About.h"

#include "FormUtils.h"

#include <QPalette>

Tfrm_About *frm_About = nullptr;

Tfrm_About::Tfrm_About(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setupUi(this);
    setObjectName(QStringLiteral("frm_About"));
    applyDesignFont(this);
    setClientSize(this, 289, 256);
    setAutoFillBackground(true);
    QPalette light = palette();
    light.setColor(QPalette::Window, light.color(QPalette::Midlight));
    setPalette(light);
}

Tfrm_About::~Tfrm_About() = default;
