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

// ICMP.DLL and the three functions of it used here.
struct Icmp {
    HMODULE module = nullptr;
    IcmpCreateFileFn createFile = nullptr;
    IcmpCloseHandleFn closeHandle = nullptr;
    IcmpSendEchoFn sendEcho = nullptr;
};

// Loaded at every call and released again: nothing is kept between calls.
// False, with nothing left loaded, when the DLL or a function is missing.
bool loadIcmp(Icmp &icmp)
{
    icmp.module = LoadLibraryA("ICMP.DLL");
    if (!icmp.module)
        return false;
    icmp.createFile = lookup<IcmpCreateFileFn>(icmp.module, "IcmpCreateFile");
    icmp.closeHandle = lookup<IcmpCloseHandleFn>(icmp.module, "IcmpCloseHandle");
    icmp.sendEcho = lookup<IcmpSendEchoFn>(icmp.module, "IcmpSendEcho");
    if (!icmp.createFile || !icmp.closeHandle || !icmp.sendEcho) {
        FreeLibrary(icmp.module);
        return false;
    }
    return true;
}

// Winsock 1.1 and no other version; false with nothing left to clean up.
bool startWinsock()
{
    WSADATA data{};
    if (WSAStartup(0x0101, &data) != 0)
        return false;
    if (data.wVersion != 0x0101) {
        WSACleanup();
        return false;
    }
    return true;
}

// What one request came to: the number of replies, the call's error when
// none came, and the first reply record's status.
struct EchoOutcome {
    DWORD replies = 0;
    DWORD error = ERROR_SUCCESS;
    ULONG status = IP_REQ_TIMED_OUT;
};

EchoOutcome sendOneEcho(const Icmp &icmp, HANDLE handle, IPAddr destination, const EchoOptions &options)
{
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
    EchoOutcome outcome;
    outcome.replies = icmp.sendEcho(handle, destination, &noData, 0, &requestOptions, reply, sizeof reply,
                                    static_cast<DWORD>(std::max(options.timeoutMs, 0)));
    outcome.error = outcome.replies == 0 ? GetLastError() : ERROR_SUCCESS;
    ICMP_ECHO_REPLY first{};
    std::memcpy(&first, reply, sizeof first);
    outcome.status = first.Status;
    return outcome;
}

int echoResult(const EchoOutcome &outcome)
{
    // Refused as a whole (Wine does so for a user who may not send ICMP):
    // that says nothing about the address, which must not pass for free.
    if (outcome.replies == 0 && outcome.error == ERROR_ACCESS_DENIED)
        return kEchoUnusable;
    // Without a reply record the error code is the request's status (a
    // time-out, or a destination it could not be sent to).
    return EchoStatusResult(outcome.replies > 0 ? outcome.status : outcome.error);
}

} // namespace

int PingAddress(const std::string &address)
{
    return PingAddress(address, EchoOptions{});
}

// The system's echo service is used whatever socket kind the options name.
int PingAddress(const std::string &address, const EchoOptions &options)
{
    Icmp icmp;
    if (!loadIcmp(icmp))
        return kEchoUnusable;
    if (!startWinsock()) {
        FreeLibrary(icmp.module);
        return kEchoUnusable;
    }
    const HANDLE handle = icmp.createFile();
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        // Without a handle nothing can be sent: the address must not pass
        // for free.
        FreeLibrary(icmp.module);
        WSACleanup();
        return kEchoUnusable;
    }
    const IPAddr destination = inet_addr(address.c_str());
    const bool unsendable = !IsEchoDestination(ntohl(destination));
    const EchoOutcome outcome = unsendable ? EchoOutcome{} : sendOneEcho(icmp, handle, destination, options);
    icmp.closeHandle(handle);
    FreeLibrary(icmp.module);
    WSACleanup();
    if (unsendable)
        return kEchoNotSent;
    return echoResult(outcome);
}

} // namespace hostnet
