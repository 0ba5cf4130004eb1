// modsim: command-line front end of the module simulator.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "modsim/simulator.h"

namespace {

constexpr const char* kUsage = R"(Usage: modsim [OPTIONS]

Simulates networked I/O modules: answers search and configuration requests of
the device protocol (UDP, requests on port 57188, answers to port 54321) the
way module firmware does, for tests, benchmarks and trying the program
without hardware.

Options (each also accepted as --option=VALUE):
  --module DESC     add one module (repeatable). DESC is comma-separated
                    key=value; keys:
                      name   module name            (default QZ510)
                      alias  alias                  (default empty)
                      dhcp   DHCP mode, integer     (default 0)
                      ip     IPv4 address           (default 198.18.0.100+N)
                      mask   subnet mask            (default 255.255.255.0)
                      gw     gateway                (default 198.18.0.1)
                      mac    MAC, 00:0E:C6:00:00:01 form (default 00:0E:C6
                             followed by N in the last three bytes)
                      behave behaviour, see below   (default ok)
                    N is the module's 1-based position among all modules.
                    Values cannot contain commas.
  --modules FILE    add one module per line of FILE (DESC as above; '#'
                    starts a comment; blank lines are ignored)
  --bind ADDR       listen address (default 0.0.0.0; broadcasts only reach a
                    socket bound to 0.0.0.0)
  --port N          listen port (default 57188; 0 = any free port)
  --reply-to ADDR   where replies and acknowledgements go
                    (default 255.255.255.255)
  --reply-port N    their port (default 54321)
  --socket-source   send from the socket's address instead of each module's
                    own (the default, where the system permits it)
  --log FILE        append one line per received (RX) and sent (TX) datagram:
                      <seconds> RX|TX <addr>:<port> <length> <data>
                    <seconds> counts from the start; in <data> the bytes
                    0x20..0x7E except '\' appear as they are, all others as
                    \xHH (so "\r" is \x0D). A failed send is logged as ERR.
  --state FILE      write the current settings, one DESC line per module, at
                    start and after every applied change (atomically: a
                    temporary file renamed over FILE); it can be read back
                    with --modules
  --duration SEC    exit by itself after SEC seconds (default: run until
                    SIGINT or SIGTERM)
  -h, --help        show this text

Without --module or --modules one default module is simulated.
Once the socket is bound, "READY <port>" is printed on stdout.

Behaviours (combine with '+', e.g. behave=late:300+twice):
  ok          answer normally
  refuse      acknowledge configuration requests with VELKORQZ510,81,NG
  silent      answer searches, apply configuration but never acknowledge
  mute        answer nothing and apply nothing (a switched-off module)
  vanish      apply and acknowledge one configuration, then be mute (a
              module that does not come back after its restart)
  late:MS     send replies and acknowledgements MS milliseconds late
  acklate:MS  send acknowledgements MS milliseconds late (replies to
              searches as late:MS says); the settings apply at once
  deaf        answer searches but ignore configuration requests (a module
              the request never reached)
  twice       send every reply and acknowledgement twice
  garbage     send a non-protocol datagram before each reply or ack
  empty       send an empty datagram before each reply or ack
  oversize    send a 3000-byte reply-like datagram before each reply or ack
  burst:N     answer a search with N replies back to back (N <= 100000),
              each a distinct module: reply k (0 = the module itself) has
              the last three MAC bytes counted up by k and "-k" appended
              to the name; only the module's own MAC accepts configuration

A configuration request ("VELKORQZ510,01,TO=<mac>,KEY=value...") is applied
by every module whose MAC equals TO (letter case ignored). Keys ALIAS, IP,
MASK, GATEWAY, MAC, DHCP are understood in any order, others are ignored.
A request with a value the module cannot store (an address that is not
dotted IPv4, a malformed MAC, a DHCP value that is not a number) is refused.

Exit status: 0 after a stop or --duration, 1 on a runtime error (e.g. the
port is in use), 2 on bad options.
)";

modsim::ModuleSimulator* g_sim = nullptr;

extern "C" void on_signal(int) {
  if (g_sim) g_sim->request_stop();
}

int usage_error(const std::string& message) {
  std::fprintf(stderr, "modsim: %s\nTry 'modsim --help'.\n", message.c_str());
  return 2;
}

bool parse_port(const std::string& text, std::uint16_t& out) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < 0 || v > 65535) return false;
  out = static_cast<std::uint16_t>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  modsim::SimulatorOptions options;
  options.own_source = true; // a namespace of its own: answer like firmware
  double duration = 0;
  std::size_t next_index = 1;

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    std::string value;
    bool has_value = false;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.erase(eq);
      has_value = true;
    }
    auto need = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    if (arg == "--module") {
      if (!need()) return usage_error("--module needs a DESC");
      modsim::ModuleSpec m;
      std::string error;
      if (!modsim::parse_module_spec(value, next_index, m, error))
        return usage_error("--module " + value + ": " + error);
      options.modules.push_back(std::move(m));
      ++next_index;
    } else if (arg == "--modules") {
      if (!need()) return usage_error("--modules needs a FILE");
      std::string error;
      if (!modsim::load_module_file(value, next_index, options.modules, error))
        return usage_error(error);
    } else if (arg == "--bind") {
      if (!need() || !modsim::valid_ipv4(value)) return usage_error("--bind needs an IPv4 address");
      options.bind_address = value;
    } else if (arg == "--port") {
      if (!need() || !parse_port(value, options.port))
        return usage_error("--port needs a number 0..65535");
    } else if (arg == "--reply-to") {
      if (!need() || !modsim::valid_ipv4(value))
        return usage_error("--reply-to needs an IPv4 address");
      options.reply_to = value;
    } else if (arg == "--socket-source") {
      options.own_source = false;
    } else if (arg == "--reply-port") {
      if (!need() || !parse_port(value, options.reply_port) || options.reply_port == 0)
        return usage_error("--reply-port needs a number 1..65535");
    } else if (arg == "--log") {
      if (!need() || value.empty()) return usage_error("--log needs a FILE");
      options.log_path = value;
    } else if (arg == "--state") {
      if (!need() || value.empty()) return usage_error("--state needs a FILE");
      options.state_path = value;
    } else if (arg == "--duration") {
      char* end = nullptr;
      if (!need()) return usage_error("--duration needs seconds");
      duration = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(duration > 0) || duration > 1e7)
        return usage_error("--duration needs a positive number of seconds");
    } else {
      return usage_error("unknown option '" + std::string(argv[i]) + "'");
    }
  }

  modsim::ModuleSimulator sim(std::move(options));
  // Handlers first: a stop that arrives while binding still ends the run.
  g_sim = &sim;
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::string error;
  if (!sim.bind(&error)) {
    std::fprintf(stderr, "modsim: %s\n", error.c_str());
    return 1;
  }

  std::printf("READY %u\n", static_cast<unsigned>(sim.port()));
  std::fflush(stdout);
  sim.run(duration);
  g_sim = nullptr;
  return 0;
}
