// Portable part of the private-profile access: parsing and editing the text.
// Writing the result is left to replaceFileContents of the platform.
#include "ProfileFile.h"

#include "ReplaceFile.h"

#include <charconv>
#include <exception>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <system_error>

namespace platform {
namespace {

#if defined(_WIN32)
constexpr std::string_view kNewFileLineEnd = "\r\n";
#else
constexpr std::string_view kNewFileLineEnd = "\n";
#endif

std::string_view trim(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// "[name]" -> name; nothing for any other line.
std::optional<std::string_view> sectionName(std::string_view line)
{
    line = trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return trim(line.substr(1, close - 1));
}

bool isComment(std::string_view line)
{
    line = trim(line);
    return !line.empty() && (line.front() == ';' || line.front() == '#');
}

// "key = value" -> key, value (both trimmed); nothing for comments and lines
// without an equals sign.
std::optional<std::pair<std::string_view, std::string_view>> keyValue(std::string_view line)
{
    if (isComment(line) || sectionName(line))
        return std::nullopt;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return std::make_pair(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

// How the file is stored; its lines are edited as UTF-8 (or the bytes as
// they are) and written back the same way, mark included: a file saved as
// "Unicode" by an editor must not gain lines in another encoding.
enum class Encoding { Plain, Utf8Mark, Utf16Le, Utf16Be };

struct Lines {
    std::vector<std::string> lines;
    std::string_view lineEnd = kNewFileLineEnd;
    Encoding encoding = Encoding::Plain;
};

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

constexpr char32_t kReplacement = 0xFFFD;

// UTF-16 without its mark to UTF-8; a lone surrogate or an odd last byte
// becomes U+FFFD rather than failing the whole file.
std::string fromUtf16(std::string_view bytes, bool bigEndian)
{
    const auto unit = [&](std::size_t i) {
        const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
        const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
        return static_cast<char32_t>(hi << 8 | lo);
    };
    std::string out;
    out.reserve(bytes.size() / 2);
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = kReplacement;
        }
        appendUtf8(out, c);
    }
    if (i < bytes.size())
        appendUtf8(out, kReplacement);
    return out;
}

// The next code point of UTF-8 text; an invalid sequence gives U+FFFD for
// its first byte.
char32_t nextUtf8(std::string_view text, std::size_t &i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char first = byte(i);
    std::size_t length = first < 0x80 ? 1 : (first >> 5) == 0x6 ? 2 : (first >> 4) == 0xE ? 3 : (first >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
        ++i;
        return length == 1 ? first : kReplacement;
    }
    char32_t c = length == 1 ? first : first & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        c = c << 6 | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    i += length;
    return (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) ? kReplacement : c;
}

std::string toUtf16(std::string_view text, bool bigEndian)
{
    std::string out;
    out.reserve(text.size() * 2);
    const auto put = [&](char32_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextUtf8(text, i);
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    return out;
}

Lines splitLines(std::string_view raw)
{
    Lines out;
    std::string decoded;
    std::string_view text = raw;
    if (raw.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
        out.encoding = Encoding::Utf8Mark;
    } else if (raw.starts_with(kUtf16LeMark) || raw.starts_with(kUtf16BeMark)) {
        out.encoding = raw.starts_with(kUtf16LeMark) ? Encoding::Utf16Le : Encoding::Utf16Be;
        decoded = fromUtf16(raw.substr(2), out.encoding == Encoding::Utf16Be);
        text = decoded;
    }
    if (text.find("\r\n") != std::string_view::npos)
        out.lineEnd = "\r\n";
    else if (!text.empty())
        out.lineEnd = "\n";
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        out.lines.emplace_back(line);
        if (nl == std::string_view::npos)
            break;
        text.remove_prefix(nl + 1);
    }
    return out;
}

// Reads the whole file; false when it exists but cannot be read, which
// includes a folder or anything else in its place. Never throws: the stream
// reader reports some read errors (a folder, for one) by exception.
bool readWholeFile(const std::filesystem::path &path, std::string &text, bool &exists)
{
    try {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        exists = std::filesystem::exists(status);
        if (!exists)
            return status.type() == std::filesystem::file_type::not_found;
        if (!std::filesystem::is_regular_file(status))
            return false;
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return false;
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return !in.bad();
    } catch (const std::exception &) {
        return false;
    }
}

// Marked read-only: no write permission for anyone. Checked on the bits, not
// by trying, because a privileged user could write it all the same.
bool markedReadOnly(const std::filesystem::path &path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status))
        return false;
    using std::filesystem::perms;
    return (status.permissions() & (perms::owner_write | perms::group_write | perms::others_write)) == perms::none;
}

// The value as the private-profile functions return it: one pair of
// matching quotes around it goes, so that "5" reads as 5.
std::string_view unquoted(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

// The leading decimal number, as the private-profile integer reader takes
// it: "5 ; five" is 5. Without a leading digit, or beyond the signed 32-bit
// range, the value is not an integer.
std::optional<int> parseInt(std::string_view value)
{
    value = trim(value);
    bool plus = false;
    if (!value.empty() && value.front() == '+') {
        value.remove_prefix(1);
        plus = true;
    }
    if (value.empty() || (plus && (value.front() < '0' || value.front() > '9')))
        return std::nullopt;
    std::int32_t result = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), result);
    if (ec != std::errc())
        return std::nullopt;
    return result;
}

bool validName(std::string_view name, std::string_view forbidden)
{
    return !name.empty() && trim(name) == name && name.find_first_of(forbidden) == std::string_view::npos;
}

std::optional<std::string> readStringOrThrow(const std::filesystem::path &path, const std::string &section,
                                             const std::string &key)
{
    std::string text;
    bool exists = false;
    if (!readWholeFile(path, text, exists) || !exists)
        return std::nullopt;
    const Lines file = splitLines(text);
    bool inSection = false;
    bool sectionSeen = false;
    for (const auto &line : file.lines) {
        if (const auto name = sectionName(line)) {
            if (sectionSeen)
                break; // only the first section of that name counts
            inSection = equalsNoCase(*name, section);
            sectionSeen = inSection;
            continue;
        }
        if (!inSection)
            continue;
        if (const auto kv = keyValue(line); kv && equalsNoCase(kv->first, key))
            return std::string(unquoted(kv->second));
    }
    return std::nullopt;
}

// The file's lines ready to be edited; false with a reason when it must
// not or cannot be replaced.
bool loadForEdit(const std::filesystem::path &path, Lines &file, bool &exists, std::string *error)
{
    const auto fail = [error](std::string reason) {
        if (error)
            *error = std::move(reason);
        return false;
    };
    // Never through a link: run with privileges, the program would change
    // whatever file the link names.
    if (inspectFileTarget(path).link)
        return fail("the file is a link");
    if (markedReadOnly(path))
        return fail("the file is read-only");
    std::string text;
    if (!readWholeFile(path, text, exists))
        return fail("the file cannot be read");
    file = splitLines(text);
    return true;
}

// True when every byte belongs to a well-formed UTF-8 character.
bool validUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t at = i;
        if (nextUtf8(text, i) == kReplacement && text.substr(at, i - at) != "\xEF\xBF\xBD")
            return false;
    }
    return true;
}

bool store(const std::filesystem::path &path, const Lines &file, std::string *error)
{
    std::string out;
    for (const auto &line : file.lines) {
        out += line;
        out += file.lineEnd;
    }
    switch (file.encoding) {
    case Encoding::Plain:
        break;
    case Encoding::Utf8Mark:
        out.insert(0, kByteOrderMark);
        break;
    case Encoding::Utf16Le:
    case Encoding::Utf16Be:
        // Bytes that are no text (a Latin-1 name, say) would come back as
        // U+FFFD: refuse rather than store what no read finds again.
        if (!validUtf8(out)) {
            if (error)
                *error = "a name or value is not UTF-8 text, which a UTF-16 file cannot hold";
            return false;
        }
        out = std::string(file.encoding == Encoding::Utf16Le ? kUtf16LeMark : kUtf16BeMark) +
              toUtf16(out, file.encoding == Encoding::Utf16Be);
        break;
    }
    return replaceFileContents(path, out, error);
}

// Index of the first header of `section`; lines.size() when there is none.
std::size_t findSection(const std::vector<std::string> &lines, const std::string &section)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = sectionName(lines[i]); name && equalsNoCase(*name, section))
            return i;
    }
    return lines.size();
}

void setKeys(Lines &file, const std::string &section, const std::vector<std::pair<std::string, std::string>> &values)
{
    auto &lines = file.lines;
    for (const auto &[key, value] : values) {
        const std::string entry = key + "=" + value;
        const std::size_t header = findSection(lines, section);
        if (header == lines.size()) {
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
            continue;
        }
        std::size_t insertAt = header + 1;
        bool replaced = false;
        for (std::size_t i = header + 1; i < lines.size() && !sectionName(lines[i]); ++i) {
            if (const auto kv = keyValue(lines[i]); kv && equalsNoCase(kv->first, key)) {
                lines[i] = entry;
                replaced = true;
                break;
            }
            if (!trim(lines[i]).empty())
                insertAt = i + 1; // new keys go after the section's last line, before blank lines
        }
        if (!replaced)
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
    }
}

// Everything of writeProfileStrings after the names have been checked.
bool editAndReplace(const std::filesystem::path &path, const std::string &section,
                    const std::vector<std::pair<std::string, std::string>> &values, std::string *error)
{
    Lines file;
    bool exists = false;
    if (!loadForEdit(path, file, exists, error))
        return false;
    setKeys(file, section, values);
    return store(path, file, error);
}

// Everything of writeProfileSection after the names have been checked.
bool replaceSection(const std::filesystem::path &path, const std::string &section,
                    const std::vector<std::pair<std::string, std::string>> &values, std::string *error)
{
    Lines file;
    bool exists = false;
    if (!loadForEdit(path, file, exists, error))
        return false;
    auto &lines = file.lines;
    const std::size_t header = findSection(lines, section);
    if (header == lines.size() && values.empty())
        return true; // nothing to remove: the file stays as it is, or missing
    if (header < lines.size()) {
        const auto kept = [&values](std::string_view key) {
            for (const auto &value : values)
                if (equalsNoCase(value.first, key))
                    return true;
            return false;
        };
        std::size_t end = header + 1;
        bool content = false;
        while (end < lines.size() && !sectionName(lines[end])) {
            if (const auto kv = keyValue(lines[end]); kv && !kept(kv->first)) {
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(end));
                continue;
            }
            content = content || !trim(lines[end]).empty();
            ++end;
        }
        // An emptied section goes with its header, so that a file that
        // gained it and lost it again is as it was.
        if (!content && values.empty())
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(header));
    }
    setKeys(file, section, values);
    return store(path, file, error);
}

// The checks of every write: names that would break the file's lines.
bool validEntries(const std::string &section, const std::vector<std::pair<std::string, std::string>> &values,
                  std::string *error)
{
    const auto fail = [error](std::string reason) {
        if (error)
            *error = std::move(reason);
        return false;
    };
    if (!validName(section, "[]\r\n"))
        return fail("invalid section name");
    for (const auto &[key, value] : values) {
        if (!validName(key, "=[]\r\n") || key.front() == ';' || key.front() == '#')
            return fail("invalid key name");
        if (value.find_first_of("\r\n") != std::string::npos)
            return fail("invalid value");
    }
    return true;
}

} // namespace

std::string profileText(std::string_view raw)
{
    if (raw.starts_with(kByteOrderMark))
        return std::string(raw.substr(kByteOrderMark.size()));
    if (raw.starts_with(kUtf16LeMark) || raw.starts_with(kUtf16BeMark))
        return fromUtf16(raw.substr(2), raw.starts_with(kUtf16BeMark));
    return std::string(raw);
}

int readProfileInt(const std::filesystem::path &path, const std::string &section,
                   const std::string &key, int def)
{
    const std::optional<std::string> value = readProfileString(path, section, key);
    return value ? parseInt(*value).value_or(def) : def;
}

std::optional<std::string> readProfileString(const std::filesystem::path &path, const std::string &section,
                                             const std::string &key)
{
    try {
        return readStringOrThrow(path, section, key);
    } catch (const std::exception &) {
        return std::nullopt; // no memory for the text: as an unreadable file
    }
}

bool writeProfileStrings(const std::filesystem::path &path, const std::string &section,
                         const std::vector<std::pair<std::string, std::string>> &values,
                         std::string *error)
{
    if (!validEntries(section, values, error))
        return false;
    try {
        return editAndReplace(path, section, values, error);
    } catch (const std::exception &e) {
        // The caller names the file; its name may not even convert to narrow text.
        if (error)
            *error = std::string("cannot write: ") + e.what();
        return false;
    }
}

bool writeProfileSection(const std::filesystem::path &path, const std::string &section,
                         const std::vector<std::pair<std::string, std::string>> &values, std::string *error)
{
    if (!validEntries(section, values, error))
        return false;
    try {
        return replaceSection(path, section, values, error);
    } catch (const std::exception &e) {
        if (error)
            *error = std::string("cannot write: ") + e.what();
        return false;
    }
}

std::vector<std::pair<std::string, std::string>> readProfileSection(const std::filesystem::path &path,
                                                                    const std::string &section)
{
    std::vector<std::pair<std::string, std::string>> found;
    try {
        std::string text;
        bool exists = false;
        if (!readWholeFile(path, text, exists) || !exists)
            return found;
        const Lines file = splitLines(text);
        const std::size_t header = findSection(file.lines, section);
        for (std::size_t i = header + 1; i < file.lines.size() && !sectionName(file.lines[i]); ++i)
            if (const auto kv = keyValue(file.lines[i]))
                found.emplace_back(kv->first, kv->second);
    } catch (const std::exception &) {
        found.clear(); // no memory for the text: as an unreadable file
    }
    return found;
}

} // namespace platform
