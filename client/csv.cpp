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

namespace {

// Reads the records one at a time. The position and the physical line go on
// from one record to the next; the rest belongs to the record being read.
class RecordReader {
public:
    explicit RecordReader(std::string_view text) : text_(text) {}

    bool atEnd() const { return i_ >= text_.size(); }

    CsvRow next()
    {
        row_ = CsvRow{};
        row_.line = line_;
        start_ = i_;
        field_.clear();
        quoted_ = false;
        done_ = false;
        while (!done_)
            step();
        return std::move(row_);
    }

private:
    void step()
    {
        if (i_ >= text_.size()) {
            if (quoted_)
                fail("a quoted field is not closed", true);
            else
                endRecord();
        } else if (quoted_) {
            quotedChar(text_[i_]);
        } else {
            plainChar(text_[i_]);
        }
    }

    bool followedBy(char c) const { return i_ + 1 < text_.size() && text_[i_ + 1] == c; }

    void quotedChar(char c)
    {
        if (c != '"') {
            if (c == '\n')
                ++line_;
            field_ += c;
            ++i_;
        } else if (followedBy('"')) {
            field_ += '"';
            i_ += 2;
        } else {
            quoted_ = false;
            ++i_;
            // Only a separator or the line's end may follow.
            if (i_ < text_.size() && text_[i_] != ',' && text_[i_] != '\r' && text_[i_] != '\n')
                fail("text after a closing quote");
        }
    }

    void plainChar(char c)
    {
        if (c == ',') {
            row_.fields.push_back(std::move(field_));
            field_.clear();
            ++i_;
        } else if (c == '\n' || (c == '\r' && followedBy('\n'))) {
            i_ += c == '\r' ? 2 : 1;
            ++line_;
            endRecord();
        } else if (c == '"') {
            if (!field_.empty())
                fail("a quote inside an unquoted field");
            else {
                quoted_ = true;
                ++i_;
            }
        } else {
            field_ += c;
            ++i_;
        }
    }

    void endRecord()
    {
        row_.fields.push_back(std::move(field_));
        done_ = true;
    }

    // An unclosed quote may have swallowed the rest of the file: go on at
    // the line after the record's first; else after the current one.
    void fail(const char *what, bool unclosed = false)
    {
        row_.error = what;
        row_.errorField = static_cast<int>(row_.fields.size()) + 1;
        row_.fields.clear();
        if (unclosed) {
            i_ = start_;
            line_ = row_.line;
        }
        const auto eol = text_.find('\n', i_);
        i_ = eol == std::string_view::npos ? text_.size() : eol + 1;
        ++line_;
        done_ = true;
    }

    std::string_view text_;
    std::size_t i_ = 0;
    int line_ = 1;
    CsvRow row_;
    std::size_t start_ = 0;
    std::string field_;
    bool quoted_ = false, done_ = false;
};

// The apply file's columns; the names are those of the header.
enum Column { Mac, Ip, Mask, Gateway, Dhcp, Alias, Ignored };
const char *const kColumnNames[] = {"mac", "ip", "mask", "gateway", "dhcp", "alias"};

Column columnNamed(const std::string &name)
{
    for (int k = 0; k < Ignored; ++k)
        if (name == kColumnNames[k])
            return static_cast<Column>(k);
    return Ignored;
}

// The header's columns into `columns`; the error, naming the line, when the
// header cannot be used.
std::string readHeader(const CsvRow &header, std::vector<Column> &columns)
{
    const std::string where = "line " + std::to_string(header.line) + ": ";
    if (!header.error.empty())
        return where + header.error;
    bool haveMac = false;
    for (const std::string &cell : header.fields) {
        const std::string name = lower(trimmed(cell));
        const Column column = columnNamed(name);
        if (column == Ignored && name != "name" && name != "adapter" && name != "no")
            return where + "unknown column '" + cell + "'";
        for (const Column seen : columns)
            if (column != Ignored && seen == column)
                return where + "column '" + name + "' twice";
        haveMac = haveMac || column == Mac;
        columns.push_back(column);
    }
    if (!haveMac)
        return where + "no 'mac' column";
    return {};
}

// One cell into the row; only the row's first problem is kept.
void readCell(Column column, const std::string &cell, ApplyRow &row)
{
    // Spreadsheets pad cells; the alias keeps what was typed.
    const std::string value = column == Alias ? cell : trimmed(cell);
    auto bad = [&](const std::string &what) {
        if (row.error.empty())
            row.error = std::string(kColumnNames[column]) + ": '" + value + "' " + what;
    };
    switch (column) {
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
            (column == Ip ? row.give.ip : column == Mask ? row.give.mask : row.give.gateway) = value;
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

ApplyRow readRow(const CsvRow &csv, const std::vector<Column> &columns)
{
    ApplyRow row;
    row.line = csv.line;
    if (!csv.error.empty()) {
        row.error = "field " + std::to_string(csv.errorField) + ": " + csv.error;
        return row;
    }
    if (csv.fields.size() != columns.size()) {
        row.error = std::to_string(csv.fields.size()) + " fields where the header has " +
                    std::to_string(columns.size());
        // The MAC as written still names the row in the results.
        for (std::size_t k = 0; k < columns.size() && k < csv.fields.size(); ++k)
            if (columns[k] == Mac)
                row.mac = trimmed(csv.fields[k]);
        return row;
    }
    for (std::size_t k = 0; k < columns.size(); ++k)
        readCell(columns[k], csv.fields[k], row);
    return row;
}

} // namespace

std::vector<CsvRow> parseCsv(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::vector<CsvRow> rows;
    RecordReader reader(text);
    while (!reader.atEnd()) {
        CsvRow row = reader.next();
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
    std::vector<Column> columns;
    file.error = readHeader(rows.front(), columns);
    if (!file.error.empty())
        return file;
    for (std::size_t r = 1; r < rows.size(); ++r)
        file.rows.push_back(readRow(rows[r], columns));
    return file;
}

} // namespace zclient
