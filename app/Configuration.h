// Search options dialog: the search time-out and the wished number of
// results, kept in option.ini and in the main window.
#pragma once

#include <QDialog>

#include <cstdint>
#include <optional>

#include "Options.h"
#include "ui_Configuration.h"

class Tfrm_Configuration : public QDialog, public Ui::Tfrm_Configuration
{
    Q_OBJECT

public:
    explicit Tfrm_Configuration(QWidget *parent = nullptr);
    ~Tfrm_Configuration() override;

    // 0: non-empty and digits only; 1: empty; 2: some other character.
    // The auto configuration dialog checks its number of results with it.
    static int CheckNumericText(const QString &text);
    // Digits that passed CheckNumericText as a signed 32-bit number; none
    // when beyond that range.
    static std::optional<int32_t> DigitsToInt32(const QString &digits);

    // The adapter list: "First adapter", then every IPv4 adapter by name and
    // address; `chosen` (an adapter's id, empty for the first) selected.
    void FillAdapterList(const QString &chosen);

    // Event handlers.
    void FormCreate();
    void FormShow();
    void btnSetClick();

private:
    // The one message after Set when the options did not go beside the
    // program: where they went, or why nowhere.
    void ReportWhereSaved(const options::WriteResult &saved);

protected:
    void showEvent(QShowEvent *event) override;
};

extern Tfrm_Configuration *frm_Configuration;
