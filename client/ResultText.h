// Texts for the library's results and for problems with what is to be sent,
// as the program and zarfelcli show them.
#pragma once

#include "Rules.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zclient {

// Why Zarfel_Init failed.
const char *initFailure(std::int32_t result);
// The outcome of Zarfel_ConfigModule: "accepted", "refused by the module", ...
const char *configOutcome(std::int32_t result);

// The program's message for a text that cannot be sent.
std::string unsendableTextMessage(std::string_view text);
// The program's message for a problem: unsendable text, an invalid IP
// address, mask or gateway, an alias too long.
std::string problemMessage(const Problem &problem);
// The same in one line of zarfelcli: "ip: '1.2.3.400' is not an IPv4 address".
std::string problemText(const Problem &problem);

} // namespace zclient
