// Windows: the shell's "open" verb does the whole work and already answers
// with the codes OpenDocument promises.
#include "OpenDocument.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <climits>

namespace platform {

int OpenDocument(const std::string &file)
{
    // The shell may hand the file to extensions that are COM objects, so
    // COM must be started on the calling thread (a window thread usually
    // has it already; then this only counts).
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const HINSTANCE result = ShellExecuteA(nullptr, "open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com))
        CoUninitialize();
    // Only "above 32" is promised for a started viewer: a value that does
    // not fit an int must not turn into a failure code when narrowed.
    const INT_PTR code = reinterpret_cast<INT_PTR>(result);
    if (code > 32)
        return code > INT_MAX ? kOpenStarted : static_cast<int>(code);
    return code < 0 ? kOpenFailed : static_cast<int>(code);
}

} // namespace platform
