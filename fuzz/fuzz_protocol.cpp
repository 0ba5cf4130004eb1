// The device protocol against arbitrary datagrams and operator texts: the
// reply and acknowledgement parsers never read or write outside what they
// were given and keep every field within its width; whatever request the
// builder lets go out is one well-formed datagram.
#include "protocol.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace zarfel::protocol;

namespace {

void require(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

bool fieldFits(const char *field, size_t width)
{
    return strnlen(field, width + 1) <= width;
}

// A field as a module reports it: no separators or line ends, which the
// builder copies (the MAC) without looking; the operator's texts below are
// the ones it has to guard against.
void setField(char *field, size_t width, const std::string &text)
{
    size_t n = 0;
    for (const char c : text) {
        if (n == width || c == '\0')
            break;
        if (c != ',' && c != '\r' && c != '\n')
            field[n++] = c;
    }
    field[n] = '\0';
}

void checkReply(const std::string &datagram)
{
    if (datagram.empty())
        return;
    // Exactly the datagram and the one byte the parser may add, so that the
    // address sanitizer sees any read or write beyond it.
    std::vector<char> buffer(datagram.begin(), datagram.end());
    buffer.push_back('\0');
    ModuleFields out{};
    const bool isReply = parseReply(buffer.data(), datagram.size(), out);
    require(buffer[datagram.size() - 1] == '\0', "the reply's terminator is cut off");
    if (!isReply)
        return;
    require(fieldFits(out.name, kNameWidth) && fieldFits(out.ip, kAddressWidth)
                && fieldFits(out.mask, kAddressWidth) && fieldFits(out.gateway, kAddressWidth)
                && fieldFits(out.mac, kMacWidth) && fieldFits(out.alias, kAliasWidth),
            "a reply field is longer than its width");
}

void checkAcknowledgement(const std::string &datagram)
{
    const std::string text(datagram.c_str()); // as received: up to the first NUL
    bool accepted = false;
    const bool isAck = parseAcknowledgement(text.c_str(), &accepted);
    require(isAck == (text.find(kAckMarker) != std::string::npos), "acknowledgement not told by its marker");
    if (isAck)
        require(accepted == (text.find(kAckAccepted) != std::string::npos), "acceptance not told by OK");
}

void checkRequest(FuzzedDataProvider &in)
{
    ModuleFields current{};
    setField(current.name, kNameWidth, in.ConsumeRandomLengthString(32));
    setField(current.ip, kAddressWidth, in.ConsumeRandomLengthString(32));
    setField(current.mask, kAddressWidth, in.ConsumeRandomLengthString(32));
    setField(current.gateway, kAddressWidth, in.ConsumeRandomLengthString(32));
    setField(current.mac, kMacWidth, in.ConsumeRandomLengthString(32));
    setField(current.alias, kAliasWidth, in.ConsumeRandomLengthString(32));
    current.dhcp = in.ConsumeIntegral<int32_t>();

    // Each text is given or not; a given one may be anything an operator types.
    std::optional<std::string> texts[5];
    for (auto &text : texts) {
        if (in.ConsumeBool())
            text = in.ConsumeRandomLengthString(200);
    }
    auto pointer = [](const std::optional<std::string> &t) { return t ? t->c_str() : nullptr; };
    ConfigChange change;
    change.alias = pointer(texts[0]);
    change.ip = pointer(texts[1]);
    change.mask = pointer(texts[2]);
    change.gateway = pointer(texts[3]);
    change.mac = pointer(texts[4]);
    change.dhcp = in.ConsumeBool() ? current.dhcp : in.ConsumeIntegral<int32_t>();

    std::string request;
    int changes = -1;
    if (buildConfigRequest(current, change, request, &changes) != BuildResult::Ok)
        return; // nothing goes out; which texts are refused is the builder's choice
    require(changes > 0, "a request without a change");
    require(request.size() <= kMaxRequest, "request longer than 511 characters");
    require(request.rfind(kConfigHead, 0) == 0, "request does not start with its head");
    require(!request.empty() && request.back() == '\r', "request does not end with CR");
    require(request.find('\r') == request.size() - 1, "a CR inside the request");
    require(request.find('\n') == std::string::npos, "a LF inside the request");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string datagram = in.ConsumeRandomLengthString(kMaxDatagram);
    checkReply(datagram);
    checkAcknowledgement(datagram);
    checkRequest(in);
    return 0;
}
