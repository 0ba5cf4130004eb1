#include "Autoset.h"

#include "Configuration.h"

#include "Anchors.h"
#include "AppMessageBox.h"
#include "FormUtils.h"
#include "HostServices.h"
#include "ModuleTable.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QShowEvent>
#include <QTreeWidgetItem>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/HostNetwork.h"

bool Tfrm_AutoSet::sortAscending = true;

namespace {

enum Tick { Untick = 0, TickAll = 1, Invert = 2 };

// How long one pump of the search may wait for echo replies before the
// window's events are handled again: short enough that the window repaints
// and the Stop button answers at once, long enough not to spin.
constexpr int kPumpSliceMs = 15;
// The progress bar counts in thousandths.
constexpr int kProgressScale = 1000;

// Grid columns read here (the result grid's fixed layout).
constexpr int kGridName = 1;
constexpr int kGridAlias = 2;
constexpr int kGridIp = 4;
constexpr int kGridMask = 5;
constexpr int kGridGateway = 6;

std::string latin1(const QString &text)
{
    return text.toLatin1().toStdString();
}


// Sort keys compare as the bytes the modules sent, unsigned and
// case-sensitive; a prefix is smaller than the longer text.
bool greaterKey(const QByteArray &a, const QByteArray &b)
{
    return std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

// Copies a whole row: caption, sub-items, tick and the module number.
void copyRow(const QTreeWidgetItem *from, QTreeWidgetItem *to)
{
    for (int column = 0; column < to->treeWidget()->columnCount(); ++column)
        to->setText(column, from->text(column));
    to->setCheckState(0, from->checkState(0));
    to->setData(0, Tfrm_AutoSet::ModuleNumberRole, from->data(0, Tfrm_AutoSet::ModuleNumberRole));
}

void addColumns(QTreeWidget *list, const std::vector<std::pair<const char *, int>> &columns)
{
    QStringList captions;
    for (const auto &column : columns)
        captions << QString::fromLatin1(column.first);
    list->setColumnCount(int(columns.size()));
    list->setHeaderLabels(captions);
    for (int i = 0; i < int(columns.size()); ++i)
        list->setColumnWidth(i, columns[std::size_t(i)].second);
}

// The module list's columns as designed.
const std::vector<std::pair<const char *, int>> kModuleColumns = {{" ", 22},  {"Name", 60}, {"ALIAS", 66},
                                                                  {"IP", 86}, {"MASK", 86}, {"GateWay", 86}};
const QString kPlaceName = QStringLiteral("AutoSet");

void removeAll(QTreeWidget *list)
{
    list->clear();
    list->setColumnCount(0);
}

} // namespace

Tfrm_AutoSet::Tfrm_AutoSet(QWidget *parent, const ModuleTable &modules, THostServices &services)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_modules(modules), m_services(services)
{
    setupUi(this);
    applyDesignFont(this);
    autoSizeLabels(this);
    setClientSize(this, 648, 440);
    move(237, 218);
    // Larger than designed, both lists grow; the host's fields and the
    // buttons keep their places beside and below them.
    m_anchors = std::make_unique<Anchors>(this);
    m_anchors->add(GroupBox1, {0, 0, 1, 1});
    m_anchors->add(ListView1, {0, 0, 1, 1});
    for (QWidget *below : {static_cast<QWidget *>(btnSelectAll), static_cast<QWidget *>(btnInverse),
                           static_cast<QWidget *>(btnReset)})
        m_anchors->add(below, {1, 1, 0, 0});
    m_anchors->add(GroupBox2, {1, 0, 0, 0});
    m_anchors->add(GroupBox3, {1, 0, 0, 1});
    m_anchors->add(ListView2, {0, 0, 0, 1});
    for (QWidget *below : {static_cast<QWidget *>(btnIPSetectAll), static_cast<QWidget *>(btnIPInverse),
                           static_cast<QWidget *>(btnIPReset)})
        m_anchors->add(below, {0, 1, 0, 0});
    m_anchors->add(ProgressBar1, {0, 1, 0, 0});
    m_anchors->add(lblSearchStatus, {0, 1, 0, 0});
    m_anchors->add(btnSet, {1, 1, 0, 0});
    m_anchors->add(btnCancel, {1, 1, 0, 0});
    // Its place stays the main window's to choose (centred).
    m_place = WindowPlace::read(kPlaceName);
    m_place.position.reset();
    m_place.maximized = false;
    m_place.restore(this);
    m_place.size = size();
    if (m_place.columns.size() != int(kModuleColumns.size())) {
        m_place.columns.clear();
        for (const auto &column : kModuleColumns)
            m_place.columns << column.second;
    }

    // The lists get their columns at every show; until then they have none.
    for (QTreeWidget *list : {ListView1, ListView2}) {
        removeAll(list);
        list->header()->setStretchLastSection(false);
        // The check-box column is narrower than the style's usual minimum.
        list->header()->setMinimumSectionSize(16);
        list->header()->setSortIndicatorShown(false);
        list->header()->setSectionsMovable(false);
    }
    ListView1->header()->setSectionsClickable(true);
    connect(ListView1->header(), &QHeaderView::sectionClicked, this, &Tfrm_AutoSet::ListView1ColumnClick);

    connect(btnSelectAll, &QPushButton::clicked, this, &Tfrm_AutoSet::btnSelectAllClick);
    connect(btnInverse, &QPushButton::clicked, this, &Tfrm_AutoSet::btnInverseClick);
    connect(btnReset, &QPushButton::clicked, this, &Tfrm_AutoSet::btnResetClick);
    connect(btnIPSetectAll, &QPushButton::clicked, this, &Tfrm_AutoSet::btnIPSetectAllClick);
    connect(btnIPInverse, &QPushButton::clicked, this, &Tfrm_AutoSet::btnIPInverseClick);
    connect(btnIPReset, &QPushButton::clicked, this, &Tfrm_AutoSet::btnIPResetClick);
    connect(btnSearch, &QPushButton::clicked, this, &Tfrm_AutoSet::btnSearchClick);
    connect(btnSet, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

Tfrm_AutoSet::~Tfrm_AutoSet() = default;

int Tfrm_AutoSet::ModuleNumber(const QTreeWidgetItem *row)
{
    return row ? row->data(0, ModuleNumberRole).toInt() : 0;
}

Tfrm_AutoSet::Choice Tfrm_AutoSet::Ticked() const
{
    Choice choice;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        if (ListView1->topLevelItem(i)->checkState(0) == Qt::Checked)
            choice.modules.push_back(ModuleNumber(ListView1->topLevelItem(i)));
    for (int i = 0; i < ListView2->topLevelItemCount(); ++i)
        if (ListView2->topLevelItem(i)->checkState(0) == Qt::Checked)
            choice.addresses << ListView2->topLevelItem(i)->text(1);
    return choice;
}

void Tfrm_AutoSet::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

QTreeWidgetItem *Tfrm_AutoSet::newRow(QTreeWidget *list)
{
    auto *row = new QTreeWidgetItem(list);
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    row->setText(0, QStringLiteral(" "));
    row->setCheckState(0, Qt::Unchecked);
    return row;
}

void Tfrm_AutoSet::FormShow()
{
    if (ListView1->topLevelItemCount() > 0 || ListView1->columnCount() > 0)
        removeAll(ListView1);
    addColumns(ListView1, kModuleColumns);
    for (int column = 0; column < m_place.columns.size(); ++column)
        ListView1->setColumnWidth(column, m_place.columns[column]);

    // The modules of the last search from grid row 1 on, up to the first
    // empty name; row 1 is copied even when empty. Each row remembers its
    // grid row, the module's number in the library.
    int r = 1;
    do {
        QTreeWidgetItem *row = newRow(ListView1);
        const int columns[] = {kGridName, kGridAlias, kGridIp, kGridMask, kGridGateway};
        for (int k = 0; k < int(std::size(columns)); ++k)
            row->setText(k + 1, m_modules.ModuleCell(columns[k], r));
        // The grid's NO cell names the module; a grid not filled by a
        // search has only its rows.
        bool numbered = false;
        const int number = m_modules.ModuleCell(ModuleTable::No, r).toInt(&numbered);
        row->setData(0, ModuleNumberRole, numbered ? number : r);
        ++r;
    } while (!m_modules.ModuleCell(kGridName, r).isEmpty());

    // The host's own settings; by default the search range runs from the
    // host's address to its gateway.
    const THostServices::AdapterItems host = m_services.ReadHostAdapterItems();
    if (host.result == 0) {
        Edit1->setText(host.address);
        Edit2->setText(host.mask);
        Edit3->setText(host.gateway);
        editStartIP->setText(host.address);
        editEndIP->setText(host.gateway);
    } else {
        for (QLineEdit *edit : {Edit1, Edit2, Edit3})
            edit->setText(QStringLiteral("0.0.0.0"));
    }

    removeAll(ListView2);
    addColumns(ListView2, {{" ", 22}, {"IP", 86}});

    const int modules = ListView1->topLevelItemCount();
    UpDown1->SetRange(1, modules);
    UpDown1->SetIncrement(1);
    UpDown1->SetAssociate(editNumber);
    UpDown1->SetPosition(modules);
    editNumber->setText(QString::number(modules));

    setLabelText(lblSearchStatus, QString());
}

void Tfrm_AutoSet::setAllTicks(QTreeWidget *list, int how)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = list->topLevelItem(i);
        const bool ticked = how == TickAll || (how == Invert && row->checkState(0) != Qt::Checked);
        row->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    }
}

void Tfrm_AutoSet::btnSelectAllClick()
{
    setAllTicks(ListView1, TickAll);
}

void Tfrm_AutoSet::btnInverseClick()
{
    setAllTicks(ListView1, Invert);
}

void Tfrm_AutoSet::btnResetClick()
{
    setAllTicks(ListView1, Untick);
}

void Tfrm_AutoSet::btnIPSetectAllClick()
{
    setAllTicks(ListView2, TickAll);
}

void Tfrm_AutoSet::btnIPInverseClick()
{
    setAllTicks(ListView2, Invert);
}

void Tfrm_AutoSet::btnIPResetClick()
{
    setAllTicks(ListView2, Untick);
}

void Tfrm_AutoSet::ListView1ColumnClick(int column)
{
    // Every header click turns the direction, the check-box column too,
    // though that one sorts nothing.
    sortAscending = !sortAscending;
    if (column == 0)
        return;

    // An exchange sort through a scratch row, as operators know it: rows
    // with equal keys do not keep their order.
    const int n = ListView1->topLevelItemCount();
    QTreeWidgetItem *scratch = newRow(ListView1);
    const auto key = [&](int x) { return ListView1->topLevelItem(x)->text(column).toLatin1(); };
    for (int i = 0; i <= n - 2; ++i) {
        for (int j = i + 1; j <= n - 1; ++j) {
            const QByteArray a = key(i);
            const QByteArray b = key(j);
            if ((sortAscending && greaterKey(a, b)) || (!sortAscending && greaterKey(b, a))) {
                QTreeWidgetItem *rowI = ListView1->topLevelItem(i);
                QTreeWidgetItem *rowJ = ListView1->topLevelItem(j);
                copyRow(rowI, scratch);
                copyRow(rowJ, rowI);
                copyRow(scratch, rowJ);
            }
        }
    }
    delete scratch;
}

std::optional<std::int32_t> Tfrm_AutoSet::wishedNumber() const
{
    const QString text = editNumber->text();
    if (Tfrm_Configuration::CheckNumericText(text) != 0)
        return std::nullopt;
    return Tfrm_Configuration::DigitsToInt32(text);
}

void Tfrm_AutoSet::showSearching(bool searching)
{
    // While the search runs the button stops it; the range is fixed, the
    // wished number may still be changed. The pointer says the dialog is
    // busy, except over the button that ends it.
    btnSearch->setText(searching ? QStringLiteral("Stop") : QStringLiteral("Search"));
    editStartIP->setEnabled(!searching);
    editEndIP->setEnabled(!searching);
    ProgressBar1->setValue(0);
    ProgressBar1->setVisible(searching);
    if (searching) {
        setCursor(Qt::WaitCursor);
        btnSearch->setCursor(Qt::ArrowCursor);
    } else {
        unsetCursor();
        btnSearch->unsetCursor();
    }
}

void Tfrm_AutoSet::showProgress(std::uint64_t stepsDone, std::uint64_t totalSteps, std::size_t found,
                                std::int32_t wanted)
{
    // Whichever end is nearer: the wished number or the end of the range.
    double part = totalSteps > 0 ? double(stepsDone) / double(totalSteps) : 1.0;
    if (wanted > 0)
        part = std::max(part, double(found) / double(wanted));
    ProgressBar1->setValue(int(std::min(part, 1.0) * kProgressScale));
    setLabelText(lblSearchStatus, QStringLiteral("Searching... %1 of %2 found").arg(found).arg(std::max(wanted, 0)));
}

std::optional<hostnet::FreeAddressSearch> Tfrm_AutoSet::checkedSearch()
{
    const QString startText = editStartIP->text();
    const QString endText = editEndIP->text();
    if (startText.isEmpty() || endText.isEmpty()) {
        // The range runs to the host's gateway by default: a PC without one
        // leaves it open, and the operator is told why.
        if (endText.isEmpty()) {
            const THostServices::HostSettings host = m_services.ReadHostSettings();
            if (!host.problem.isEmpty())
                AppMessageBox::error(this, host.problem);
        }
        return std::nullopt;
    }
    for (const QString &text : {startText, endText}) {
        if (!THostServices::IsValidAddressText(text)) {
            AppMessageBox::error(this, QStringLiteral("'%1' is not valid IP address.").arg(text));
            return std::nullopt;
        }
    }
    if (Tfrm_Configuration::CheckNumericText(editNumber->text()) != 0) {
        AppMessageBox::error(this, QStringLiteral("Invalid numeric entry."));
        return std::nullopt;
    }
    const std::optional<std::int32_t> wanted = Tfrm_Configuration::DigitsToInt32(editNumber->text());
    if (!wanted) {
        // Digits beyond the signed 32-bit range: refused like the other
        // input errors, before anything is probed or removed.
        AppMessageBox::error(this, QStringLiteral("'%1' is not a valid integer value.").arg(editNumber->text()));
        return std::nullopt;
    }

    // The range in either order; addresses with zero low four bits are
    // stepped over. Modules of the last search, and addresses given since,
    // count as in use even when they do not answer echo: a batch must not
    // hand them out; nor the host's own address, its gateway, or its
    // subnet's network and broadcast address.
    hostnet::FreeAddressSearch search = hostnet::RangeSearch(hostnet::AddressFromText(latin1(startText)),
                                                             hostnet::AddressFromText(latin1(endText)), *wanted);
    search.inUse = m_services.AddressesInUse();
    const auto hostNumber = [](const QLineEdit *edit) {
        return THostServices::IsValidAddressText(edit->text()) ? hostnet::AddressFromText(latin1(edit->text()))
                                                               : std::uint32_t{0};
    };
    search.inUse.merge(hostnet::ReservedAddresses(hostNumber(Edit1), hostNumber(Edit2), hostNumber(Edit3)));
    return search;
}

void Tfrm_AutoSet::btnSearchClick()
{
    if (m_searching) {
        // The button reads "Stop" while a search runs.
        m_stopRequested = true;
        return;
    }
    std::optional<hostnet::FreeAddressSearch> search = checkedSearch();
    if (!search)
        return;
    ListView2->clear();

    // Many echo requests at once, committed in address order, so the list
    // is the one a walk of one request at a time would give.
    const auto wanted = static_cast<std::int32_t>(search->wanted);
    hostnet::FreeAddressWalk walk(std::move(*search));
    m_searching = true;
    m_stopRequested = false;
    showSearching(true);
    Q_EMIT searchStarted();
    runWalk(walk, wanted);
    m_searching = false;
    showSearching(false);

    const auto found = qsizetype(walk.found().size());
    QString outcome;
    if (walk.echoUnusable()) {
        m_services.ReportEchoUnusable();
        outcome = QStringLiteral("No echo requests can be sent from this computer.");
    } else if (walk.cancelled()) {
        outcome = QStringLiteral("Search stopped: %1 found").arg(found);
    } else {
        outcome = QStringLiteral("%1 found").arg(found);
    }
    if (walk.neighbourTableOnly())
        m_services.ReportNeighbourTableOnly();
    setLabelText(lblSearchStatus, outcome);
    Q_EMIT searchFinished();
}

void Tfrm_AutoSet::runWalk(hostnet::FreeAddressWalk &walk, std::int32_t wanted)
{
    // The window's events are handled between pumps: it repaints, the
    // wished number may change and Stop ends the search, keeping what was
    // found.
    while (!walk.finished()) {
        for (const std::uint32_t address : walk.pump(kPumpSliceMs))
            newRow(ListView2)->setText(1, QString::fromStdString(hostnet::AddressToText(address)));
        showProgress(walk.stepsDone(), walk.totalSteps(), walk.found().size(), wanted);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (m_stopRequested) {
            walk.cancel();
            return;
        }
        // Half-typed numbers (an empty field, for one) leave the last
        // valid one in force.
        if (const std::optional<std::int32_t> typed = wishedNumber(); typed && *typed != wanted) {
            wanted = *typed;
            walk.setWanted(wanted);
        }
    }
}

void Tfrm_AutoSet::done(int result)
{
    if (m_searching)
        m_stopRequested = true;
    if (const WindowPlace now = currentPlace(); now != m_place && now.write(kPlaceName))
        m_place = now;
    QDialog::done(result);
}

WindowPlace Tfrm_AutoSet::currentPlace() const
{
    QList<int> widths;
    for (int column = 0; column < ListView1->columnCount(); ++column)
        widths << ListView1->columnWidth(column);
    // Before the first show the list has no columns to tell.
    WindowPlace place = WindowPlace::of(this, widths.isEmpty() ? m_place.columns : widths);
    place.position.reset();
    place.maximized = false;
    return place;
}

void Tfrm_AutoSet::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    m_anchors->apply();
}

void Tfrm_AutoSet::reject()
{
    done(mrCancel);
}
