// About box: product, maker and versions.
#pragma once

#include <QDialog>

#include <cstddef>

#include "ui_About.h"

class Tfrm_About : public QDialog, public Ui::Tfrm_About
{
    Q_OBJECT

public:
    explicit Tfrm_About(QWidget *parent = nullptr);
    ~Tfrm_About() override;

    // Shows the JPEG picture held in bytes; a picture that cannot be decoded
    // leaves the box without one. True when a picture is shown.
    bool setPicture(const void *bytes, std::size_t length);

private:
    void FormCreate();
};

extern Tfrm_About *frm_About;
