#include "LoadOptions.h"

#include <arpa/inet.h>

#include <cmath>
#include <stdexcept>
#include <utility>

namespace velmora::bench {

namespace {

// Every figure is bounded so that a typing slip cannot leave a load running for hours.
constexpr double kMaxSeconds = 900;
constexpr int kMaxMembers = 1'000'000;

double ReadNumber(const std::string& flag, const std::string& text, double low, double high) {
  size_t used = 0;
  double value = 0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || !std::isfinite(value) || value < low || value > high) {
    throw std::invalid_argument(flag + " wants a number from " + std::to_string(low) + " to " +
                                std::to_string(high) + ", not '" + text + "'");
  }
  return value;
}

int ReadInteger(const std::string& flag, const std::string& text, int low, int high) {
  double value = ReadNumber(flag, text, low, high);
  if (value != std::floor(value)) throw std::invalid_argument(flag + " wants a whole number");
  return static_cast<int>(value);
}

// What --mode takes, in the order its error message lists them.
constexpr std::pair<const char*, LoadMode> kModes[] = {
    {"window", LoadMode::kWindow}, {"rate", LoadMode::kRate},
    {"idle", LoadMode::kIdle},     {"floor", LoadMode::kFloor},
    {"depart", LoadMode::kDepart}, {"slowreader", LoadMode::kSlowReader},
    {"strangers", LoadMode::kStrangers},
};

LoadMode ReadMode(const std::string& text) {
  std::string names;
  for (const auto& [name, mode] : kModes) {
    if (text == name) return mode;
    names += names.empty() ? "" : ", ";
    names += name;
  }
  throw std::invalid_argument("--mode is one of " + names);
}

void RequireLoopback(const std::string& host) {
  in_addr address{};
  if (inet_pton(AF_INET, host.c_str(), &address) != 1 || (ntohl(address.s_addr) >> 24) != 127) {
    throw std::invalid_argument("--host must be an IPv4 loopback address (127.x.x.x)");
  }
}

}  // namespace

const char* LoadUsage() {
  return R"(velmora-loadgen: logs members into a network and measures the relay of their positions.

  --port N              server port (required)
  --host ADDR           server address, loopback only (127.0.0.1)
  --network NAME        network name (Bench); with --networks K > 1 the names are NAME0..NAME(K-1)
  --networks K          spread the members round-robin over K networks (1)
  --password PW         network password (pw)
  --members N           members to log in (10)
  --prefix P            user names P0..P(N-1) (m)
  --sources K           source addresses 127.0.0.1..127.0.0.K (enough for ~25,000 members each)
  --logins-in-flight L  log-ins under way at once (64)
  --login-timeout S     limit for the whole log-in phase (600)
  --mode M              window | rate | idle | floor | depart | slowreader | strangers
                        (window); floor needs no server: it writes --window frames per send
                        to --members loopback connections from core 0 and reads them on
                        core 1 for --duration seconds
                        depart: --members log in (plus one watcher), stay quiet --hold s,
                        then all close at once; the server's peak RSS growth is printed
                        slowreader: m0 sends --reports positions (a chat line every
                        --chat-every) as fast as the server takes them, m1 reads
                        --read-rate bytes/s through a --rcvbuf receive buffer
                        strangers: --members connections never log in and send frames up to
                        4 KiB, in pieces, of codes ignored before log-in, for --duration s;
                        with --probe-network, a member logs in meanwhile and asks every
                        --probe-interval ms
  --window W            window mode: reports per sender not yet received by all others (128)
  --rate R              rate mode: reports per second per sender (1)
  --senders K           only the first K members report, the others only receive (all)
  --warmup S            load before measuring (2)
  --duration S          measured seconds (10, at most 900)
  --drain S             after the load: longest wait for reports still on their way (5)
  --hold S              idle mode: seconds to stay logged in before the last memory reading (3)
  --server-pid PID      read the server's VmRSS and CPU time from /proc
  --probe-network NAME  before the log-ins, log "probe" in to network NAME; during them it
                        asks the administrator query every --probe-interval ms (5) and the
                        round trips are printed: what the log-ins cost everybody else
  --timeline            print one line per second of load
  --read-rate B         slowreader: bytes per second the reader takes (65536)
  --rcvbuf B            slowreader: the reader's SO_RCVBUF (4096)
  --reports N           slowreader: positions the sender sends (1000000)
  --chat-every K        slowreader: a chat line after every K positions (1000; 0: none)
  --slow-reader         rate mode: one member more, which reads --read-rate bytes/s through
                        a --rcvbuf receive buffer and sends nothing; m0 chats every 100 ms.
                        Printed: the age of the positions it reads, how long after the last
                        reports every sender's newest reached it, its chat lines' order
  --flood-rate R        rate mode: one member more, which reports R times a second; printed:
                        how many of its reports m0 received a second (what the server relays)
)";
}

bool ParseLoadOptions(const std::vector<std::string>& args, LoadOptions& options) {
  bool portGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    if (flag == "--help" || flag == "-h") return false;
    if (flag == "--slow-reader") {
      options.slowReader = true;
      continue;
    }
    if (flag == "--timeline") {
      options.timeline = true;
      continue;
    }
    if (i + 1 >= args.size()) throw std::invalid_argument(flag + " wants a value");
    const std::string& value = args[++i];
    if (flag == "--port") {
      options.port = ReadInteger(flag, value, 1, 65535);
      portGiven = true;
    } else if (flag == "--host") {
      RequireLoopback(value);
      options.host = value;
    } else if (flag == "--network") {
      options.network = value;
    } else if (flag == "--networks") {
      options.networks = ReadInteger(flag, value, 1, 10000);
    } else if (flag == "--password") {
      options.password = value;
    } else if (flag == "--members") {
      options.members = ReadInteger(flag, value, 1, kMaxMembers);
    } else if (flag == "--prefix") {
      options.prefix = value;
    } else if (flag == "--sources") {
      options.sources = ReadInteger(flag, value, 1, 254);
    } else if (flag == "--logins-in-flight") {
      options.loginsInFlight = ReadInteger(flag, value, 1, kMaxMembers);
    } else if (flag == "--login-timeout") {
      options.loginTimeout = ReadNumber(flag, value, 1, 3600);
    } else if (flag == "--mode") {
      options.mode = ReadMode(value);
    } else if (flag == "--window") {
      options.window = ReadInteger(flag, value, 1, 65536);
    } else if (flag == "--rate") {
      options.rate = ReadNumber(flag, value, 0.001, 100000);
    } else if (flag == "--senders") {
      options.senders = ReadInteger(flag, value, 0, kMaxMembers);
    } else if (flag == "--warmup") {
      options.warmup = ReadNumber(flag, value, 0, kMaxSeconds);
    } else if (flag == "--duration") {
      options.duration = ReadNumber(flag, value, 0.1, kMaxSeconds);
    } else if (flag == "--drain") {
      options.drain = ReadNumber(flag, value, 0, 60);
    } else if (flag == "--hold") {
      options.hold = ReadNumber(flag, value, 0, kMaxSeconds);
    } else if (flag == "--probe-network") {
      options.probeNetwork = value;
    } else if (flag == "--probe-interval") {
      options.probeIntervalMs = ReadNumber(flag, value, 1, 1000);
    } else if (flag == "--read-rate") {
      options.readRate = ReadInteger(flag, value, 64, 1 << 30);
    } else if (flag == "--rcvbuf") {
      options.receiveBuffer = ReadInteger(flag, value, 1024, 1 << 24);
    } else if (flag == "--reports") {
      options.reports = ReadInteger(flag, value, 1, 100'000'000);
    } else if (flag == "--chat-every") {
      options.chatEvery = ReadInteger(flag, value, 0, 100'000'000);
    } else if (flag == "--flood-rate") {
      options.floodRate = ReadNumber(flag, value, 0, 10'000'000);
    } else if (flag == "--server-pid") {
      options.serverPid = ReadInteger(flag, value, 1, 1 << 30);
    } else {
      throw std::invalid_argument("unknown option " + flag);
    }
  }
  if (!portGiven && options.mode != LoadMode::kFloor) {
    throw std::invalid_argument("--port is required");
  }
  if (options.mode == LoadMode::kSlowReader) options.members = 2;
  if (options.mode == LoadMode::kDepart && options.members >= kMaxMembers) {
    throw std::invalid_argument("--mode depart adds a watcher: --members must stay below " +
                                std::to_string(kMaxMembers));
  }
  if (options.mode == LoadMode::kFloor && options.members > 4000) {
    throw std::invalid_argument("--mode floor takes at most 4000 connections");
  }
  // The relayed payload is cut at "|" and ",", so a name must not carry either.
  if (options.prefix.empty() || options.prefix.find_first_of("|,") != std::string::npos) {
    throw std::invalid_argument("--prefix must be non-empty and free of '|' and ','");
  }
  if (options.slowReader && options.floodRate > 0) {
    throw std::invalid_argument("--slow-reader and --flood-rate each add a member: give one");
  }
  if ((options.slowReader || options.floodRate > 0) && options.mode != LoadMode::kRate) {
    throw std::invalid_argument("--slow-reader and --flood-rate need --mode rate");
  }
  if (options.senders < 0 || options.senders > options.members) options.senders = options.members;
  if (options.sources == 0) options.sources = (options.members + 24999) / 25000;
  return true;
}

}  // namespace velmora::bench
