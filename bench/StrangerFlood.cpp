#include "StrangerFlood.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "RoundTripProbe.h"
#include "ServerProcess.h"
#include "protocol/FrameCodec.h"

namespace velmora::bench {

namespace {

constexpr int kMaxEvents = 1024;
constexpr size_t kLargestPiece = 6000;  // pieces cut frames anywhere, spanning at most two
constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr int kMaxReconnects = 100'000;

int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

// One round of what every stranger sends over and over; the last frame's length is exactly the
// 4 KiB bound. Codes: unknown ones, reports, list and chat of a non-member, an administrator's
// kick, and the administrator query and goodbye, which the server answers.
std::string Pattern() {
  std::string out;
  AppendPacket(out, 4242, std::string(2000, 'x'));
  AppendPacket(out, 4, "1,2,1,100,0,0");
  AppendPacket(out, 5, "");
  AppendPacket(out, 7, std::string(1000, 'c'));
  AppendPacket(out, 9, "");
  AppendPacket(out, 10, "m0|out");
  AppendPacket(out, 999, "");
  AppendPacket(out, 77, std::string(4096 - kFrameHeaderSize, 'y'));
  return out;
}

struct Stranger {
  int fd = -1;
  bool connected = false;
  size_t offset = 0;  // where in the pattern its stream stands
};

class Flood {
 public:
  explicit Flood(const LoadOptions& options) : options_(options), pattern_(Pattern()) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) throw std::runtime_error(std::string("epoll_create1: ") + strerror(errno));
    strangers_.resize(static_cast<size_t>(options.members));
    piece_.resize(kLargestPiece);
  }
  ~Flood() {
    for (size_t i = 0; i < strangers_.size(); ++i) Close(i);
    close(epoll_);
  }

  int Run();

 private:
  bool Reads(size_t index) const { return index % 2 == 0; }
  void Open(size_t index);
  void Close(size_t index);
  void Pass(int timeoutMs, bool sending);
  void Send(size_t index);
  void Hold(double seconds);

  const LoadOptions& options_;
  std::string pattern_;
  std::string piece_;
  int epoll_ = -1;
  std::vector<Stranger> strangers_;
  uint64_t random_ = 0x9e3779b97f4a7c15ull;
  uint64_t bytesSent_ = 0;
  uint64_t bytesRead_ = 0;
  uint64_t cutOff_ = 0;
  uint64_t reconnects_ = 0;
  int connected_ = 0;
};

void Flood::Open(size_t index) {
  Stranger& s = strangers_[index];
  s.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s.fd < 0) throw std::runtime_error(std::string("socket: ") + strerror(errno));
  int one = 1;
  setsockopt(s.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(options_.port));
  inet_pton(AF_INET, options_.host.c_str(), &target.sin_addr);
  if (connect(s.fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0 &&
      errno != EINPROGRESS) {
    throw std::runtime_error(std::string("connect: ") + strerror(errno));
  }
  s.connected = false;
  s.offset = 0;  // a stream starts at a frame; the pieces cut it anywhere after
  epoll_event event{};
  // Readers take the answers; the others never read, as an attacker need not.
  event.events = EPOLLOUT | (Reads(index) ? EPOLLIN : 0u);
  event.data.u64 = index;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, s.fd, &event);
}

void Flood::Close(size_t index) {
  Stranger& s = strangers_[index];
  if (s.fd < 0) return;
  close(s.fd);
  s.fd = -1;
  if (s.connected) --connected_;
  s.connected = false;
}

void Flood::Send(size_t index) {
  Stranger& s = strangers_[index];
  random_ = random_ * 6364136223846793005ull + 1442695040888963407ull;
  size_t length = 1 + static_cast<size_t>((random_ >> 33) % kLargestPiece);
  for (size_t i = 0; i < length; ++i) piece_[i] = pattern_[(s.offset + i) % pattern_.size()];
  ssize_t wrote = send(s.fd, piece_.data(), length, MSG_NOSIGNAL);
  if (wrote > 0) {
    s.offset = (s.offset + static_cast<size_t>(wrote)) % pattern_.size();
    bytesSent_ += static_cast<uint64_t>(wrote);
  }
}

void Flood::Pass(int timeoutMs, bool sending) {
  static epoll_event events[kMaxEvents];
  static char scratch[64 * 1024];
  int count = epoll_wait(epoll_, events, kMaxEvents, timeoutMs);
  for (int i = 0; i < count; ++i) {
    size_t index = events[i].data.u64;
    Stranger& s = strangers_[index];
    if (s.fd < 0) continue;
    uint32_t what = events[i].events;
    if (!s.connected && (what & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
      int error = 0;
      socklen_t size = sizeof error;
      getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &size);
      if (error != 0) throw std::runtime_error(std::string("connect: ") + strerror(error));
      s.connected = true;
      ++connected_;
    }
    bool gone = (what & (EPOLLERR | EPOLLHUP)) != 0;
    if (!gone && (what & EPOLLIN)) {
      ssize_t got = recv(s.fd, scratch, sizeof scratch, 0);
      if (got > 0) bytesRead_ += static_cast<uint64_t>(got);
      gone = got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR);
    }
    if (!gone && sending && (what & EPOLLOUT)) Send(index);
    if (gone) {
      ++cutOff_;
      Close(index);
      if (sending && reconnects_ < kMaxReconnects) {
        ++reconnects_;
        Open(index);
      }
    }
  }
}

void Flood::Hold(double seconds) {
  // Nothing is sent; only readers read, and the connections stay as they are.
  for (size_t i = 0; i < strangers_.size(); ++i) {
    if (strangers_[i].fd < 0) continue;
    epoll_event event{};
    event.events = Reads(i) ? EPOLLIN : 0u;
    event.data.u64 = i;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, strangers_[i].fd, &event);
  }
  int64_t end = NowNs() + static_cast<int64_t>(seconds * kNsPerSecond);
  while (NowNs() < end) Pass(10, false);
}

int Flood::Run() {
  const int pid = options_.serverPid;
  long rssBefore = ServerStatusKb(pid, "VmRSS:");
  std::printf("strangers=%d server_rss_before=%ld kB\n", options_.members, rssBefore);
  for (size_t i = 0; i < strangers_.size(); ++i) Open(i);
  // The connections are made (and get their prompt) before the flood.
  int64_t connectEnd = NowNs() + 10 * kNsPerSecond;
  while (connected_ < options_.members && NowNs() < connectEnd) Pass(10, false);
  Hold(1);
  long rssConnected = ServerStatusKb(pid, "VmRSS:");

  bool peakReset = ResetServerPeak(pid);
  double cpuBefore = ServerCpuSeconds(pid);
  std::unique_ptr<RoundTripProbe> probe;
  std::atomic<bool> probeIn{false};
  std::atomic<int64_t> probeLogInUs{-1};
  std::string probeError;
  std::thread probeStarter;
  if (!options_.probeNetwork.empty()) {
    probe = std::make_unique<RoundTripProbe>(options_);
    // The member logs in a second into the flood, from a thread of its own.
    probeStarter = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      auto asked = std::chrono::steady_clock::now();
      try {
        probe->Start();
        probeLogInUs = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now() - asked)
                           .count();
        probeIn = true;
      } catch (const std::exception& error) {
        probeError = error.what();
      }
    });
  }
  // The flood shares the generator's core with the probe: it yields to the probe's wake-ups, so
  // that the round trips are the server's, not the flood's (threads made before keep nice 0).
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 15);
  for (size_t i = 0; i < strangers_.size(); ++i) {
    if (strangers_[i].fd < 0) continue;
    epoll_event event{};
    event.events = EPOLLOUT | (Reads(i) ? EPOLLIN : 0u);
    event.data.u64 = i;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, strangers_[i].fd, &event);
  }
  int64_t begin = NowNs();
  int64_t end = begin + static_cast<int64_t>(options_.duration * kNsPerSecond);
  while (NowNs() < end) Pass(10, true);
  double floodSeconds = static_cast<double>(NowNs() - begin) / kNsPerSecond;
  double serverCpu = ServerCpuSeconds(pid) - cpuBefore;
  long rssFlood = ServerStatusKb(pid, "VmRSS:");
  long peak = ServerStatusKb(pid, "VmHWM:");
  if (probeStarter.joinable()) probeStarter.join();
  if (probeIn) probe->StopAndPrint("the strangers' flood");
  int open = connected_;
  // Every stranger is left with its last frame unfinished, for the server to hold.
  Hold(1);
  long rssHeld = ServerStatusKb(pid, "VmRSS:");
  for (size_t i = 0; i < strangers_.size(); ++i) Close(i);
  int64_t settle = NowNs() + kNsPerSecond;
  while (NowNs() < settle) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  long rssAfter = ServerStatusKb(pid, "VmRSS:");

  auto perConnection = [&](long kb) {
    return static_cast<double>(kb - rssBefore) * 1024.0 / std::max(1, options_.members);
  };
  std::printf("strangers: %.2f s of flood, %.1f MB sent (%.1f MB/s), %.1f kB of answers read; "
              "%llu cut off by the server (and opened again), %d connected at the end; server "
              "CPU %.0f %%\n",
              floodSeconds, static_cast<double>(bytesSent_) / 1e6,
              static_cast<double>(bytesSent_) / 1e6 / floodSeconds,
              static_cast<double>(bytesRead_) / 1e3, static_cast<unsigned long long>(cutOff_),
              open, 100.0 * serverCpu / floodSeconds);
  if (!options_.probeNetwork.empty()) {
    if (probeIn) {
      std::printf("strangers: the member logged in to %s during the flood in %.3f ms\n",
                  options_.probeNetwork.c_str(), static_cast<double>(probeLogInUs) / 1000.0);
    } else {
      std::printf("strangers: the member could NOT log in during the flood: %s\n",
                  probeError.c_str());
    }
  }
  if (rssBefore > 0) {
    std::printf("strangers: server VmRSS before %ld kB, connected %ld kB (%.0f B each), end of "
                "flood %ld kB (%.0f B each), peak%s %ld kB (%.0f B each), holding partial "
                "frames %ld kB (%.0f B each), 1 s after closing %ld kB\n",
                rssBefore, rssConnected, perConnection(rssConnected), rssFlood,
                perConnection(rssFlood), peakReset ? "" : " (not reset)", peak,
                perConnection(peak), rssHeld, perConnection(rssHeld), rssAfter);
  }
  return options_.probeNetwork.empty() || probeIn ? 0 : 1;
}

}  // namespace

int RunStrangerFlood(const LoadOptions& options) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < static_cast<rlim_t>(options.members) + 16) {
    throw std::runtime_error("not enough descriptors for " + std::to_string(options.members) +
                             " strangers");
  }
  Flood flood(options);
  return flood.Run();
}

}  // namespace velmora::bench
