// The library's messages to the user. The library has no window: a message
// goes to the handler that the program installed, or else to a message box
// of its own on Windows and to standard error elsewhere.
#pragma once
#include <string>

#include "zarfel.h"

namespace zarfel {

namespace text {
inline constexpr char kSocketLayerNotResponding[] = "WindowsSocket is not responded.";
inline constexpr char kVersionNotSupported[] = "Socket version is not supported by windows sockets";
inline constexpr char kServerSocketFailed[] = "Server socket() failed";
inline constexpr char kBindFailed[] = "bind() failed";
inline constexpr char kClientSocketFailed[] = "client socket() failed";
inline constexpr char kCleanupFailed[] = "Windows Sockets can not be closed.";
inline constexpr char kSocketError[] = "Socket Error: %d, %s";
inline constexpr char kReceiveFailed[] = " UDPThread recv() failed";
} // namespace text

void setMessageHandler(ZarfelMessageHandler handler);

// Shows the text and returns once it has been dismissed; runs on the calling
// thread, which may be the receive thread of a search.
void showMessage(const char *text);

// "Socket Error: %d, %s" with the platform's own text for the error number.
std::string socketErrorMessage(int error);

} // namespace zarfel
