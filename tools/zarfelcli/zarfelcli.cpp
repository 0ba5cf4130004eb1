// zarfelcli: searches for and configures modules from a console or a
// script, a front end over the client layer (client/): here are only its
// command line, its printing and its exit statuses. On Windows it loads
// Zarfel.dll at run time and binds every function by its export number,
// exactly as the program does, so it also checks that a build of the DLL
// keeps those numbers; elsewhere it links the library by name.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/Configure.h"
#include "client/Conflicts.h"
#include "client/Csv.h"
#include "client/Exports.h"
#include "client/ResultText.h"
#include "client/Rules.h"
#include "client/Session.h"
#include "platform/HostNetwork.h"

namespace {

using zclient::Record;
using zclient::Settings;

constexpr const char *kUsage = R"(Usage: zarfelcli [OPTIONS] COMMAND [ARGS] [COMMAND [ARGS]]...
       zarfelcli [OPTIONS] set MAC KEY=VALUE...
       zarfelcli [OPTIONS] apply FILE.csv
       zarfelcli [OPTIONS] free START END [N]

Finds and configures networked I/O modules through the Zarfel library. The
commands run in the order given, in one session of the library: the list of
found modules lasts only as long as the program runs, so search and
configure go on one line. Progress and errors go to standard error, the
lists and results to standard output.

Options (anywhere on the line):
  --version           print the version and end
  --format table|csv|json
                      how lists are printed (default table). csv: RFC 4180
                      with a header row; json: one array of objects with
                      the keys name, alias, dhcp, ip, mask, gateway, mac,
                      adapter (the host's address the reply arrived on)
  --to ADDR[:PORT]    where searches go (default 255.255.255.255:57188, the
                      local segment): a routed subnet's directed broadcast
                      or one module's address
  --timeout MS        search time-out in milliseconds (at least 1000)
  --port PORT         reply port (default 54321)
  --no-verify         after set or apply, take a module's acknowledgement as
                      its result ("acknowledged") instead of confirming it by
                      a search; --verify, the default, is still accepted
  --all-with-mac      set or apply also a MAC that several modules with
                      different settings report: every one of them changes
                      (without it such a MAC is bad input, nothing is sent)
  --dry-run           apply: search, then print what each row would change
                      (or why it would not be sent), and send nothing
  --yes               apply: also send rows whose alias differs from the
                      module's only as a spreadsheet rewrites numbers
                      ("007" to "7", "+1" to "1", "1E5" to "100000"); these
                      are named before anything is sent and skipped
                      without it (their status is 3, bad input)
  --save-previous FILE
                      apply: write the settings the modules had before to
                      FILE, as an apply file that puts them back

Commands:
  init [PORT]         start the library with reply port PORT (1-65535,
                      default 54321); without it, the first command that
                      needs the library starts it
  options MS [N]      search time-out in milliseconds (the library uses at
                      least 1000) and wished number of replies, after which
                      a search ends early (default 0: no limit)
  search [ADDR[:PORT]]
                      send a search request (default: the --to destination)
                      and wait until the search has ended; lists what it
                      found unless a list command follows
  list                list the modules found by the last search
  configure N [KEY=VALUE]...
                      change the settings of module N of the list. Keys:
                      ip, mask, gateway, mac (addresses as text), dhcp (0 off,
                      1 on), alias. A key not given keeps the module's value;
                      the alias is sent only when given.
  set MAC KEY=VALUE...
                      search, then change the settings of the module with
                      that MAC address (letter case ignored), then search
                      until the module answers (at most the time-out): it is
                      set only when it reports the new settings. Keys: ip,
                      mask, gateway, dhcp, alias. Exit status: 0 set (or
                      nothing to change, or acknowledged with --no-verify),
                      1 not found, 2 no acknowledgement (or refused, not
                      sent, no search request could be sent, or the library
                      could not start), 3 bad input (nothing is sent), 4 not
                      confirmed (acknowledged, but the module reports its old
                      settings or did not answer)
  apply FILE.csv      search, then configure every module the file lists.
                      Header row with the columns mac, ip, mask, gateway,
                      dhcp, alias in any order and letter case (no, name
                      and adapter are ignored, so a csv list or the
                      program's export can be edited and applied; dhcp may
                      be Enable/Disable, alias N/A is none); an empty cell
                      keeps the module's value, an alias equal to the
                      module's is not sent. UTF-8, with or without a byte
                      order mark; ',' or ';' between cells (the header
                      decides); other columns are ignored with a warning.
                      The file the program offers after a batch puts the
                      modules' previous settings back. One result line
                      per row once every row is sent and confirmed; a
                      malformed row is named by line and field and not
                      sent, a module that did not answer is never set. Exit
                      status: the highest of the rows' (as set)
  free START END [N]  list up to N (default: all) free addresses from START
                      to END (either order), as the program's auto
                      configuration finds them: addresses whose last four
                      bits are zero are passed over; an address is free when
                      it gives no echo reply and, on a segment of one of
                      the host's adapters, the host's neighbour table holds
                      no hardware address for it (a host that drops echo
                      still answers address resolution). The host's own
                      addresses, gateway and its subnets' network and
                      broadcast addresses are never listed. Where echo is
                      not permitted the neighbour table alone decides (said
                      on standard error). Needs no library. Exit status: 0
                      listed (maybe none), 1 nothing can be probed, 2 bad
                      input
  -h, --help          show this text

Addresses (ADDR, ip, mask, gateway) are read as the system's inet_addr
reads them, as the program does: short, octal and hexadecimal forms pass
("10" is 0.0.0.10, "198.18.000.077" is 198.18.0.63), 0.0.0.0 and
255.255.255.255 do not (but 255.255.255.255 is a search destination).
What is sent and printed is the dotted decimal form.

Examples:
  zarfelcli init 54321 search 255.255.255.255 list configure 2 ip=192.168.1.20 alias=pump
  zarfelcli --format json search
  zarfelcli set 00:0e:c6:00:00:01 ip=192.168.1.21 alias=press
  zarfelcli --to 192.168.7.255 apply plant.csv
  zarfelcli --format csv free 192.168.1.20 192.168.1.99 5

Exit status of command lists: 0 when every command succeeded; 1 when one
failed (the commands after it are not run), also a search whose request
could not be sent (adapter down, no route); 2 on a usage error (nothing is
run).
)";

// Exit statuses of set and apply.
enum Outcome { Set = 0, NotFound = 1, NotAcknowledged = 2, BadInput = 3, NotConfirmed = 4 };

#ifdef _WIN32
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

// The DLL beside this program; null (after a message) when it or one of its
// export numbers is missing.
HMODULE bind(zclient::Exports &z)
{
    const std::string path = folderOfThisProgram() + "Zarfel.dll";
    const HMODULE dll = LoadLibraryA(path.c_str());
    if (!dll) {
        std::fprintf(stderr, "zarfelcli: cannot load %s (error %lu)\n", path.c_str(), GetLastError());
        return nullptr;
    }
    const bool bound = importByNumber(dll, 2, z.init) && importByNumber(dll, 3, z.close) &&
                       importByNumber(dll, 4, z.broadcastStart) && importByNumber(dll, 5, z.broadcastStop) &&
                       importByNumber(dll, 6, z.getModuleInfo) && importByNumber(dll, 7, z.getState) &&
                       importByNumber(dll, 8, z.getCount) && importByNumber(dll, 9, z.configModule) &&
                       importByNumber(dll, 10, z.setOptions) && importByNumber(dll, 11, z.setMessageHandler) &&
                       importByNumber(dll, 12, z.getModuleAdapter) &&
                       importByNumber(dll, 13, z.getIgnoredAcknowledgement) &&
                       importByNumber(dll, 14, z.getSocketFailure);
    if (!bound) {
        FreeLibrary(dll);
        return nullptr;
    }
    return dll;
}
#endif

void ZARFEL_CALL printMessage(const char *text)
{
    std::fprintf(stderr, "zarfelcli: library message: %s\n", text);
}

enum class Format { Table, Csv, Json };

struct Destination {
    std::string address = "255.255.255.255";
    long port = ZARFEL_DEVICE_PORT;
};

struct Step {
    enum Kind { Init, Options, Search, List, Configure } kind;
    long port = ZARFEL_REPLY_PORT;
    unsigned long timeoutMs = 0;
    long wished = 0;
    std::optional<Destination> to;
    bool show = false; // a search lists what it found
    long module = 0;
    Settings settings;
};

struct Globals {
    Format format = Format::Table;
    Destination to;
    std::optional<unsigned long> timeoutMs;
    long replyPort = ZARFEL_REPLY_PORT;
    bool verify = true;
    bool allWithMac = false;
    bool dryRun = false;
    bool yes = false;
    std::string savePrevious;
};

// A command line: a list of steps, or one set or apply.
struct Plan {
    Globals globals;
    enum { Steps, SetByMac, Apply, Free } mode = Steps;
    std::vector<Step> steps;
    std::string mac, file;
    std::uint32_t first = 0, last = 0; // free
    long long wanted = 0;
    Settings settings;
};

std::optional<long> number(const char *text, long low, long high)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high)
        return std::nullopt;
    return v;
}

bool isCommand(const char *a)
{
    for (const char *c : {"init", "options", "search", "list", "configure", "set", "apply", "free"})
        if (std::strcmp(a, c) == 0)
            return true;
    return false;
}

struct UsageError {
    std::string message;
};

std::optional<Destination> destination(const std::string &text)
{
    Destination d;
    const auto colon = text.rfind(':');
    d.address = text.substr(0, colon);
    if (colon != std::string::npos) {
        const auto port = number(text.c_str() + colon + 1, 1, 65535);
        if (!port)
            return std::nullopt;
        d.port = *port;
    }
    // The library sends unreadable text to the broadcast address; a typing
    // error must not turn into a broadcast.
    if (!zclient::isValidDestination(d.address))
        return std::nullopt;
    d.address = zclient::canonicalAddress(d.address);
    return d;
}

// KEY=VALUE of configure (with mac) or of set (without).
void readSetting(const std::string &command, const std::string &setting, bool macKey, Settings &s)
{
    const auto eq = setting.find('=');
    if (eq == std::string::npos)
        throw UsageError{command + ": '" + setting + "' is not KEY=VALUE"};
    const std::string key = setting.substr(0, eq), value = setting.substr(eq + 1);
    const bool address = key == "ip" || key == "mask" || key == "gateway";
    if (address && !zclient::isValidAddress(value))
        throw UsageError{command + ": " + key + " '" + value + "' is not an IPv4 address"};
    if (key == "ip")
        s.ip = zclient::canonicalAddress(value);
    else if (key == "mask")
        s.mask = zclient::canonicalAddress(value);
    else if (key == "gateway")
        s.gateway = zclient::canonicalAddress(value);
    else if (key == "mac" && macKey) {
        const auto mac = zclient::canonicalMac(value);
        if (!mac)
            throw UsageError{command + ": mac '" + value + "' is not a MAC address"};
        s.mac = *mac; // the form the module reports, so its own MAC is no change
    } else if (key == "alias") {
        if (const std::string problem = zclient::aliasProblem(value); !problem.empty())
            throw UsageError{command + ": alias '" + value + "' " + problem};
        s.alias = value;
    } else if (key == "dhcp") {
        const auto d = number(value.c_str(), 0, 1);
        if (!d)
            throw UsageError{command + ": dhcp must be 0 or 1"};
        s.dhcp = *d != 0;
    } else
        throw UsageError{command + ": unknown key '" + key + "'"};
}

Format formatNamed(const std::string &name)
{
    if (name == "table")
        return Format::Table;
    if (name == "csv")
        return Format::Csv;
    if (name == "json")
        return Format::Json;
    throw UsageError{"--format must be table, csv or json"};
}

// The options into `g`, wherever they stand on the line; the other words in
// their order.
std::vector<std::string> readOptions(int argc, char **argv, Globals &g)
{
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char *option) {
            if (i + 1 >= argc)
                throw UsageError{std::string(option) + " needs a value"};
            return std::string(argv[++i]);
        };
        if (a == "-h" || a == "--help" || a == "/?") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--version") {
            std::printf("zarfelcli %s\n", DALVORA_VERSION);
            std::exit(0);
        } else if (a == "--format") {
            g.format = formatNamed(value("--format"));
        } else if (a == "--to") {
            const std::string text = value("--to");
            const auto d = destination(text);
            if (!d)
                throw UsageError{"--to: '" + text + "' is not ADDR[:PORT] of IPv4"};
            g.to = *d;
        } else if (a == "--timeout") {
            const auto ms = number(value("--timeout").c_str(), 0, 0x7fffffffL);
            if (!ms)
                throw UsageError{"--timeout must be a number of milliseconds"};
            g.timeoutMs = static_cast<unsigned long>(*ms);
        } else if (a == "--port") {
            const auto port = number(value("--port").c_str(), 1, 65535);
            if (!port)
                throw UsageError{"--port must be a number from 1 to 65535"};
            g.replyPort = *port;
        } else if (a == "--verify" || a == "--no-verify") {
            g.verify = a == "--verify";
        } else if (a == "--all-with-mac") {
            g.allWithMac = true;
        } else if (a == "--dry-run") {
            g.dryRun = true;
        } else if (a == "--yes") {
            g.yes = true;
        } else if (a == "--save-previous") {
            g.savePrevious = value("--save-previous");
        } else {
            words.push_back(a);
        }
    }
    return words;
}

// The command words, read from the front. A word that is no command is an
// argument of the command before it.
class Words {
public:
    explicit Words(const std::vector<std::string> &words) : words_(words) {}
    bool done() const { return i_ >= words_.size(); }
    bool hasArgument() const { return !done() && !isCommand(words_[i_].c_str()); }
    const std::string &peek() const { return words_[i_]; }
    const std::string &take() { return words_[i_++]; }

private:
    const std::vector<std::string> &words_;
    std::size_t i_ = 0;
};

// set MAC KEY=VALUE... or apply FILE, each alone on its command line.
void readSingle(Words &words, Plan &plan)
{
    const std::string command = words.take();
    if (!words.hasArgument())
        throw UsageError{command == "set" ? "set needs a MAC address" : "apply needs a CSV file"};
    if (command == "set") {
        plan.mode = Plan::SetByMac;
        plan.mac = words.take();
        if (!zclient::canonicalMac(plan.mac))
            throw UsageError{"set: '" + plan.mac + "' is not a MAC address"};
        if (!words.hasArgument())
            throw UsageError{"set needs at least one KEY=VALUE"};
        while (words.hasArgument())
            readSetting("set", words.take(), false, plan.settings);
    } else {
        plan.mode = Plan::Apply;
        plan.file = words.take();
    }
    if (!words.done())
        throw UsageError{command + " is a command line of its own: '" + words.peek() + "' cannot follow"};
}

// free START END [N], alone on its command line.
void readFree(Words &words, Plan &plan)
{
    words.take();
    plan.mode = Plan::Free;
    for (std::uint32_t *end : {&plan.first, &plan.last}) {
        const std::string text = words.hasArgument() ? words.take() : std::string();
        if (!zclient::isValidAddress(text))
            throw UsageError{"free needs START and END addresses: '" + text + "' is not an IPv4 address"};
        *end = hostnet::AddressFromText(text);
    }
    plan.wanted = std::max(plan.first, plan.last) - std::min(plan.first, plan.last) + 1LL;
    if (words.hasArgument()) {
        const auto n = number(words.take().c_str(), 1, 0x7fffffffL);
        if (!n)
            throw UsageError{"free: N must be a number from 1"};
        plan.wanted = *n;
    }
    if (!words.done())
        throw UsageError{"free is a command line of its own: '" + words.peek() + "' cannot follow"};
}

Step stepOf(Step::Kind kind)
{
    Step step{};
    step.kind = kind;
    return step;
}

Step initStep(Words &words)
{
    Step step = stepOf(Step::Init);
    if (words.hasArgument()) {
        const auto port = number(words.take().c_str(), 1, 65535);
        if (!port)
            throw UsageError{"init: PORT must be a number from 1 to 65535"};
        step.port = *port;
    }
    return step;
}

Step optionsStep(Words &words)
{
    Step step = stepOf(Step::Options);
    if (!words.hasArgument())
        throw UsageError{"options needs a time-out in milliseconds"};
    const auto ms = number(words.take().c_str(), 0, 0x7fffffffL);
    if (!ms)
        throw UsageError{"options: the time-out must be a number of milliseconds"};
    step.timeoutMs = static_cast<unsigned long>(*ms);
    if (words.hasArgument()) {
        const auto wished = number(words.take().c_str(), 0, 0x7fffffffL);
        if (!wished)
            throw UsageError{"options: the wished number must be 0 or more"};
        step.wished = *wished;
    }
    return step;
}

Step searchStep(Words &words)
{
    Step step = stepOf(Step::Search);
    if (words.hasArgument()) {
        const std::string &text = words.take();
        step.to = destination(text);
        if (!step.to)
            throw UsageError{"search: '" + text + "' is not ADDR[:PORT] of IPv4"};
    }
    return step;
}

Step configureStep(Words &words)
{
    Step step = stepOf(Step::Configure);
    const auto n = words.hasArgument() ? number(words.take().c_str(), 1, 0x7fffffffL) : std::nullopt;
    if (!n)
        throw UsageError{"configure needs the number of a module of the list (1 or more)"};
    step.module = *n;
    while (words.hasArgument())
        readSetting("configure", words.take(), true, step.settings);
    return step;
}

// One command of a command list with its arguments.
Step readStep(Words &words)
{
    const std::string command = words.take();
    if (command == "init")
        return initStep(words);
    if (command == "options")
        return optionsStep(words);
    if (command == "search")
        return searchStep(words);
    if (command == "list")
        return stepOf(Step::List);
    if (command == "configure")
        return configureStep(words);
    if (command == "set" || command == "apply" || command == "free")
        throw UsageError{command + " is a command line of its own"};
    throw UsageError{"unknown command '" + command + "'"};
}

// A search lists what it found unless a list of its own follows.
void markListingSearches(std::vector<Step> &steps)
{
    for (std::size_t k = 0; k < steps.size(); ++k) {
        if (steps[k].kind != Step::Search)
            continue;
        steps[k].show = true;
        for (std::size_t j = k + 1; j < steps.size() && steps[j].kind != Step::Search; ++j)
            if (steps[j].kind == Step::List)
                steps[k].show = false;
    }
}

// Reads the whole command line before anything runs; throws UsageError.
Plan parse(int argc, char **argv)
{
    Plan plan;
    const std::vector<std::string> list = readOptions(argc, argv, plan.globals);
    if (list.empty())
        throw UsageError{"no command given"};
    Words words(list);
    if (list[0] == "free") {
        readFree(words, plan);
        return plan;
    }
    if (list[0] == "set" || list[0] == "apply") {
        readSingle(words, plan);
        return plan;
    }
    while (!words.done())
        plan.steps.push_back(readStep(words));
    markListingSearches(plan.steps);
    return plan;
}

// Acknowledged counts as set only when no check was asked for.
Outcome statusOf(zclient::Outcome o)
{
    switch (o) {
    case zclient::Outcome::Set:
    case zclient::Outcome::Acknowledged: return Set;
    case zclient::Outcome::NotConfirmed: return NotConfirmed;
    case zclient::Outcome::Refused:
    case zclient::Outcome::Failed: break;
    }
    return NotAcknowledged;
}

// The result line of one configured module: the outcome, and why where it
// is not set. -9, nothing to change, says so.
std::string resultText(int32_t r, zclient::Outcome o, const std::string &mac, const std::vector<Record> &after)
{
    if (o == zclient::Outcome::Set || o == zclient::Outcome::Acknowledged)
        return r == -9 ? zclient::configOutcome(r) : zclient::outcomeText(o);
    if (o == zclient::Outcome::NotConfirmed)
        return std::string("not confirmed: ") + (r == -9 ? "nothing to change, but it " : "acknowledged, but it ") +
               zclient::reportedInstead(mac, after);
    return zclient::configOutcome(r);
}

void write(const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void printRecords(const std::vector<Record> &records, Format format)
{
    if (format == Format::Csv) {
        write(zclient::recordsCsv(records));
        return;
    }
    if (format == Format::Json) {
        write(zclient::recordsJson(records));
        return;
    }
    std::printf("%-3s %-14s %-11s %-7s %-16s %-16s %-16s %-17s %s\n", "NO", "NAME", "ALIAS", "DHCP", "IP",
                "MASK", "GATEWAY", "MAC", "ADAPTER");
    int n = 0;
    for (const Record &m : records)
        std::printf("%-3d %-14s %-11s %-7s %-16s %-16s %-16s %-17s %s\n", ++n, m.name.c_str(),
                    zclient::aliasForGrid(m.alias).c_str(), m.dhcp ? "Enable" : "Disable", m.ip.c_str(),
                    m.mask.c_str(), m.gateway.c_str(), m.mac.c_str(), m.adapter.c_str());
}

std::string describe(const Record &m)
{
    return "ip=" + m.ip + " mask=" + m.mask + " gateway=" + m.gateway + " dhcp=" + (m.dhcp ? "1" : "0") +
           " alias=" + m.alias;
}

// The client session with this program's progress lines.
class Session {
public:
    Session(const zclient::Exports &z, const Globals &g) : s_(z), g_(g) {}

    bool start(long port)
    {
        if (s_.started()) {
            std::fprintf(stderr, "zarfelcli: init: the library is already started\n");
            return false;
        }
        const int32_t r = s_.start(static_cast<int32_t>(port));
        if (r != 0) {
            std::fprintf(stderr, "zarfelcli: init: %s (result %d)\n", zclient::initFailure(r), static_cast<int>(r));
            return false;
        }
        std::fprintf(stderr, "init: replies on port %ld\n", port);
        if (g_.timeoutMs)
            setOptions(*g_.timeoutMs, 0);
        return true;
    }
    bool ensureStarted() { return s_.started() || start(g_.replyPort); }

    void setOptions(unsigned long ms, long wished)
    {
        s_.setOptions(static_cast<uint32_t>(ms), static_cast<int32_t>(wished));
    }

    bool search(const Destination &to)
    {
        const int32_t sent = s_.startSearch(to.address, static_cast<int32_t>(to.port));
        if (sent == -1) {
            // Nobody was asked: an empty list would pass for "no module".
            s_.stop();
            s_.waitWhileSearching(std::chrono::seconds(5), [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
            std::fprintf(stderr, "zarfelcli: search: no search request could be sent: %s\n",
                         s_.socketFailure().text().c_str());
            return false;
        }
        if (sent <= 0) {
            std::fprintf(stderr, "zarfelcli: search: no request sent (result %d)\n", static_cast<int>(sent));
            return false;
        }
        std::fprintf(stderr, "search: %s:%ld ...\n", to.address.c_str(), to.port);
        // The library ends the search by itself after its time-out; allow it
        // some seconds more before stopping it.
        const auto tick = [] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); };
        if (!s_.waitWhileSearching(std::chrono::milliseconds(s_.searchTimeoutMs() + 5000), tick)) {
            s_.stop();
            s_.waitWhileSearching(std::chrono::seconds(5), tick);
            std::fprintf(stderr, "zarfelcli: search: did not end by itself; stopped\n");
            return false;
        }
        searched_ = true;
        std::fprintf(stderr, "search: %d module(s) found\n", static_cast<int>(s_.count()));
        for (const auto &shared : zclient::findMacConflicts(s_.records()).shared)
            std::fprintf(stderr, "search: %s: %s (%d replies)\n", shared.mac.c_str(), zclient::sharedMacText(shared),
                         shared.records);
        return true;
    }
    // Confirms what the steps configured by a search that ends once every
    // module has answered; the records it found (none when it could not run).
    std::vector<Record> confirm(zclient::Configuration &steps)
    {
        if (!g_.verify) {
            steps.confirm(nullptr);
            return {};
        }
        const auto tick = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
        std::fprintf(stderr, "check: %s:%ld ...\n", g_.to.address.c_str(), g_.to.port);
        std::vector<Record> after;
        if (steps.awaited().empty() ||
            s_.confirmingSearch(g_.to.address, static_cast<int32_t>(g_.to.port), steps.awaited(), tick))
            after = s_.records();
        else
            std::fprintf(stderr, "zarfelcli: check: no search request sent\n");
        steps.confirm(&after);
        return after;
    }
    bool searched() const { return searched_; }
    std::vector<Record> records() const { return s_.records(); }
    zclient::Session &client() { return s_; }

private:
    zclient::Session s_;
    const Globals &g_;
    bool searched_ = false;
};

// One module through the configuration steps; -1 (not sent) after a
// problem, which is printed.
int32_t configureOne(Session &session, int32_t n, const Record &current, const Settings &give)
{
    zclient::Configuration plan(session.client(), {{n, current, give}});
    if (const std::string problem = plan.check(); !problem.empty())
        std::fprintf(stderr, "zarfelcli: %s\n", problem.c_str());
    const int32_t r = plan.next();
    for (const std::string &source : session.client().ignoredAcknowledgements())
        std::fprintf(stderr, "zarfelcli: acknowledgement from %s ignored: not the module's address\n", source.c_str());
    return r;
}

bool runStep(Session &session, const Step &step, const Globals &g)
{
    if (step.kind == Step::Init)
        return session.start(step.port);
    if (!session.ensureStarted())
        return false;
    switch (step.kind) {
    case Step::Init:
        break;
    case Step::Options:
        session.setOptions(step.timeoutMs, step.wished);
        std::fprintf(stderr, "options: time-out %lu ms, wished number %ld\n",
                     step.timeoutMs < 1000 ? 1000 : step.timeoutMs, step.wished);
        return true;
    case Step::Search:
        if (!session.search(step.to ? *step.to : g.to))
            return false;
        if (step.show)
            printRecords(session.records(), g.format);
        return true;
    case Step::List:
        printRecords(session.records(), g.format);
        return true;
    case Step::Configure: {
        if (!session.searched()) {
            std::fprintf(stderr, "zarfelcli: configure: search first\n");
            return false;
        }
        const int32_t n = static_cast<int32_t>(step.module);
        const auto all = session.records();
        if (n > static_cast<int32_t>(all.size())) {
            std::fprintf(stderr, "zarfelcli: configure: there is no module %d in the list\n", static_cast<int>(n));
            return false;
        }
        const Record &current = all[static_cast<std::size_t>(n - 1)];
        const int32_t r = configureOne(session, n, current, step.settings);
        std::printf("configure: module %d (%s, %s): %s\n", static_cast<int>(n), current.name.c_str(),
                    current.mac.c_str(), zclient::configOutcome(r));
        return r == 0;
    }
    }
    return false;
}

int runSteps(Session &session, const Plan &plan)
{
    for (const Step &step : plan.steps) {
        const bool ok = runStep(session, step, plan.globals);
        std::fflush(stdout);
        if (!ok)
            return 1;
    }
    return 0;
}

int runSet(Session &session, const Plan &plan)
{
    if (!session.ensureStarted() || !session.search(plan.globals.to))
        return NotAcknowledged;
    const std::string mac = *zclient::canonicalMac(plan.mac);
    const auto found = session.records();
    const int32_t n = zclient::findByMac(found, mac);
    if (n == 0) {
        std::fprintf(stderr, "zarfelcli: set: no module with MAC %s answered\n", mac.c_str());
        return NotFound;
    }
    if (const std::string why = zclient::sharedMacProblem(found, mac); !why.empty() && !plan.globals.allWithMac) {
        std::fprintf(stderr, "zarfelcli: set: %s Nothing sent; --all-with-mac changes all of them.\n", why.c_str());
        return BadInput;
    }
    const Record &current = found[static_cast<std::size_t>(n - 1)];
    zclient::Configuration steps(session.client(), {{n, current, plan.settings}});
    if (const std::string problem = steps.check(); !problem.empty())
        std::fprintf(stderr, "zarfelcli: %s\n", problem.c_str());
    const int32_t r = steps.next();
    std::fprintf(stderr, "set: %s (%s): %s\n", mac.c_str(), current.name.c_str(), zclient::configOutcome(r));
    const auto after = session.confirm(steps);
    const zclient::Outcome o = steps.outcomes().front();
    if (plan.globals.verify) {
        const std::string now = steps.macAfter(0);
        for (const Record &m : after)
            if (zclient::findByMac({m}, now))
                printRecords({m}, plan.globals.format);
        std::fprintf(stderr, "set: %s: %s\n", now.c_str(), resultText(r, o, now, after).c_str());
    }
    return statusOf(o);
}

// The apply file as read and parsed; null (after a message) when it cannot
// be used as a whole.
std::optional<zclient::ApplyFile> readApplyFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "zarfelcli: apply: cannot read %s\n", path.c_str());
        return std::nullopt;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    zclient::ApplyFile file = zclient::parseApplyFile(text);
    if (!file.error.empty()) {
        std::fprintf(stderr, "zarfelcli: apply: %s: %s\n", path.c_str(), file.error.c_str());
        return std::nullopt;
    }
    if (!file.warning.empty())
        std::fprintf(stderr, "zarfelcli: apply: %s: %s\n", path.c_str(), file.warning.c_str());
    return file;
}

std::string rowHead(const zclient::ApplyRow &row)
{
    return "line " + std::to_string(row.line) + ": " + (row.mac.empty() ? "-" : row.mac);
}

// When the search could not run: malformed rows are still named, and still
// make the status 3.
int reportBadRows(const zclient::ApplyFile &file)
{
    int status = NotAcknowledged;
    for (const zclient::ApplyRow &row : file.rows)
        if (!row.error.empty()) {
            std::printf("%s: bad input, not sent: %s\n", rowHead(row).c_str(), row.error.c_str());
            status = BadInput;
        }
    return status;
}

// Each row's verdict before anything is sent; an empty verdict marks a row
// to send. The plan's items are the rows to send, in the file's order.
struct Verdicts {
    std::vector<std::string> text;
    std::vector<Outcome> outcome;
    zclient::ApplyPlan plan;
};

Verdicts judgeRows(const zclient::ApplyFile &file, const std::vector<Record> &found, const Globals &g)
{
    Verdicts v{std::vector<std::string>(file.rows.size()), std::vector<Outcome>(file.rows.size(), BadInput),
               zclient::planApply(file, found, g.allWithMac, g.yes)};
    const std::vector<std::string> listing = zclient::applyListing(file, v.plan);
    for (std::size_t k = 0; k < file.rows.size(); ++k) {
        const zclient::RowVerdict &row = v.plan.rows[k];
        if (row.kind == zclient::RowVerdict::Send)
            continue;
        // The listing's text after the row's head.
        v.text[k] = listing[k].substr(rowHead(file.rows[k]).size() + 2);
        if (row.kind == zclient::RowVerdict::NotFound)
            v.outcome[k] = NotFound;
        else if (row.kind == zclient::RowVerdict::SharedMac)
            v.text[k] += " (--all-with-mac changes all of them)";
        else if (row.kind == zclient::RowVerdict::SpreadsheetAlias) {
            v.text[k] += "; --yes sends it";
            // Named before anything is sent, so it can still be stopped.
            std::fprintf(stderr, "apply: %s: %s\n", rowHead(file.rows[k]).c_str(), v.text[k].c_str());
        }
    }
    return v;
}

// Sends the planned rows, confirms them, then prints every row's result;
// the highest outcome. `configured` gets the rows that were sent, `after`
// what the check found.
int sendRows(Session &session, const zclient::ApplyFile &file, Verdicts &v, std::vector<std::size_t> &configured,
             std::vector<Record> &after, const std::string &savePrevious)
{
    zclient::Configuration steps(session.client(), std::move(v.plan.items));
    while (!steps.finished()) {
        std::fprintf(stderr, "apply: %s: %s ...\n", steps.current().reported.mac.c_str(),
                     zclient::changeText(steps.current().reported, steps.current().give).c_str());
        steps.next();
    }
    if (!savePrevious.empty()) {
        std::ofstream out(savePrevious, std::ios::binary | std::ios::trunc);
        out << zclient::undoCsv(steps);
        if (!out.flush())
            std::fprintf(stderr, "zarfelcli: apply: cannot write %s\n", savePrevious.c_str());
    }
    after = session.confirm(steps);
    int status = Set;
    int sent = 0;
    for (std::size_t k = 0; k < file.rows.size(); ++k) {
        if (v.text[k].empty()) {
            const auto i = static_cast<std::size_t>(sent);
            const zclient::Outcome o = steps.outcomes()[i];
            v.outcome[k] = statusOf(o);
            v.text[k] = resultText(steps.results()[i], o, steps.macAfter(sent), after);
            const std::string name = " (" + steps.items()[i].reported.name + ")";
            // The reason after a colon follows the module's name.
            const auto colon = v.text[k].find(':');
            v.text[k] = colon == std::string::npos ? v.text[k] + name : v.text[k].insert(colon, name);
            configured.push_back(k);
            ++sent;
        }
        std::printf("%s: %s\n", rowHead(file.rows[k]).c_str(), v.text[k].c_str());
        status = std::max(status, static_cast<int>(v.outcome[k]));
    }
    std::fflush(stdout);
    return status;
}

void printNowReported(const zclient::ApplyFile &file, const std::vector<std::size_t> &configured,
                      const std::vector<Record> &after)
{
    for (const std::size_t k : configured) {
        const zclient::ApplyRow &row = file.rows[k];
        const int32_t n = zclient::findByMac(after, row.mac);
        const std::string now = n ? describe(after[static_cast<std::size_t>(n - 1)]) : std::string("did not answer");
        std::printf("line %d: %s: now %s\n", row.line, row.mac.c_str(), now.c_str());
    }
}

int runApply(Session &session, const Plan &plan)
{
    const std::optional<zclient::ApplyFile> file = readApplyFile(plan.file);
    if (!file)
        return BadInput;
    const bool anyGood = std::any_of(file->rows.begin(), file->rows.end(),
                                     [](const zclient::ApplyRow &r) { return r.error.empty(); });
    if (anyGood && (!session.ensureStarted() || !session.search(plan.globals.to)))
        return reportBadRows(*file);
    const auto found = anyGood ? session.records() : std::vector<Record>();
    Verdicts verdicts = judgeRows(*file, found, plan.globals);
    if (plan.globals.dryRun) {
        // The list the program's import confirms; nothing is sent.
        for (const std::string &line : zclient::applyListing(*file, verdicts.plan))
            std::printf("%s\n", line.c_str());
        int status = Set;
        for (std::size_t k = 0; k < file->rows.size(); ++k)
            if (!verdicts.text[k].empty())
                status = std::max(status, static_cast<int>(verdicts.outcome[k]));
        return status;
    }
    std::vector<std::size_t> configured; // rows to verify
    std::vector<Record> after;
    const int status = sendRows(session, *file, verdicts, configured, after, plan.globals.savePrevious);
    if (plan.globals.verify && !configured.empty())
        printNowReported(*file, configured, after);
    return status;
}

// The walk of the auto configuration over the range, to its end.
int runFree(const Plan &plan)
{
    hostnet::FreeAddressSearch search = hostnet::RangeSearch(plan.first, plan.last, plan.wanted);
    const hostnet::HostAdapterSettings host = hostnet::ReadHostAdapterSettings();
    if (host.result == 0 && !host.gateway.empty())
        search.inUse.insert(hostnet::AddressFromText(host.gateway));
    for (const hostnet::HostAdapter &a : hostnet::ListHostAdapters())
        search.inUse.merge(hostnet::ReservedAddresses(a.address, a.mask, 0));
    hostnet::FreeAddressWalk walk(std::move(search));
    if (walk.echoUnusable()) {
        std::fprintf(stderr, "zarfelcli: free: no echo request and no neighbour table: nothing can be probed\n");
        return 1;
    }
    if (walk.neighbourTableOnly())
        std::fprintf(stderr, "free: ping not permitted: the neighbour table alone decides\n");
    while (!walk.finished())
        walk.pump(1000);
    const std::vector<std::uint32_t> &found = walk.found();
    if (plan.globals.format == Format::Csv) {
        write("ip\r\n");
        for (const std::uint32_t a : found)
            write(hostnet::AddressToText(a) + "\r\n");
    } else if (plan.globals.format == Format::Json) {
        write("[");
        for (std::size_t k = 0; k < found.size(); ++k)
            write(std::string(k ? "," : "") + "{\"ip\":\"" + hostnet::AddressToText(found[k]) + "\"}");
        write("]\n");
    } else {
        std::printf("%-3s %s\n", "NO", "IP");
        for (std::size_t k = 0; k < found.size(); ++k)
            std::printf("%-3zu %s\n", k + 1, hostnet::AddressToText(found[k]).c_str());
    }
    std::fprintf(stderr, "free: %zu found\n", found.size());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Plan plan;
    try {
        plan = parse(argc, argv);
    } catch (const UsageError &e) {
        // set and apply promise 3 for bad input; command lists keep 2. The
        // first command word decides, as it does for the parse.
        bool single = false;
        for (int i = 1; i < argc; ++i)
            if (isCommand(argv[i])) {
                single = std::strcmp(argv[i], "set") == 0 || std::strcmp(argv[i], "apply") == 0;
                break;
            }
        std::fprintf(stderr, "zarfelcli: %s\nTry 'zarfelcli --help'.\n", e.message.c_str());
        return single ? BadInput : 2;
    }
#ifdef _WIN32
    if (plan.globals.format == Format::Csv)
        _setmode(_fileno(stdout), _O_BINARY); // the rows end in CRLF already
#endif

    if (plan.mode == Plan::Free) {
        const int status = runFree(plan);
        std::fflush(stdout);
        return status;
    }

#ifdef _WIN32
    zclient::Exports z;
    const HMODULE dll = bind(z);
    if (!dll)
        return plan.mode == Plan::Steps ? 1 : NotAcknowledged;
#else
    const zclient::Exports z = zclient::linkedExports();
#endif
    // The library's messages on standard error instead of message boxes.
    z.setMessageHandler(&printMessage);
    int status = 0;
    {
        Session session(z, plan.globals);
        switch (plan.mode) {
        case Plan::Steps: status = runSteps(session, plan); break;
        case Plan::SetByMac: status = runSet(session, plan); break;
        case Plan::Apply: status = runApply(session, plan); break;
        case Plan::Free: break; // ran before the library was bound
        }
    }
    std::fflush(stdout);
#ifdef _WIN32
    FreeLibrary(dll);
#endif
    return status;
}
