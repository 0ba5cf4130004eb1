#include "HostServices.h"

#include "AppMessageBox.h"
#include "ModuleTable.h"
#include "Options.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <string>
#include <utility>

#include "client/ResultText.h"
#include "client/Rules.h"
#include "platform/HostNetwork.h"

THostServices::THostServices(QWidget *parent, const ModuleTable &modules, std::function<void(const QString &)> log)
    : m_parent(parent), m_modules(modules), m_log(std::move(log))
{
    for (const auto &[address, mac] : options::readGiven())
        if (IsValidAddressText(address))
            m_given[zclient::addressValue(address.toLatin1().toStdString())] = mac;
}

void THostServices::SetSearchAdapter(const QString &id)
{
    m_searchAdapter = id;
    if (!id.isEmpty()) {
        bool present = false;
        for (const hostnet::HostAdapter &a : hostnet::ListHostAdapters())
            present = present || QString::fromStdString(a.id) == id;
        if (!present) {
            // Proposals from an adapter that is not there would be guesses.
            m_log(QStringLiteral("Adapter %1 not found: the first adapter is used").arg(id));
            m_searchAdapter.clear();
        }
    }
    hostnet::SetHostAdapterChoice(m_searchAdapter.toStdString());
}

int THostServices::PingAddress(const QString &address)
{
    const int result = hostnet::PingAddress(address.toLatin1().toStdString());
    if (result == hostnet::kEchoUnusable)
        ReportEchoUnusable();
    return result;
}

void THostServices::reportNoAdapterList()
{
    AppMessageBox::show(m_parent, QApplication::applicationName(),
                        QStringLiteral("error while get the size of Buffer Size for GetAdaptersInfo"),
                        QMessageBox::NoIcon, QMessageBox::Ok);
}

int THostServices::ReadHostAdapter(int item, QString &text)
{
    std::string value = text.toLatin1().toStdString();
    bool noAdapter = false;
    const int result = hostnet::ReadHostAdapter(item, value, &noAdapter);
    if (noAdapter)
        reportNoAdapterList();
    text = QString::fromLatin1(value);
    return result;
}

THostServices::AdapterItems THostServices::ReadHostAdapterItems()
{
    const hostnet::HostAdapterSettings read = hostnet::ReadHostAdapterSettings();
    if (read.listFailed)
        reportNoAdapterList();
    return {read.result, QString::fromLatin1(read.address), QString::fromLatin1(read.mask),
            QString::fromLatin1(read.gateway)};
}

bool THostServices::IsValidAddressText(const QString &text)
{
    return zclient::isValidAddress(text.toLatin1().toStdString());
}

QString THostServices::CanonicalAddressText(const QString &text)
{
    return QString::fromStdString(zclient::canonicalAddress(text.toLatin1().toStdString()));
}

bool THostServices::IsSendableText(const QString &text)
{
    // What is not Latin-1 cannot be sent as such either, but that is not
    // this check's business: only the characters that split a request.
    return zclient::isSendableText(text.toUtf8().toStdString());
}

QString THostServices::UnsendableTextMessage(const QString &text)
{
    return QString::fromStdString(zclient::unsendableTextMessage(text.toUtf8().toStdString()));
}

QString THostServices::NoHostAddressMessage()
{
    return QStringLiteral("This PC's network adapter has no IPv4 address, so it has no subnet mask or gateway to "
                          "give the modules. Enter an IPv4 address, a subnet mask and a default gateway for the "
                          "adapter in the PC's network settings, then try again.");
}

QString THostServices::NoHostGatewayMessage()
{
    return QStringLiteral("This PC has no default gateway, so it has none to give the modules. Enter a default "
                          "gateway for the PC's network adapter in its network settings, then try again.");
}

THostServices::HostSettings THostServices::ReadHostSettings()
{
    const AdapterItems read = ReadHostAdapterItems();
    HostSettings host{read.address, read.mask, read.gateway, QString()};
    const bool addressed = read.result == 0 && IsValidAddressText(host.address);
    const bool masked = read.result == 0 && IsValidAddressText(host.mask);
    const bool routed = read.result == 0 && IsValidAddressText(host.gateway);
    if (!addressed || !masked)
        host.problem = NoHostAddressMessage();
    else if (!routed)
        host.problem = NoHostGatewayMessage();
    return host;
}

std::unordered_set<std::uint32_t> THostServices::AddressesInUse() const
{
    std::unordered_set<std::uint32_t> addresses;
    for (const auto &entry : m_given)
        addresses.insert(entry.first);
    for (int n = 1; n <= m_modules.ModuleCount(); ++n) {
        const QString ip = m_modules.ModuleCell(ModuleTable::Ip, n);
        if (IsValidAddressText(ip))
            addresses.insert(zclient::addressValue(ip.toLatin1().toStdString()));
    }
    return addresses;
}

void THostServices::NoteAddressGiven(const QString &address, const QString &mac)
{
    if (!IsValidAddressText(address))
        return;
    m_given[zclient::addressValue(address.toLatin1().toStdString())] = mac;
    saveGivenAddresses();
}

void THostServices::ReleaseSeenAddresses()
{
    bool released = false;
    for (int n = 1; n <= m_modules.ModuleCount(); ++n) {
        const QString ip = m_modules.ModuleCell(ModuleTable::Ip, n);
        if (!IsValidAddressText(ip))
            continue;
        const auto given = m_given.find(zclient::addressValue(ip.toLatin1().toStdString()));
        // Only the module it went to: another one there is a conflict, not a
        // release, and the address stays in use either way.
        if (given != m_given.end()
            && given->second.compare(m_modules.ModuleCell(ModuleTable::Mac, n), Qt::CaseInsensitive) == 0) {
            m_given.erase(given);
            released = true;
        }
    }
    if (released)
        saveGivenAddresses();
}

void THostServices::AskToForgetGivenAddresses()
{
    if (m_given.empty())
        return;
    const QString question =
        QStringLiteral("Forget the %1 address(es) given to modules that no search has seen there yet?\n"
                       "They may then be proposed as free again.")
            .arg(m_given.size());
    if (AppMessageBox::show(m_parent, QStringLiteral("Confirm"), question, QMessageBox::Question,
                            QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    m_given.clear();
    saveGivenAddresses();
    m_log(QStringLiteral("Given addresses forgotten"));
}

void THostServices::saveGivenAddresses()
{
    options::GivenAddresses given;
    for (const auto &[address, mac] : m_given)
        given.emplace_back(QString::fromStdString(hostnet::AddressToText(address)), mac);
    const options::WriteResult saved = options::writeGiven(given);
    // Said once until a save succeeds again: a batch would repeat it per module.
    const bool failed = saved.where == options::WriteResult::Nowhere;
    if (failed && !m_givenSaveFailed)
        m_log(QStringLiteral("The given addresses cannot be kept for the next run: %1")
                  .arg(saved.userReason.isEmpty() ? saved.programReason : saved.userReason));
    m_givenSaveFailed = failed;
}

namespace {

// Where the log's pointer leads: the README the package installs, named in
// full so the operator finds it; else the project's README.
QString readmeName()
{
#ifdef DALVORA_INSTALLED_README
    const QString installed =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/" DALVORA_INSTALLED_README));
    if (QFileInfo::exists(installed))
        return installed;
#endif
    return QStringLiteral("README");
}

} // namespace

void THostServices::ReportEchoUnusable()
{
    // Without the permission every address counts as in use, which looks
    // like a full subnet; the operator is told the real reason once.
    if (m_echoUnusableReported)
        return;
    m_echoUnusableReported = true;
    m_log(QStringLiteral("No free address can be proposed: ping not permitted "
                         "(%1: Permission to send ICMP echo requests).").arg(readmeName()));
}

void THostServices::ReportNeighbourTableOnly()
{
    if (m_tableOnlyReported)
        return;
    m_tableOnlyReported = true;
    m_log(QStringLiteral("Ping not permitted: free addresses are proposed by the neighbour table alone "
                         "(%1: Permission to send ICMP echo requests).").arg(readmeName()));
}
