// The grid's texts over the client layer: the program's QStrings in, the
// layer's std::strings (UTF-8 for files, Latin-1 for module texts) under it.
#include "GridText.h"

#include "client/Conflicts.h"
#include "client/Csv.h"

namespace gridtext {

QString csvField(const QString &text)
{
    return QString::fromStdString(zclient::csvField(text.toStdString()));
}

QString csvRecord(const QStringList &fields)
{
    std::vector<std::string> utf8;
    for (const QString &field : fields)
        utf8.push_back(field.toStdString());
    return QString::fromStdString(zclient::csvRecord(utf8));
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

AddressConflicts findAddressConflicts(const QStringList &moduleAddresses, const QStringList &hostAddresses)
{
    const auto latin1 = [](const QStringList &texts) {
        std::vector<std::string> out;
        for (const QString &text : texts)
            out.push_back(text.toLatin1().toStdString());
        return out;
    };
    const zclient::AddressConflicts found =
        zclient::findAddressConflicts(latin1(moduleAddresses), latin1(hostAddresses));
    AddressConflicts result{found.othersSharing, found.hostsOwn, {}};
    for (const auto &[address, modules] : found.shared)
        result.shared.emplace_back(QString::fromStdString(address), modules);
    return result;
}

} // namespace gridtext
