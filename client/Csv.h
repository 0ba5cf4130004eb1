// The one CSV dialect of the program and zarfelcli: RFC 4180, CRLF line
// ends, UTF-8. Writer, reader, the apply file, and JSON output.
#pragma once

#include "Configure.h"
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
// The separator is ',' unless the first line holds more ';' than ',' outside
// quotes, as European spreadsheets write.
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
    std::string error;   // the file as a whole cannot be used (header)
    std::string warning; // columns ignored, named once; else empty
    std::vector<ApplyRow> rows;
};
// Columns by the header's names, in any order and letter case: mac
// (required), ip, mask, gateway, dhcp (0/1 or Enable/Disable), alias; no,
// name and adapter are ignored. So zarfelcli's CSV and the program's export
// both read back. Other columns, and columns without a name, are ignored
// with the warning (a notes column, a spreadsheet's trailing empty ones).
ApplyFile parseApplyFile(std::string_view text);

// --- Applying a file to the modules found --------------------------------------

// Whether `given` differs from `current` only the way a spreadsheet rewrites
// a number it opened: "007" -> "7", "+1" -> "1", "1E5" -> "100000", or an
// exponent form rounded to its digits ("12345678901" -> "1.23457E+10").
bool spreadsheetNumberChange(std::string_view current, std::string_view given);

// What becomes of each row, judged against the last search before anything
// is sent. `reason` says why a row is not sent.
struct RowVerdict {
    enum Kind { Send, BadInput, NotFound, SharedMac, SpreadsheetAlias } kind = Send;
    std::string reason;
    int item = -1; // the row's index in ApplyPlan::items when sent
};
struct ApplyPlan {
    std::vector<RowVerdict> rows; // one per file row
    std::vector<PlanItem> items;  // the rows to send, in the file's order
};
// A MAC of several modules is sent only with `allWithMac`; an alias a
// spreadsheet has rewritten only with `spreadsheetAliases`.
ApplyPlan planApply(const ApplyFile &file, const std::vector<Record> &found, bool allWithMac,
                    bool spreadsheetAliases);

// The settings of `give` that differ from the module's: "ip 198.18.0.5 ->
// 198.18.0.20, dhcp Enable -> Disable, alias 'a' -> 'b'" (texts in UTF-8),
// or "no change".
std::string changeText(const Record &was, const Settings &give);
// One line per row, as the confirmation and a dry run show them: "line 2:
// 00:0E:C6:00:00:01: ip ... -> ..." or why the row is not sent.
std::vector<std::string> applyListing(const ApplyFile &file, const ApplyPlan &plan);

// The settings the tried modules had before, as an apply file that puts
// them back: one row per module a request went to, under the MAC it is to
// answer under now.
std::string undoCsv(const Configuration &tried);

} // namespace zclient
