// Search options dialog: the search time-out and the wished number of
// results, kept in option.ini and in the main window.
#pragma once

#include <QDialog>

#include "ui_Configuration.h"

class Tfrm_Configuration : public QDialog, public Ui::Tfrm_Configuration
{
    Q_OBJECT

public:
    explicit Tfrm_Configuration(QWidget *parent = nullptr);
    ~Tfrm_Configuration() override;

    // Event handlers.
    void FormCreate();
    void FormShow();
    void btnSetClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // 0: non-empty and digits only; 1: empty; 2: some other character.
    static int CheckNumericText(const QString &text);
};

extern Tfrm_Configuration *frm_Configuration;
