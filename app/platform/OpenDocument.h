// Opens a document with the desktop's default viewer, the way the Windows
// shell's "open" verb does, and reports failures with the shell's result
// codes so that the Help command can explain them with one table on every
// platform. The header is toolkit-free: the Windows form uses the shell alone.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <string_view>
#include <vector>

namespace platform {

// Result codes, numbered as the Windows shell numbers them. Anything above 32
// means the viewer was started; 32 or less is a failure.
enum OpenDocumentCode : int {
    kOpenFailed = 0,                 // a failure none of the codes below names
    kOpenFileNotFound = 2,           // the file does not exist
    kOpenPathNotFound = 3,           // a folder of the path does not exist
    kOpenAccessDenied = 5,           // the file (or a folder on its path) may not be read
    kOpenOutOfMemory = 8,            // no memory or process slot for the viewer
    kOpenBadFormat = 11,             // the opener program is not a valid executable
    kOpenSharingViolation = 26,      // the file is locked against reading
    kOpenAssociationIncomplete = 27, // a viewer is registered but cannot be found or run
    kOpenTimeout = 28,               // the desktop's viewer lookup did not answer in time
    kOpenNoAssociation = 31,         // nothing can open a file of this type
    kOpenStarted = 33,               // the viewer runs; it is not waited for
};

constexpr bool openDocumentStarted(int code) { return code > 32; }

// Opens `file` (relative names are taken from the current working directory)
// with the desktop's default viewer and returns at once: > 32 when the viewer
// was started, else one of the failure codes above.
int OpenDocument(const std::string &file);

// The document to open of several places it may be in, in order of
// preference: the first that exists, else the first (whose opening then
// tells the operator that it is missing). Empty for an empty list.
inline std::string firstExistingDocument(const std::vector<std::string> &candidates)
{
    for (const std::string &candidate : candidates) {
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::path(candidate), ec))
            return candidate;
    }
    return candidates.empty() ? std::string() : candidates.front();
}

// The message that explains a failed OpenDocument to the operator; empty for a
// code above 32, where there is nothing to explain.
constexpr std::string_view openDocumentErrorText(int code)
{
    if (code > 32)
        return {};
    switch (code) {
    case kOpenFileNotFound:
        return "The specified file was not found.";
    case kOpenPathNotFound:
        return "The specified path was not found.";
    case kOpenBadFormat:
        return "The .exe file is invalid (non-Win32R .exe or error in .exe image).";
    case kOpenAccessDenied:
    case kOpenSharingViolation:
        return "The operating system denied access to the specified file.";
    case kOpenAssociationIncomplete:
    case kOpenNoAssociation:
        return "The file name association is incomplete or invalid. "
               "There is no application associated with the given file name extension.";
    default:
        return "Open Dalvora Help Error!";
    }
}

// A line to add to the message where no viewer could be found: what to
// install. Empty where the code does not say that.
constexpr std::string_view openDocumentViewerAdvice(int code)
{
#ifdef _WIN32
    static_cast<void>(code);
    return {};
#else
    return code == kOpenNoAssociation || code == kOpenAssociationIncomplete
               ? "To read the help, install the package xchm (a CHM viewer)."
               : std::string_view();
#endif
}

#ifndef _WIN32
// OpenDocument with the wait for the desktop's viewer lookup bounded by
// `lookupTimeoutMs` (OpenDocument(file) allows kDesktopLookupTimeoutMs); 28
// when the lookup takes longer. The viewer itself is never waited for.
constexpr int kDesktopLookupTimeoutMs = 3000;
int OpenDocument(const std::string &file, int lookupTimeoutMs);
#endif

} // namespace platform
