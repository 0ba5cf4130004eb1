#include "records_format.h"

#include <cctype>
#include <cstdio>

namespace zarfelcli {

const char *const kRecordKeys[8] = {"name", "alias", "dhcp", "ip", "mask", "gateway", "mac", "adapter"};

namespace {

std::vector<std::string> recordFields(const Record &r)
{
    return {r.name, r.alias, r.dhcp ? "1" : "0", r.ip, r.mask, r.gateway, r.mac, r.adapter};
}

void appendCsvRow(std::string &out, const std::vector<std::string> &fields)
{
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i)
            out += ',';
        out += csvField(fields[i]);
    }
    out += "\r\n";
}

// Length of the well-formed UTF-8 sequence at s[i], or 0.
std::size_t utf8Length(std::string_view s, std::size_t i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    unsigned long cp = 0;
    if (b >= 0xc2 && b <= 0xdf) {
        n = 2;
        cp = b & 0x1fu;
    } else if (b >= 0xe0 && b <= 0xef) {
        n = 3;
        cp = b & 0x0fu;
    } else if (b >= 0xf0 && b <= 0xf4) {
        n = 4;
        cp = b & 0x07u;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xc0u) != 0x80u)
            return 0;
        cp = (cp << 6) | (c & 0x3fu);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
    if (overlong || (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff)
        return 0;
    return n;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string trimmed(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}

} // namespace

std::string csvField(std::string_view value)
{
    if (value.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(value);
    std::string out = "\"";
    for (const char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string recordsCsv(const std::vector<Record> &records)
{
    std::string out;
    appendCsvRow(out, std::vector<std::string>(std::begin(kRecordKeys), std::end(kRecordKeys)));
    for (const Record &r : records)
        appendCsvRow(out, recordFields(r));
    return out;
}

std::string jsonString(std::string_view value)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < value.size();) {
        const auto b = static_cast<unsigned char>(value[i]);
        if (b >= 0x80) {
            if (const std::size_t n = utf8Length(value, i)) {
                out.append(value.substr(i, n));
                i += n;
                continue;
            }
        }
        ++i;
        switch (b) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (b < 0x20 || b >= 0x80) {
                char code[8];
                std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(b));
                out += code;
            } else {
                out += static_cast<char>(b);
            }
        }
    }
    out += '"';
    return out;
}

std::string recordsJson(const std::vector<Record> &records)
{
    std::string out = "[";
    for (std::size_t n = 0; n < records.size(); ++n) {
        const auto fields = recordFields(records[n]);
        out += n ? ",\n  {" : "\n  {";
        for (std::size_t k = 0; k < fields.size(); ++k) {
            out += k ? ", " : "";
            out += jsonString(kRecordKeys[k]);
            out += ": ";
            out += k == 2 ? (records[n].dhcp ? "true" : "false") : jsonString(fields[k]);
        }
        out += '}';
    }
    out += records.empty() ? "]\n" : "\n]\n";
    return out;
}

std::vector<CsvRow> parseCsv(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::vector<CsvRow> rows;
    std::size_t i = 0;
    int line = 1;
    while (i < text.size()) {
        CsvRow row;
        row.line = line;
        const std::size_t start = i;
        std::string field;
        bool quoted = false, done = false;
        // An unclosed quote may have swallowed the rest of the file: go on
        // at the line after the record's first; else after the current one.
        auto fail = [&](const char *what, bool unclosed = false) {
            row.error = what;
            row.errorField = static_cast<int>(row.fields.size()) + 1;
            row.fields.clear();
            if (unclosed) {
                i = start;
                line = row.line;
            }
            const auto eol = text.find('\n', i);
            i = eol == std::string_view::npos ? text.size() : eol + 1;
            ++line;
            done = true;
        };
        while (!done) {
            if (i >= text.size()) {
                if (quoted) {
                    fail("a quoted field is not closed", true);
                    break;
                }
                row.fields.push_back(std::move(field));
                break;
            }
            const char c = text[i];
            if (quoted) {
                if (c == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    quoted = false;
                    ++i;
                    // Only a separator or the line's end may follow.
                    if (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n')
                        fail("text after a closing quote");
                    continue;
                }
                if (c == '\n')
                    ++line;
                field += c;
                ++i;
                continue;
            }
            if (c == ',') {
                row.fields.push_back(std::move(field));
                field.clear();
                ++i;
            } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
                i += c == '\r' ? 2 : 1;
                ++line;
                row.fields.push_back(std::move(field));
                break;
            } else if (c == '"') {
                if (!field.empty())
                    fail("a quote inside an unquoted field");
                else {
                    quoted = true;
                    ++i;
                }
            } else {
                field += c;
                ++i;
            }
        }
        const bool blank = row.error.empty() && row.fields.size() == 1 && row.fields[0].empty();
        if (!blank)
            rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<std::string> canonicalMac(std::string_view text)
{
    if (text.size() != 17)
        return std::nullopt;
    const char separator = text[2];
    if (separator != ':' && separator != '-')
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != separator)
                return std::nullopt;
            out += ':';
        } else {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

bool isIPv4(std::string_view text)
{
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[i - digits] == '0'))
            return false;
        if (++parts == 4)
            return i == text.size();
        if (i >= text.size() || text[i] != '.')
            return false;
        ++i;
    }
}

std::string aliasProblem(std::string_view alias)
{
    if (alias.find_first_of(std::string_view(",\r\n\0", 4)) != std::string_view::npos)
        return "holds a comma, a line break or a NUL";
    if (alias.size() > 11)
        return "is longer than the 11 characters a module holds";
    return {};
}

ApplyFile parseApplyFile(std::string_view text)
{
    ApplyFile file;
    const std::vector<CsvRow> rows = parseCsv(text);
    if (rows.empty()) {
        file.error = "no header row (mac,ip,mask,gateway,dhcp,alias)";
        return file;
    }
    const CsvRow &header = rows.front();
    if (!header.error.empty()) {
        file.error = "line " + std::to_string(header.line) + ": " + header.error;
        return file;
    }
    enum Column { Mac, Ip, Mask, Gateway, Dhcp, Alias, Ignored };
    static const char *const names[] = {"mac", "ip", "mask", "gateway", "dhcp", "alias"};
    std::vector<Column> columns;
    bool haveMac = false;
    for (const std::string &cell : header.fields) {
        const std::string name = lower(trimmed(cell));
        Column column = Ignored;
        for (int k = 0; k < 6; ++k)
            if (name == names[k])
                column = static_cast<Column>(k);
        if (column == Ignored && name != "name" && name != "adapter") {
            file.error = "line " + std::to_string(header.line) + ": unknown column '" + cell + "'";
            return file;
        }
        for (const Column seen : columns)
            if (column != Ignored && seen == column) {
                file.error = "line " + std::to_string(header.line) + ": column '" + name + "' twice";
                return file;
            }
        haveMac = haveMac || column == Mac;
        columns.push_back(column);
    }
    if (!haveMac) {
        file.error = "line " + std::to_string(header.line) + ": no 'mac' column";
        return file;
    }

    for (std::size_t r = 1; r < rows.size(); ++r) {
        const CsvRow &csv = rows[r];
        ApplyRow row;
        row.line = csv.line;
        if (!csv.error.empty()) {
            row.error = "field " + std::to_string(csv.errorField) + ": " + csv.error;
            file.rows.push_back(std::move(row));
            continue;
        }
        if (csv.fields.size() != columns.size()) {
            row.error = std::to_string(csv.fields.size()) + " fields where the header has " +
                        std::to_string(columns.size());
            for (std::size_t k = 0; k < columns.size() && k < csv.fields.size(); ++k)
                if (columns[k] == Mac)
                    row.mac = trimmed(csv.fields[k]);
            file.rows.push_back(std::move(row));
            continue;
        }
        for (std::size_t k = 0; k < columns.size(); ++k) {
            // Spreadsheets pad cells; the alias keeps what was typed.
            const std::string value = columns[k] == Alias ? csv.fields[k] : trimmed(csv.fields[k]);
            auto bad = [&](const std::string &what) {
                if (row.error.empty())
                    row.error = std::string(names[columns[k]]) + ": '" + value + "' " + what;
            };
            switch (columns[k]) {
            case Mac:
                row.mac = value;
                if (const auto mac = canonicalMac(value))
                    row.mac = *mac;
                else
                    bad("is not a MAC address");
                break;
            case Ip:
            case Mask:
            case Gateway:
                if (value.empty())
                    break;
                if (!isIPv4(value))
                    bad("is not an IPv4 address");
                (columns[k] == Ip ? row.ip : columns[k] == Mask ? row.mask : row.gateway) = value;
                break;
            case Dhcp:
                if (value == "0" || value == "1")
                    row.dhcp = value == "1";
                else if (!value.empty())
                    bad("is not 0 or 1");
                break;
            case Alias:
                if (value.empty())
                    break;
                if (const std::string problem = aliasProblem(value); !problem.empty())
                    bad(problem);
                row.alias = value;
                break;
            case Ignored:
                break;
            }
        }
        file.rows.push_back(std::move(row));
    }
    return file;
}

} // namespace zarfelcli
