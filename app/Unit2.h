// Single-module configuration dialog: the chosen module's settings beside the
// recommended ones.
#pragma once

#include <QDialog>

#include "ui_Unit2.h"

class TForm2 : public QDialog, public Ui::TForm2
{
    Q_OBJECT

public:
    explicit TForm2(QWidget *parent = nullptr);
    ~TForm2() override;
};

extern TForm2 *Form2;
