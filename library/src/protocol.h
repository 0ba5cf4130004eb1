// The device protocol's texts, the search-reply parser and the configuration
// request builder. Pure code: no sockets, no threads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace zarfel::protocol {

inline constexpr char kPrefix[] = "VELKORQZ510";
inline constexpr char kSearchRequest[] = "VELKORQZ510,00\r";
inline constexpr char kAckMarker[] = "VELKORQZ510,81";
inline constexpr char kAckAccepted[] = "OK";
inline constexpr char kConfigHead[] = "VELKORQZ510,01,TO=";

inline constexpr uint16_t kDevicePort = 57188;
inline constexpr uint16_t kReplyPort = 54321;

// Longest datagram held: the receive buffer is 2048 bytes including a NUL.
inline constexpr size_t kReceiveBufferSize = 2048;
inline constexpr size_t kMaxDatagram = kReceiveBufferSize - 1;

inline constexpr size_t kMaxRequest = 511; // configuration request, CR included
inline constexpr size_t kMaxPiece = 127;   // one optional piece of it

// Field widths (characters, without the NUL) of a module record.
inline constexpr size_t kNameWidth = 14;
inline constexpr size_t kAddressWidth = 16;
inline constexpr size_t kMacWidth = 17;
inline constexpr size_t kAliasWidth = 11;

// One module as the library holds it; texts are NUL-terminated and never
// longer than their field.
struct ModuleFields {
    char name[kNameWidth + 1];
    char ip[kAddressWidth + 1];
    char mask[kAddressWidth + 1];
    char gateway[kAddressWidth + 1];
    char mac[kMacWidth + 1];
    int32_t dhcp;
    char alias[kAliasWidth + 1];
};

// Parses a received search reply of `length` bytes (at least 1) held in
// `text`, which must have room for length + 1 bytes. The reply's last byte is
// its terminator and is overwritten with a NUL. Fills the zero-initialised
// `out` and returns true when the text is a search reply; values longer than
// their field are cut to the field's width. An acknowledgement (code 81
// after the prefix and its comma) is no search reply.
bool parseReply(char *text, size_t length, ModuleFields &out);

// Leading-decimal conversion: blanks, optional sign, digits; no digits give 0.
// Values beyond 32 bits saturate.
int32_t leadingInteger(const char *text);

// True when the NUL-terminated datagram is a configuration acknowledgement;
// *accepted tells whether the module took the change.
bool parseAcknowledgement(const char *text, bool *accepted);

// ASCII comparison ignoring letter case, as the device protocol compares texts.
bool equalIgnoringCase(const char *a, const char *b);

struct ConfigChange {
    const char *ip = nullptr;
    const char *mask = nullptr;
    const char *gateway = nullptr;
    const char *mac = nullptr;
    int32_t dhcp = 0;
    const char *alias = nullptr;
};

enum class BuildResult { Ok, NothingToChange, TooLong, BadText };

// Builds the configuration request for a module currently reporting
// `current`: the alias whenever given, each other setting only where it
// differs. On TooLong nothing is to be sent: a truncated request would reach a
// device with settings nobody asked for. On BadText a given text (or the
// module's MAC) holds a comma, CR or LF, which would add pieces of its own to
// the request: nothing is to be sent either.
BuildResult buildConfigRequest(const ModuleFields &current, const ConfigChange &change,
                               std::string &request, int *changeCount = nullptr);

} // namespace zarfel::protocol
