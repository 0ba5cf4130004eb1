#include "protocol.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace zarfel::protocol {

namespace {

void storeText(char *field, size_t width, const char *from, size_t length)
{
    const size_t n = length < width ? length : width;
    std::memcpy(field, from, n);
    field[n] = '\0';
}

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The code after "VELKORQZ510," runs to the next comma or the end.
bool isAcknowledgementCode(const char *code)
{
    return code[0] == '8' && code[1] == '1' && (code[2] == ',' || code[2] == '\0');
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

int32_t leadingInteger(const char *text)
{
    const char *p = text;
    while (isBlank(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    int64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1)
            value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        value = INT32_MAX;
    return static_cast<int32_t>(value);
}

bool parseReply(char *text, size_t length, ModuleFields &out)
{
    if (length == 0)
        return false;
    text[length - 1] = '\0'; // the reply's terminator is not content

    enum class Kind { Prefix, Text, Dhcp, Mac };
    struct Key {
        const char *key;
        Kind kind;
        char *field;
        size_t width;
    };
    const Key keys[] = {
        {kPrefix, Kind::Prefix, nullptr, 0},
        {"NAME=", Kind::Text, out.name, kNameWidth},
        {"ALIAS=", Kind::Text, out.alias, kAliasWidth},
        {"DHCP=", Kind::Dhcp, nullptr, 0},
        {"IP=", Kind::Text, out.ip, kAddressWidth},
        {"MASK=", Kind::Text, out.mask, kAddressWidth},
        {"GATEWAY=", Kind::Text, out.gateway, kAddressWidth},
        {"MAC=", Kind::Mac, out.mac, kMacWidth},
    };

    bool recognised = false;
    for (const Key &k : keys) {
        const char *at = std::strstr(text, k.key);
        const char *comma = at ? std::strchr(at, ',') : nullptr;
        if (!at || (!comma && k.kind != Kind::Mac)) {
            if (!recognised)
                return false; // no prefix followed by a comma: not a search reply
            continue;
        }
        const char *value = at + std::strlen(k.key);
        switch (k.kind) {
        case Kind::Prefix:
            // An acknowledgement that arrives during a search is no module;
            // any other code after the prefix is not examined.
            if (*value == ',' && isAcknowledgementCode(value + 1))
                return false;
            break;
        case Kind::Text:
            storeText(k.field, k.width, value, static_cast<size_t>(comma - value));
            break;
        case Kind::Dhcp:
            out.dhcp = leadingInteger(value);
            break;
        case Kind::Mac: // a fixed 17 characters, comma or not
            storeText(k.field, k.width, value, strnlen(value, kMacWidth));
            break;
        }
        recognised = true;
    }
    return true;
}

bool parseAcknowledgement(const char *text, bool *accepted)
{
    if (!std::strstr(text, kAckMarker))
        return false;
    *accepted = std::strstr(text, kAckAccepted) != nullptr;
    return true;
}

bool equalIgnoringCase(const char *a, const char *b)
{
    for (; *a && *b; ++a, ++b)
        if (lower(*a) != lower(*b))
            return false;
    return *a == *b;
}

BuildResult buildConfigRequest(const ModuleFields &current, const ConfigChange &change,
                               std::string &request, int *changeCount)
{
    // A comma starts a new piece and CR ends the request: such a text would
    // send settings that nobody chose.
    const auto unsafe = [](const char *text) { return text && std::strpbrk(text, ",\r\n") != nullptr; };
    if (unsafe(current.mac) || unsafe(change.alias) || unsafe(change.ip) || unsafe(change.mask) ||
        unsafe(change.gateway) || unsafe(change.mac)) {
        request.clear();
        if (changeCount)
            *changeCount = 0;
        return BuildResult::BadText;
    }
    request = kConfigHead;
    request += current.mac;
    int changes = 0;
    bool tooLong = false;

    auto append = [&](const std::string &piece) {
        if (piece.size() > kMaxPiece)
            tooLong = true;
        request += piece;
        ++changes;
    };
    auto textPiece = [&](const char *key, const char *value) {
        return std::string(",") + key + value;
    };

    if (change.alias)
        append(textPiece("ALIAS=", change.alias));
    if (change.ip && !equalIgnoringCase(change.ip, current.ip))
        append(textPiece("IP=", change.ip));
    if (change.mask && !equalIgnoringCase(change.mask, current.mask))
        append(textPiece("MASK=", change.mask));
    if (change.gateway && !equalIgnoringCase(change.gateway, current.gateway))
        append(textPiece("GATEWAY=", change.gateway));
    if (change.mac && !equalIgnoringCase(change.mac, current.mac))
        append(textPiece("MAC=", change.mac));
    if (change.dhcp != current.dhcp) {
        char piece[32];
        std::snprintf(piece, sizeof piece, ",%s%d, ", "DHCP=", static_cast<int>(change.dhcp));
        append(piece);
    }

    if (changeCount)
        *changeCount = changes;
    if (changes == 0)
        return BuildResult::NothingToChange;
    request += '\r';
    if (tooLong || request.size() > kMaxRequest)
        return BuildResult::TooLong;
    return BuildResult::Ok;
}

} // namespace zarfel::protocol
