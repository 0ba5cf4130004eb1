#include "Csv.h"

#include "Rules.h"

#include <cctype>
#include <cstdio>

namespace zclient {

namespace {

const char *const kKeys[8] = {"name", "alias", "dhcp", "ip", "mask", "gateway", "mac", "adapter"};

std::vector<std::string> utf8Fields(const Record &r)
{
    std::vector<std::string> f{r.name, r.alias, r.dhcp ? "1" : "0", r.ip, r.mask, r.gateway, r.mac, r.adapter};
    for (std::string &text : f)
        text = latin1ToUtf8(text);
    return f;
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
    return std::string(s.substr(first, s.find_last_not_of(" \t") - first + 1));
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
    return out + '"';
}

std::string csvRecord(const std::vector<std::string> &fields)
{
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i)
        out += (i ? "," : "") + csvField(fields[i]);
    return out + "\r\n";
}

std::string recordsCsv(const std::vector<Record> &records)
{
    std::string out = csvRecord(std::vector<std::string>(std::begin(kKeys), std::end(kKeys)));
    for (const Record &r : records)
        out += csvRecord(utf8Fields(r));
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
    return out + '"';
}

std::string recordsJson(const std::vector<Record> &records)
{
    std::string out = "[";
    for (std::size_t n = 0; n < records.size(); ++n) {
        const auto fields = utf8Fields(records[n]);
        out += n ? ",\n  {" : "\n  {";
        for (std::size_t k = 0; k < fields.size(); ++k)
            out += (k ? ", " : "") + jsonString(kKeys[k]) + ": " +
                   (k == 2 ? (records[n].dhcp ? "true" : "false") : jsonString(fields[k]));
        out += '}';
    }
    return out + (records.empty() ? "]\n" : "\n]\n");
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

ApplyFile parseApplyFile(std::string_view text)
{
    ApplyFile file;
    const std::vector<CsvRow> rows = parseCsv(text);
    if (rows.empty()) {
        file.error = "no header row (mac,ip,mask,gateway,dhcp,alias)";
        return file;
    }
    const CsvRow &header = rows.front();
    const std::string where = "line " + std::to_string(header.line) + ": ";
    if (!header.error.empty()) {
        file.error = where + header.error;
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
        if (column == Ignored && name != "name" && name != "adapter" && name != "no") {
            file.error = where + "unknown column '" + cell + "'";
            return file;
        }
        for (const Column seen : columns)
            if (column != Ignored && seen == column) {
                file.error = where + "column '" + name + "' twice";
                return file;
            }
        haveMac = haveMac || column == Mac;
        columns.push_back(column);
    }
    if (!haveMac) {
        file.error = where + "no 'mac' column";
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
                if (!value.empty())
                    (columns[k] == Ip ? row.give.ip : columns[k] == Mask ? row.give.mask : row.give.gateway) = value;
                break;
            case Dhcp: {
                const std::string v = lower(value);
                if (v == "1" || v == "enable" || v == "0" || v == "disable")
                    row.give.dhcp = v == "1" || v == "enable";
                else if (!v.empty())
                    bad("is not 0, 1, Enable or Disable");
                break;
            }
            case Alias:
                if (value.empty() || aliasFromGrid(value).empty())
                    break;
                if (const auto latin1 = utf8ToLatin1(value))
                    row.give.alias = *latin1;
                else
                    bad("holds a character a module cannot hold");
                break;
            case Ignored:
                break;
            }
        }
        file.rows.push_back(std::move(row));
    }
    return file;
}

} // namespace zclient
