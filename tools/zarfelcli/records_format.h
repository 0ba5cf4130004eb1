// Texts in and out of zarfelcli, without I/O: the found modules as CSV
// (RFC 4180) or JSON, the CSV reader, and the checks of what a person
// typed (MAC, IPv4 address, alias, DHCP) before anything is sent.
#ifndef ZARFELCLI_RECORDS_FORMAT_H
#define ZARFELCLI_RECORDS_FORMAT_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarfelcli {

// One found module as the library reports it, plus the host's own address
// its reply arrived on (empty when the system did not say).
struct Record {
    std::string name, alias;
    bool dhcp = false;
    std::string ip, mask, gateway, mac, adapter;
};

// The column names of CSV output and the keys of JSON output, in order.
extern const char *const kRecordKeys[8];

std::string csvField(std::string_view value);
// Header row, then one row per record; CRLF line ends.
std::string recordsCsv(const std::vector<Record> &records);

// A JSON string literal, quotes included. Bytes that are not UTF-8 are read
// as Latin-1, the modules' single-byte texts, so the output is valid JSON.
std::string jsonString(std::string_view value);
// One array of objects with the keys of kRecordKeys; dhcp is a boolean.
std::string recordsJson(const std::vector<Record> &records);

// One CSV record. `line` is the physical line it starts on (1-based);
// a malformed record has an error naming the field (1-based) it is in.
struct CsvRow {
    int line = 0;
    std::vector<std::string> fields;
    std::string error;
    int errorField = 0;
};
// Reads LF or CRLF text, a UTF-8 byte order mark at the start, and skips
// blank lines. After a malformed record it goes on at the next physical line.
std::vector<CsvRow> parseCsv(std::string_view text);

// "00:0e:c6:00:00:01" or "00-0E-C6-00-00-01" -> "00:0E:C6:00:00:01".
std::optional<std::string> canonicalMac(std::string_view text);
// Strict dotted decimal, four numbers 0-255 without leading zeros (which
// some readers take for octal): a typing error must not reach a module.
bool isIPv4(std::string_view text);
// What is wrong with an alias for a module, or empty: a comma, CR or LF
// would start a new piece of the request, and a module holds 11 characters.
std::string aliasProblem(std::string_view alias);

// One row of an apply file. An empty cell keeps the module's value (an
// empty alias sends none). A row with an error is never sent.
struct ApplyRow {
    int line = 0;
    std::string mac; // canonical when the row has no error, else as written
    std::optional<std::string> ip, mask, gateway, alias;
    std::optional<int> dhcp;
    std::string error; // "ip: '1.2.3' is not an IPv4 address"
};
struct ApplyFile {
    std::string error; // the file as a whole cannot be used (header)
    std::vector<ApplyRow> rows;
};
// Columns by the header row's names, in any order and letter case: mac
// (required), ip, mask, gateway, dhcp, alias; name and adapter, the other
// columns of CSV output, are ignored.
ApplyFile parseApplyFile(std::string_view text);

} // namespace zarfelcli

#endif
