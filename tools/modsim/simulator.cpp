#include "modsim/simulator.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <limits>

namespace modsim {

namespace {

constexpr std::size_t kMaxNameLength = 14;  // what the host keeps of a name
constexpr int kSendRetries = 2000;          // per datagram, on a full queue
constexpr long kSendRetryPauseNs = 50'000;
constexpr int kMaxReadsPerStep = 256;       // keeps delayed answers on time

bool starts_with(std::string_view text, std::string_view head) {
  return text.size() >= head.size() && text.compare(0, head.size(), head) == 0;
}

bool iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' ||
                        s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// Values travel between commas and end up in one-line files: no commas, no
// control characters.
bool clean_value(std::string_view s) {
  return std::none_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return c == ',' || u < 0x20 || u == 0x7F;
  });
}

bool parse_uint(std::string_view s, std::uint32_t max, std::uint32_t& out) {
  if (s.empty()) return false;
  std::uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || v > max) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

bool parse_int(std::string_view s, int& out) {
  s = trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

std::string ipv4_text(std::uint32_t host_order) {
  in_addr a{};
  a.s_addr = htonl(host_order);
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

void append_hex_byte(std::string& out, std::uint8_t b) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.push_back(kHex[b >> 4]);
  out.push_back(kHex[b & 0x0F]);
}

// The little that differs between Winsock and POSIX sockets.
#ifdef _WIN32
using Socket = SOCKET;
constexpr int kCloexec = 0;  // handles are not inherited unless asked for
int last_error() { return ::WSAGetLastError(); }
std::string error_text(int e) {
  return e >= WSABASEERR ? "Winsock error " + std::to_string(e) : std::strerror(e);
}
bool queue_full(int e) { return e == WSAENOBUFS || e == WSAEWOULDBLOCK || e == WSAEINTR; }
void close_socket(Socket s) { ::closesocket(s); }
#else
using Socket = int;
constexpr int kCloexec = SOCK_CLOEXEC;
int last_error() { return errno; }
std::string error_text(int e) { return std::strerror(e); }
bool queue_full(int e) { return e == ENOBUFS || e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }
void close_socket(Socket s) { ::close(s); }
#endif

int set_option(Socket s, int level, int name, int value) {
  return ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

// The reply address as the socket calls take it (the header keeps only its
// bytes on Windows).
template <class Storage>
sockaddr_in& in_address(Storage& storage) {
  static_assert(sizeof(Storage) == sizeof(sockaddr_in));
  return *reinterpret_cast<sockaddr_in*>(&storage);
}
template <class Storage>
const sockaddr_in& in_address(const Storage& storage) {
  static_assert(sizeof(Storage) == sizeof(sockaddr_in));
  return *reinterpret_cast<const sockaddr_in*>(&storage);
}

// The wake-up channel of step(): [0] is read, [1] written.
bool open_wake(Socket (&wake)[2]) {
#ifdef _WIN32
  // A loopback datagram socket and a second one connected to it; nothing
  // leaves the machine.
  Socket reader = ::socket(AF_INET, SOCK_DGRAM, 0);
  Socket writer = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  u_long nonblocking = 1;
  if (reader == INVALID_SOCKET || writer == INVALID_SOCKET ||
      ::bind(reader, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(reader, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::connect(writer, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::ioctlsocket(reader, FIONBIO, &nonblocking) != 0) {
    const int e = last_error();
    if (reader != INVALID_SOCKET) close_socket(reader);
    if (writer != INVALID_SOCKET) close_socket(writer);
    ::WSASetLastError(e);
    return false;
  }
  wake[0] = reader;
  wake[1] = writer;
  return true;
#else
  return ::pipe2(wake, O_NONBLOCK | O_CLOEXEC) == 0;
#endif
}

void poke(Socket writer) {
  char c = 1;
#ifdef _WIN32
  ::send(writer, &c, 1, 0);
#else
  ssize_t r = ::write(writer, &c, 1);
  (void)r;
#endif
}

void drain(Socket reader) {
  char buffer[64];
#ifdef _WIN32
  while (::recv(reader, buffer, sizeof buffer, 0) > 0) {
  }
#else
  while (::read(reader, buffer, sizeof buffer) > 0) {
  }
#endif
}

std::string peer_text(const void* peer) {
  const auto* sa = static_cast<const sockaddr_in*>(peer);
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &sa->sin_addr, buf, sizeof buf);
  return std::string(buf) + ":" + std::to_string(ntohs(sa->sin_port));
}

}  // namespace

// ---------------------------------------------------------------------------
// Behaviour and module texts

bool parse_behaviour(std::string_view text, Behaviour& out, std::string& error) {
  Behaviour b;
  std::string_view rest = text;
  while (true) {
    auto plus = rest.find('+');
    std::string_view item = trim(rest.substr(0, plus));
    std::string_view arg;
    auto colon = item.find(':');
    std::string_view word = item.substr(0, colon);
    if (colon != std::string_view::npos) arg = item.substr(colon + 1);
    auto no_arg = [&] {
      if (colon == std::string_view::npos) return true;
      error = "behaviour '" + std::string(word) + "' takes no argument";
      return false;
    };
    if (word == "ok") {
      if (!no_arg()) return false;
    } else if (word == "refuse") {
      if (!no_arg()) return false;
      b.refuse = true;
    } else if (word == "silent") {
      if (!no_arg()) return false;
      b.silent = true;
    } else if (word == "mute") {
      if (!no_arg()) return false;
      b.mute = true;
    } else if (word == "vanish") {
      if (!no_arg()) return false;
      b.vanish = true;
    } else if (word == "twice") {
      if (!no_arg()) return false;
      b.twice = true;
    } else if (word == "garbage") {
      if (!no_arg()) return false;
      b.garbage = true;
    } else if (word == "empty") {
      if (!no_arg()) return false;
      b.empty = true;
    } else if (word == "oversize") {
      if (!no_arg()) return false;
      b.oversize = true;
    } else if (word == "deaf") {
      if (!no_arg()) return false;
      b.deaf = true;
    } else if (word == "acklate") {
      if (!parse_uint(arg, 3'600'000, b.ack_late_ms)) {
        error = "acklate:MS needs milliseconds (0..3600000), got '" + std::string(item) + "'";
        return false;
      }
    } else if (word == "late") {
      if (!parse_uint(arg, 3'600'000, b.late_ms)) {
        error = "late:MS needs milliseconds (0..3600000), got '" + std::string(item) + "'";
        return false;
      }
    } else if (word == "burst") {
      if (!parse_uint(arg, kMaxBurst, b.burst) || b.burst == 0) {
        error = "burst:N needs a count of 1.." + std::to_string(kMaxBurst) + ", got '" +
                std::string(item) + "'";
        return false;
      }
    } else {
      error = "unknown behaviour '" + std::string(item) + "'";
      return false;
    }
    if (plus == std::string_view::npos) break;
    rest.remove_prefix(plus + 1);
  }
  out = b;
  return true;
}

std::string format_behaviour(const Behaviour& b) {
  std::string s;
  auto add = [&](const std::string& item) {
    if (!s.empty()) s += '+';
    s += item;
  };
  if (b.mute) add("mute");
  if (b.refuse) add("refuse");
  if (b.silent) add("silent");
  if (b.vanish) add("vanish");
  if (b.deaf) add("deaf");
  if (b.late_ms) add("late:" + std::to_string(b.late_ms));
  if (b.ack_late_ms) add("acklate:" + std::to_string(b.ack_late_ms));
  if (b.twice) add("twice");
  if (b.garbage) add("garbage");
  if (b.empty) add("empty");
  if (b.oversize) add("oversize");
  if (b.burst) add("burst:" + std::to_string(b.burst));
  return s.empty() ? "ok" : s;
}

ModuleSpec default_module(std::size_t index) {
  ModuleSpec m;
  auto i = static_cast<std::uint32_t>(index & 0xFFFFFF);
  std::string mac = "00:0E:C6";
  for (int shift = 16; shift >= 0; shift -= 8) {
    mac += ':';
    append_hex_byte(mac, static_cast<std::uint8_t>((i >> shift) & 0xFF));
  }
  m.mac = mac;
  // 198.18.0.100 + index, carried into the third byte past .255.
  m.ip = ipv4_text((198u << 24 | 18u << 16 | 100u) + i);
  return m;
}

bool parse_mac(std::string_view text, std::array<std::uint8_t, 6>& out) {
  if (text.size() != 17) return false;
  for (std::size_t i = 0; i < 6; ++i) {
    if (i > 0) {
      char sep = text[i * 3 - 1];
      if (sep != ':' && sep != '-') return false;
    }
    std::uint8_t v = 0;
    auto [p, ec] = std::from_chars(text.data() + i * 3, text.data() + i * 3 + 2, v, 16);
    if (ec != std::errc() || p != text.data() + i * 3 + 2) return false;
    out[i] = v;
  }
  return true;
}

bool valid_ipv4(std::string_view text) {
  if (text.empty() || text.size() >= INET_ADDRSTRLEN) return false;
  std::string s(text);
  in_addr a{};
  return inet_pton(AF_INET, s.c_str(), &a) == 1;
}

bool mac_equal(std::string_view a, std::string_view b) { return iequal(a, b); }

bool parse_module_spec(std::string_view text, std::size_t index, ModuleSpec& out,
                       std::string& error) {
  ModuleSpec m = default_module(index);
  std::string_view rest = trim(text);
  while (!rest.empty()) {
    auto comma = rest.find(',');
    std::string_view item = trim(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    if (item.empty()) continue;
    auto eq = item.find('=');
    if (eq == std::string_view::npos) {
      error = "'" + std::string(item) + "' is not key=value";
      return false;
    }
    std::string_view key = trim(item.substr(0, eq));
    std::string_view value = trim(item.substr(eq + 1));
    if (!clean_value(value)) {
      error = "value of '" + std::string(key) + "' has control characters";
      return false;
    }
    auto need_ip = [&](std::string& field) {
      if (!valid_ipv4(value)) {
        error = std::string(key) + "=" + std::string(value) + " is not a dotted IPv4 address";
        return false;
      }
      field = value;
      return true;
    };
    if (key == "name") {
      m.name = value;
    } else if (key == "alias") {
      m.alias = value;
    } else if (key == "dhcp") {
      if (!parse_int(value, m.dhcp)) {
        error = "dhcp=" + std::string(value) + " is not an integer";
        return false;
      }
    } else if (key == "ip") {
      if (!need_ip(m.ip)) return false;
    } else if (key == "mask") {
      if (!need_ip(m.mask)) return false;
    } else if (key == "gw" || key == "gateway") {
      if (!need_ip(m.gateway)) return false;
    } else if (key == "mac") {
      std::array<std::uint8_t, 6> bytes{};
      if (!parse_mac(value, bytes)) {
        error = "mac=" + std::string(value) + " is not of the form 00:0E:C6:00:00:01";
        return false;
      }
      m.mac = value;
    } else if (key == "behave") {
      if (!parse_behaviour(value, m.behave, error)) return false;
    } else {
      error = "unknown key '" + std::string(key) + "'";
      return false;
    }
  }
  out = std::move(m);
  return true;
}

std::string format_module_spec(const ModuleSpec& m) {
  return "name=" + m.name + ",alias=" + m.alias + ",dhcp=" + std::to_string(m.dhcp) +
         ",ip=" + m.ip + ",mask=" + m.mask + ",gw=" + m.gateway + ",mac=" + m.mac +
         ",behave=" + format_behaviour(m.behave);
}

bool load_module_file(const std::string& path, std::size_t& next_index,
                      std::vector<ModuleSpec>& out, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  int line_no = 0;
  while (std::getline(in, line)) {
    ++line_no;
    auto hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    if (trim(line).empty()) continue;
    ModuleSpec m;
    std::string why;
    if (!parse_module_spec(line, next_index, m, why)) {
      error = path + ":" + std::to_string(line_no) + ": " + why;
      return false;
    }
    out.push_back(std::move(m));
    ++next_index;
  }
  return true;
}

std::string search_reply_text(std::string_view name, const ModuleSpec& m, std::string_view mac) {
  std::string s;
  s.reserve(96 + name.size() + m.alias.size());
  s.append(kPrefix).append(",80,NAME=").append(name);
  s.append(",ALIAS=").append(m.alias);
  s.append(",DHCP=").append(std::to_string(m.dhcp));
  s.append(",IP=").append(m.ip);
  s.append(",MASK=").append(m.mask);
  s.append(",GATEWAY=").append(m.gateway);
  s.append(",MAC=").append(mac);
  s.push_back('\r');
  return s;
}

std::string search_reply_text(const ModuleSpec& m) { return search_reply_text(m.name, m, m.mac); }

std::string garbage_text() {
  // Carries reply-like keys but no prefix, so only a receiver that checks the
  // prefix rejects it.
  return "GARBAGE,80,NAME=GARBAGE,ALIAS=,DHCP=0,IP=0.0.0.0,MASK=0.0.0.0,GATEWAY=0.0.0.0,"
         "MAC=EE:EE:EE:EE:EE:EE\r";
}

std::string oversize_text() {
  // Starts like a valid reply: a receiver that ignores the 2047-byte limit
  // would list a bogus module.
  std::string s = "VELKORQZ510,80,NAME=OVERSIZE,ALIAS=,DHCP=0,IP=0.0.0.0,MASK=0.0.0.0,"
                  "GATEWAY=0.0.0.0,MAC=FF:FF:FF:FF:FF:FF,";
  s.resize(kOversizeLength - 1, '.');
  s.push_back('\r');
  return s;
}

std::string derived_mac(std::string_view mac, std::uint32_t k) {
  if (k == 0) return std::string(mac);
  std::array<std::uint8_t, 6> b{};
  if (!parse_mac(mac, b)) return std::string(mac);
  std::uint32_t low = (std::uint32_t{b[3]} << 16 | std::uint32_t{b[4]} << 8 | b[5]) + k;
  b[3] = static_cast<std::uint8_t>((low >> 16) & 0xFF);
  b[4] = static_cast<std::uint8_t>((low >> 8) & 0xFF);
  b[5] = static_cast<std::uint8_t>(low & 0xFF);
  char sep = mac[2];
  std::string s;
  s.reserve(17);
  for (std::size_t i = 0; i < 6; ++i) {
    if (i) s.push_back(sep);
    append_hex_byte(s, b[i]);
  }
  return s;
}

std::string derived_name(std::string_view name, std::uint32_t k) {
  if (k == 0) return std::string(name);
  std::string suffix = "-" + std::to_string(k);
  std::size_t keep = kMaxNameLength > suffix.size() ? kMaxNameLength - suffix.size() : 0;
  return std::string(name.substr(0, std::min(keep, name.size()))) + suffix;
}

std::string escape_datagram(std::string_view data) {
  std::string out;
  out.reserve(data.size() + 8);
  for (char c : data) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '\\') {
      out.push_back(c);
    } else {
      out += "\\x";
      append_hex_byte(out, u);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// ModuleSimulator

ModuleSimulator::ModuleSimulator(SimulatorOptions options) : options_(std::move(options)) {
  modules_ = options_.modules;
  if (modules_.empty()) modules_.push_back(default_module(1));
  recv_buffer_.resize(65536);
}

ModuleSimulator::~ModuleSimulator() {
  stop();
  if (sock_ != kNoSocket) close_socket(sock_);
  for (Socket fd : wake_)
    if (fd != kNoSocket) close_socket(fd);
  if (log_) std::fclose(log_);
}

#ifndef _WIN32
namespace {
// The interface a datagram to `to` leaves by, as the routing table says;
// 0 when it cannot be told.
int outgoing_interface(const sockaddr_in& to) {
  int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return 0;
  int one = 1;
  ::setsockopt(probe, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in local{};
  socklen_t len = sizeof local;
  // connect() on a datagram socket only looks the route up: nothing is sent.
  const bool routed = ::connect(probe, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
                      ::getsockname(probe, reinterpret_cast<sockaddr*>(&local), &len) == 0;
  ::close(probe);
  if (!routed) return 0;
  int index = 0;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return 0;
  for (const ifaddrs* a = list; a && index == 0; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in address;
    std::memcpy(&address, a->ifa_addr, sizeof address);
    if (address.sin_addr.s_addr != local.sin_addr.s_addr) continue;
    std::string name = a->ifa_name;
    name = name.substr(0, name.find(':'));
    index = static_cast<int>(::if_nametoindex(name.c_str()));
  }
  ::freeifaddrs(list);
  return index;
}
}  // namespace
#endif

bool ModuleSimulator::bind(std::string* error) {
  auto fail = [&](const std::string& what, int err) {
    if (error) *error = what + (err ? std::string(": ") + error_text(err) : std::string());
    return false;
  };
  if (sock_ != kNoSocket) return true;
#ifdef _WIN32
  static const int started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) return fail("WSAStartup", started);
#endif

  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(options_.port);
  if (inet_pton(AF_INET, options_.bind_address.c_str(), &local.sin_addr) != 1)
    return fail("bad bind address '" + options_.bind_address + "'", 0);
  sockaddr_in& reply = in_address(reply_addr_);
  reply = sockaddr_in{};
  reply.sin_family = AF_INET;
  reply.sin_port = htons(options_.reply_port);
  if (inet_pton(AF_INET, options_.reply_to.c_str(), &reply.sin_addr) != 1)
    return fail("bad reply address '" + options_.reply_to + "'", 0);

  if (wake_[0] == kNoSocket && !open_wake(wake_)) return fail("pipe", last_error());

  Socket s = ::socket(AF_INET, SOCK_DGRAM | kCloexec, 0);
  if (s == kNoSocket) return fail("socket", last_error());
  // Several simulators on one machine may share the device port and all hear
  // the broadcast.
  set_option(s, SOL_SOCKET, SO_REUSEADDR, 1);
  if (set_option(s, SOL_SOCKET, SO_BROADCAST, 1) != 0) {
    int e = last_error();
    close_socket(s);
    return fail("setsockopt(SO_BROADCAST)", e);
  }
#ifdef _WIN32
  // Windows sends from the socket's own address only. Reads never wait:
  // there is no MSG_DONTWAIT.
  spoof_source_ = false;
  reply_ifindex_ = 0;
  u_long nonblocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonblocking);
#else
  // Datagrams leave from each module's own address, which the namespace
  // need not hold: the host tells modules apart by it.
  spoof_source_ = options_.own_source && set_option(s, SOL_IP, IP_TRANSPARENT, 1) == 0;
  reply_ifindex_ = outgoing_interface(reply);
#endif
  // Bursts should not stall on a small send queue.
  set_option(s, SOL_SOCKET, SO_SNDBUF, 4 << 20);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    int e = last_error();
    close_socket(s);
    return fail("bind " + options_.bind_address + ":" + std::to_string(options_.port), e);
  }
  sockaddr_in actual{};
  socklen_t len = sizeof actual;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&actual), &len);
  bound_port_ = ntohs(actual.sin_port);

  if (!options_.log_path.empty()) {
    log_ = std::fopen(options_.log_path.c_str(), "a");
    if (!log_) {
      int e = errno;
      close_socket(s);
      return fail("open log " + options_.log_path, e);
    }
    log_buffer_.resize(1 << 16);
    std::setvbuf(log_, log_buffer_.data(), _IOFBF, log_buffer_.size());
  }
  sock_ = s;
  {
    std::lock_guard lock(mutex_);
    write_state_locked();
  }
  return true;
}

void ModuleSimulator::request_stop() noexcept {
  stop_requested_.store(true);
  if (wake_[1] != kNoSocket) poke(wake_[1]);
}

bool ModuleSimulator::start(std::string* error) {
  if (thread_.joinable()) return true;
  if (!bind(error)) return false;
  stop_requested_.store(false);
  thread_ = std::thread([this] { run(); });
  return true;
}

void ModuleSimulator::stop() {
  request_stop();
  if (thread_.joinable()) thread_.join();
}

void ModuleSimulator::run(double duration_s) {
  const auto deadline =
      duration_s > 0 ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(duration_s))
                     : Clock::time_point::max();
  while (!stop_requested_.load()) {
    auto now = Clock::now();
    if (now >= deadline) break;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    step(static_cast<int>(std::clamp<long long>(left + 1, 1, 1000)));
  }
}

int ModuleSimulator::step(int timeout_ms) {
  if (sock_ == kNoSocket) return 0;
  if (!pending_.empty()) {
    long long due = std::chrono::ceil<std::chrono::milliseconds>(pending_.begin()->first - Clock::now())
                   .count();
    long long upper = timeout_ms < 0 ? std::max(due, 0LL) : timeout_ms;
    timeout_ms = static_cast<int>(std::clamp<long long>(due, 0, upper));
  }
  pollfd fds[2] = {{sock_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
#ifdef _WIN32
  int ready = ::WSAPoll(fds, 2, timeout_ms);
#else
  int ready = ::poll(fds, 2, timeout_ms);
#endif
  int handled = 0;
  if (ready > 0) {
    if (fds[1].revents & POLLIN) drain(wake_[0]);
    if (fds[0].revents & POLLIN) {
      for (int i = 0; i < kMaxReadsPerStep && !stop_requested_.load(); ++i) {
        sockaddr_in from{};
        socklen_t from_len = sizeof from;
#ifdef _WIN32
        const int n = ::recvfrom(sock_, recv_buffer_.data(), static_cast<int>(recv_buffer_.size()), 0,
                                 reinterpret_cast<sockaddr*>(&from), &from_len);
#else
        ssize_t n = ::recvfrom(sock_, recv_buffer_.data(), recv_buffer_.size(), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &from_len);
#endif
        if (n < 0) break;
        ++handled;
        received_.fetch_add(1);
        handle_datagram(recv_buffer_.data(), static_cast<std::size_t>(n), &from);
      }
    }
  }
  run_due_actions();
  if (log_) std::fflush(log_);
  return handled;
}

void ModuleSimulator::handle_datagram(const char* data, std::size_t size, const void* from) {
  std::string_view text(data, size);
  log_line("RX", from, text);
  // A request is on record before it is answered: whoever got the answer
  // may read the log at once.
  if (log_) std::fflush(log_);
  if (starts_with(text, kSearchHead)) {
    searches_.fetch_add(1);
    handle_search();
  } else if (starts_with(text, kConfigHead)) {
    configs_.fetch_add(1);
    handle_config(text.substr(kConfigHead.size()));
  }
  // Anything else is not for a module: ignored, but logged above.
}

void ModuleSimulator::handle_search() {
  std::vector<ModuleSpec> snapshot = modules();
  for (auto& m : snapshot) {
    if (m.behave.mute) continue;
    dispatch(Action{Kind::SearchReply, std::move(m)});
  }
}

void ModuleSimulator::handle_config(std::string_view text) {
  // Pieces are ",KEY=value"; the DHCP piece is followed by ", " and the whole
  // by "\r". Accept them in any order and skip what we do not know.
  std::string to, alias, ip, mask, gateway, mac, dhcp;
  bool has_to = false, has_alias = false, has_ip = false, has_mask = false, has_gw = false,
       has_mac = false, has_dhcp = false;
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  std::string_view rest = text;
  while (!rest.empty()) {
    auto comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    auto eq = item.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = trim(item.substr(0, eq));
    std::string value(item.substr(eq + 1));
    auto take = [&](std::string_view name, bool& seen, std::string& field) {
      if (!iequal(key, name) || seen) return false;
      seen = true;
      field = std::move(value);
      return true;
    };
    take("TO", has_to, to) || take("ALIAS", has_alias, alias) || take("IP", has_ip, ip) ||
        take("MASK", has_mask, mask) || take("GATEWAY", has_gw, gateway) ||
        take("MAC", has_mac, mac) || take("DHCP", has_dhcp, dhcp);
  }
  if (!has_to) return;

  // Values a firmware could not store are refused as a whole.
  bool valid = (!has_ip || valid_ipv4(ip)) && (!has_mask || valid_ipv4(mask)) &&
               (!has_gw || valid_ipv4(gateway)) && (!has_alias || clean_value(alias));
  std::array<std::uint8_t, 6> mac_bytes{};
  if (has_mac && !parse_mac(mac, mac_bytes)) valid = false;
  int dhcp_value = 0;
  if (has_dhcp && !parse_int(dhcp, dhcp_value)) valid = false;

  std::vector<Action> answers;
  {
    std::lock_guard lock(mutex_);
    bool changed = false;
    for (auto& m : modules_) {
      if (!mac_equal(to, m.mac) || m.behave.mute || m.behave.deaf) continue;
      if (m.behave.refuse || !valid) {
        if (!m.behave.silent) answers.push_back(Action{Kind::AckRefused, m});
        continue;
      }
      if (has_alias) m.alias = alias;
      if (has_ip) m.ip = ip;
      if (has_mask) m.mask = mask;
      if (has_gw) m.gateway = gateway;
      if (has_mac) m.mac = mac;
      if (has_dhcp) m.dhcp = dhcp_value;
      changed = true;
      applied_.fetch_add(1);
      if (!m.behave.silent) answers.push_back(Action{Kind::AckOk, m});
      // A module that does not come back after applying its settings.
      if (m.behave.vanish) m.behave.mute = true;
    }
    if (changed) write_state_locked();
  }
  for (auto& a : answers) dispatch(std::move(a));
}

void ModuleSimulator::dispatch(Action action) {
  const Behaviour& b = action.module.behave;
  const std::uint32_t delay =
      action.kind != Kind::SearchReply && b.ack_late_ms > 0 ? b.ack_late_ms : b.late_ms;
  if (delay > 0) {
    auto due = Clock::now() + std::chrono::milliseconds(delay);
    pending_.emplace(due, std::move(action));  // equal times keep arrival order
  } else {
    emit(action);
  }
}

void ModuleSimulator::run_due_actions() {
  while (!pending_.empty() && pending_.begin()->first <= Clock::now() &&
         !stop_requested_.load()) {
    auto node = pending_.extract(pending_.begin());
    emit(node.mapped());
  }
}

void ModuleSimulator::send_junk(const Behaviour& b, const std::string& from) {
  if (b.garbage) send_datagram(garbage_text(), from);
  if (b.empty) send_datagram({}, from);
  if (b.oversize) send_datagram(oversize_text(), from);
}

void ModuleSimulator::emit(const Action& action) {
  const ModuleSpec& m = action.module;
  const int copies = m.behave.twice ? 2 : 1;
  if (action.kind != Kind::SearchReply) {
    std::string_view text = action.kind == Kind::AckOk ? kAckOk : kAckRefused;
    for (int c = 0; c < copies; ++c) {
      send_junk(m.behave, m.ip);
      send_datagram(text, m.ip);
    }
    return;
  }
  const std::uint32_t count = std::max<std::uint32_t>(m.behave.burst, 1);
  const bool junk = m.behave.garbage || m.behave.empty || m.behave.oversize;
  std::string reply = search_reply_text(m);
  for (std::uint32_t k = 0; k < count; ++k) {
    // A long burst stays interruptible.
    if ((k & 1023) == 1023 && stop_requested_.load()) break;
    if (k > 0) reply = search_reply_text(derived_name(m.name, k), m, derived_mac(m.mac, k));
    for (int c = 0; c < copies; ++c) {
      if (junk) send_junk(m.behave, m.ip);
      send_datagram(reply, m.ip);
    }
  }
}

void ModuleSimulator::send_datagram(std::string_view data, const std::string& from) {
  const sockaddr_in& reply = in_address(reply_addr_);
  const auto* to = reinterpret_cast<const sockaddr*>(&reply);
  // Replies to a loopback address stay on this machine: no source to fake.
  in_addr source{};
  const bool loopback = (ntohl(reply.sin_addr.s_addr) >> 24) == 127;
  const bool spoof = spoof_source_ && !loopback && !from.empty() &&
                     inet_pton(AF_INET, from.c_str(), &source) == 1 && source.s_addr != 0;
  for (int attempt = 0;; ++attempt) {
#ifdef _WIN32
    (void)spoof;  // never granted here
    const int n = ::sendto(sock_, data.data(), static_cast<int>(data.size()), 0, to, sizeof reply);
#else
    ssize_t n;
    if (spoof) {
      iovec vector{const_cast<char*>(data.data()), data.size()};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
      msghdr m{};
      m.msg_name = const_cast<sockaddr*>(to);
      m.msg_namelen = sizeof reply;
      m.msg_iov = &vector;
      m.msg_iovlen = 1;
      m.msg_control = control;
      m.msg_controllen = sizeof control;
      cmsghdr* c = CMSG_FIRSTHDR(&m);
      c->cmsg_level = IPPROTO_IP;
      c->cmsg_type = IP_PKTINFO;
      c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
      in_pktinfo info{};
      // Naming the interface lets a broadcast leave from a foreign address.
      info.ipi_ifindex = reply_ifindex_;
      info.ipi_spec_dst = source;
      std::memcpy(CMSG_DATA(c), &info, sizeof info);
      n = ::sendmsg(sock_, &m, 0);
      if (n < 0 && (errno == EINVAL || errno == EPERM || errno == EADDRNOTAVAIL || errno == ENETUNREACH)) {
        // This system will not send from that address: the socket's own.
        n = ::sendto(sock_, data.data(), data.size(), 0, to, sizeof reply);
      }
    } else {
      n = ::sendto(sock_, data.data(), data.size(), 0, to, sizeof reply);
    }
#endif
    if (n >= 0) {
      sent_.fetch_add(1);
      log_line("TX", &reply, data);
      return;
    }
    int e = last_error();
    bool full = queue_full(e);
    if (!full || attempt >= kSendRetries) {
      send_errors_.fetch_add(1);
      if (log_) {
        double t = std::chrono::duration<double>(Clock::now() - started_).count();
        std::fprintf(log_, "%.3f ERR %s %zu sendto: %s\n", t, peer_text(&reply).c_str(),
                     data.size(), error_text(e).c_str());
      }
      return;
    }
#ifdef _WIN32
    if (e != WSAEINTR) std::this_thread::sleep_for(std::chrono::nanoseconds(kSendRetryPauseNs));
#else
    if (e != EINTR) {
      timespec pause{0, kSendRetryPauseNs};
      ::nanosleep(&pause, nullptr);
    }
#endif
  }
}

void ModuleSimulator::write_state_locked() {
  if (options_.state_path.empty()) return;
  std::string body;
  for (const auto& m : modules_) body += format_module_spec(m) + "\n";
#ifdef _WIN32
  std::string tmp = options_.state_path + ".tmp." + std::to_string(::GetCurrentProcessId());
#else
  std::string tmp = options_.state_path + ".tmp." + std::to_string(::getpid());
#endif
  {
    std::ofstream out(tmp, std::ios::trunc | std::ios::binary);
    out << body;
    if (!out.flush()) return;
  }
#ifdef _WIN32
  // rename() does not replace an existing file here.
  ::MoveFileExA(tmp.c_str(), options_.state_path.c_str(), MOVEFILE_REPLACE_EXISTING);
#else
  std::rename(tmp.c_str(), options_.state_path.c_str());
#endif
}

void ModuleSimulator::log_line(const char* direction, const void* peer, std::string_view data) {
  if (!log_) return;
  double t = std::chrono::duration<double>(Clock::now() - started_).count();
  std::string line = escape_datagram(data);
  std::fprintf(log_, "%.3f %s %s %zu %s\n", t, direction, peer_text(peer).c_str(), data.size(),
               line.c_str());
}

std::vector<ModuleSpec> ModuleSimulator::modules() const {
  std::lock_guard lock(mutex_);
  return modules_;
}

SimulatorStats ModuleSimulator::stats() const {
  SimulatorStats s;
  s.received = received_.load();
  s.searches = searches_.load();
  s.configs = configs_.load();
  s.applied = applied_.load();
  s.sent = sent_.load();
  s.send_errors = send_errors_.load();
  return s;
}

}  // namespace modsim
