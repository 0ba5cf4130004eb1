#include "BatchProgress.h"

#include "FormUtils.h"

TBatchProgress::TBatchProgress(QWidget *parent, int total)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_total(total)
{
    setupUi(this);
    // The operator may stop the batch, but start nothing else meanwhile.
    setWindowModality(Qt::ApplicationModal);
    applyDesignFont(this);
    ProgressBatch->setRange(0, total);
    btnBatchStop->setDefault(true);
    connect(btnBatchStop, &QPushButton::clicked, this, [this] { reject(); });
}

TBatchProgress::~TBatchProgress() = default;

void TBatchProgress::ShowStep(int index)
{
    lblBatchStatus->setText(QStringLiteral("Setting module %1 of %2").arg(index + 1).arg(m_total));
    ProgressBatch->setValue(index);
}

void TBatchProgress::ShowDone(int done)
{
    ProgressBatch->setValue(done);
}

void TBatchProgress::reject()
{
    m_stopRequested = true;
    btnBatchStop->setEnabled(false);
}
