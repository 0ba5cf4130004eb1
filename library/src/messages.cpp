#include "messages.h"

#include <atomic>
#include <cstdio>

#include "net.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

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
#ifdef _WIN32
    // The library owns no window: a task-modal box with one OK button that
    // blocks just the thread that raised it, as the caller expects.
    MessageBoxA(nullptr, text, "Zarfel", MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL | MB_SETFOREGROUND);
#else
    std::fprintf(stderr, "Zarfel: %s\n", text);
#endif
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
