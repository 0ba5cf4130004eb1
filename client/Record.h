// A found module and the settings to give one, as plain data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zclient {

// One module as the library reports it (its single-byte Latin-1 texts as
// they are), plus the host's own address its reply arrived on (empty when
// the system did not say).
struct Record {
    std::string name, alias;
    bool dhcp = false;
    std::string ip, mask, gateway, mac, adapter;
};

// What to give a module; what is absent keeps the module's value. Texts are
// Latin-1, as the module holds them.
struct Settings {
    std::optional<std::string> ip, mask, gateway, mac, alias;
    std::optional<bool> dhcp;
};

// The record number (1-based) of the module with this MAC, any case or
// separator, or 0.
std::int32_t findByMac(const std::vector<Record> &records, const std::string &mac);

} // namespace zclient
