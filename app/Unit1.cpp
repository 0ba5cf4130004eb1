#include "Unit1.h"

#include "About.h"
#include "Anchors.h"
#include "AppFileDialog.h"
#include "AppMessageBox.h"
#include "Autoset.h"
#include "BatchProgress.h"
#include "Configuration.h"
#include "Contrast.h"
#include "FormUtils.h"
#include "GridText.h"
#include "Options.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Version.h"
#include "client/Conflicts.h"
#include "client/Csv.h"
#include "client/Rules.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/HostNetwork.h"
#include "platform/OpenDocument.h"
#include "platform/ReplaceFile.h"
#include "zarfel.h"

namespace {

constexpr const char *kBroadcastAddress = "255.255.255.255";
constexpr int kGridRowHeight = 24;
constexpr int kLogItemHeight = 13;

// List box lines are 13 pixels high at the designed font whatever the font's
// own spacing says.
class LogItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), scaled(kLogItemHeight));
    }
};

// A request by MAC changes every module that holds it: configuring a MAC
// that several modules with different settings reported needs the
// operator's word that all of them are to change.
bool allWithSharedMacs(QWidget *parent, const std::vector<zclient::Record> &records,
                       const std::vector<zclient::PlanItem> &items)
{
    QStringList why;
    for (const zclient::PlanItem &item : items)
        if (const std::string problem = zclient::sharedMacProblem(records, item.reported.mac); !problem.empty())
            why << QString::fromLatin1(problem);
    if (why.isEmpty())
        return true;
    return AppMessageBox::show(parent, QStringLiteral("Confirm"),
                               why.join(QLatin1Char('\n')) + QStringLiteral("\n\nChange all of them?"),
                               QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No)
           == QMessageBox::Yes;
}

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QSize area = screen->geometry().size();
    const QSize outer = window->frameGeometry().size();
    window->move(area.width() / 2 - outer.width() / 2, area.height() / 2 - outer.height() / 2);
}

// A configured module for the log: its MAC and what is to change, old and
// new.
QString changeOf(const zclient::PlanItem &item, const std::string &mac)
{
    return QString::fromStdString(mac + ", " + zclient::changeText(item.reported, item.give));
}

} // namespace

TForm1::TForm1(QWidget *parent)
    : QWidget(parent), m_services(this, *this, [this](const QString &line) {
          appendLog(line);
          ListBox1->scrollToItem(ListBox1->item(ListBox1->count() - 1));
      })
{
    setupUi(this);
    applyDesignFont(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setClientSize(this, 680, 403);
    // Larger than designed, the grid takes most of the height and the log
    // the rest; the tool bar and the status bar keep their heights.
    m_anchors = std::make_unique<Anchors>(this);
    m_anchors->add(CoolBar1, {0, 0, 1, 0});
    m_anchors->add(ToolBar1, {0, 0, 1, 0});
    m_anchors->add(StringGrid1, {0, 0, 1, 0.75});
    m_anchors->add(ListBox1, {0, 0.75, 1, 0.25});
    m_anchors->add(StatusBar1, {0, 1, 1, 0});

    StatusBarPanel0 = new QLabel(StatusBar1);
    StatusBarPanel0->setObjectName(QStringLiteral("StatusBarPanel0"));
    StatusBarPanel0->setFixedWidth(scaled(100));
    StatusBarPanel1 = new QLabel(StatusBar1);
    StatusBarPanel1->setObjectName(QStringLiteral("StatusBarPanel1"));
    StatusBarPanel1->setFixedWidth(scaled(50));
    StatusBar1->addWidget(StatusBarPanel0);
    StatusBar1->addWidget(StatusBarPanel1);

    ListBox1->setItemDelegate(new LogItemDelegate(ListBox1));

    StringGrid1->SetRowHeight(kGridRowHeight);
    for (int column = 0; column < StringGrid1->columnCount(); ++column)
        StringGrid1->SetColumnTitle(column, GetDalvora_Item(column));
    StringGrid1->SetColumnSortKind(No, TStringGrid::SortKind::Number);
    for (const int column : {Ip, Mask, Gateway})
        StringGrid1->SetColumnSortKind(column, TStringGrid::SortKind::Address);

    ToolButton2->setMenu(PopupMenu1);
    ToolButton6->setMenu(PopupMenuHelp);

    connect(ToolButton1, &QToolButton::clicked, this, &TForm1::ToolButton1Click);
    connect(ToolButton3, &QToolButton::clicked, this, &TForm1::ToolButton3Click);
    connect(ToolButton4, &QToolButton::clicked, this, &TForm1::ToolButton4Click);
    connect(ToolButton5, &QToolButton::clicked, this, &TForm1::ToolButton5Click);
    connect(AboutDalvora1, &QAction::triggered, this, &TForm1::AboutDalvora1Click);
    connect(ToolButton6, &QToolButton::clicked, this, &TForm1::ToolButton6Click);
    connect(DalvoraHelp1, &QAction::triggered, this, &TForm1::DalvoraHelp1Click);
    // Configuring one module: the grid's double-clicks arrive by eventFilter.
    connect(ToolButton2, &QToolButton::clicked, this, &TForm1::ToolButton2Click);
    connect(pmenuSet, &QAction::triggered, this, &TForm1::pmenuSetClick);
    connect(pmenuAutoSet, &QAction::triggered, this, &TForm1::pmenuAutoSetClick);
    StringGrid1->viewport()->installEventFilter(this);
    createGridMenu();
    createFilter();
    installKeysAndColours();

    centreOnScreen(this);
    FormCreate();
    restorePlace();
}

TForm1::~TForm1() = default;

void TForm1::SetDialogs(const Dialogs &dialogs)
{
    m_dialogs = dialogs;
}

void TForm1::createGridMenu()
{
    GridMenu = new QMenu(this);
    GridMenu->setObjectName(QStringLiteral("GridMenu"));
    GridCopy = GridMenu->addAction(QStringLiteral("&Copy"));
    GridCopy->setObjectName(QStringLiteral("GridCopy"));
    // Shown in the menu; the grid itself answers the keys.
    GridCopy->setShortcut(QKeySequence::Copy);
    GridExport = GridMenu->addAction(QStringLiteral("&Export to CSV..."));
    GridExport->setObjectName(QStringLiteral("GridExport"));
    connect(GridCopy, &QAction::triggered, StringGrid1, &TStringGrid::CopySelection);
    connect(GridExport, &QAction::triggered, this, &TForm1::GridExportClick);
    GridImport = GridMenu->addAction(QStringLiteral("&Import from CSV..."));
    GridImport->setObjectName(QStringLiteral("GridImport"));
    connect(GridImport, &QAction::triggered, this, &TForm1::GridImportClick);
    QAction *forgetGiven = GridMenu->addAction(QStringLiteral("&Forget given addresses"));
    forgetGiven->setObjectName(QStringLiteral("GridForgetGiven"));
    connect(forgetGiven, &QAction::triggered, this, [this] { m_services.AskToForgetGivenAddresses(); });
    connect(GridMenu, &QMenu::aboutToShow, forgetGiven,
            [this, forgetGiven] { forgetGiven->setEnabled(m_services.HasGivenAddresses()); });
    StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(StringGrid1, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        GridCopy->setEnabled(!StringGrid1->SelectedRows().isEmpty());
        // Clear empties the grid but leaves the module count.
        GridExport->setEnabled(Tag > 0 && !StringGrid1->Cells(7, 1).isEmpty());
        GridImport->setEnabled(!m_records.empty() && !m_configuring);
        GridMenu->popup(StringGrid1->viewport()->mapToGlobal(at));
    });
}

void TForm1::createFilter()
{
    // In the tool bar's free space: the designed layout keeps its place.
    editFilter = new QLineEdit(ToolBar1);
    editFilter->setObjectName(QStringLiteral("editFilter"));
    editFilter->setPlaceholderText(QStringLiteral("Filter (Ctrl+F)"));
    editFilter->setAccessibleName(QStringLiteral("Filter"));
    editFilter->setToolTip(QStringLiteral("Shows only the modules with this text in any column"));
    editFilter->setClearButtonEnabled(true);
    editFilter->setFixedWidth(160);
    ToolBar1Layout->addWidget(editFilter, 0, Qt::AlignVCenter);
    ToolBar1Layout->addSpacing(8);
    connect(editFilter, &QLineEdit::textChanged, this, [this](const QString &text) {
        StringGrid1->SetFilter(text);
        // The selected row, which the commands act on, is one the operator sees.
        const int current = StringGrid1->Row();
        if (current <= 0 || StringGrid1->isRowHidden(current - 1))
            StringGrid1->SelectRow(StringGrid1->FirstShownRow());
    });
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        editFilter->setFocus(Qt::ShortcutFocusReason);
        editFilter->selectAll();
    });
}

QList<int> TForm1::columnWidths() const
{
    QList<int> widths;
    for (int column = 0; column < StringGrid1->columnCount(); ++column)
        widths << StringGrid1->ColWidth(column);
    return widths;
}

void TForm1::restorePlace()
{
    const WindowPlace saved = WindowPlace::read(QStringLiteral("Main"));
    saved.restore(this);
    if (!saved.position || pos() != *saved.position)
        centreOnScreen(this);
    for (int column = 0; column < saved.columns.size() && column < StringGrid1->columnCount(); ++column)
        StringGrid1->SetColWidth(column, saved.columns[column]);
    m_placeAtStart = WindowPlace::of(this, columnWidths());
}

void TForm1::savePlace()
{
    // A window left as it started writes nothing: an untouched program
    // creates no option.ini.
    const WindowPlace now = WindowPlace::of(this, columnWidths());
    if (now != m_placeAtStart)
        now.write(QStringLiteral("Main"));
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_anchors->apply();
}

void TForm1::installKeysAndColours()
{
    // The tool buttons take no focus and their menus open by mouse only:
    // every menu command has a key, which the menu and the tool tip show.
    pmenuSet->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    pmenuSet->setShortcutContext(Qt::WidgetShortcut); // Enter on a row, as a double-click
    StringGrid1->addAction(pmenuSet);
    pmenuAutoSet->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    DalvoraHelp1->setShortcut(QKeySequence::HelpContents);
    AboutDalvora1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F1));
    addActions({pmenuAutoSet, DalvoraHelp1, AboutDalvora1});
    const auto tip = [](const QAction *a, const QAction *b) {
        return a->text() + QStringLiteral(" (") + a->shortcut().toString(QKeySequence::NativeText) + QStringLiteral(")\n")
               + b->text() + QStringLiteral(" (") + b->shortcut().toString(QKeySequence::NativeText) + QLatin1Char(')');
    };
    ToolButton2->setToolTip(tip(pmenuSet, pmenuAutoSet));
    ToolButton6->setToolTip(tip(DalvoraHelp1, AboutDalvora1));

    // The grid's menu by the keyboard's menu key, or Shift+F10, at the current row.
    auto *gridMenuKey = new QShortcut(StringGrid1);
    gridMenuKey->setKeys({QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)});
    gridMenuKey->setContext(Qt::WidgetShortcut);
    connect(gridMenuKey, &QShortcut::activated, this, [this] {
        const QRect row = StringGrid1->visualRect(StringGrid1->currentIndex());
        Q_EMIT StringGrid1->customContextMenuRequested(row.isValid() ? row.center() : QPoint(4, 4));
    });
    // The log shows where the focus is: on its last line.
    ListBox1->installEventFilter(this);

    contrast::followPalette(this, [this] {
        contrast::setReadable(ToolBar1, QPalette::ButtonText, QColor(0, 0, 255), palette(),
                              {QPalette::Window, QPalette::Button});
    });
}

QString TForm1::GetDalvora_Item(int column) const
{
    static const char *const titles[] = {"NO", "NAME", "ALIAS", "DHCP", "IP", "MASK", "GATEWAY", "MAC"};
    if (column < 0 || column >= int(std::size(titles)))
        return QString();
    return QString::fromLatin1(titles[column]);
}

void TForm1::FormCreate()
{
    // The saved options are the program's also when the library cannot
    // start: the options dialog shows them.
    const options::Values saved = options::read();
    SearchNumber = saved.number;
    SearchTimeOut = saved.timeOut;
    SearchAgainAfterSetting = saved.searchAgain;
    if (const std::int32_t started = m_session.start(ZARFEL_REPLY_PORT); started != 0) {
        // The library has told the operator why in its box; the log says
        // what that means here. The program goes on without the search
        // command.
        const QString reason = QString::fromStdString(m_session.socketFailure().text());
        if (started == -3)
            appendLog(QStringLiteral("Reply port %1 is held by another program, probably a second copy of this one: %2")
                          .arg(ZARFEL_REPLY_PORT)
                          .arg(reason));
        else if (m_session.socketFailure())
            appendLog(QStringLiteral("The library could not start: %1").arg(reason));
        ToolButton3->setEnabled(false);
    } else {
        m_session.setOptions(SearchTimeOut, SearchNumber);
        m_services.SetSearchAdapter(saved.adapter);
        ToolButton3->setEnabled(true);
    }
    ToolButton2->setEnabled(false);

    // At a larger font the columns grow with it, and further where a title
    // would still not fit.
    static const int widths[] = {50, 70, 86, 62, 92, 94, 92, 98};
    for (int column = 0; column < StringGrid1->columnCount(); ++column) {
        const int width = scaled(column < int(std::size(widths)) ? widths[column] : 67);
        StringGrid1->SetColWidth(column, fontScale() > 1 ? std::max(width, StringGrid1->TitleWidth(column)) : width);
    }

    VersionText = QStringLiteral(DALVORA_VERSION_TEXT);
    setWindowTitle(QStringLiteral("Dalvora ") + VersionText);
}

QString TForm1::ModuleCell(int column, int number) const
{
    return StringGrid1->Cells(column, number);
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TForm1::FormShow()
{
    for (QWidget *dialog : {static_cast<QWidget *>(m_dialogs.progress), static_cast<QWidget *>(m_dialogs.single),
                            static_cast<QWidget *>(m_dialogs.autoSet), static_cast<QWidget *>(m_dialogs.about)}) {
        if (dialog)
            centreOnScreen(dialog);
    }
}

void TForm1::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TForm1::FormClose()
{
    savePlace();
    endLeftoverSearch();
    m_session.close();
}

void TForm1::appendLog(const QString &line)
{
    ListBox1->addItem(line);
}

void TForm1::scrollLogToEnd()
{
    ListBox1->scrollToItem(ListBox1->item(ListBox1->count() - 1), QAbstractItemView::PositionAtTop);
}

void TForm1::clearGrid()
{
    m_records.clear();
    m_moduleAdapters.clear();
    StringGrid1->ClearCells();
    StringGrid1->SetRowCount(3);
    StringGrid1->ApplySortAndFilter();
}

void TForm1::endLeftoverSearch()
{
    // A search whose progress dialog was closed by its close box runs on in
    // the library until its time-out. The library allows no new search, no
    // configuration and no close while one runs, so it is ended first; the
    // events processed meanwhile let the library's own messages be shown.
    if (!m_session.searching())
        return;
    m_session.stop();
    waitWhileSearching(10000);
}

void TForm1::waitWhileSearching(int maxMs)
{
    // Clicks wait: a command started in here would run inside the one that
    // is waiting, on a table about to change.
    m_session.waitWhileSearching(std::chrono::milliseconds(maxMs), [] {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        QThread::msleep(5);
    });
}

void TForm1::ToolButton3Click()
{
    clearGrid();
    // Nothing is configured from the emptied grid, also not while an
    // earlier search is being ended.
    ToolButton2->setEnabled(false);
    endLeftoverSearch();
    // No request text: the library sends the standard search request.
    const std::int32_t sent = m_session.startSearch(kBroadcastAddress);
    appendLog(QStringLiteral("Search..."));
    if (sent < 0) {
        // Nobody was asked: an empty grid must not pass for "no module".
        const QString reason = QString::fromStdString(m_session.socketFailure().text());
        endLeftoverSearch();
        Tag = 0;
        appendLog(QStringLiteral("No search request could be sent: %1").arg(reason));
        scrollLogToEnd();
        StatusBarPanel0->setText(QStringLiteral("Not sent: %1").arg(reason));
        StatusBarPanel0->setToolTip(QStringLiteral("No search request could be sent: %1").arg(reason));
        return;
    }
    scrollLogToEnd();
    StatusBarPanel0->setText(QStringLiteral("Searching"));
    StatusBarPanel0->setToolTip(QString());

    m_dialogs.progress->SetSearchOptions(SearchTimeOut, SearchNumber);
    if (m_dialogs.progress->exec() == mrIgnore) {
        AppMessageBox::beep();
        StatusBarPanel0->setText(QStringLiteral("Search Stop"));
    } else {
        StatusBarPanel0->setText(QStringLiteral("Search complete"));
    }
    // The read-error box has shown the library's words; the log keeps the
    // system's reason.
    if (const zclient::Session::SocketFailure failure = m_session.socketFailure();
        failure.operation == ZARFEL_FAILED_RECEIVE)
        appendLog(QStringLiteral("Reading the replies failed: %1").arg(QString::fromStdString(failure.text())));

    takeSearchResults();
    appendLog(Tag == 1 ? QStringLiteral("1 module found") : QStringLiteral("%1 modules found").arg(Tag));
}

void TForm1::takeSearchResults()
{
    m_records = m_session.records();
    const int count = int(m_records.size());
    Tag = count;
    ToolButton2->setEnabled(count != 0);
    fillGrid();
    m_services.ReleaseSeenAddresses();
    const std::vector<hostnet::HostAdapter> adapters = hostnet::ListHostAdapters();
    showSearchAdapters(adapters);
    showAddressConflicts(adapters);
    // In the operator's order and filter: the first row shown is selected.
    StringGrid1->ApplySortAndFilter();
    StringGrid1->SelectRow(StringGrid1->FirstShownRow());
}

void TForm1::searchAgainAfterSetting(zclient::Configuration &configured)
{
    clearGrid();
    ToolButton2->setEnabled(false);
    endLeftoverSearch();
    // Every reply within the time-out: other modules may answer first. The
    // search ends as soon as every configured module has answered.
    m_session.setOptions(SearchTimeOut, 0);
    appendLog(QStringLiteral("Search again..."));
    StatusBarPanel0->setText(QStringLiteral("Checking"));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ran = m_session.confirmingSearch(kBroadcastAddress, ZARFEL_DEVICE_PORT, configured.awaited(), [] {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        QThread::msleep(5);
    });
    endLeftoverSearch();
    QApplication::restoreOverrideCursor();
    m_session.setOptions(SearchTimeOut, SearchNumber);
    StatusBarPanel0->setText(QStringLiteral("Search complete"));
    // The grid follows the library's new table: module numbers must name
    // the records a configuration goes to. An address handed out stays used
    // up, also for a module that did not answer.
    takeSearchResults();
    if (!ran)
        appendLog(QStringLiteral("No search request could be sent to check the settings"));
    const std::vector<zclient::Record> none;
    configured.confirm(ran ? &m_records : &none);

    QStringList logged;
    for (const std::string &text : configured.awaited()) {
        const QString mac = QString::fromLatin1(text);
        if (logged.contains(mac))
            continue;
        logged << mac;
        int found = 0;
        for (int n = 1; n <= Tag && found == 0; ++n)
            if (StringGrid1->Cells(7, n).compare(mac, Qt::CaseInsensitive) == 0)
                found = n;
        if (found == 0) {
            appendLog(QStringLiteral("%1 did not answer").arg(mac));
            continue;
        }
        appendLog(QStringLiteral("%1 now reports IP %2, mask %3, gateway %4, DHCP %5, alias %6")
                      .arg(mac, StringGrid1->Cells(4, found), StringGrid1->Cells(5, found),
                           StringGrid1->Cells(6, found), StringGrid1->Cells(3, found), StringGrid1->Cells(2, found)));
    }
    scrollLogToEnd();
}

void TForm1::confirmConfigured(zclient::Configuration &configured)
{
    if (SearchAgainAfterSetting)
        searchAgainAfterSetting(configured);
    else
        configured.confirm(nullptr);
}

void TForm1::showSearchAdapters(const std::vector<hostnet::HostAdapter> &adapters)
{
    // The library sends a search out of every adapter that can broadcast.
    QStringList names;
    for (const hostnet::HostAdapter &a : adapters)
        if (a.canBroadcast)
            names << QStringLiteral("%1 %2").arg(QString::fromStdString(a.label),
                                                 QString::fromStdString(hostnet::AddressToText(a.address)));
    StatusBarPanel1->setText(QStringLiteral("%1 NIC").arg(names.size()));
    StatusBarPanel1->setToolTip(names.isEmpty() ? QStringLiteral("Searched without a network adapter")
                                                : QStringLiteral("Searched on: ") + names.join(QStringLiteral(", ")));

    m_moduleAdapters.clear();
    for (int n = 1; n <= Tag; ++n) {
        const std::string &local = m_records[std::size_t(n - 1)].adapter;
        if (local.empty()) {
            m_moduleAdapters << QString();
            StringGrid1->SetRowToolTip(n, QString());
            continue;
        }
        QString via = QString::fromStdString(local);
        for (const hostnet::HostAdapter &a : adapters)
            if (hostnet::AddressToText(a.address) == local) {
                via = QString::fromStdString(a.label) + QStringLiteral(", ") + via;
                break;
            }
        m_moduleAdapters << via;
        StringGrid1->SetRowToolTip(n, QStringLiteral("via ") + via);
    }
}

void TForm1::showAddressConflicts(const std::vector<hostnet::HostAdapter> &adapters)
{
    constexpr int kIp = 4;
    QStringList moduleAddresses;
    for (int n = 1; n <= Tag; ++n)
        moduleAddresses << StringGrid1->Cells(kIp, n);
    QStringList hostAddresses;
    for (const hostnet::HostAdapter &a : adapters)
        hostAddresses << QString::fromStdString(hostnet::AddressToText(a.address));
    const gridtext::AddressConflicts found = gridtext::findAddressConflicts(moduleAddresses, hostAddresses);

    for (int n = 1; n <= Tag; ++n) {
        QStringList why;
        const int others = found.othersSharing[std::size_t(n - 1)];
        if (others > 0)
            why << QStringLiteral("IP shared with %1 other module%2").arg(others).arg(others == 1 ? "" : "s");
        if (found.hostsOwn[std::size_t(n - 1)])
            why << QStringLiteral("IP is this PC's own address");
        if (why.isEmpty())
            continue;
        StringGrid1->SetCellWarning(kIp, n, true);
        // The adapter stays readable under the warning.
        const QString via = m_moduleAdapters.value(n - 1);
        if (!via.isEmpty())
            why << QStringLiteral("via ") + via;
        StringGrid1->SetCellToolTip(kIp, n, why.join(QLatin1Char('\n')));
    }
    // Rows that share a MAC: one module heard twice, or several modules that
    // a configuration of that MAC would all change.
    constexpr int kMac = 7;
    if (m_records.size() == std::size_t(Tag)) {
        const zclient::MacConflicts macs = zclient::findMacConflicts(m_records);
        for (int n = 1; n <= Tag; ++n) {
            const int others = macs.othersSharing[std::size_t(n - 1)];
            if (others == 0)
                continue;
            StringGrid1->SetCellWarning(kMac, n, true);
            QStringList why{QStringLiteral("MAC shared with %1 other row%2").arg(others).arg(others == 1 ? "" : "s")};
            if (const QString via = m_moduleAdapters.value(n - 1); !via.isEmpty())
                why << QStringLiteral("via ") + via;
            StringGrid1->SetCellToolTip(kMac, n, why.join(QLatin1Char('\n')));
        }
        for (const zclient::MacConflicts::Shared &shared : macs.shared)
            appendLog(QStringLiteral("%1: %2").arg(QString::fromLatin1(shared.mac),
                                                   QString::fromLatin1(zclient::sharedMacText(shared))));
    }
    for (const auto &[address, modules] : found.shared)
        appendLog(QStringLiteral("%1 modules share %2").arg(modules).arg(address));
    for (int n = 1; n <= Tag; ++n)
        if (found.hostsOwn[std::size_t(n - 1)])
            appendLog(QStringLiteral("Module %1 reports this PC's own address %2").arg(n).arg(moduleAddresses[n - 1]));
}

QString TForm1::GridCsv() const
{
    QStringList titles = StringGrid1->DisplayedTitles();
    titles << QStringLiteral("ADAPTER");
    QString csv = gridtext::csvRecord(titles);
    for (const int row : StringGrid1->DisplayedRows()) {
        if (row > Tag)
            continue; // the grid's spare empty rows
        QStringList cells = StringGrid1->DisplayedCells(row);
        cells << m_moduleAdapters.value(row - 1);
        csv += gridtext::csvRecord(cells);
    }
    return csv;
}

void TForm1::GridExportClick()
{
    const QString path = AppFileDialog::saveFileName(this, QStringLiteral("Export to CSV"),
                                                     QStringLiteral("modules.csv"),
                                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    // Run with privileges, a link or a file someone else put there would
    // have the list replace a file the operator never named.
    const platform::FileTarget target = platform::inspectFileTarget(nativePath(path));
    if (target.link || target.foreign) {
        const QString real = QFileInfo(target.real).filePath();
        const QString question =
            target.link
                ? QStringLiteral("'%1' is a link to '%2'.\nDo you want to replace '%2' with the list?").arg(path, real)
                : QStringLiteral("'%1' belongs to another user.\nDo you want to replace it with the list?").arg(path);
        if (AppMessageBox::show(this, QStringLiteral("Confirm"), question, QMessageBox::Question,
                                QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
            return;
    }
    // A new file renamed over the old one: a failure leaves nothing half-written.
    std::string why;
    if (!platform::replaceFileContents(target.real, GridCsv().toUtf8().toStdString(), &why)) {
        AppMessageBox::show(this, QStringLiteral("Warning"),
                            QStringLiteral("The list could not be saved in '%1': %2.")
                                .arg(path, QString::fromLocal8Bit(why.c_str())),
                            QMessageBox::Warning);
        return;
    }
    appendLog(QStringLiteral("%1 modules exported to %2").arg(Tag).arg(path));
}

void TForm1::GridImportClick()
{
    if (m_configuring || m_records.empty())
        return;
    const QString path = AppFileDialog::openFileName(this, QStringLiteral("Import from CSV"),
                                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        AppMessageBox::error(this, QStringLiteral("'%1' cannot be read: %2.").arg(path, in.errorString()));
        return;
    }
    const zclient::ApplyFile file = zclient::parseApplyFile(in.readAll().toStdString());
    if (!file.error.empty()) {
        AppMessageBox::error(this, QStringLiteral("'%1': %2").arg(path, QString::fromStdString(file.error)));
        return;
    }
    // Every MAC of several modules is asked about below, with the batch's
    // question; a rewritten alias is never sent from here.
    zclient::ApplyPlan plan = zclient::planApply(file, m_records, true, false);
    QStringList lines;
    if (!file.warning.empty())
        lines << QString::fromStdString(file.warning);
    for (const std::string &line : zclient::applyListing(file, plan))
        lines << QString::fromStdString(line);
    if (plan.items.empty()) {
        AppMessageBox::show(this, QStringLiteral("Warning"),
                            QStringLiteral("Nothing in '%1' can be sent:\n%2").arg(path, lines.join(QLatin1Char('\n'))),
                            QMessageBox::Warning);
        return;
    }
    if (AppMessageBox::show(this, QStringLiteral("Confirm"),
                            QStringLiteral("Do you really want to change the settings as '%1' gives them?\n%2")
                                .arg(path, lines.join(QLatin1Char('\n'))),
                            QMessageBox::Question, QMessageBox::Yes | QMessageBox::Cancel)
        != QMessageBox::Yes)
        return;
    const QScopedValueRollback busy(m_configuring, true);
    zclient::Configuration batch(m_session, std::move(plan.items));
    if (const std::string problem = batch.check(); !problem.empty()) {
        AppMessageBox::error(this, QString::fromLatin1(problem));
        return;
    }
    if (!allWithSharedMacs(this, m_records, batch.items()))
        return;
    appendLog(QStringLiteral("Import from %1").arg(path));
    runBatch(batch);
    reportBatch(batch);
}

void TForm1::fillGrid()
{
    const auto text = [](const std::string &latin1) { return QString::fromLatin1(latin1); };
    for (int n = 1; n <= Tag; ++n) {
        const zclient::Record &m = m_records[std::size_t(n - 1)];
        StringGrid1->SetCells(0, n, QString::number(n));
        StringGrid1->SetCells(1, n, text(m.name));
        StringGrid1->SetCells(2, n, text(zclient::aliasForGrid(m.alias)));
        StringGrid1->SetCells(3, n, m.dhcp ? QStringLiteral("Enable") : QStringLiteral("Disable"));
        StringGrid1->SetCells(4, n, text(m.ip));
        StringGrid1->SetCells(5, n, text(m.mask));
        StringGrid1->SetCells(6, n, text(m.gateway));
        StringGrid1->SetCells(7, n, text(m.mac));
        StringGrid1->SetRowCount(StringGrid1->RowCount() + 1);
    }
}

void TForm1::ToolButton4Click()
{
    clearGrid();
    StatusBarPanel1->clear();
    StatusBarPanel1->setToolTip(QString());
    ToolButton2->setEnabled(false);
}

void TForm1::ToolButton1Click()
{
    const uint32_t timeOut = SearchTimeOut;
    const int32_t number = SearchNumber;
    m_dialogs.options->SetValues({SearchNumber, SearchTimeOut, m_services.SearchAdapter(), SearchAgainAfterSetting});
    if (m_dialogs.options->exec() != mrOk)
        return;
    const options::Values chosen = m_dialogs.options->Values();
    SearchNumber = chosen.number;
    SearchTimeOut = chosen.timeOut;
    m_services.SetSearchAdapter(chosen.adapter);
    SearchAgainAfterSetting = chosen.searchAgain;
    if (SearchTimeOut != timeOut || SearchNumber != number) {
        if (m_session.setOptions(SearchTimeOut, SearchNumber) != 0)
            AppMessageBox::show(this, QString(), QStringLiteral("configure failed"), QMessageBox::NoIcon,
                                QMessageBox::Ok);
    }
}

void TForm1::ToolButton5Click()
{
    appendLog(QStringLiteral("Exit"));
    close();
}

void TForm1::AboutDalvora1Click()
{
    m_dialogs.about->exec();
}

QStringList TForm1::HelpFileCandidates()
{
    // The working folder first, where the program is started from; then
    // beside the program, where the build puts the file, for a start from a
    // desktop launcher; last the installed data folder, found from the
    // program's own place so that any install prefix works.
    const QString programDir = QCoreApplication::applicationDirPath();
    return {QStringLiteral("main.chm"), programDir + QStringLiteral("/main.chm"),
            QDir::cleanPath(programDir + QStringLiteral("/" DALVORA_INSTALLED_HELP))};
}

QString TForm1::HelpFile()
{
    std::vector<std::string> candidates;
    for (const QString &candidate : HelpFileCandidates())
        candidates.push_back(QFile::encodeName(candidate).toStdString());
    return QFile::decodeName(QByteArray::fromStdString(platform::firstExistingDocument(candidates)));
}

void TForm1::ToolButton6Click()
{
    const int result = platform::OpenDocument(QFile::encodeName(HelpFile()).toStdString());
    if (platform::openDocumentStarted(result))
        return;
    const std::string_view text = platform::openDocumentErrorText(result);
    QString message = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    const std::string_view advice = platform::openDocumentViewerAdvice(result);
    if (!advice.empty())
        message += QLatin1Char('\n') + QString::fromLatin1(advice.data(), static_cast<qsizetype>(advice.size()));
    AppMessageBox::show(this, QStringLiteral("Fehler"), message, QMessageBox::Warning);
}

void TForm1::DalvoraHelp1Click()
{
    ToolButton6Click();
}

// --- Configuring one module -------------------------------------------------------

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == StringGrid1->viewport() && event->type() == QEvent::MouseButtonDblClick
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        // Runs once the grid has taken the click, which selects the row
        // under it like a press.
        QMetaObject::invokeMethod(this, &TForm1::StringGrid1DblClick, Qt::QueuedConnection);
    }
    if (watched == ListBox1 && event->type() == QEvent::FocusIn && ListBox1->currentRow() < 0)
        ListBox1->setCurrentRow(ListBox1->count() - 1);
    return QWidget::eventFilter(watched, event);
}

void TForm1::ToolButton2Click()
{
    StringGrid1DblClick();
}

void TForm1::pmenuSetClick()
{
    StringGrid1DblClick();
}

QString TForm1::ReportedAlias(int number) const
{
    if (number >= 1 && std::size_t(number) <= m_records.size())
        return QString::fromLatin1(recordOf(number).alias);
    // A grid not filled by a search: its display text is all there is.
    return QString::fromLatin1(zclient::aliasFromGrid(StringGrid1->Cells(2, number).toLatin1().toStdString()));
}

int TForm1::ModuleOfRow(int row) const
{
    bool ok = false;
    const int number = StringGrid1->Cells(No, row).toInt(&ok);
    // A grid not filled by a search numbers nothing: its rows are all there is.
    return ok ? number : row;
}

void TForm1::StringGrid1DblClick()
{
    if (m_configuring)
        return;
    // The selected row names its module by its NO cell, wherever sorting or
    // the operator's drags have put it.
    const int row = StringGrid1->Row();
    if (row <= 0 || StringGrid1->isRowHidden(row - 1))
        return;
    const int r = ModuleOfRow(row);
    if (StringGrid1->Cells(4, r).isEmpty())
        return;
    if (r <= 0 || Tag <= 0)
        return;
    const QScopedValueRollback busy(m_configuring, true);

    m_dialogs.single->Tag = r - 1;
    if (m_dialogs.single->exec() != mrOk)
        return;
    const TForm2::Settings chosen = m_dialogs.single->Chosen();
    int32_t dhcp = 0;
    if (countChanges(chosen, dhcp) == 0)
        return;

    if (AppMessageBox::show(this, QStringLiteral("Confirm"),
                            QString::asprintf("Do you really want to change the setting of No.%d module to",
                                              chosen.number),
                            QMessageBox::Question, QMessageBox::Yes | QMessageBox::Cancel)
        != QMessageBox::Yes)
        return;
    configureSingle(chosen, dhcp);
}

int TForm1::countChanges(const TForm2::Settings &chosen, int32_t &dhcp) const
{
    const int n = chosen.number;
    dhcp = StringGrid1->Cells(3, n) == QStringLiteral("Enable") ? 1 : 0;
    const QString fields[] = {chosen.alias, chosen.dhcp, chosen.ip, chosen.mask, chosen.gateway, chosen.mac};
    int changes = 0;
    for (int m = 2; m <= 7; ++m) {
        const QString &text = fields[m - 2];
        if (text == StringGrid1->Cells(m, n))
            continue;
        ++changes;
        if (m == 3)
            dhcp = text == QStringLiteral("Enable") ? 1 : 0;
    }
    return changes;
}

void TForm1::configureSingle(const TForm2::Settings &chosen, int32_t dhcp)
{
    const int n = chosen.number;
    const auto latin1 = [](const QString &text) { return text.toLatin1().toStdString(); };
    // An alias field still showing what the grid shows keeps the module's
    // own alias: "N/A" is the grid's word for none, not a name to give.
    const QString alias = chosen.alias == StringGrid1->Cells(2, n) ? ReportedAlias(n) : chosen.alias;
    zclient::Settings give{latin1(chosen.ip), latin1(chosen.mask), latin1(chosen.gateway), latin1(chosen.mac),
                           latin1(alias), dhcp != 0};
    zclient::Configuration single(m_session, {{n, recordOf(n), give}});
    if (const std::string problem = single.check(); !problem.empty()) {
        AppMessageBox::error(this, QString::fromLatin1(problem));
        return;
    }
    if (!allWithSharedMacs(this, m_records, single.items()))
        return;
    endLeftoverSearch();
    // The library waits up to a second for the module's answer.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    single.next();
    QApplication::restoreOverrideCursor();
    logIgnoredAcknowledgements();
    // Taken even without an acknowledgement: the module may have applied it.
    m_services.NoteAddressGiven(chosen.ip, chosen.mac);

    // What the module reports decides, not its acknowledgement, which may be
    // another module's.
    confirmConfigured(single);
    const zclient::Outcome outcome = single.outcomes().front();
    const QString change = QStringLiteral(" (%1)").arg(changeOf(single.items().front(), single.macAfter(0)));
    if (outcome == zclient::Outcome::Set || outcome == zclient::Outcome::Acknowledged) {
        AppMessageBox::show(this, QStringLiteral("Information"), QStringLiteral("Setting complete"),
                            QMessageBox::Information, QMessageBox::Ok);
        appendLog((outcome == zclient::Outcome::Set ? QStringLiteral("Module set up successfully")
                                                    : QStringLiteral("Module acknowledged the setting"))
                  + change);
    } else if (outcome == zclient::Outcome::NotConfirmed) {
        const QString instead = QString::fromLatin1(zclient::reportedInstead(single.macAfter(0), m_records));
        AppMessageBox::show(this, QStringLiteral("Warning"),
                            QStringLiteral("No.%1 module acknowledged the setting, but it %2.").arg(n).arg(instead),
                            QMessageBox::Warning, QMessageBox::Ok);
        appendLog(QStringLiteral("Module not confirmed: it %1").arg(instead) + change);
    } else {
        AppMessageBox::error(this, QStringLiteral("Setting Error"));
        // The failure text ends in a blank; the detail follows it.
        appendLog(outcome == zclient::Outcome::Refused ? QStringLiteral("Module refused the setting") + change
                                                       : QStringLiteral("Module failed to set up") + change);
    }
    scrollLogToEnd();
}

void TForm1::logIgnoredAcknowledgements()
{
    // Another host's answer, or a forged one: not the configured module's word.
    for (const std::string &source : m_session.ignoredAcknowledgements())
        appendLog(QStringLiteral("Acknowledgement from %1 ignored: not the module's address")
                      .arg(QString::fromStdString(source)));
}

zclient::Record TForm1::recordOf(int number) const
{
    if (number >= 1 && std::size_t(number) <= m_records.size())
        return m_records[std::size_t(number - 1)];
    return {};
}

// --- Configuring many modules -----------------------------------------------------

void TForm1::pmenuAutoSetClick()
{
    if (m_configuring)
        return;
    if (m_dialogs.autoSet->exec() != mrOk)
        return;
    const QScopedValueRollback busy(m_configuring, true);

    // The k-th ticked module in display order gets the k-th ticked address,
    // by the row's own module number: modules fresh from the factory all
    // share one address.
    const Tfrm_AutoSet::Choice ticked = m_dialogs.autoSet->Ticked();
    std::vector<std::string> addresses;
    for (const QString &address : ticked.addresses)
        addresses.push_back(address.toLatin1().toStdString());
    const std::vector<zclient::Pair> pairs = zclient::pairTicked(ticked.modules, addresses, Tag);
    if (pairs.empty())
        return; // nothing to send

    // The host's settings as they are now, not as the dialog showed them;
    // without an address or a gateway every module would get unusable ones.
    const THostServices::HostSettings host = m_services.ReadHostSettings();
    if (!host.problem.isEmpty()) {
        AppMessageBox::error(this, host.problem);
        return;
    }
    // Only modules the last search reported: a cleared grid has no MAC or
    // alias to send.
    std::vector<zclient::PlanItem> plan = zclient::batchPlan(pairs, m_records, host.mask.toLatin1().toStdString(),
                                                             host.gateway.toLatin1().toStdString());
    if (plan.empty())
        return;
    zclient::Configuration batch(m_session, std::move(plan));
    // Everything is checked before the first request goes out.
    if (const std::string problem = batch.check(); !problem.empty()) {
        AppMessageBox::error(this, QString::fromLatin1(problem));
        return;
    }
    if (!allWithSharedMacs(this, m_records, batch.items()))
        return;
    runBatch(batch);
    reportBatch(batch);
}

void TForm1::runBatch(zclient::Configuration &batch)
{
    TBatchProgress progress(this, batch.total());
    progress.show();
    while (!batch.finished()) {
        progress.ShowStep(batch.done());
        // Each request may block for a second: the window is brought up to
        // date before, and a Stop pressed meanwhile is seen here.
        QCoreApplication::processEvents();
        if (progress.StopRequested()) {
            batch.stop();
            break;
        }
        const zclient::PlanItem &item = batch.current();
        const int n = item.module;
        const std::string macAfter = batch.macAfter(batch.done());
        const QString mac = QString::fromLatin1(macAfter);
        const QString change = changeOf(item, macAfter);
        endLeftoverSearch();
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const int32_t result = batch.next();
        QApplication::restoreOverrideCursor();
        logIgnoredAcknowledgements();
        // The address is used up, whether the module took it or not; what
        // it took is for the check to say.
        if (item.give.ip)
            m_services.NoteAddressGiven(QString::fromStdString(zclient::canonicalAddress(*item.give.ip)), mac);
        progress.ShowDone(batch.done());
        appendLog(QStringLiteral("Module %1 (%2): %3")
                      .arg(n)
                      .arg(change, QString::fromLatin1(zclient::outcomeText(batch.outcomes().back()))));
        scrollLogToEnd();
        if (result != 0 && !continueAfterFailure(&progress, n))
            batch.stop();
    }
    progress.hide();
}

bool TForm1::continueAfterFailure(QWidget *progress, int number)
{
    const QString prompt = QStringLiteral("Setting Error!\r\rName: ") + StringGrid1->Cells(1, number)
                           + QStringLiteral("\r\nALIAS: ") + StringGrid1->Cells(2, number)
                           + QStringLiteral("\r\nIP: ") + StringGrid1->Cells(4, number)
                           + QStringLiteral("\r\rDo you continue?");
    return AppMessageBox::show(progress, QStringLiteral("Error"), prompt, QMessageBox::Critical,
                               QMessageBox::Yes | QMessageBox::No)
           != QMessageBox::No;
}

void TForm1::reportBatch(zclient::Configuration &batch)
{
    confirmConfigured(batch);
    if (batch.confirmed())
        for (int k = 0; k < batch.done(); ++k) {
            const zclient::PlanItem &item = batch.items()[std::size_t(k)];
            appendLog(QStringLiteral("Module %1 (%2): %3")
                          .arg(item.module)
                          .arg(changeOf(item, batch.macAfter(k)),
                               QString::fromLatin1(zclient::outcomeText(batch.outcomes()[std::size_t(k)]))));
        }
    appendLog(QString::fromStdString(batch.summary()));
    scrollLogToEnd();
    if (batch.ended())
        return; // the operator chose to end it: no summary box

    // The way back: the summary offers the settings the modules had before.
    const QString outcome = QString::fromStdString(batch.outcome()) +
                            QStringLiteral("\n\nSave keeps the previous settings in a CSV file that "
                                           "\"Import from CSV...\" puts back.");
    const bool clean = batch.failed() == 0 && batch.counted(zclient::Outcome::NotConfirmed) == 0;
    if (AppMessageBox::show(this, clean ? QStringLiteral("Information") : QStringLiteral("Warning"), outcome,
                            clean ? QMessageBox::Information : QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Save)
        != QMessageBox::Save)
        return;
    const QString path = AppFileDialog::saveFileName(this, QStringLiteral("Save previous settings"),
                                                     QStringLiteral("previous-settings.csv"),
                                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    std::string why;
    if (!platform::replaceFileContents(nativePath(path), zclient::undoCsv(batch), &why)) {
        AppMessageBox::show(this, QStringLiteral("Warning"),
                            QStringLiteral("The previous settings could not be saved in '%1': %2.")
                                .arg(path, QString::fromLocal8Bit(why.c_str())),
                            QMessageBox::Warning);
        return;
    }
    appendLog(QStringLiteral("Previous settings of %1 modules saved in %2").arg(batch.done()).arg(path));
}
