// About box: product, maker and versions.
#pragma once

#include <QDialog>

#include <cstddef>

#include "ui_About.h"

class Tfrm_About : public QDialog, private Ui::Tfrm_About
{
    Q_OBJECT

public:
    // `version` is the main window's version text.
    Tfrm_About(QWidget *parent, const QString &version);
    ~Tfrm_About() override;

    // Shows the JPEG picture held in bytes; a picture that cannot be decoded
    // leaves the box without one. True when a picture is shown.
    bool setPicture(const void *bytes, std::size_t length);

private:
    void FormCreate(const QString &version);
};
