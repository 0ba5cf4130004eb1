// The rules for texts that go to a module, one set for the program and
// zarfelcli alike: addresses, aliases, MACs, and the Latin-1 of the modules.
#pragma once

#include "Record.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zclient {

// --- Addresses: as the system's inet_addr reads them ---------------------------

// Valid when inet_addr converts the text to anything but 0.0.0.0 and
// 255.255.255.255: short, octal and hexadecimal forms pass ("10" is
// 0.0.0.10); malformed and empty texts fail. Addresses, masks and gateways.
bool isValidAddress(std::string_view text);
// inet_addr's value in host byte order (0xFFFFFFFF for what it rejects).
std::uint32_t addressValue(std::string_view text);
// Dotted decimal of a value.
std::string addressText(std::uint32_t value);
// What is sent for a valid typed address: its dotted decimal, so that what
// goes out is what was checked ("198.18.000.077" -> "198.18.0.63").
std::string canonicalAddress(std::string_view text);
// A search's destination: a valid address, or the limited broadcast written
// out. Anything else would be sent to the broadcast address by the library.
bool isValidDestination(std::string_view text);

// --- Aliases ---------------------------------------------------------------------

inline constexpr std::size_t kAliasLength = 11;
// Sendable text: no comma, CR, LF or NUL, each of which would start a new
// piece of a request.
bool isSendableText(std::string_view text);
// What is wrong with an alias for a module, or empty.
std::string aliasProblem(std::string_view alias);
// The grid shows "N/A" for a module without an alias: that is no alias to
// send, and an empty alias is shown so.
std::string aliasFromGrid(std::string_view shown);
std::string aliasForGrid(std::string_view alias);

// --- MACs --------------------------------------------------------------------------

// "00:0e:c6:00:00:01" or "00-0E-C6-00-00-01" -> "00:0E:C6:00:00:01".
std::optional<std::string> canonicalMac(std::string_view text);

// --- Module texts ----------------------------------------------------------------

// Modules hold single-byte Latin-1; files and other programs speak UTF-8.
std::string latin1ToUtf8(std::string_view latin1);
// Nothing when a character lies outside Latin-1. A byte that starts no
// well-formed UTF-8 sequence is taken as the Latin-1 character it is, so a
// file written in Latin-1 reads as well.
std::optional<std::string> utf8ToLatin1(std::string_view utf8);
// Length of the well-formed UTF-8 sequence at s[i] of two or more bytes, or 0.
std::size_t utf8Length(std::string_view s, std::size_t i);

// --- Settings for a module ---------------------------------------------------------

// The first thing in the way of giving `give` to a module.
struct Problem {
    enum Kind { None, Unsendable, InvalidAddress, LongAlias } kind = None;
    std::string key; // ip, mask, gateway, mac or alias
    std::string value;
    explicit operator bool() const { return kind != None; }
};
// Every text must be sendable, an alias fit the module, an address be valid.
// An address equal to what the module reported (`reported`, when known) is
// no change, so it is not sent and needs no check: a module may report
// 0.0.0.0 for no gateway.
Problem checkSettings(const Settings &give, const Record *reported);

} // namespace zclient
