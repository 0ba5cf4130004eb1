// Windows: the shell's "open" verb does the whole work and already answers
// with the codes OpenDocument promises.
#include "OpenDocument.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

int OpenDocument(const std::string &file)
{
    const HINSTANCE result = ::ShellExecuteA(nullptr, "open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

} // namespace platform
