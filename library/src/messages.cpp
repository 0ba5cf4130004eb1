#include "messages.h"

#include <atomic>
#include <cstdio>

#include "net.h"

namespace zarfel {

namespace {
std::atomic<ZarfelMessageHandler> g_handler{nullptr};
}

void setMessageHandler(ZarfelMessageHandler handler) { g_handler.store(handler); }

void showMessage(const char *text)
{
    if (ZarfelMessageHandler handler = g_handler.load()) {
        handler(text);
        return;
    }
    std::fprintf(stderr, "Zarfel: %s\n", text);
}

std::string socketErrorMessage(int error)
{
    const std::string reason = platform::errorText(error);
    const int size = std::snprintf(nullptr, 0, text::kSocketError, error, reason.c_str());
    std::string message(static_cast<size_t>(size), '\0');
    std::snprintf(message.data(), message.size() + 1, text::kSocketError, error, reason.c_str());
    return message;
}

} // namespace zarfel
