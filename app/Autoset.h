// Auto configuration dialog: ticked modules and free addresses for a batch
// reconfiguration.
#pragma once

#include <QDialog>

#include "ui_Autoset.h"

class Tfrm_AutoSet : public QDialog, public Ui::Tfrm_AutoSet
{
    Q_OBJECT

public:
    explicit Tfrm_AutoSet(QWidget *parent = nullptr);
    ~Tfrm_AutoSet() override;
};

extern Tfrm_AutoSet *frm_AutoSet;
