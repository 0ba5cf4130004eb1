#include "Autoset.h"

#include "FormUtils.h"

Tfrm_AutoSet *frm_AutoSet = nullptr;

Tfrm_AutoSet::Tfrm_AutoSet(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setupUi(this);
    setObjectName(QStringLiteral("frm_AutoSet"));
    applyDesignFont(this);
    setClientSize(this, 648, 440);
    move(237, 218);
}

Tfrm_AutoSet::~Tfrm_AutoSet() = default;
