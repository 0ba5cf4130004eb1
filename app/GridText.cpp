#include "GridText.h"

#include "platform/HostNetwork.h"

#include <cstdint>
#include <map>
#include <optional>
#include <unordered_set>

namespace gridtext {

QString csvField(const QString &text)
{
    static const QString special = QStringLiteral(",\"\r\n");
    bool quote = false;
    for (const QChar c : text)
        quote = quote || special.contains(c);
    if (!quote)
        return text;
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QString csvRecord(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &field : fields)
        quoted << csvField(field);
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString tsvLine(const QStringList &cells)
{
    QStringList flat;
    for (QString cell : cells) {
        for (QChar &c : cell)
            if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
                c = QLatin1Char(' ');
        flat << cell;
    }
    return flat.join(QLatin1Char('\t')) + QLatin1Char('\n');
}

namespace {

std::optional<std::uint32_t> addressOf(const QString &text)
{
    const std::string latin = text.toLatin1().toStdString();
    if (text.trimmed().isEmpty() || !hostnet::IsValidAddressText(latin))
        return std::nullopt;
    return hostnet::AddressFromText(latin);
}

} // namespace

AddressConflicts findAddressConflicts(const QStringList &moduleAddresses, const QStringList &hostAddresses)
{
    std::unordered_set<std::uint32_t> host;
    for (const QString &text : hostAddresses)
        if (const auto a = addressOf(text))
            host.insert(*a);

    std::vector<std::optional<std::uint32_t>> addresses;
    std::map<std::uint32_t, int> count;
    for (const QString &text : moduleAddresses) {
        addresses.push_back(addressOf(text));
        if (addresses.back())
            ++count[*addresses.back()];
    }

    AddressConflicts result;
    std::unordered_set<std::uint32_t> listed;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const auto &a = addresses[i];
        const int n = a ? count[*a] : 0;
        result.othersSharing.push_back(n > 1 ? n - 1 : 0);
        result.hostsOwn.push_back(a && host.count(*a) != 0);
        if (n > 1 && listed.insert(*a).second)
            result.shared.emplace_back(QString::fromStdString(hostnet::AddressToText(*a)), n);
    }
    return result;
}

} // namespace gridtext
