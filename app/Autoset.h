// Auto configuration dialog: ticked modules and free addresses for a batch
// reconfiguration. The main window's "Set multiple modules" command shows it
// and pairs the two lists once it has closed with "Set".
#pragma once

#include <QDialog>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "WindowPlace.h"
#include "platform/HostNetwork.h"
#include "ui_Autoset.h"

#include <memory>

class Anchors;
class ModuleTable;
class QTreeWidgetItem;
class THostServices;

class Tfrm_AutoSet : public QDialog, private Ui::Tfrm_AutoSet
{
    Q_OBJECT

public:
    Tfrm_AutoSet(QWidget *parent, const ModuleTable &modules, THostServices &services);
    ~Tfrm_AutoSet() override;

    // What the operator ticked, after "Set": the modules' numbers in the
    // order the list shows them, and the addresses in theirs.
    struct Choice
    {
        std::vector<int> modules;
        QStringList addresses;
    };
    Choice Ticked() const;

    // Item data (column 0) of a ListView1 row: the number of the grid row it
    // was copied from, which is the library's module number. Modules fresh
    // from the factory share one IP address, so the row's IP text cannot
    // tell them apart; the number travels with the row when it is sorted.
    static constexpr int ModuleNumberRole = Qt::UserRole + 1;
    static int ModuleNumber(const QTreeWidgetItem *row);

    // Direction of the next header-click sort of ListView1: one flag for
    // the whole run and every column, inverted before each use.
    static bool sortAscending;

    // True while the free address search runs (the dialog stays usable).
    bool Searching() const { return m_searching; }

    // Event handlers.
    void FormShow();
    void btnSelectAllClick();
    void btnInverseClick();
    void btnResetClick();
    void btnIPSetectAllClick();
    void btnIPInverseClick();
    void btnIPResetClick();
    void ListView1ColumnClick(int column);
    void btnSearchClick();

    // A running search ends first (keeping what it found), then the dialog.
    void done(int result) override;
    // The close box and Escape end the modal loop with Cancel.
    void reject() override;

Q_SIGNALS:
    // The free address search has begun or ended (tests and the benchmark
    // follow it; the dialog itself needs neither).
    void searchStarted();
    void searchFinished();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    static void setAllTicks(QTreeWidget *list, int how);
    static QTreeWidgetItem *newRow(QTreeWidget *list);
    std::optional<std::int32_t> wishedNumber() const;
    // The free address search the fields ask for; none (after telling the
    // operator why) when a field is not usable.
    std::optional<hostnet::FreeAddressSearch> checkedSearch();
    void runWalk(hostnet::FreeAddressWalk &walk, std::int32_t wanted);
    void showSearching(bool searching);
    void showProgress(std::uint64_t stepsDone, std::uint64_t totalSteps, std::size_t found, std::int32_t wanted);

    // The size and module list's column widths the operator left, saved
    // when the dialog closes with others than these.
    WindowPlace currentPlace() const;
    std::unique_ptr<Anchors> m_anchors;
    WindowPlace m_place;

    const ModuleTable &m_modules;
    THostServices &m_services;
    bool m_searching = false;
    bool m_stopRequested = false;
};
