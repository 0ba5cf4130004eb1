// Helpers of the Windows platform tests: whether they run under Wine, and
// what the test script tells them about the machine they run on.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace wintest {

// Wine's ntdll has an export that no Windows has.
inline bool underWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline std::string environment(const char *name)
{
    char value[256];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// Set by scripts/test-windows.sh:
//  HOSTNET_LAYOUT             the adapters of the private network namespace,
//                             named as scripts/testlan.sh names them
//  DALVORA_WINE_ECHO=1        ICMP echo of 127.0.0.1 must work (Wine runs
//                             as root in a private network namespace)
//  DALVORA_WINE_NETNS=1       the run is in a private network namespace
//                             that has nothing but the loopback
inline bool flag(const char *name)
{
    return environment(name) == "1";
}

} // namespace wintest
