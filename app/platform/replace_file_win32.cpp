// Windows replacement of a whole file: temporary file beside it, flushed,
// then moved over the old one with write-through. Reparse points (symbolic
// links, junctions) are looked at, never written through. Ownership is not
// checked here: whom a file belongs to says little on Windows, where rights
// come from its access list.
#include "ReplaceFile.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <utility>

namespace platform {
namespace {

std::string lastErrorText(DWORD code)
{
    char *buffer = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char *>(&buffer), 0, nullptr);
    std::string text = n && buffer ? std::string(buffer, n) : "error " + std::to_string(code);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// A file name for the reason, in the system's ANSI code page like the
// message text itself, characters the code page lacks replaced. The
// standard library's path::string() throws for those (MSVC) or gives UTF-8
// (MinGW), which the rest of the reason is not.
std::string narrow(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return "?";
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

bool isReparsePoint(const std::filesystem::path &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The file the system opens for `path`, all reparse points followed; none
// when it cannot be opened (a dangling link, for one).
std::filesystem::path finalPath(const std::filesystem::path &path)
{
    const HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    std::wstring text(32768, L'\0');
    const DWORD n = GetFinalPathNameByHandleW(h, text.data(), DWORD(text.size()), FILE_NAME_NORMALIZED);
    CloseHandle(h);
    if (n == 0 || n >= text.size())
        return {};
    text.resize(n);
    // "\\?\C:\..." is "C:\..." to the operator, "\\?\UNC\host\..." is "\\host\...".
    if (text.rfind(LR"(\\?\UNC\)", 0) == 0)
        text = LR"(\\)" + text.substr(8);
    else if (text.rfind(LR"(\\?\)", 0) == 0)
        text = text.substr(4);
    return text;
}

} // namespace

FileTarget inspectFileTarget(const std::filesystem::path &path)
{
    FileTarget found;
    found.real = path;
    found.link = isReparsePoint(path);
    if (found.link) {
        if (auto real = finalPath(path); !real.empty())
            found.real = std::move(real);
    }
    return found;
}

bool replaceFileContents(const std::filesystem::path &path, const std::string &contents,
                         std::string *error)
{
    const auto fail = [error](const std::string &step, const std::filesystem::path &file, DWORD code) {
        if (error)
            *error = step + " " + narrow(file.native()) + ": " + lastErrorText(code);
        return false;
    };
    // MoveFileEx would replace the link itself; refused like on POSIX.
    if (isReparsePoint(path)) {
        if (error)
            *error = "cannot replace " + narrow(path.native()) + ": it is a link";
        return false;
    }
    std::filesystem::path folder = path.parent_path();
    if (folder.empty())
        folder = L".";

    wchar_t temp[MAX_PATH];
    if (GetTempFileNameW(folder.c_str(), L"ini", 0, temp) == 0)
        return fail("cannot create a file in", folder, GetLastError());
    const auto abandon = [&](const char *step, HANDLE h) {
        const DWORD code = GetLastError();
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        DeleteFileW(temp);
        return fail(step, temp, code);
    };

    HANDLE h = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return abandon("cannot open", h);
    const char *data = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(h, data, chunk, &written, nullptr))
            return abandon("cannot write", h);
        if (written == 0) {
            // Success without progress leaves no error code of its own.
            SetLastError(ERROR_WRITE_FAULT);
            return abandon("cannot write", h);
        }
        data += written;
        left -= written;
    }
    if (!FlushFileBuffers(h))
        return abandon("cannot flush", h);
    CloseHandle(h);
    if (!MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return abandon("cannot replace", INVALID_HANDLE_VALUE);
    return true;
}

} // namespace platform
