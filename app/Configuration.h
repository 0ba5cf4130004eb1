// Search options dialog: the search time-out and the wished number of
// results, the adapter whose settings are proposed and the search after
// setting, kept in option.ini.
#pragma once

#include <QDialog>

#include <cstdint>
#include <optional>

#include "Options.h"
#include "ui_Configuration.h"

class Tfrm_Configuration : public QDialog, private Ui::Tfrm_Configuration
{
    Q_OBJECT

public:
    explicit Tfrm_Configuration(QWidget *parent = nullptr);
    ~Tfrm_Configuration() override;

    // The options in force, shown at the next showing; after "Set" they
    // are what the operator chose (and the file holds them, where it could
    // be written).
    void SetValues(const options::Values &values) { m_values = values; }
    const options::Values &Values() const { return m_values; }

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
    void FormShow();
    void btnSetClick();

private:
    // The one message after Set when the options did not go beside the
    // program: where they went, or why nowhere.
    void ReportWhereSaved(const options::WriteResult &saved);

    options::Values m_values;

protected:
    void showEvent(QShowEvent *event) override;
};
