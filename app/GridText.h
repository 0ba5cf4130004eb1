// The result grid as text for other programs (tab-separated for the
// clipboard, RFC 4180 CSV for files) and the check for modules whose
// addresses clash. Pure functions: no widgets, no network. CSV and the
// check are the client layer's (client/Csv.h, client/Conflicts.h).
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace gridtext {

// One CSV field: quoted when it holds a comma, a quote, a CR or a LF, with
// quotes doubled; otherwise as it is.
QString csvField(const QString &text);
// One CSV record ending in CRLF.
QString csvRecord(const QStringList &fields);
// One tab-separated line ending in LF; tabs and line breaks inside a cell
// become blanks, since the format cannot carry them.
QString tsvLine(const QStringList &cells);

struct AddressConflicts
{
    // Per module, in the order given: how many other modules report the
    // same address, and whether it is one of the PC's own.
    std::vector<int> othersSharing;
    std::vector<bool> hostsOwn;
    // Each address two or more modules report, with how many, in the order
    // first reported.
    std::vector<std::pair<QString, int>> shared;
};

// Compares addresses by what they convert to, so "198.18.0.010" and
// "198.18.0.8" clash; texts that are not addresses clash with nothing.
AddressConflicts findAddressConflicts(const QStringList &moduleAddresses, const QStringList &hostAddresses);

} // namespace gridtext
