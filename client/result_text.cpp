#include "ResultText.h"

namespace zclient {

namespace {

std::string quoted(std::string_view text, const char *after)
{
    return "'" + std::string(text) + "'" + after;
}

} // namespace

const char *initFailure(std::int32_t result)
{
    switch (result) {
    case -1: return "the socket version is not supported";
    case -2: return "the receiving socket could not be created";
    case -3: return "the reply port could not be bound (is it in use?)";
    case -4: return "the sending socket could not be created";
    default: return "the socket layer did not start";
    }
}

const char *configOutcome(std::int32_t result)
{
    switch (result) {
    case 0: return "accepted";
    case 1: return "refused by the module";
    case -1: return "not sent";
    case -2: return "no acknowledgement within 1000 ms";
    case -9: return "nothing to change";
    case -10: return "no sending socket";
    default: return "unexpected result";
    }
}

std::string unsendableTextMessage(std::string_view text)
{
    return quoted(text, " cannot be sent to a module: it holds a comma, a line break or a NUL character.");
}

std::string problemMessage(const Problem &problem)
{
    switch (problem.kind) {
    case Problem::None: break;
    case Problem::Unsendable: return unsendableTextMessage(problem.value);
    case Problem::LongAlias: return quoted(problem.value, " is longer than the 11 characters a module holds.");
    case Problem::InvalidAddress:
        return quoted(problem.value, problem.key == "mask"      ? " is a not valid MASK."
                                     : problem.key == "gateway" ? " is a not valid Gateway."
                                                                : " is not valid IP address.");
    }
    return {};
}

std::string problemText(const Problem &problem)
{
    const std::string head = problem.key + ": '" + problem.value + "' ";
    switch (problem.kind) {
    case Problem::None: break;
    case Problem::Unsendable:
    case Problem::LongAlias: return head + aliasProblem(problem.value);
    case Problem::InvalidAddress: return head + "is not an IPv4 address";
    }
    return {};
}

} // namespace zclient
