// Opens a document with the desktop's default viewer, the way the Windows
// shell's "open" verb does, and reports failures with the shell's result
// codes so that the Help command can explain them with one table on every
// platform. No toolkit dependency.
#pragma once

#include <filesystem>
#include <functional>
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
    kOpenTimeout = 28,               // the desktop's type lookup did not answer in time
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

// --- The pieces OpenDocument is made of, for tests and other callers --------

// Checks that `file` can be handed to a viewer: it exists, every folder of its
// path exists, and it can be read. Returns kOpenStarted when it can, else the
// failure code; on success *absolutePath receives the file's absolute name
// (symbolic links are kept: the viewer shows the name the user gave).
int checkDocumentFile(const std::string &file, std::string *absolutePath);

// What opens a document: `command` is run with the document's absolute name
// appended. `code` is kOpenStarted when `command` is usable, else the failure
// code, and `command` is then empty.
struct DocumentHandler {
    int code = kOpenNoAssociation;
    std::vector<std::string> command;
};

// Where the desktop's lookup searches: the program search path and the XDG
// data folders (applications/ below each holds the registered viewers).
struct DesktopSearchPaths {
    std::string path;      // like $PATH
    std::string dataHome;  // like $XDG_DATA_HOME
    std::string dataDirs;  // like $XDG_DATA_DIRS
    int lookupTimeoutMs = 5000;  // for all helper programs of one lookup together

    // Taken from the process environment, with the XDG defaults for what is
    // unset ($HOME/.local/share and /usr/local/share:/usr/share).
    static DesktopSearchPaths fromEnvironment();
};

// The desktop's lookup, through the freedesktop.org tools: the opener
// xdg-open must be on the search path, `xdg-mime query filetype` names the
// document's type (a few types are known by extension when that gives
// nothing), `xdg-mime query default` must name a viewer for it, and that
// viewer's .desktop entry must exist with a command to run. Runs the helper
// programs and waits for them (bounded by lookupTimeoutMs, as the caller
// waits too); starts no viewer.
// Failures: 31 no opener or no viewer for the type, 27 a viewer is named but
// its entry is missing or has no command, 28 a helper did not answer in time.
DocumentHandler findDesktopHandler(const std::string &absolutePath,
                                   const DesktopSearchPaths &paths);

// Starts argv[0] (an absolute program path) with the arguments in a session of
// its own and does not wait for it; no zombie is left behind. Returns
// kOpenStarted once the program has been executed, else 31 when it does not
// exist, 5 when it may not be run, 11 when it is no executable, 8 when no
// process could be made, 0 otherwise.
int launchDetached(const std::vector<std::string> &argv);

// Injection points, so that every outcome can be tested without starting a
// real viewer. An empty function stands for the default above.
struct OpenDocumentHooks {
    std::function<DocumentHandler(const std::string &absolutePath)> findHandler;
    std::function<int(const std::vector<std::string> &argv)> launch;
};

// OpenDocument with the given hooks: checkDocumentFile, then findHandler,
// then launch with the handler's command followed by the absolute name.
int OpenDocument(const std::string &file, const OpenDocumentHooks &hooks);

#endif

} // namespace platform
