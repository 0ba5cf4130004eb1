// Host network services on Windows: the first adapter's settings as IP
// Helper lists the adapter and the TCP/IP interface key of the registry
// holds its values, address texts by Winsock's inet_addr and inet_ntoa, and
// one echo request through ICMP.DLL, loaded for that one request.
#include "HostNetwork.h"

// inet_addr and inet_ntoa on purpose: their parsing rules are the address
// check, which newer compilers' deprecation must not talk us out of.
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
#include <cstdio>
#include <cstring>
#include <vector>

namespace hostnet {

namespace {

// --- Address texts -------------------------------------------------------------

// inet_addr and inet_ntoa belong to the sockets interface, which must be
// started around them; start-ups are counted, so this nests with the
// library's own.
class WinsockScope
{
public:
    WinsockScope()
    {
        WSADATA data{};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockScope()
    {
        if (started_)
            WSACleanup();
    }
    WinsockScope(const WinsockScope &) = delete;
    WinsockScope &operator=(const WinsockScope &) = delete;

private:
    bool started_ = false;
};

std::uint32_t fromText(const std::string &text)
{
    return ntohl(inet_addr(text.c_str()));
}

std::string toText(std::uint32_t address)
{
    in_addr a{};
    a.s_addr = htonl(address);
    const char *dotted = inet_ntoa(a); // a buffer of the calling thread
    return dotted ? std::string(dotted) : std::string();
}

// --- Host adapter ----------------------------------------------------------------

struct FirstAdapter
{
    std::string name;    // AdapterName, the interface's identifier text
    bool dhcp = false;   // DhcpEnabled
    std::string address; // the first entry of IpAddressList
};

// A fixed-size text field of IP_ADAPTER_INFO, which need not end in a zero.
template <std::size_t N>
std::string fieldText(const char (&field)[N])
{
    return std::string(field, std::find(field, field + N, '\0'));
}

// GetAdaptersInfo, once for the size of the list and once to fill it.
// `sizeQueryFailed` tells that the size query did not report a too small
// buffer (the caller tells the operator).
bool readAdapterList(std::vector<IP_ADAPTER_INFO> &list, bool &sizeQueryFailed)
{
    ULONG size = 0;
    sizeQueryFailed = GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW;
    // Whole records keep the list's alignment.
    const std::size_t records = (std::size_t{size} + sizeof(IP_ADAPTER_INFO) - 1) / sizeof(IP_ADAPTER_INFO);
    list.assign(std::max<std::size_t>(records, 1), IP_ADAPTER_INFO{});
    ULONG capacity = static_cast<ULONG>(records * sizeof(IP_ADAPTER_INFO));
    return GetAdaptersInfo(list.data(), &capacity) == ERROR_SUCCESS;
}

// A disconnected adapter is listed with 0.0.0.0: it has no usable address.
bool hasAddress(const IP_ADAPTER_INFO &a)
{
    const std::string address = fieldText(a.IpAddressList.IpAddress.String);
    return !address.empty() && address != "0.0.0.0";
}

// The chosen adapter, else (also when the host no longer has it) the first
// one with an address.
bool readChosenAdapter(FirstAdapter &adapter, bool &sizeQueryFailed)
{
    std::vector<IP_ADAPTER_INFO> list;
    if (!readAdapterList(list, sizeQueryFailed))
        return false;
    const std::string choice = HostAdapterChoice();
    const IP_ADAPTER_INFO *pick = nullptr;
    for (int pass = choice.empty() ? 1 : 0; pass < 2 && !pick; ++pass)
        for (const IP_ADAPTER_INFO *a = &list.front(); a && !pick; a = a->Next)
            if (hasAddress(*a) && (pass == 1 || fieldText(a->AdapterName) == choice))
                pick = a;
    if (!pick)
        pick = &list.front(); // reads as "0.0.0.0": no adapter has an address
    adapter.name = fieldText(pick->AdapterName);
    adapter.dhcp = pick->DhcpEnabled != 0;
    adapter.address = fieldText(pick->IpAddressList.IpAddress.String);
    return true;
}

// The registry reader of one call: opened read-only, closed at its end.
class InterfaceKey
{
public:
    explicit InterfaceKey(const std::string &adapterName)
    {
        char path[512];
        const int n = std::snprintf(path, sizeof path, "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\%s",
                                    adapterName.c_str());
        if (n > 0 && static_cast<std::size_t>(n) < sizeof path &&
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~InterfaceKey()
    {
        if (key_)
            RegCloseKey(key_);
    }
    InterfaceKey(const InterfaceKey &) = delete;
    InterfaceKey &operator=(const InterfaceKey &) = delete;

    // The value's text up to its first zero byte: the whole text of a
    // string value, the first string of a multi-string value (a host with
    // several addresses or gateways gives its first one). The data is read
    // raw: its size n is asked first, n + 1 bytes are allocated and byte n
    // is zero, so a value stored without its terminating zero still ends.
    // Values of other than the text types hold no address text: empty, as
    // for a value that cannot be read.
    std::string text(const char *value) const
    {
        if (!key_)
            return {};
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (RegQueryValueExA(key_, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return {};
        if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)
            return {};
        std::vector<char> data(std::size_t{size} + 1, '\0');
        DWORD got = size;
        if (RegQueryValueExA(key_, value, nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &got) !=
            ERROR_SUCCESS)
            return {};
        return std::string(data.data());
    }

private:
    HKEY key_ = nullptr;
};

// The value that holds an item, by the adapter's DHCP mode. With DHCP the
// address and mask are string values and the gateway a multi-string value;
// set by hand, all three are multi-string values.
const char *valueName(int item, bool dhcp)
{
    switch (item) {
    case 1:
        return dhcp ? "DhcpIpAddress" : "IpAddress";
    case 2:
        return dhcp ? "DhcpSubnetMask" : "SubnetMask";
    default:
        return dhcp ? "DhcpDefaultGateway" : "DefaultGateway";
    }
}

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

std::vector<HostAdapter> ListHostAdapters()
{
    std::vector<HostAdapter> adapters;
    std::vector<IP_ADAPTER_INFO> list;
    bool sizeFailed = false;
    if (!readAdapterList(list, sizeFailed))
        return adapters;
    for (const IP_ADAPTER_INFO *a = &list.front(); a; a = a->Next)
        if (a->Type != MIB_IF_TYPE_LOOPBACK && hasAddress(*a))
            adapters.push_back({fieldText(a->AdapterName), fieldText(a->Description),
                                fromText(fieldText(a->IpAddressList.IpAddress.String)),
                                fromText(fieldText(a->IpAddressList.IpMask.String)), true});
    return adapters;
}

int ReadHostAdapter(int item, std::string &text, bool *sizeQueryFailed)
{
    if (sizeQueryFailed)
        *sizeQueryFailed = false;
    if (item < 1 || item > 3)
        return 1;

    FirstAdapter adapter;
    bool sizeFailed = false;
    const bool read = readChosenAdapter(adapter, sizeFailed);
    // No adapter at all is reported like a failed size query, so that the
    // operator hears of it once; the callers take "0.0.0.0" as no address.
    if (sizeQueryFailed)
        *sizeQueryFailed = sizeFailed || !read;
    if (!read || adapter.address == "0.0.0.0") {
        text = "0.0.0.0";
        return 1;
    }
    const InterfaceKey key(adapter.name);
    text = key.text(valueName(item, adapter.dhcp));
    return 0;
}

std::uint32_t AddressFromText(const std::string &text)
{
    const WinsockScope winsock;
    return fromText(text);
}

std::string AddressToText(std::uint32_t address)
{
    const WinsockScope winsock;
    return toText(address);
}

bool IsValidAddressText(const std::string &text)
{
    const WinsockScope winsock;
    const std::string dotted = toText(fromText(text));
    return dotted != "0.0.0.0" && dotted != "255.255.255.255";
}

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
