// zarfelcli: searches for and configures modules from the Windows console
// through Zarfel.dll. It loads the DLL at run time and binds every function
// by its export number, exactly as the program does, so it also checks that
// a build of the DLL keeps those numbers.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "zarfel.h"

namespace {

constexpr const char *kUsage = R"(Usage: zarfelcli COMMAND [ARGS] [COMMAND [ARGS]]...

Finds and configures networked I/O modules through Zarfel.dll, loaded from
this program's folder and bound by export number. The commands run in the
order given, in one session of the library: the list of found modules lasts
only as long as the program runs, so search and configure go on one line.

Commands:
  init [PORT]         start the library with reply port PORT (1-65535,
                      default 54321); without it, the first command that
                      needs the library starts it with 54321
  options MS [N]      search time-out in milliseconds (the library uses at
                      least 1000) and wished number of replies, after which
                      a search ends early (default 0: no limit)
  search ADDR[:PORT]  send a search request to ADDR, port PORT (default
                      57188), and wait until the search has ended;
                      255.255.255.255 searches the local network segment
  list                list the modules found by the last search
  configure N [KEY=VALUE]...
                      change the settings of module N of the list. Keys:
                      ip, mask, gateway, mac (addresses as text), dhcp (0 off,
                      1 on), alias. A key not given keeps the module's value;
                      the alias is sent only when given.
  -h, --help          show this text

Example:
  zarfelcli init 54321 search 255.255.255.255 list configure 2 ip=192.168.1.20 alias=pump

Exit status: 0 when every command succeeded; 1 when one failed (the commands
after it are not run); 2 on a usage error (nothing is run).
)";

// The exports the program imports, by number; 11 lets a console program
// print the library's messages instead of showing message boxes.
struct Zarfel {
    decltype(&Zarfel_Init) init = nullptr;                     // 2
    decltype(&Zarfel_Close) close = nullptr;                   // 3
    decltype(&Zarfel_BroadcastStart) broadcastStart = nullptr; // 4
    decltype(&Zarfel_BroadcastStop) broadcastStop = nullptr;   // 5
    decltype(&Zarfel_GetModuleInfo) getModuleInfo = nullptr;   // 6
    decltype(&Zarfel_GetState) getState = nullptr;             // 7
    decltype(&Zarfel_GetCount) getCount = nullptr;             // 8
    decltype(&Zarfel_ConfigModule) configModule = nullptr;     // 9
    decltype(&Zarfel_SetOptions) setOptions = nullptr;         // 10
    decltype(&Zarfel_SetMessageHandler) setMessageHandler = nullptr; // 11
};

template <typename F>
bool importByNumber(HMODULE dll, int number, F &to)
{
    const FARPROC proc = GetProcAddress(dll, MAKEINTRESOURCEA(number));
    if (!proc) {
        std::fprintf(stderr, "zarfelcli: Zarfel.dll has no export number %d\n", number);
        return false;
    }
    // Through void(*)(void), the one function type every other converts to.
    to = reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(proc));
    return true;
}

void ZARFEL_CALL printMessage(const char *text)
{
    std::fprintf(stderr, "zarfelcli: library message: %s\n", text);
}

struct Step {
    enum Kind { Init, Options, Search, List, Configure } kind;
    long port = 54321;
    unsigned long timeoutMs = 0;
    long wished = 0;
    std::string address;
    long module = 0;
    std::optional<std::string> ip, mask, gateway, mac, alias;
    std::optional<long> dhcp;
};

int usageError(const std::string &message)
{
    std::fprintf(stderr, "zarfelcli: %s\nTry 'zarfelcli --help'.\n", message.c_str());
    return 2;
}

std::optional<long> number(const char *text, long low, long high)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high)
        return std::nullopt;
    return v;
}

// Dotted IPv4 text that inet_addr reads. The library sends unreadable text to
// the broadcast address; a typing error must not turn into a broadcast.
bool isAddress(const std::string &text)
{
    return text == "255.255.255.255" || inet_addr(text.c_str()) != INADDR_NONE;
}

bool isCommand(const char *a)
{
    for (const char *c : {"init", "options", "search", "list", "configure"})
        if (std::strcmp(a, c) == 0)
            return true;
    return false;
}

// Reads the whole command line before anything runs. 0, or the exit code of
// a usage error.
int parse(int argc, char **argv, std::vector<Step> &steps)
{
    int i = 1;
    auto hasArgument = [&] { return i < argc && !isCommand(argv[i]); };
    while (i < argc) {
        const std::string command = argv[i++];
        Step step{};
        if (command == "-h" || command == "--help" || command == "/?") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (command == "init") {
            step.kind = Step::Init;
            if (hasArgument()) {
                const auto port = number(argv[i++], 1, 65535);
                if (!port)
                    return usageError("init: PORT must be a number from 1 to 65535");
                step.port = *port;
            }
        } else if (command == "options") {
            step.kind = Step::Options;
            if (!hasArgument())
                return usageError("options needs a time-out in milliseconds");
            const auto ms = number(argv[i++], 0, 0x7fffffffL);
            if (!ms)
                return usageError("options: the time-out must be a number of milliseconds");
            step.timeoutMs = static_cast<unsigned long>(*ms);
            if (hasArgument()) {
                const auto wished = number(argv[i++], 0, 0x7fffffffL);
                if (!wished)
                    return usageError("options: the wished number must be 0 or more");
                step.wished = *wished;
            }
        } else if (command == "search") {
            step.kind = Step::Search;
            if (!hasArgument())
                return usageError("search needs a destination ADDR[:PORT]");
            const std::string destination = argv[i++];
            const auto colon = destination.rfind(':');
            step.address = destination.substr(0, colon);
            step.port = 57188;
            if (colon != std::string::npos) {
                const auto port = number(destination.c_str() + colon + 1, 1, 65535);
                if (!port)
                    return usageError("search: PORT must be a number from 1 to 65535");
                step.port = *port;
            }
            if (!isAddress(step.address))
                return usageError("search: '" + step.address + "' is not an IPv4 address");
        } else if (command == "list") {
            step.kind = Step::List;
        } else if (command == "configure") {
            step.kind = Step::Configure;
            const auto n = hasArgument() ? number(argv[i++], 1, 0x7fffffffL) : std::nullopt;
            if (!n)
                return usageError("configure needs the number of a module of the list (1 or more)");
            step.module = *n;
            while (hasArgument()) {
                const std::string setting = argv[i++];
                const auto eq = setting.find('=');
                if (eq == std::string::npos)
                    return usageError("configure: '" + setting + "' is not KEY=VALUE");
                const std::string key = setting.substr(0, eq), value = setting.substr(eq + 1);
                const bool addressKey = key == "ip" || key == "mask" || key == "gateway";
                if (addressKey && !isAddress(value))
                    return usageError("configure: " + key + " '" + value + "' is not an IPv4 address");
                if (key == "ip")
                    step.ip = value;
                else if (key == "mask")
                    step.mask = value;
                else if (key == "gateway")
                    step.gateway = value;
                else if (key == "mac")
                    step.mac = value;
                else if (key == "alias")
                    step.alias = value;
                else if (key == "dhcp") {
                    const auto d = number(value.c_str(), 0, 1);
                    if (!d)
                        return usageError("configure: dhcp must be 0 or 1");
                    step.dhcp = *d;
                } else
                    return usageError("configure: unknown key '" + key + "'");
            }
        } else {
            return usageError("unknown command '" + command + "'");
        }
        steps.push_back(std::move(step));
    }
    if (steps.empty())
        return usageError("no command given");
    return 0;
}

std::string folderOfThisProgram()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return {};
    std::string p(path, n);
    const auto slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

const char *initFailure(int32_t r)
{
    switch (r) {
    case -1: return "the socket version is not supported";
    case -2: return "the receiving socket could not be created";
    case -3: return "the reply port could not be bound (is it in use?)";
    case -4: return "the sending socket could not be created";
    default: return "the socket layer did not start";
    }
}

const char *configOutcome(int32_t r)
{
    switch (r) {
    case 0: return "accepted";
    case 1: return "refused by the module";
    case -1: return "not sent";
    case -2: return "no acknowledgement within 1000 ms";
    case -9: return "nothing to change";
    case -10: return "no sending socket";
    default: return "unexpected result";
    }
}

struct ModuleInfo {
    char name[16] = {}, alias[12] = {}, ip[20] = {}, mask[20] = {}, gateway[20] = {}, mac[20] = {};
    int32_t dhcp = 0;
};

class Session {
public:
    explicit Session(const Zarfel &z) : z_(z) {}
    ~Session()
    {
        if (started_)
            z_.close();
    }

    bool run(const Step &step)
    {
        if (step.kind != Step::Init && !started_ && !start(54321))
            return false;
        switch (step.kind) {
        case Step::Init:
            if (started_) {
                std::fprintf(stderr, "zarfelcli: init: the library is already started\n");
                return false;
            }
            return start(step.port);
        case Step::Options:
            z_.setOptions(static_cast<uint32_t>(step.timeoutMs), static_cast<int32_t>(step.wished));
            timeoutMs_ = step.timeoutMs < 1000 ? 1000 : step.timeoutMs;
            std::printf("options: time-out %lu ms, wished number %ld\n", timeoutMs_, step.wished);
            return true;
        case Step::Search:
            return search(step);
        case Step::List:
            return list();
        case Step::Configure:
            return configure(step);
        }
        return false;
    }

private:
    bool start(long port)
    {
        const int32_t r = z_.init(static_cast<int32_t>(port));
        if (r != 0) {
            std::fprintf(stderr, "zarfelcli: init: %s (result %d)\n", initFailure(r), static_cast<int>(r));
            return false;
        }
        started_ = true;
        std::printf("init: replies on port %ld\n", port);
        return true;
    }

    bool search(const Step &step)
    {
        const int32_t sent = z_.broadcastStart(step.address.c_str(), static_cast<int32_t>(step.port), nullptr);
        if (sent <= 0 && sent != -1) {
            std::fprintf(stderr, "zarfelcli: search: no request sent (result %d)\n", static_cast<int>(sent));
            return false;
        }
        if (sent == -1)
            std::fprintf(stderr, "zarfelcli: search: the request could not be sent; listening anyway\n");
        std::printf("search: %s:%ld ...\n", step.address.c_str(), step.port);
        std::fflush(stdout);
        // The library ends the search by itself after its time-out; allow it
        // some seconds more before stopping it.
        const ULONGLONG limit = GetTickCount64() + timeoutMs_ + 5000;
        while (z_.getState() != 0) {
            if (GetTickCount64() > limit) {
                z_.broadcastStop();
                for (int i = 0; i < 50 && z_.getState() != 0; ++i)
                    Sleep(100);
                std::fprintf(stderr, "zarfelcli: search: did not end by itself; stopped\n");
                return false;
            }
            Sleep(100);
        }
        searched_ = true;
        std::printf("search: %d module(s) found\n", static_cast<int>(z_.getCount()));
        return true;
    }

    bool read(int32_t n, ModuleInfo &m) const
    {
        return z_.getModuleInfo(n, m.name, m.alias, m.ip, m.mask, m.gateway, m.mac, &m.dhcp) == 0;
    }

    bool list() const
    {
        const int32_t count = z_.getCount();
        std::printf("%-3s %-14s %-11s %-7s %-16s %-16s %-16s %s\n", "NO", "NAME", "ALIAS", "DHCP", "IP", "MASK",
                    "GATEWAY", "MAC");
        for (int32_t n = 1; n <= count; ++n) {
            ModuleInfo m;
            if (!read(n, m))
                break;
            std::printf("%-3d %-14s %-11s %-7s %-16s %-16s %-16s %s\n", static_cast<int>(n), m.name,
                        m.alias[0] ? m.alias : "N/A", m.dhcp ? "Enable" : "Disable", m.ip, m.mask, m.gateway,
                        m.mac);
        }
        return true;
    }

    bool configure(const Step &step) const
    {
        if (!searched_) {
            std::fprintf(stderr, "zarfelcli: configure: search first\n");
            return false;
        }
        const int32_t n = static_cast<int32_t>(step.module);
        ModuleInfo current;
        if (n > z_.getCount() || !read(n, current)) {
            std::fprintf(stderr, "zarfelcli: configure: there is no module %d in the list\n", static_cast<int>(n));
            return false;
        }
        auto text = [](const std::optional<std::string> &v) { return v ? v->c_str() : nullptr; };
        const int32_t dhcp = step.dhcp ? static_cast<int32_t>(*step.dhcp) : current.dhcp;
        const int32_t r = z_.configModule(n, text(step.ip), text(step.mask), text(step.gateway), text(step.mac),
                                          dhcp, text(step.alias));
        std::printf("configure: module %d (%s, %s): %s\n", static_cast<int>(n), current.name, current.mac,
                    configOutcome(r));
        return r == 0;
    }

    const Zarfel &z_;
    bool started_ = false;
    bool searched_ = false;
    unsigned long timeoutMs_ = 1000;
};

} // namespace

int main(int argc, char **argv)
{
    std::vector<Step> steps;
    if (const int usage = parse(argc, argv, steps); usage != 0)
        return usage;

    const std::string path = folderOfThisProgram() + "Zarfel.dll";
    const HMODULE dll = LoadLibraryA(path.c_str());
    if (!dll) {
        std::fprintf(stderr, "zarfelcli: cannot load %s (error %lu)\n", path.c_str(), GetLastError());
        return 1;
    }
    Zarfel z;
    const bool bound = importByNumber(dll, 2, z.init) && importByNumber(dll, 3, z.close) &&
                       importByNumber(dll, 4, z.broadcastStart) && importByNumber(dll, 5, z.broadcastStop) &&
                       importByNumber(dll, 6, z.getModuleInfo) && importByNumber(dll, 7, z.getState) &&
                       importByNumber(dll, 8, z.getCount) && importByNumber(dll, 9, z.configModule) &&
                       importByNumber(dll, 10, z.setOptions) && importByNumber(dll, 11, z.setMessageHandler);
    int status = 1;
    if (bound) {
        z.setMessageHandler(&printMessage);
        Session session(z);
        status = 0;
        for (const Step &step : steps) {
            if (!session.run(step)) {
                status = 1;
                break;
            }
            std::fflush(stdout);
        }
    }
    std::fflush(stdout);
    FreeLibrary(dll);
    return status;
}
