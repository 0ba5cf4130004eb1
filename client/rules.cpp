#include "Rules.h"

#include "Record.h"

#include <cctype>
#include <cstdio>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#endif

namespace zclient {

std::uint32_t addressValue(std::string_view text)
{
#ifdef _WIN32
    // Some Windows versions want the sockets layer started even to convert.
    static const struct Winsock {
        Winsock()
        {
            WSADATA data{};
            WSAStartup(MAKEWORD(2, 2), &data);
        }
        ~Winsock() { WSACleanup(); }
    } winsock;
#endif
    return ntohl(inet_addr(std::string(text).c_str()));
}

std::string addressText(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(value >> 24), unsigned(value >> 16 & 0xffu),
                  unsigned(value >> 8 & 0xffu), unsigned(value & 0xffu));
    return text;
}

bool isValidAddress(std::string_view text)
{
    const std::uint32_t value = addressValue(text);
    return value != 0 && value != 0xFFFFFFFFu;
}

std::string canonicalAddress(std::string_view text)
{
    return addressText(addressValue(text));
}

bool isValidDestination(std::string_view text)
{
    return text == "255.255.255.255" || isValidAddress(text);
}

bool isSendableText(std::string_view text)
{
    return text.find_first_of(std::string_view(",\r\n\0", 4)) == std::string_view::npos;
}

std::string aliasProblem(std::string_view alias)
{
    if (!isSendableText(alias))
        return "holds a comma, a line break or a NUL";
    if (alias.size() > kAliasLength)
        return "is longer than the 11 characters a module holds";
    return {};
}

std::string aliasFromGrid(std::string_view shown)
{
    return shown == "N/A" ? std::string() : std::string(shown);
}

std::string aliasForGrid(std::string_view alias)
{
    return alias.empty() ? std::string("N/A") : std::string(alias);
}

std::optional<std::string> canonicalMac(std::string_view text)
{
    if (text.size() != 17 || (text[2] != ':' && text[2] != '-'))
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (i % 3 == 2) {
            if (c != static_cast<unsigned char>(text[2]))
                return std::nullopt;
            out += ':';
        } else if (std::isxdigit(c)) {
            out += static_cast<char>(std::toupper(c));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

std::int32_t findByMac(const std::vector<Record> &records, const std::string &mac)
{
    const auto wanted = canonicalMac(mac);
    for (std::size_t i = 0; wanted && i < records.size(); ++i)
        if (canonicalMac(records[i].mac) == wanted)
            return static_cast<std::int32_t>(i + 1);
    return 0;
}

Problem checkSettings(const Settings &give, const Record *reported)
{
    struct Text {
        const char *key;
        const std::optional<std::string> &value;
        const std::string *reported; // for addresses
    };
    const Text texts[] = {{"ip", give.ip, reported ? &reported->ip : nullptr},
                          {"mask", give.mask, reported ? &reported->mask : nullptr},
                          {"gateway", give.gateway, reported ? &reported->gateway : nullptr},
                          {"mac", give.mac, nullptr},
                          {"alias", give.alias, nullptr}};
    for (const Text &t : texts)
        if (t.value && !isSendableText(*t.value))
            return {Problem::Unsendable, t.key, *t.value};
    if (give.alias && give.alias->size() > kAliasLength)
        return {Problem::LongAlias, "alias", *give.alias};
    for (const Text &t : texts) {
        const bool address = t.value && t.key != std::string_view("mac") && t.key != std::string_view("alias");
        if (address && !(t.reported && *t.reported == *t.value) && !isValidAddress(*t.value))
            return {Problem::InvalidAddress, t.key, *t.value};
    }
    return {};
}

std::string latin1ToUtf8(std::string_view latin1)
{
    std::string out;
    for (const char c : latin1) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xc0 | b >> 6);
            out += static_cast<char>(0x80 | (b & 0x3f));
        }
    }
    return out;
}

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

std::optional<std::string> utf8ToLatin1(std::string_view utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t n = utf8Length(utf8, i);
        if (n == 0) {
            out += utf8[i++];
            continue;
        }
        // Two bytes from C2 or C3 hold U+0080 to U+00FF; longer ones lie beyond.
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (n != 2 || lead > 0xc3)
            return std::nullopt;
        out += static_cast<char>((lead & 0x03u) << 6 | (static_cast<unsigned char>(utf8[i + 1]) & 0x3fu));
        i += 2;
    }
    return out;
}

} // namespace zclient
