// The progress window of "Set multiple modules": which module is being set,
// a bar, and Stop. Closing it asks the batch to stop, as Stop does; it goes
// away when the batch has ended.
#pragma once

#include <QDialog>

#include "ui_BatchProgress.h"

class TBatchProgress : public QDialog, private Ui::TBatchProgress
{
    Q_OBJECT

public:
    TBatchProgress(QWidget *parent, int total);
    ~TBatchProgress() override;

    // Before module `index` (0-based) is set.
    void ShowStep(int index);
    // Once `done` modules have been tried.
    void ShowDone(int done);
    bool StopRequested() const { return m_stopRequested; }

    void reject() override;

private:
    int m_total;
    bool m_stopRequested = false;
};
