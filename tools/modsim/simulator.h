// Module simulator: answers the device protocol the way module firmware does,
// so the library, the program and the benchmarks can run without hardware.
//
// One ModuleSimulator owns one UDP socket and any number of simulated
// modules. It can run on its own thread (start/stop) or be driven step by
// step by the caller (bind, then step).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <netinet/in.h>
#endif

namespace modsim {

inline constexpr std::uint16_t kDevicePort = 57188;
inline constexpr std::uint16_t kReplyPort = 54321;
inline constexpr std::string_view kPrefix = "VELKORQZ510";
inline constexpr std::string_view kSearchHead = "VELKORQZ510,00";
inline constexpr std::string_view kConfigHead = "VELKORQZ510,01";
inline constexpr std::string_view kAckOk = "VELKORQZ510,81,OK\r";
inline constexpr std::string_view kAckRefused = "VELKORQZ510,81,NG\r";
inline constexpr std::uint32_t kMaxBurst = 100000;
inline constexpr std::size_t kOversizeLength = 3000;

// How a simulated module misbehaves. Several flags may be set at once.
struct Behaviour {
  bool refuse = false;         // acknowledges configuration without "OK"
  bool silent = false;         // applies configuration but never acknowledges
  bool mute = false;           // ignores everything, like a switched-off module
  bool vanish = false;         // acknowledges one configuration, then is mute
  std::uint32_t late_ms = 0;   // delays replies and acknowledgements
  std::uint32_t ack_late_ms = 0; // delays acknowledgements only (instead of late_ms)
  bool deaf = false;           // answers searches, ignores configuration requests
  bool twice = false;          // sends every reply and acknowledgement twice
  bool garbage = false;        // sends a non-protocol datagram before each reply
  bool empty = false;          // sends an empty datagram before each reply
  bool oversize = false;       // sends a 3000-byte datagram before each reply
  std::uint32_t burst = 0;     // >1: answers a search with this many modules

  bool operator==(const Behaviour&) const = default;
};

// Parses "ok", "refuse", "late:300+twice", ...
bool parse_behaviour(std::string_view text, Behaviour& out, std::string& error);
// Canonical text of a behaviour; "ok" when nothing is set.
std::string format_behaviour(const Behaviour& behaviour);

// One module's settings as it reports them in its search reply.
struct ModuleSpec {
  std::string name = "QZ510";
  std::string alias;
  int dhcp = 0;
  std::string ip;
  std::string mask = "255.255.255.0";
  std::string gateway = "198.18.0.1";
  std::string mac;
  Behaviour behave;

  bool operator==(const ModuleSpec&) const = default;
};

// Defaults of the module with 1-based position `index`: MAC 00:0E:C6 followed
// by the index, IP 198.18.0.100 + index.
ModuleSpec default_module(std::size_t index);

// Parses "name=A,ip=198.18.0.5,behave=late:100" on top of default_module(index).
// Keys: name, alias, dhcp, ip, mask, gw (or gateway), mac, behave.
bool parse_module_spec(std::string_view text, std::size_t index, ModuleSpec& out,
                       std::string& error);
// The DESC text of a module; parse_module_spec reads it back unchanged.
std::string format_module_spec(const ModuleSpec& module);
// Appends one module per DESC line of `path` ('#' comments, blank lines
// ignored); `next_index` is the position of the first module of the file and
// is advanced past the last one.
bool load_module_file(const std::string& path, std::size_t& next_index,
                      std::vector<ModuleSpec>& out, std::string& error);

// Wire texts.
std::string search_reply_text(const ModuleSpec& module);
std::string search_reply_text(std::string_view name, const ModuleSpec& module,
                              std::string_view mac);
std::string garbage_text();
std::string oversize_text();

// Module k (0-based) of a burst: k = 0 is the module itself; the others count
// the last three MAC bytes up and append "-k" to the name (kept to 14 chars).
std::string derived_mac(std::string_view mac, std::uint32_t k);
std::string derived_name(std::string_view name, std::uint32_t k);

bool parse_mac(std::string_view text, std::array<std::uint8_t, 6>& out);
bool valid_ipv4(std::string_view text);
bool mac_equal(std::string_view a, std::string_view b);

// Printable form of a datagram for the log: bytes 0x20..0x7E except '\' stay,
// everything else becomes \xHH (upper-case hex).
std::string escape_datagram(std::string_view data);

struct SimulatorOptions {
  std::vector<ModuleSpec> modules;         // empty: one default module
  std::string bind_address = "0.0.0.0";
  std::uint16_t port = kDevicePort;        // 0: any free port
  std::string reply_to = "255.255.255.255";
  std::uint16_t reply_port = kReplyPort;
  std::string log_path;                    // empty: no log
  std::string state_path;                  // empty: no state file
  // Send each module's datagrams from the module's own address, as module
  // firmware does (needs the privilege of IP_TRANSPARENT; without it, or
  // when off, they leave from the socket's address). Off for simulators
  // that share the host's own namespace, whose looped broadcasts would
  // otherwise come back a second time from a foreign address.
  bool own_source = false;
};

struct SimulatorStats {
  std::uint64_t received = 0;      // datagrams read
  std::uint64_t searches = 0;      // search requests among them
  std::uint64_t configs = 0;       // configuration requests among them
  std::uint64_t applied = 0;       // configuration changes applied
  std::uint64_t sent = 0;          // datagrams sent (including junk ones)
  std::uint64_t send_errors = 0;   // datagrams given up on
};

class ModuleSimulator {
 public:
  explicit ModuleSimulator(SimulatorOptions options);
  ~ModuleSimulator();
  ModuleSimulator(const ModuleSimulator&) = delete;
  ModuleSimulator& operator=(const ModuleSimulator&) = delete;

  // Opens and binds the socket, opens the log and writes the first state
  // file. False with a reason in *error on failure.
  bool bind(std::string* error = nullptr);
  // The bound port (after bind), useful with port 0.
  std::uint16_t port() const { return bound_port_; }

  // Waits up to timeout_ms for requests or due delayed answers and handles
  // what is there. Returns the number of datagrams received.
  int step(int timeout_ms);
  // Steps until a stop is requested or, when duration_s > 0, the time is up.
  void run(double duration_s = 0);

  // run() on an own thread; binds first if needed.
  bool start(std::string* error = nullptr);
  // Requests a stop and joins the thread started by start().
  void stop();
  // Only requests the stop; safe to call from a signal handler.
  void request_stop() noexcept;

  std::vector<ModuleSpec> modules() const;
  SimulatorStats stats() const;

 private:
  using Clock = std::chrono::steady_clock;
  enum class Kind { SearchReply, AckOk, AckRefused };
  struct Action {
    Kind kind;
    ModuleSpec module;  // snapshot taken when the request arrived
  };

  void handle_datagram(const char* data, std::size_t size, const void* from);
  void handle_search();
  void handle_config(std::string_view text);
  void dispatch(Action action);
  void emit(const Action& action);
  void send_junk(const Behaviour& behave, const std::string& from);
  // Sends from the module's own address `from` where the system lets us
  // (as a real module would), else from the socket's address.
  void send_datagram(std::string_view data, const std::string& from = {});
  void run_due_actions();
  void write_state_locked();
  void log_line(const char* direction, const void* peer, std::string_view data);

  SimulatorOptions options_;
  mutable std::mutex mutex_;  // guards modules_
  std::vector<ModuleSpec> modules_;

#ifdef _WIN32
  // SOCKET and the bytes of a sockaddr_in: users of this header stay free of
  // the Windows headers and their macros.
  using Socket = std::uintptr_t;
  using ReplyAddress = std::array<std::uint32_t, 4>;
#else
  using Socket = int;
  using ReplyAddress = sockaddr_in;
#endif
  static constexpr Socket kNoSocket = static_cast<Socket>(-1);

  Socket sock_ = kNoSocket;
  bool spoof_source_ = false; // IP_TRANSPARENT granted: any source address
  int reply_ifindex_ = 0;     // the interface replies leave by
  // Wakes step() for a stop: a pipe, or on Windows a pair of loopback
  // sockets (WSAPoll waits on sockets only).
  Socket wake_[2] = {kNoSocket, kNoSocket};
  std::uint16_t bound_port_ = 0;
  ReplyAddress reply_addr_{};
  std::FILE* log_ = nullptr;
  std::vector<char> log_buffer_;
  Clock::time_point started_ = Clock::now();

  std::multimap<Clock::time_point, Action> pending_;
  std::vector<char> recv_buffer_;

  std::atomic<bool> stop_requested_{false};
  std::thread thread_;

  std::atomic<std::uint64_t> received_{0}, searches_{0}, configs_{0}, applied_{0}, sent_{0},
      send_errors_{0};
};

}  // namespace modsim
