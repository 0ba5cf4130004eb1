#include "Unit2.h"

#include "FormUtils.h"

TForm2 *Form2 = nullptr;

TForm2::TForm2(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setupUi(this);
    setObjectName(QStringLiteral("Form2"));
    applyDesignFont(this);
    setClientSize(this, 439, 287);
}

TForm2::~TForm2() = default;
