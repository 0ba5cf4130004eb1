// The one CSV dialect of the program and zarfelcli: RFC 4180, CRLF line
// ends, UTF-8. Writer, reader, the apply file, and JSON output.
#pragma once

#include "Record.h"

#include <string>
#include <string_view>
#include <vector>

namespace zclient {

// One field: quoted when it holds a comma, a quote, a CR or a LF, with
// quotes doubled; otherwise as it is.
std::string csvField(std::string_view value);
// One record ending in CRLF.
std::string csvRecord(const std::vector<std::string> &fields);

// zarfelcli's lists, texts converted from the modules' Latin-1 to UTF-8.
// The CSV header and the JSON keys: name, alias, dhcp, ip, mask, gateway,
// mac, adapter; dhcp is 1/0 in CSV and a boolean in JSON.
std::string recordsCsv(const std::vector<Record> &records);
std::string recordsJson(const std::vector<Record> &records);
// A JSON string literal, quotes included. Bytes that are not UTF-8 are read
// as Latin-1, so the output is always valid JSON.
std::string jsonString(std::string_view value);

// One CSV record. `line` is the physical line it starts on (1-based); a
// malformed record has an error naming the field (1-based) it is in.
struct CsvRow {
    int line = 0;
    std::vector<std::string> fields;
    std::string error;
    int errorField = 0;
};
// Reads LF or CRLF text, a UTF-8 byte order mark at the start, and skips
// blank lines. After a malformed record it goes on at the next physical line.
std::vector<CsvRow> parseCsv(std::string_view text);

// One row of an apply file. An empty cell keeps the module's value; so does
// the alias "N/A", the program's word for none. A row with an error is never
// sent; what it gives is checked against the module's report once found.
struct ApplyRow {
    int line = 0;
    std::string mac; // canonical when the row has no error, else as written
    Settings give;   // the alias converted to the modules' Latin-1
    std::string error;
};
struct ApplyFile {
    std::string error; // the file as a whole cannot be used (header)
    std::vector<ApplyRow> rows;
};
// Columns by the header's names, in any order and letter case: mac
// (required), ip, mask, gateway, dhcp (0/1 or Enable/Disable), alias; no,
// name and adapter are ignored. So zarfelcli's CSV and the program's export
// both read back.
ApplyFile parseApplyFile(std::string_view text);

} // namespace zclient
