#include "Csv.h"

#include "Conflicts.h"
#include "ResultText.h"
#include "Rules.h"

#include <cctype>
#include <charconv>
#include <cmath>
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
    RecordReader(std::string_view text, char separator) : text_(text), sep_(separator) {}

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
            if (i_ < text_.size() && text_[i_] != sep_ && text_[i_] != '\r' && text_[i_] != '\n')
                fail("text after a closing quote");
        }
    }

    void plainChar(char c)
    {
        if (c == sep_) {
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
    char sep_;
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
// header cannot be used. Columns of other names, and of none, go into
// `warning`.
std::string readHeader(const CsvRow &header, std::vector<Column> &columns, std::string &warning)
{
    const std::string where = "line " + std::to_string(header.line) + ": ";
    if (!header.error.empty())
        return where + header.error;
    bool haveMac = false;
    std::string unknown;
    int unnamed = 0;
    for (const std::string &cell : header.fields) {
        const std::string name = lower(trimmed(cell));
        const Column column = columnNamed(name);
        if (column == Ignored && name.empty())
            ++unnamed;
        else if (column == Ignored && name != "name" && name != "adapter" && name != "no")
            unknown += (unknown.empty() ? "'" : ", '") + trimmed(cell) + "'";
        for (const Column seen : columns)
            if (column != Ignored && seen == column)
                return where + "column '" + name + "' twice";
        haveMac = haveMac || column == Mac;
        columns.push_back(column);
    }
    if (!haveMac)
        return where + "no 'mac' column";
    if (unnamed)
        unknown += (unknown.empty() ? "" : ", ") + std::to_string(unnamed) + " without a name";
    if (!unknown.empty())
        warning = where + "columns ignored: " + unknown;
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
    // Cells of ignored columns a spreadsheet left out or added empty do not
    // make the row malformed.
    std::size_t extra = csv.fields.size();
    while (extra > columns.size() && trimmed(csv.fields[extra - 1]).empty())
        --extra;
    std::size_t missing = csv.fields.size();
    while (missing < columns.size() && columns[missing] == Ignored)
        ++missing;
    if (extra != columns.size() && missing != columns.size()) {
        row.error = std::to_string(csv.fields.size()) + " fields where the header has " +
                    std::to_string(columns.size());
        // The MAC as written still names the row in the results.
        for (std::size_t k = 0; k < columns.size() && k < csv.fields.size(); ++k)
            if (columns[k] == Mac)
                row.mac = trimmed(csv.fields[k]);
        return row;
    }
    for (std::size_t k = 0; k < columns.size() && k < csv.fields.size(); ++k)
        readCell(columns[k], csv.fields[k], row);
    return row;
}

// The separator the first line uses more, outside quotes.
char separatorOf(std::string_view text)
{
    int commas = 0, semicolons = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size() && (quoted || text[i] != '\n'); ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (!quoted && text[i] == ',')
            ++commas;
        else if (!quoted && text[i] == ';')
            ++semicolons;
    }
    return semicolons > commas ? ';' : ',';
}

} // namespace

std::vector<CsvRow> parseCsv(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::vector<CsvRow> rows;
    RecordReader reader(text, separatorOf(text));
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
    file.error = readHeader(rows.front(), columns, file.warning);
    if (!file.error.empty())
        return file;
    for (std::size_t r = 1; r < rows.size(); ++r)
        file.rows.push_back(readRow(rows[r], columns));
    return file;
}

namespace {

// A number as a spreadsheet reads one in a cell: a sign, digits with at most
// one point, an exponent. `significant` gets the digits of the mantissa
// without leading zeros, `exponent` whether it has one.
std::optional<double> numberIn(std::string_view text, int &significant, bool &exponent)
{
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (negative || text[0] == '+'))
        text.remove_prefix(1);
    std::size_t i = 0;
    int digits = 0, points = 0;
    significant = 0;
    for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
        if (text[i] == '.' && ++points == 1)
            continue;
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return std::nullopt;
        ++digits;
        if (significant || text[i] != '0')
            ++significant;
    }
    exponent = i < text.size();
    if (digits == 0 || (exponent && i + 1 == text.size()))
        return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return negative ? -value : value;
}

std::string addressChange(const char *key, const std::string &was, const std::optional<std::string> &now)
{
    if (!now || addressValue(*now) == addressValue(was))
        return {};
    return std::string(key) + " " + was + " -> " + canonicalAddress(*now);
}

} // namespace

bool spreadsheetNumberChange(std::string_view current, std::string_view given)
{
    if (current.empty() || given.empty() || current == given)
        return false;
    int currentDigits = 0, givenDigits = 0;
    bool currentExponent = false, givenExponent = false;
    const auto was = numberIn(current, currentDigits, currentExponent);
    const auto now = numberIn(given, givenDigits, givenExponent);
    if (!was || !now)
        return false;
    if (*was == *now)
        return true;
    // Shown as an exponent form, the number keeps only the mantissa's digits.
    if (!givenExponent || givenDigits == 0)
        return false;
    const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(*now))) - givenDigits + 1);
    return std::fabs(*was - *now) <= unit / 2 * (1 + 1e-9);
}

ApplyPlan planApply(const ApplyFile &file, const std::vector<Record> &found, bool allWithMac,
                    bool spreadsheetAliases)
{
    ApplyPlan plan;
    for (const ApplyRow &row : file.rows) {
        RowVerdict v;
        const std::int32_t n = row.error.empty() ? findByMac(found, row.mac) : 0;
        const Record *current = n ? &found[static_cast<std::size_t>(n - 1)] : nullptr;
        if (!row.error.empty()) {
            v = {RowVerdict::BadInput, row.error};
        } else if (const Problem p = checkSettings(row.give, current)) {
            v = {RowVerdict::BadInput, problemText(p)};
        } else if (!current) {
            v = {RowVerdict::NotFound, {}};
        } else if (std::string why = sharedMacProblem(found, row.mac); !why.empty() && !allWithMac) {
            v = {RowVerdict::SharedMac, std::move(why)};
        } else if (row.give.alias && !spreadsheetAliases && spreadsheetNumberChange(current->alias, *row.give.alias)) {
            v = {RowVerdict::SpreadsheetAlias, "alias '" + latin1ToUtf8(*row.give.alias) + "' is the module's '" +
                                                   latin1ToUtf8(current->alias) + "' as a spreadsheet rewrites numbers"};
        } else {
            v.item = static_cast<int>(plan.items.size());
            plan.items.push_back(fileItem(n, *current, row.give));
        }
        plan.rows.push_back(std::move(v));
    }
    return plan;
}

std::string changeText(const Record &was, const Settings &give)
{
    std::vector<std::string> parts{addressChange("ip", was.ip, give.ip), addressChange("mask", was.mask, give.mask),
                                   addressChange("gateway", was.gateway, give.gateway)};
    if (give.dhcp && *give.dhcp != was.dhcp)
        parts.push_back(std::string("dhcp ") + (was.dhcp ? "Enable -> Disable" : "Disable -> Enable"));
    if (give.mac && canonicalMac(*give.mac) != canonicalMac(was.mac))
        parts.push_back("mac " + was.mac + " -> " + *give.mac);
    if (give.alias && *give.alias != was.alias)
        parts.push_back("alias '" + latin1ToUtf8(was.alias) + "' -> '" + latin1ToUtf8(*give.alias) + "'");
    std::string out;
    for (const std::string &part : parts)
        if (!part.empty())
            out += (out.empty() ? "" : ", ") + part;
    return out.empty() ? "no change" : out;
}

std::vector<std::string> applyListing(const ApplyFile &file, const ApplyPlan &plan)
{
    std::vector<std::string> lines;
    for (std::size_t k = 0; k < file.rows.size(); ++k) {
        const ApplyRow &row = file.rows[k];
        const RowVerdict &v = plan.rows[k];
        std::string text;
        switch (v.kind) {
        case RowVerdict::Send: {
            const PlanItem &item = plan.items[static_cast<std::size_t>(v.item)];
            text = changeText(item.reported, item.give);
            break;
        }
        case RowVerdict::NotFound: text = "not found, not set"; break;
        case RowVerdict::BadInput:
        case RowVerdict::SharedMac: text = "bad input, not sent: " + v.reason; break;
        case RowVerdict::SpreadsheetAlias: text = "skipped: " + v.reason; break;
        }
        lines.push_back("line " + std::to_string(row.line) + ": " + (row.mac.empty() ? "-" : row.mac) + ": " + text);
    }
    return lines;
}

std::string undoCsv(const Configuration &tried)
{
    std::string out = csvRecord({"mac", "ip", "mask", "gateway", "dhcp", "alias"});
    for (int k = 0; k < tried.done(); ++k) {
        const Record &was = tried.items()[static_cast<std::size_t>(k)].reported;
        // An address no module may be given (a gateway of 0.0.0.0) stays
        // empty: the row must still apply.
        const auto address = [](const std::string &a) { return isValidAddress(a) ? a : std::string(); };
        out += csvRecord({tried.macAfter(k), address(was.ip), address(was.mask), address(was.gateway),
                          was.dhcp ? "1" : "0", latin1ToUtf8(was.alias)});
    }
    return out;
}

} // namespace zclient
