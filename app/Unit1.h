// Main window: the tool bar from which every command starts, the result
// grid, the message log and the status bar. It owns the library's lifetime.
#pragma once

#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "platform/HostNetwork.h"

#include "ui_Unit1.h"

class QAction;
class QLabel;
class QMenu;

class TForm1 : public QWidget, public Ui::TForm1
{
    Q_OBJECT

public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // Search time-out in milliseconds and wished number of results (0: no
    // limit), as kept in option.ini and handed to the library.
    uint32_t SearchTimeOut = 2000;
    int32_t SearchNumber = 0;
    // The host adapter whose settings the configuration dialogs propose, by
    // its id (option.ini's "Adapter"); empty for the first adapter.
    QString SearchAdapter;
    void SetSearchAdapter(const QString &id);
    // option.ini's "SearchAgain": a short search follows a successful
    // configuration and the log says what each configured module reports.
    bool SearchAgainAfterSetting = false;
    QString VersionText;
    // Number of modules listed by the last search.
    int Tag = 0;

    // Status bar panels 0 and 1.
    QLabel *StatusBarPanel0 = nullptr;
    QLabel *StatusBarPanel1 = nullptr;

    QString GetDalvora_Item(int column) const;
    void ClearStringGrid(TStringGrid *grid);

    // Event handlers.
    void FormCreate();
    void FormShow();
    void FormClose();
    void ToolButton1Click();
    void ToolButton3Click();
    void ToolButton4Click();
    void ToolButton5Click();
    void AboutDalvora1Click();
    void ToolButton6Click();
    void DalvoraHelp1Click();
    // Where Help looks for main.chm, in order; the first that exists opens.
    static QStringList HelpFileCandidates();
    // The one of them that Help opens.
    static QString HelpFile();

    // Host network services of the configuration dialogs.
    // One echo request: 1 answered, 0 no answer, -1 echo not permitted.
    int PingAddress(const QString &address);
    // Item 1 address, 2 mask, 3 gateway of the host's first adapter: 0 with
    // the value in `text`; 1 with "0.0.0.0" when it has no address (or
    // `text` unchanged for another item).
    int ReadHostAdapter(int item, QString &text);
    bool IsValidAddressText(const QString &text) const;
    // The dotted-decimal form of the address that IsValidAddressText checks
    // (" 10.0.0.010" is 10.0.0.8): what is sent is what was checked.
    QString CanonicalAddressText(const QString &text) const;
    // False for text that would add pieces to a request: a comma, a
    // carriage return, a line feed or a NUL.
    static bool IsSendableText(const QString &text);
    static QString UnsendableTextMessage(const QString &text);

    // The host's settings for the modules, read now, and what the PC lacks
    // for them (empty when nothing): no address (and so no mask), or no
    // default gateway.
    struct HostSettings
    {
        QString address;
        QString mask;
        QString gateway;
        QString problem;
    };
    HostSettings ReadHostSettings();
    static QString NoHostAddressMessage();
    static QString NoHostGatewayMessage();

    // The alias module `number` reported to the last search; the grid shows
    // "N/A" for an empty one, which is no alias to send.
    QString ReportedAlias(int number) const;
    // Addresses no module may be given until the next search: those the
    // modules of the last search report, and those given since by a batch
    // or a single configuration (a module that did not acknowledge may
    // still have taken its address).
    std::unordered_set<std::uint32_t> AddressesInUse() const;
    void NoteAddressGiven(const QString &address);
    // Tells the operator, once per run, why no free address can be proposed.
    void ReportEchoUnusable();

    // The grid's context menu: Copy (Ctrl+C) and Export to CSV.
    QMenu *GridMenu = nullptr;
    QAction *GridCopy = nullptr;
    QAction *GridExport = nullptr;
    void GridExportClick();
    // The grid as CSV: the titles as shown plus ADAPTER, one record per
    // module in the order shown.
    QString GridCsv() const;

    // Configuring the module of the selected row.
    void StringGrid1DblClick();
    void ToolButton2Click();
    void pmenuSetClick();

    // Configuring the ticked modules of the auto configuration dialog.
    void pmenuAutoSetClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void appendLog(const QString &line);
    void fillGridFromLibrary(int count);
    void showSearchAdapters(const std::vector<hostnet::HostAdapter> &adapters);
    void showAddressConflicts(const std::vector<hostnet::HostAdapter> &adapters);
    void endLeftoverSearch();
    // Lets the window repaint, without user input, until no search runs.
    void waitWhileSearching(int maxMs);

    void configureBatch();
    void takeSearchResults();
    // The short search after setting; `macs` are the modules set.
    void searchAgainAfterSetting(const QStringList &macs);

    bool m_echoUnusableReported = false;
    bool m_configuring = false;
    QStringList m_reportedAliases; // by module number - 1
    QStringList m_moduleAdapters;  // by module number - 1; empty when unknown
    std::unordered_set<std::uint32_t> m_givenAddresses;
};

extern TForm1 *Form1;
