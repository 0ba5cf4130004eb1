// The host network services that both configuration paths use: the host's
// adapter settings (from the adapter the operator chose), the check of typed
// addresses, one echo request, and the addresses no module may be given.
// One object for the whole run, handed to the windows that need it.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
#include <unordered_set>

class ModuleTable;
class QWidget;

class THostServices
{
public:
    // `log` adds a line to the main window's log; `parent` owns the boxes;
    // `modules` are the modules of the last search.
    THostServices(QWidget *parent, const ModuleTable &modules, std::function<void(const QString &)> log);

    // The host adapter whose settings are proposed, by its id (option.ini's
    // "Adapter"); empty for the first adapter. An adapter the PC no longer
    // has falls back to the first one, with a log line.
    void SetSearchAdapter(const QString &id);
    QString SearchAdapter() const { return m_searchAdapter; }

    // One echo request: 1 answered, 0 no answer, -1 echo not permitted.
    int PingAddress(const QString &address);
    // Item 1 address, 2 mask, 3 gateway of the host's chosen adapter: 0 with
    // the value in `text`; 1 with "0.0.0.0" when it has no address (or
    // `text` unchanged for another item).
    int ReadHostAdapter(int item, QString &text);
    // All three items in one read (one box when no adapter can be read):
    // result 0 with the values, 1 when there is no adapter with an address.
    struct AdapterItems
    {
        int result = 1;
        QString address;
        QString mask;
        QString gateway;
    };
    AdapterItems ReadHostAdapterItems();
    static bool IsValidAddressText(const QString &text);
    // The dotted-decimal form of the address that IsValidAddressText checks
    // (" 10.0.0.010" is 10.0.0.8): what is sent is what was checked.
    static QString CanonicalAddressText(const QString &text);
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

    // Addresses no module may be given: those the modules of the last
    // search report, and those given by a batch or a single configuration
    // (a module that did not acknowledge may still have taken its address).
    std::unordered_set<std::uint32_t> AddressesInUse() const;
    // A given address is remembered with the MAC of the module it went to,
    // in option.ini, across runs: the module may be switched off at the
    // next search and still hold it.
    void NoteAddressGiven(const QString &address, const QString &mac);
    // After a search: an address whose module answered from it is the
    // module's own now and no longer needs remembering.
    void ReleaseSeenAddresses();
    bool HasGivenAddresses() const { return !m_given.empty(); }
    // The operator's clearing, after one confirmation.
    void AskToForgetGivenAddresses();
    // Tells the operator, once per run, why no free address can be proposed.
    void ReportEchoUnusable();
    // Tells the operator, once per run, that free addresses were proposed
    // without echo, by the host's neighbour table alone.
    void ReportNeighbourTableOnly();

private:
    void reportNoAdapterList();
    void saveGivenAddresses();

    QWidget *m_parent;
    const ModuleTable &m_modules;
    std::function<void(const QString &)> m_log;
    QString m_searchAdapter;
    bool m_echoUnusableReported = false;
    bool m_tableOnlyReported = false;
    std::map<std::uint32_t, QString> m_given; // address -> MAC, by address
    bool m_givenSaveFailed = false;
};
