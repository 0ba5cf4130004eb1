// The one way the program asks for a file name, so that tests can answer
// the dialog without a real modal window.
#pragma once

#include <QString>

class QWidget;

class AppFileDialog
{
public:
    // The file to save to; empty when the operator cancelled.
    static QString saveFileName(QWidget *parent, const QString &caption, const QString &suggested,
                                const QString &filter);

    // The file to read; empty when the operator cancelled.
    static QString openFileName(QWidget *parent, const QString &caption, const QString &filter);
    // Test hooks: the next dialog takes this answer instead of showing
    // itself (an empty answer cancels); the caption of the last dialog.
    static void setNextAnswer(const QString &path);
    static QString lastCaption();
    static void reset();
};
