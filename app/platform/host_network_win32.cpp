// Host network services on Windows: one echo request through ICMP.DLL,
// loaded for that one request.
#include "HostNetwork.h"

// inet_addr on purpose: its parsing rules are the address check, which
// newer compilers' deprecation must not talk us out of.
#ifndef _WINSOCK_DEPRECATED_NO_WARNINGS
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <ipexport.h>

#include "echo_status_win32.h"

#include <algorithm>
#include <cstring>

namespace hostnet {

namespace {

// --- ICMP echo -------------------------------------------------------------------

using IcmpCreateFileFn = HANDLE(WINAPI *)();
using IcmpCloseHandleFn = BOOL(WINAPI *)(HANDLE);
using IcmpSendEchoFn = DWORD(WINAPI *)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);

template <class Function>
Function lookup(HMODULE module, const char *name)
{
    // Through the generic function type, which converts to any other.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

} // namespace

int PingAddress(const std::string &address)
{
    return PingAddress(address, EchoOptions{});
}

// The system's echo service is used whatever socket kind the options name.
int PingAddress(const std::string &address, const EchoOptions &options)
{
    // Loaded at every call and released again: nothing is kept between calls.
    const HMODULE icmp = LoadLibraryA("ICMP.DLL");
    if (!icmp)
        return kEchoUnusable;
    const auto createFile = lookup<IcmpCreateFileFn>(icmp, "IcmpCreateFile");
    const auto closeHandle = lookup<IcmpCloseHandleFn>(icmp, "IcmpCloseHandle");
    const auto sendEcho = lookup<IcmpSendEchoFn>(icmp, "IcmpSendEcho");
    if (!createFile || !closeHandle || !sendEcho) {
        FreeLibrary(icmp);
        return kEchoUnusable;
    }
    WSADATA data{};
    if (WSAStartup(0x0101, &data) != 0) {
        FreeLibrary(icmp);
        return kEchoUnusable;
    }
    if (data.wVersion != 0x0101) {
        WSACleanup();
        FreeLibrary(icmp);
        return kEchoUnusable;
    }
    const HANDLE handle = createFile();
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        // Without a handle nothing can be sent: the address must not pass
        // for free.
        FreeLibrary(icmp);
        WSACleanup();
        return kEchoUnusable;
    }

    const IPAddr destination = inet_addr(address.c_str());
    IP_OPTION_INFORMATION requestOptions{};
    requestOptions.Ttl = static_cast<UCHAR>(std::clamp(options.timeToLive, 1, 255));
    // Room for one reply record and the 8 bytes of an ICMP error message, as
    // IcmpSendEcho requires, and no reply data. The record is 28 bytes in a
    // 32-bit process and 40 in a 64-bit one (it holds two pointers).
    alignas(ICMP_ECHO_REPLY) unsigned char reply[sizeof(ICMP_ECHO_REPLY) + 8] = {};
    {
        // A call that delivers no record leaves a status that is no answer.
        ICMP_ECHO_REPLY none{};
        none.Status = IP_REQ_TIMED_OUT;
        std::memcpy(reply, &none, sizeof none);
    }
    char noData = 0;
    const bool unsendable = !IsEchoDestination(ntohl(destination));
    DWORD replies = 0;
    DWORD error = ERROR_SUCCESS;
    if (!unsendable) {
        replies = sendEcho(handle, destination, &noData, 0, &requestOptions, reply, sizeof reply,
                           static_cast<DWORD>(std::max(options.timeoutMs, 0)));
        error = replies == 0 ? GetLastError() : ERROR_SUCCESS;
    }
    ICMP_ECHO_REPLY first{};
    std::memcpy(&first, reply, sizeof first);

    closeHandle(handle);
    FreeLibrary(icmp);
    WSACleanup();
    if (unsendable)
        return kEchoNotSent;
    // Refused as a whole (Wine does so for a user who may not send ICMP):
    // that says nothing about the address, which must not pass for free.
    if (replies == 0 && error == ERROR_ACCESS_DENIED)
        return kEchoUnusable;
    // Without a reply record the error code is the request's status (a
    // time-out, or a destination it could not be sent to).
    return EchoStatusResult(replies > 0 ? first.Status : error);
}

} // namespace hostnet
