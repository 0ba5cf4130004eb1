// Main window: the tool bar from which every command starts, the result
// grid, the message log and the status bar. It owns the library's lifetime
// and the host services, and shows the dialogs it is handed.
#pragma once

#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

#include "client/Configure.h"
#include "HostServices.h"
#include "client/Record.h"
#include "client/Session.h"
#include "ModuleTable.h"
#include "Unit2.h"
#include "WindowPlace.h"
#include "platform/HostNetwork.h"

#include "ui_Unit1.h"

class Anchors;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class TForm3;
class Tfrm_About;
class Tfrm_AutoSet;
class Tfrm_Configuration;

class TForm1 : public QWidget, private Ui::TForm1, public ModuleTable
{
    Q_OBJECT

public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // The dialogs the commands show. They are created after the main
    // window, which makes what they need, and handed to it then.
    struct Dialogs
    {
        TForm3 *progress = nullptr;
        TForm2 *single = nullptr;
        Tfrm_Configuration *options = nullptr;
        Tfrm_AutoSet *autoSet = nullptr;
        Tfrm_About *about = nullptr;
    };
    void SetDialogs(const Dialogs &dialogs);
    THostServices &Services() { return m_services; }
    zclient::Session &Session() { return m_session; }

    // Search time-out in milliseconds and wished number of results (0: no
    // limit), as kept in option.ini and handed to the library.
    uint32_t SearchTimeOut = 2000;
    int32_t SearchNumber = 0;
    // option.ini's "SearchAgain": a search confirms each configuration and
    // the log says what each configured module reports; off, the outcome is
    // "acknowledged" at best.
    bool SearchAgainAfterSetting = true;
    QString VersionText;
    // Number of modules listed by the last search.
    int Tag = 0;

    // ModuleTable: the grid's cells, row n showing module n.
    QString ModuleCell(int column, int number) const override;
    int ModuleCount() const override { return Tag; }

    QString GetDalvora_Item(int column) const;

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

    void GridExportClick();
    // Applies an apply file (the batch's previous settings, an edited
    // export) through the batch, after one confirmation of what changes.
    void GridImportClick();

    // Configuring the module of the selected row.
    void StringGrid1DblClick();
    void ToolButton2Click();
    void pmenuSetClick();

    // Configuring the ticked modules of the auto configuration dialog.
    void pmenuAutoSetClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createGridMenu();
    void createFilter();
    // The module a grid row shows, by its NO cell; 0 for none.
    int ModuleOfRow(int row) const;
    // Where the operator left the window, saved when it closes.
    QList<int> columnWidths() const;
    void restorePlace();
    void savePlace();
    // Keys for the commands that live only in the drop-down menus, and the
    // tool bar's caption colour kept readable on the desktop's scheme.
    void installKeysAndColours();
    // The alias module `number` reported to the last search; the grid shows
    // "N/A" for an empty one, which is no alias to send.
    QString ReportedAlias(int number) const;
    // The grid as CSV: the titles as shown plus ADAPTER, one record per
    // module in the order shown.
    QString GridCsv() const;
    void appendLog(const QString &line);
    void scrollLogToEnd();
    void clearGrid();
    void fillGrid();
    void showSearchAdapters(const std::vector<hostnet::HostAdapter> &adapters);
    void showAddressConflicts(const std::vector<hostnet::HostAdapter> &adapters);
    void endLeftoverSearch();
    // Lets the window repaint, without user input, until no search runs.
    void waitWhileSearching(int maxMs);
    void takeSearchResults();
    // The confirming search after setting: it ends once every configured
    // module has answered, refills the grid and judges each module by what
    // it reports.
    void searchAgainAfterSetting(zclient::Configuration &configured);
    // The outcome of each configured module: the check when it is on.
    void confirmConfigured(zclient::Configuration &configured);

    // Configuring one module: the number of changed fields (DHCP as the
    // module is to get it in `dhcp`), and sending what the dialog chose.
    int countChanges(const TForm2::Settings &chosen, int32_t &dhcp) const;
    void configureSingle(const TForm2::Settings &chosen, int32_t dhcp);

    zclient::Record recordOf(int number) const;
    void logIgnoredAcknowledgements();

    // Configuring many modules: the requests with their progress, then the
    // summary.
    void runBatch(zclient::Configuration &batch);
    bool continueAfterFailure(QWidget *progress, int number);
    void reportBatch(zclient::Configuration &batch);

    QLabel *StatusBarPanel0 = nullptr;
    QLabel *StatusBarPanel1 = nullptr;
    QMenu *GridMenu = nullptr;
    QAction *GridCopy = nullptr;
    QAction *GridExport = nullptr;
    QLineEdit *editFilter = nullptr;
    std::unique_ptr<Anchors> m_anchors;
    WindowPlace m_placeAtStart;
    QAction *GridImport = nullptr;

    Dialogs m_dialogs;
    zclient::Session m_session{zclient::linkedExports()};
    THostServices m_services;
    bool m_configuring = false;
    std::vector<zclient::Record> m_records; // of the last search, by module number - 1
    QStringList m_moduleAdapters;           // by module number - 1; empty when unknown
};
