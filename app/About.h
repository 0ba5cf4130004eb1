// About box: product, maker and versions.
#pragma once

#include <QDialog>

#include "ui_About.h"

class Tfrm_About : public QDialog, public Ui::Tfrm_About
{
    Q_OBJECT

public:
    explicit Tfrm_About(QWidget *parent = nullptr);
    ~Tfrm_About() override;
};

extern Tfrm_About *frm_About;
