#include "LoadGenerator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "ServerProcess.h"
#include "protocol/FrameCodec.h"

namespace velmora::bench {

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr size_t kReadSize = 256 * 1024;
// A single socket rarely holds more; more rounds would let one busy member starve the rest.
constexpr int kReadRoundsPerEvent = 4;
constexpr int kMaxEvents = 4096;
constexpr int64_t kIdleWaitNs = 10'000'000;
// Pairs of (receiver, sender) whose order is checked one by one; beyond this only counts are
// compared, to keep the generator's memory bounded.
constexpr uint64_t kMaxCheckedPairs = 16'000'000;
// Reports that the rate schedule may hand out in one pass, so that a late generator still reads.
constexpr int kMaxDuePerPass = 20000;

char g_readBuffer[kReadSize];

std::string Md5Raw(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1) {
    throw std::runtime_error("MD5 digest failed");
  }
  return std::string(reinterpret_cast<const char*>(digest), length);
}

// Reads the decimal digits at `pos`, up to `stop`; false when there are none or `stop` is missing.
bool ReadField(std::string_view text, size_t& pos, char stop, uint64_t& value) {
  const char* first = text.data() + pos;
  const char* last = text.data() + text.size();
  auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end == last || *end != stop) return false;
  pos = static_cast<size_t>(end - text.data()) + 1;
  return true;
}

std::string Micros(uint64_t micros) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(micros) / 1000.0);
  return text;
}

double Seconds(int64_t ns) { return static_cast<double>(ns) / kNsPerSecond; }

// Depart mode logs in one member more than it lets go: the watcher, who counts the departures.
// Rate mode's slow reader or flooder is one member more as well, after the senders.
LoadOptions WithWatcher(LoadOptions options) {
  if (options.mode == LoadMode::kDepart) {
    ++options.members;
    options.senders = options.members;
  }
  if (options.slowReader || options.floodRate > 0) ++options.members;
  return options;
}

// The slow reader's chat: m0 says a line this often.
constexpr int64_t kChatIntervalNs = 100'000'000;

// A position report "X,Y,1,100,0,0" that carries its send time as X and its sequence number as
// Y, written into `buffer`: 20 characters hold any 64-bit number, so it always fits.
std::string_view ReportPayload(char (&buffer)[64], int64_t sentUs, uint64_t sequence) {
  char* at = std::to_chars(buffer, buffer + 20, sentUs).ptr;
  *at++ = ',';
  at = std::to_chars(at, at + 20, sequence).ptr;
  static constexpr char kRest[] = ",1,100,0,0";
  std::memcpy(at, kRest, sizeof kRest - 1);
  at += sizeof kRest - 1;
  return std::string_view(buffer, static_cast<size_t>(at - buffer));
}

}  // namespace

LoadGenerator::LoadGenerator(const LoadOptions& options)
    : options_(WithWatcher(options)),
      digest_(Md5Raw(options.password)),
      members_(static_cast<size_t>(options_.members)),
      loggedInPerNetwork_(static_cast<size_t>(options.networks), 0) {
  startNs_ = NowNs();  // NowNs counts from startNs_, which is 0 until here
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) throw std::runtime_error(std::string("epoll_create1: ") + strerror(errno));
  for (size_t i = 0; i < members_.size(); ++i) {
    members_[i].network = static_cast<int>(i % static_cast<size_t>(options.networks));
  }
  if (options_.slowReader || options_.floodRate > 0) {
    extra_ = static_cast<uint32_t>(members_.size() - 1);
    members_[extra_].network = 0;  // with m0, who chats
  }
}

LoadGenerator::~LoadGenerator() {
  for (uint32_t i = 0; i < members_.size(); ++i) CloseMember(i);
  if (epoll_ >= 0) close(epoll_);
}

int64_t LoadGenerator::NowNs() const {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec - startNs_;
}

std::string LoadGenerator::NetworkName(int network) const {
  if (options_.networks == 1) return options_.network;
  return options_.network + std::to_string(network);
}

std::string LoadGenerator::UserName(uint32_t index) const {
  return options_.prefix + std::to_string(index);
}

int LoadGenerator::Recipients(uint32_t sender) const {
  int network = members_[sender].network;
  int others = loggedInPerNetwork_[static_cast<size_t>(network)] - 1;
  // The slow reader is expected to miss positions: it has figures of its own.
  if (options_.slowReader && members_[extra_].state == State::kLoggedIn &&
      members_[extra_].network == network) {
    --others;
  }
  return std::max(0, others);
}

void LoadGenerator::RaiseDescriptorLimit() {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  getrlimit(RLIMIT_NOFILE, &limit);
  auto needed = static_cast<rlim_t>(options_.members) + 16;
  if (limit.rlim_cur < needed) {
    throw std::runtime_error("needs " + std::to_string(needed) +
                             " descriptors, but the hard limit is " +
                             std::to_string(limit.rlim_cur));
  }
}

int LoadGenerator::Run() {
  RaiseDescriptorLimit();
  long rssBefore = ServerRssKb();
  std::printf("members=%d networks=%d sources=%d server_rss_before=%ld kB\n", options_.members,
              options_.networks, options_.sources, rssBefore);
  if (!options_.probeNetwork.empty()) {
    probe_ = std::make_unique<RoundTripProbe>(options_);
    probe_->Start();
  }
  double serverCpuBefore = ServerCpuSeconds();
  LoginPhase();
  if (probe_) probe_->StopAndPrint("the log-ins");
  PrintLoginSummary();
  // Each log-in rewrites the network file, so its cost grows with the users the file lists.
  if (serverCpuBefore >= 0 && loggedIn_ > 0) {
    std::printf("server CPU during log-in: %.2f s = %.2f ms per log-in\n",
                ServerCpuSeconds() - serverCpuBefore,
                (ServerCpuSeconds() - serverCpuBefore) * 1000.0 / loggedIn_);
  }
  long rssAfterLogin = ServerRssKb();
  if (rssBefore > 0 && loggedIn_ > 0) {
    std::printf("server_rss_after_login=%ld kB  per_logged_in_connection=%.0f bytes\n",
                rssAfterLogin,
                static_cast<double>(rssAfterLogin - rssBefore) * 1024.0 / loggedIn_);
  }
  if (options_.mode == LoadMode::kDepart) {
    DepartPhase();
  } else if (options_.mode == LoadMode::kSlowReader) {
    if (loggedIn_ == 2) SlowReaderPhase();
  } else if (options_.mode == LoadMode::kIdle) {
    IdlePhase();
    long rssAfterHold = ServerRssKb();
    if (rssBefore > 0 && loggedIn_ > 0) {
      std::printf("server_rss_after_hold=%ld kB  per_logged_in_connection=%.0f bytes\n",
                  rssAfterHold,
                  static_cast<double>(rssAfterHold - rssBefore) * 1024.0 / loggedIn_);
    }
  } else if (loggedIn_ >= 2) {
    LoadPhase();
    long rssAfterLoad = ServerRssKb();
    if (rssBefore > 0) {
      std::printf("server_rss_after_load=%ld kB  per_logged_in_connection=%.0f bytes\n",
                  rssAfterLoad,
                  static_cast<double>(rssAfterLoad - rssBefore) * 1024.0 / loggedIn_);
    }
  } else {
    std::printf("load: skipped, fewer than two members logged in\n");
  }
  std::fflush(stdout);
  bool clean = !incomplete_ && failed_ == 0 && drops_ == 0 && gaps_ == 0 && outOfOrder_ == 0 &&
               receivedMeasured_ == expectedMeasured_ && loggedIn_ == options_.members;
  return clean ? 0 : 1;
}

// ---- log-in --------------------------------------------------------------------------------

void LoadGenerator::LoginPhase() {
  int64_t begin = NowNs();
  int64_t deadline = begin + static_cast<int64_t>(options_.loginTimeout * kNsPerSecond);
  int step = std::max(1, options_.members / 10);
  int nextReport = step;
  int64_t lastReportNs = begin;
  int lastReportCount = 0;
  while (loggedIn_ + failed_ < options_.members && NowNs() < deadline) {
    while (inFlight_ < options_.loginsInFlight && nextToStart_ < members_.size()) {
      StartLogin(nextToStart_++);
    }
    Poll(kIdleWaitNs);
    Flush();
    if (loggedIn_ >= nextReport) {
      int64_t now = NowNs();
      std::printf("  logins %d/%d after %.2f s (last %d at %.0f/s)\n", loggedIn_,
                  options_.members, Seconds(now - begin), loggedIn_ - lastReportCount,
                  (loggedIn_ - lastReportCount) / std::max(1e-9, Seconds(now - lastReportNs)));
      std::fflush(stdout);
      lastReportNs = now;
      lastReportCount = loggedIn_;
      while (nextReport <= loggedIn_) nextReport += step;
    }
  }
  for (uint32_t i = 0; i < members_.size(); ++i) {
    State state = members_[i].state;
    if (state == State::kNotStarted) {
      ++failed_;
      ++failures_["not started before the log-in time-out"];
    } else if (state != State::kLoggedIn && state != State::kClosed) {
      FailLogin(i, "no answer before the log-in time-out");
    }
  }
  loginNs_ = NowNs() - begin;
}

void LoadGenerator::StartLogin(uint32_t index) {
  Member& member = members_[index];
  member.loginStartNs = NowNs();
  member.state = State::kConnecting;
  ++inFlight_;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    FailLogin(index, std::string("socket: ") + strerror(errno));
    return;
  }
  member.fd = fd;
  int one = 1;
  // Reports are tiny and must leave at once: the latency measured is the server's, not Nagle's.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // The port is chosen at connect time, per (source, destination), not per source alone.
  setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
  // The slow reader's small receive buffer must be set before the connection's window is.
  if ((options_.mode == LoadMode::kSlowReader && index == 1) || IsSlowReader(index)) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &options_.receiveBuffer, sizeof options_.receiveBuffer);
  }
  sockaddr_in source{};
  source.sin_family = AF_INET;
  source.sin_addr.s_addr = htonl((127u << 24) | (1u + index % static_cast<uint32_t>(options_.sources)));
  if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
    FailLogin(index, std::string("bind: ") + strerror(errno));
    return;
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(options_.port));
  inet_pton(AF_INET, options_.host.c_str(), &target.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0 &&
      errno != EINPROGRESS) {
    FailLogin(index, std::string("connect: ") + strerror(errno));
    return;
  }
  epoll_event event{};
  event.events = EPOLLIN | EPOLLOUT;
  event.data.u64 = index;
  if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
    FailLogin(index, std::string("epoll_ctl: ") + strerror(errno));
    return;
  }
  member.waitsWritable = true;
}

void LoadGenerator::OnConnected(uint32_t index) {
  Member& member = members_[index];
  int error = 0;
  socklen_t length = sizeof error;
  getsockopt(member.fd, SOL_SOCKET, SO_ERROR, &error, &length);
  if (error != 0) {
    FailLogin(index, std::string("connect: ") + strerror(error));
    return;
  }
  member.state = State::kPrompt;
  WatchWritable(index, false);
}

void LoadGenerator::OnLoginAnswer(uint32_t index, int32_t command, std::string_view data) {
  Member& member = members_[index];
  switch (member.state) {
    case State::kPrompt:
      if (command == 1) {
        Queue(index, 1, NetworkName(member.network));
        member.state = State::kNetwork;
      }
      break;
    case State::kNetwork:
      if (command != 2) break;
      if (data != "OK") return FailLogin(index, "network selection refused");
      Queue(index, 2, digest_);
      member.state = State::kPassword;
      break;
    case State::kPassword:
      if (command != 3) break;
      if (data != "OK") return FailLogin(index, "password refused");
      Queue(index, 3, UserName(index));
      member.state = State::kUser;
      break;
    case State::kUser:
      if (command != 4) break;
      if (data != "OK") return FailLogin(index, "user name refused");
      OnLoggedIn(index);
      break;
    default:
      break;
  }
}

void LoadGenerator::OnLoggedIn(uint32_t index) {
  Member& member = members_[index];
  member.state = State::kLoggedIn;
  --inFlight_;
  ++loggedIn_;
  ++loggedInPerNetwork_[static_cast<size_t>(member.network)];
  loginLatency_.Add(static_cast<uint64_t>((NowNs() - member.loginStartNs) / 1000));
}

void LoadGenerator::FailLogin(uint32_t index, const std::string& reason) {
  --inFlight_;
  ++failed_;
  ++failures_[reason];
  CloseMember(index);
}

void LoadGenerator::Drop(uint32_t index, const std::string& reason) {
  Member& member = members_[index];
  if (member.state != State::kLoggedIn) return FailLogin(index, reason);
  ++drops_;
  ++dropReasons_[reason];
  --loggedInPerNetwork_[static_cast<size_t>(member.network)];
  CloseMember(index);
  // In the closed loop every report waits for every receiver; a lost receiver would stall the
  // window for good, so the measurement ends here and the drop is reported.
  if (loading_ && options_.mode == LoadMode::kWindow) sending_ = false;
}

void LoadGenerator::CloseMember(uint32_t index) {
  Member& member = members_[index];
  if (member.fd >= 0) {
    close(member.fd);  // also leaves the epoll set
    member.fd = -1;
  }
  member.state = State::kClosed;
  member.in.clear();
  member.in.shrink_to_fit();
  member.out.clear();
  member.out.shrink_to_fit();
  member.outSent = 0;
}

// ---- event loop ----------------------------------------------------------------------------

void LoadGenerator::Poll(int64_t timeoutNs) {
  static epoll_event events[kMaxEvents];
  timespec timeout{};
  timeout.tv_sec = static_cast<time_t>(timeoutNs / kNsPerSecond);
  timeout.tv_nsec = static_cast<long>(timeoutNs % kNsPerSecond);
  int count = epoll_pwait2(epoll_, events, kMaxEvents, &timeout, nullptr);
  if (count < 0) {
    if (errno == EINTR) return;
    throw std::runtime_error(std::string("epoll_pwait2: ") + strerror(errno));
  }
  for (int i = 0; i < count; ++i) OnEvent(static_cast<uint32_t>(events[i].data.u64), events[i].events);
}

void LoadGenerator::OnEvent(uint32_t index, uint32_t events) {
  Member& member = members_[index];
  if (member.fd < 0) return;
  if (member.state == State::kConnecting) {
    if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) OnConnected(index);
    return;
  }
  if (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) OnReadable(index);
  if (member.fd >= 0 && (events & EPOLLOUT)) FlushOne(index);
}

void LoadGenerator::OnReadable(uint32_t index) {
  Member& member = members_[index];
  for (int round = 0; round < kReadRoundsPerEvent; ++round) {
    ssize_t got = recv(member.fd, g_readBuffer, kReadSize, 0);
    if (got > 0) {
      nowUs_ = NowUs();
      Consume(index, g_readBuffer, static_cast<size_t>(got));
      if (member.fd < 0 || static_cast<size_t>(got) < kReadSize) return;
      continue;
    }
    if (got == 0) return Drop(index, "closed by the server");
    if (errno == EAGAIN || errno == EINTR) return;
    return Drop(index, std::string("recv: ") + strerror(errno));
  }
}

void LoadGenerator::Consume(uint32_t index, const char* bytes, size_t size) {
  Member& member = members_[index];
  bool buffered = !member.in.empty();
  if (buffered) member.in.append(bytes, size);
  std::string_view data = buffered ? std::string_view(member.in) : std::string_view(bytes, size);
  size_t pos = 0;
  while (pos < data.size()) {
    CutResult cut = CutFrame(data.substr(pos));
    if (cut.status == CutStatus::kNeedMore) break;
    if (cut.status == CutStatus::kBadLength) return Drop(index, "bad frame length");
    pos += cut.consumed;
    OnFrame(index, cut.command, cut.data);
    if (member.fd < 0) return;  // dropped: `data` may point into a freed buffer
  }
  if (buffered) {
    member.in.erase(0, pos);
  } else if (pos < size) {
    member.in.assign(bytes + pos, size - pos);
  }
}

void LoadGenerator::OnFrame(uint32_t index, int32_t command, std::string_view data) {
  if (members_[index].state != State::kLoggedIn) return OnLoginAnswer(index, command, data);
  if (command == 5) return OnPosition(index, data);
  if (command == 7 && IsSlowReader(index)) return OnSlowChat(data);
  if (command == 6) {
    ++memberLeft_;
  } else {
    ++otherFrames_;
  }
}

// ---- sending -------------------------------------------------------------------------------

void LoadGenerator::Queue(uint32_t index, int32_t command, std::string_view data) {
  Member& member = members_[index];
  AppendPacket(member.out, command, data);
  if (!member.dirty) {
    member.dirty = true;
    dirty_.push_back(index);
  }
}

void LoadGenerator::Flush() {
  // FlushOne may drop a member but never adds to the list.
  for (uint32_t index : dirty_) {
    members_[index].dirty = false;
    FlushOne(index);
  }
  dirty_.clear();
}

void LoadGenerator::FlushOne(uint32_t index) {
  Member& member = members_[index];
  if (member.fd < 0) return;
  while (member.outSent < member.out.size()) {
    ssize_t wrote = send(member.fd, member.out.data() + member.outSent,
                         member.out.size() - member.outSent, MSG_NOSIGNAL);
    if (wrote > 0) {
      member.outSent += static_cast<size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0 && errno == EAGAIN) {
      size_t backlog = member.out.size() - member.outSent;
      maxBacklog_ = std::max(maxBacklog_, backlog);
      // Keep the buffer from growing with bytes already gone.
      if (member.outSent > 65536) {
        member.out.erase(0, member.outSent);
        member.outSent = 0;
      }
      WatchWritable(index, true);
      return;
    }
    return Drop(index, std::string("send: ") + strerror(errno));
  }
  member.out.clear();
  member.outSent = 0;
  WatchWritable(index, false);
}

void LoadGenerator::WatchWritable(uint32_t index, bool on) {
  Member& member = members_[index];
  if (member.waitsWritable == on || member.fd < 0) return;
  epoll_event event{};
  event.events = EPOLLIN | (on ? EPOLLOUT : 0u);
  event.data.u64 = index;
  epoll_ctl(epoll_, EPOLL_CTL_MOD, member.fd, &event);
  member.waitsWritable = on;
}

// ---- load ----------------------------------------------------------------------------------

void LoadGenerator::SendReport(uint32_t index) {
  Member& member = members_[index];
  int64_t x = NowUs();
  uint32_t seq = member.nextSeq++;
  char payload[64];
  Queue(index, 4, ReportPayload(payload, x, seq));
  int recipients = Recipients(index);
  if (x >= measureStartUs_ && x < measureEndUs_) {
    ++sentMeasured_;
    expectedMeasured_ += static_cast<uint64_t>(recipients);
  }
  if (options_.mode == LoadMode::kWindow) {
    pending_[static_cast<size_t>(index) * static_cast<size_t>(options_.window) +
             seq % static_cast<uint32_t>(options_.window)] = static_cast<uint32_t>(recipients);
  }
  ++sentTotal_;
  ++tickSent_;
}

void LoadGenerator::FillWindow(uint32_t sender) {
  Member& member = members_[sender];
  auto window = static_cast<uint32_t>(options_.window);
  while (sending_ && member.fd >= 0 && member.nextSeq - member.oldest < window) {
    SendReport(sender);
  }
}

void LoadGenerator::Delivered(uint32_t sender, uint32_t seq) {
  Member& member = members_[sender];
  if (seq < member.oldest || seq >= member.nextSeq) return;
  auto window = static_cast<uint32_t>(options_.window);
  uint32_t* slots = &pending_[static_cast<size_t>(sender) * window];
  uint32_t& slot = slots[seq % window];
  if (slot > 0) --slot;
  if (seq != member.oldest) return;
  while (member.oldest < member.nextSeq && slots[member.oldest % window] == 0) ++member.oldest;
  FillWindow(sender);
}

int64_t LoadGenerator::NextDueNs() const {
  double total = options_.rate * static_cast<double>(activeSenders_.size());
  return loadStartNs_ + static_cast<int64_t>(static_cast<double>(dueCount_) * kNsPerSecond / total);
}

void LoadGenerator::SendDueReports() {
  if (activeSenders_.empty()) return;
  int64_t now = NowNs();
  for (int handed = 0; handed < kMaxDuePerPass; ++handed) {
    int64_t due = NextDueNs();
    if (due > now) return;
    maxLateNs_ = std::max(maxLateNs_, now - due);
    uint32_t sender = activeSenders_[dueCount_ % activeSenders_.size()];
    ++dueCount_;
    if (members_[sender].fd >= 0) SendReport(sender);
  }
}

void LoadGenerator::OnPosition(uint32_t receiver, std::string_view data) {
  uint64_t sender = 0;
  uint64_t x = 0;
  uint64_t seq = 0;
  const std::string& prefix = options_.prefix;
  size_t pos = prefix.size();
  if (data.substr(0, prefix.size()) != prefix || !ReadField(data, pos, '|', sender) ||
      !ReadField(data, pos, ',', x) || !ReadField(data, pos, ',', seq)) {
    ++foreignFrames_;
    return;
  }
  if (sender < members_.size() && IsFlooder(static_cast<uint32_t>(sender))) {
    if (receiver == 0 && nowUs_ >= measureStartUs_ && nowUs_ < measureEndUs_) {
      auto second = static_cast<size_t>((nowUs_ - measureStartUs_) / 1'000'000);
      if (floodRelayedPerSecond_.size() <= second) floodRelayedPerSecond_.resize(second + 1, 0);
      ++floodRelayedPerSecond_[second];
    }
    return;
  }
  if (sender >= static_cast<uint64_t>(options_.senders)) {
    ++foreignFrames_;
    return;
  }
  if (IsSlowReader(receiver)) return OnSlowPosition(sender, x, seq);
  auto now = static_cast<uint64_t>(nowUs_);
  uint64_t latency = now > x ? now - x : 0;
  ++receivedTotal_;
  ++tickReceived_;
  tickLatency_.Add(latency);
  if (nowUs_ >= measureStartUs_ && nowUs_ < measureEndUs_) ++receivedInWindow_;
  auto sentAt = static_cast<int64_t>(x);
  if (sentAt >= measureStartUs_ && sentAt < measureEndUs_) {
    ++receivedMeasured_;
    latency_.Add(latency);
  }
  if (orderChecked_) {
    uint32_t& last = lastSeq_[static_cast<size_t>(receiver) * static_cast<size_t>(options_.senders) +
                              sender];
    auto next = static_cast<uint32_t>(seq + 1);
    if (next <= last) {
      ++outOfOrder_;
      return;  // a repeat must not count as a second delivery in the window either
    }
    gaps_ += next - last - 1;
    last = next;
  }
  if (options_.mode == LoadMode::kWindow) {
    Delivered(static_cast<uint32_t>(sender), static_cast<uint32_t>(seq));
  }
}

void LoadGenerator::LoadPhase() {
  for (uint32_t i = 0; i < static_cast<uint32_t>(options_.senders); ++i) {
    if (members_[i].state == State::kLoggedIn && Recipients(i) > 0) activeSenders_.push_back(i);
  }
  if (activeSenders_.empty()) {
    std::printf("load: no sender has anybody to report to\n");
    return;
  }
  // Senders are the first members, so indices below the sender count cover them all.
  uint64_t pairs = static_cast<uint64_t>(members_.size()) * static_cast<uint64_t>(options_.senders);
  orderChecked_ = pairs <= kMaxCheckedPairs;
  if (orderChecked_) lastSeq_.assign(pairs, 0);
  if (options_.mode == LoadMode::kWindow) {
    pending_.assign(static_cast<size_t>(options_.senders) * static_cast<size_t>(options_.window),
                    0);
  }

  loadStartNs_ = NowNs();
  int64_t measureStartNs = loadStartNs_ + static_cast<int64_t>(options_.warmup * kNsPerSecond);
  int64_t measureEndNs = measureStartNs + static_cast<int64_t>(options_.duration * kNsPerSecond);
  measureStartUs_ = measureStartNs / 1000;
  measureEndUs_ = measureEndNs / 1000;
  nextTickNs_ = loadStartNs_ + kNsPerSecond;
  loading_ = true;
  sending_ = true;
  rusage usageBefore{};
  getrusage(RUSAGE_SELF, &usageBefore);
  double serverCpuBefore = ServerCpuSeconds();
  double machineBefore = MachineBusySeconds();

  if (options_.mode == LoadMode::kWindow) {
    for (uint32_t sender : activeSenders_) FillWindow(sender);
    Flush();
  }
  bool slowReading = options_.slowReader && members_[extra_].fd >= 0;
  if (slowReading) {
    // It reads at its own pace, not whenever something is there.
    epoll_ctl(epoll_, EPOLL_CTL_DEL, members_[extra_].fd, nullptr);
    slowSeen_.assign(static_cast<size_t>(options_.senders), 0);
    nextChatNs_ = loadStartNs_;
  }
  int64_t now = NowNs();
  while (now < measureEndNs && (sending_ || options_.mode == LoadMode::kRate)) {
    int64_t wait = kIdleWaitNs;
    if (options_.mode == LoadMode::kRate) {
      SendDueReports();
      if (options_.floodRate > 0) SendFloodReports(now);
      if (slowReading && now >= nextChatNs_ && members_[0].fd >= 0) {
        Queue(0, 7, "c" + std::to_string(chatsSent_++));
        nextChatNs_ += kChatIntervalNs;
      }
      Flush();
      wait = std::clamp<int64_t>(NextDueNs() - NowNs(), 0, kIdleWaitNs);
      if (slowReading || options_.floodRate > 0) wait = std::min<int64_t>(wait, 1'000'000);
    }
    Poll(wait);
    if (slowReading) ReadSlowly(NowNs());
    Flush();
    now = NowNs();
    Tick(now);
  }
  sending_ = false;
  NoteSendingStopped(now);
  double measuredSeconds = Seconds(std::min(now, measureEndNs) - measureStartNs);
  int64_t drainEnd = now + static_cast<int64_t>(options_.drain * kNsPerSecond);
  auto slowWaiting = [&] {
    return slowReading && members_[extra_].fd >= 0 &&
           (allNewestSeenNs_ == 0 || slowChats_ < chatsSent_);
  };
  while ((receivedMeasured_ < expectedMeasured_ || slowWaiting()) && now < drainEnd) {
    Poll(slowReading ? 1'000'000 : kIdleWaitNs);
    if (slowReading) ReadSlowly(NowNs());
    Flush();
    now = NowNs();
    Tick(now);
  }
  loading_ = false;

  rusage usageAfter{};
  getrusage(RUSAGE_SELF, &usageAfter);
  auto cpu = [](const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  };
  double loadSeconds = Seconds(now - loadStartNs_);
  PrintLoadSummary(std::max(1e-3, measuredSeconds));
  PrintExtraSummary();
  std::printf("cpu: generator %.0f %%", 100.0 * (cpu(usageAfter) - cpu(usageBefore)) / loadSeconds);
  double serverCpuAfter = ServerCpuSeconds();
  double serverCpu = serverCpuAfter - serverCpuBefore;
  double generatorCpu = cpu(usageAfter) - cpu(usageBefore);
  if (serverCpuBefore >= 0) std::printf("  server %.0f %%", 100.0 * serverCpu / loadSeconds);
  // The cores are shared: what other processes took says how far to trust the figures above.
  double others = MachineBusySeconds() - machineBefore - generatorCpu -
                  (serverCpuBefore >= 0 ? serverCpu : 0);
  std::printf("  everything else %.0f %% of one core  (over %.2f s of load and drain)\n",
              100.0 * std::max(0.0, others) / loadSeconds, loadSeconds);
  // Other work on a shared core takes time from the server; per CPU second the figure holds.
  if (serverCpuBefore >= 0 && serverCpu > 0) {
    std::printf("server cost: %.0f deliveries per server CPU second (all %llu received)\n",
                static_cast<double>(receivedTotal_) / serverCpu,
                static_cast<unsigned long long>(receivedTotal_));
  }
}

void LoadGenerator::IdlePhase() {
  int64_t end = NowNs() + static_cast<int64_t>(options_.hold * kNsPerSecond);
  while (NowNs() < end) {
    Poll(kIdleWaitNs);
    Flush();
  }
  std::printf("idle: held %d members for %.1f s; frames received meanwhile: %llu member-left, "
              "%llu other; drops %llu\n",
              loggedIn_, options_.hold, static_cast<unsigned long long>(memberLeft_),
              static_cast<unsigned long long>(otherFrames_ + receivedTotal_ + foreignFrames_),
              static_cast<unsigned long long>(drops_));
}

void LoadGenerator::DepartPhase() {
  auto watcher = static_cast<uint32_t>(members_.size() - 1);
  if (members_[watcher].state != State::kLoggedIn) {
    std::printf("depart: the watcher did not log in; nothing measured\n");
    incomplete_ = true;
    return;
  }
  int64_t quietEnd = NowNs() + static_cast<int64_t>(options_.hold * kNsPerSecond);
  while (NowNs() < quietEnd) {
    Poll(kIdleWaitNs);
    Flush();
  }
  memberLeft_ = 0;
  long rssBefore = ServerRssKb();
  bool peakReset = ResetServerPeak();
  long peakAtReset = ServerStatusKb("VmHWM:");
  double cpuBefore = ServerCpuSeconds();
  // All at once: nothing but close() between the first departure and the last.
  std::vector<uint32_t> leaving;
  leaving.reserve(watcher);
  for (uint32_t i = 0; i < watcher; ++i) {
    if (members_[i].state == State::kLoggedIn && members_[i].fd >= 0) leaving.push_back(i);
  }
  int64_t begin = NowNs();
  for (uint32_t i : leaving) {
    close(members_[i].fd);
    members_[i].fd = -1;
  }
  int64_t closedNs = NowNs() - begin;
  for (uint32_t i : leaving) {
    CloseMember(i);
    --loggedInPerNetwork_[static_cast<size_t>(members_[i].network)];
  }
  int64_t deadline = begin + static_cast<int64_t>(options_.drain * kNsPerSecond);
  int64_t now = NowNs();
  while (memberLeft_ < leaving.size() && now < deadline && members_[watcher].fd >= 0) {
    Poll(kIdleWaitNs);
    Flush();
    now = NowNs();
  }
  int64_t heardNs = now - begin;
  double serverCpu = ServerCpuSeconds() - cpuBefore;
  long peak = ServerStatusKb("VmHWM:");
  long rssAfter = ServerRssKb();
  int64_t settle = NowNs() + kNsPerSecond;
  while (NowNs() < settle) {
    Poll(kIdleWaitNs);
    Flush();
  }
  long rssLater = ServerRssKb();
  if (memberLeft_ != leaving.size()) incomplete_ = true;
  std::printf("depart: %zu members closed in %.2f ms; the watcher heard %llu of them leave "
              "after %.3f s; server CPU %.3f s\n",
              leaving.size(), Seconds(closedNs) * 1000, static_cast<unsigned long long>(memberLeft_),
              Seconds(heardNs), serverCpu);
  if (rssBefore < 0) return;
  std::printf("depart: server VmRSS before %ld kB; peak reset %s (VmHWM %ld kB); VmHWM after %ld "
              "kB: growth %.2f MiB = %.0f bytes per departure; VmRSS after %ld kB, 1 s later "
              "%ld kB\n",
              rssBefore, peakReset ? "ok" : "REFUSED, the peak below may predate the departures",
              peakAtReset, peak, static_cast<double>(peak - rssBefore) / 1024.0,
              leaving.empty() ? 0.0
                              : static_cast<double>(peak - rssBefore) * 1024.0 /
                                    static_cast<double>(leaving.size()),
              rssAfter, rssLater);
}

void LoadGenerator::SlowReaderPhase() {
  Member& sender = members_[0];
  Member& reader = members_[1];
  // This phase waits on the two sockets itself.
  epoll_ctl(epoll_, EPOLL_CTL_DEL, sender.fd, nullptr);
  epoll_ctl(epoll_, EPOLL_CTL_DEL, reader.fd, nullptr);
  constexpr size_t kSendChunk = 64 * 1024;
  const auto total = static_cast<uint32_t>(options_.reports);
  const auto chatEvery = static_cast<uint32_t>(options_.chatEvery);
  std::string out;
  size_t outSent = 0;
  uint32_t sent = 0;
  uint32_t chatsSent = 0;
  std::string in = std::move(reader.in);
  uint64_t positions = 0;
  uint64_t older = 0;      // a position older than one already seen
  int64_t lastSeq = -1;
  uint64_t chats = 0;
  uint64_t chatsOutOfOrder = 0;  // a chat line not the one after the last
  int64_t lastChat = -1;
  uint64_t otherFrames = 0;
  uint64_t maxAgeUs = 0;
  uint64_t lastAgeUs = 0;
  uint64_t readBytes = 0;
  uint64_t senderGot = 0;
  std::string cutOff;  // why the reader's connection ended, if it did
  std::string senderCutOff;

  long rssBefore = ServerRssKb();
  bool peakReset = ResetServerPeak();
  double cpuBefore = ServerCpuSeconds();
  const int64_t begin = NowNs();
  const int64_t sendEnd = begin + static_cast<int64_t>(options_.duration * kNsPerSecond);
  int64_t sendDone = 0;
  int64_t finalSeen = 0;
  int64_t deadline = sendEnd + static_cast<int64_t>(options_.drain * kNsPerSecond);

  auto onFrame = [&](int32_t command, std::string_view data, uint64_t nowUs) {
    size_t bar = data.find(command == 7 ? '\0' : '|');
    if (bar == std::string_view::npos || data.substr(0, bar) != UserName(0)) {
      ++otherFrames;
      return;
    }
    size_t pos = bar + 1;
    uint64_t x = 0;
    uint64_t seq = 0;
    if (command == 5 && ReadField(data, pos, ',', x) && ReadField(data, pos, ',', seq)) {
      ++positions;
      lastAgeUs = nowUs > x ? nowUs - x : 0;
      maxAgeUs = std::max(maxAgeUs, lastAgeUs);
      if (static_cast<int64_t>(seq) <= lastSeq) ++older;
      lastSeq = std::max(lastSeq, static_cast<int64_t>(seq));
    } else if (command == 7 && pos < data.size() && data[pos] == 'c') {
      uint64_t k = 0;
      auto [end, error] = std::from_chars(data.data() + pos + 1, data.data() + data.size(), k);
      if (error != std::errc() || end != data.data() + data.size()) {
        ++otherFrames;
        return;
      }
      ++chats;
      if (static_cast<int64_t>(k) != lastChat + 1) ++chatsOutOfOrder;
      lastChat = static_cast<int64_t>(k);
    } else {
      ++otherFrames;
    }
  };

  for (int64_t now = begin; now < deadline; now = NowNs()) {
    bool sending = sent < total && now < sendEnd;
    if (outSent == out.size() && sending) {
      out.clear();
      outSent = 0;
      int64_t x = NowUs();
      while (out.size() < kSendChunk && sent < total) {
        char payload[64];
        AppendPacket(out, 4, ReportPayload(payload, x, sent));
        ++sent;
        if (chatEvery > 0 && sent % chatEvery == 0) {
          AppendPacket(out, 7, "c" + std::to_string(chatsSent++));
        }
      }
    }
    if (outSent < out.size() && senderCutOff.empty()) {
      ssize_t wrote = send(sender.fd, out.data() + outSent, out.size() - outSent,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
      if (wrote > 0) {
        outSent += static_cast<size_t>(wrote);
      } else if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
        senderCutOff = std::string("send: ") + strerror(errno);
      }
    }
    if (sendDone == 0 && outSent == out.size() && (sent == total || now >= sendEnd)) {
      sendDone = now;
      deadline = now + static_cast<int64_t>(options_.drain * kNsPerSecond);
    }
    // The sender reads whatever comes back to it, so that its own output never piles up.
    if (senderCutOff.empty()) {
      ssize_t got = recv(sender.fd, g_readBuffer, kReadSize, MSG_DONTWAIT);
      if (got > 0) senderGot += static_cast<uint64_t>(got);
      if (got == 0) senderCutOff = "closed by the server";
    }
    // The reader takes no more than its rate allows since the start.
    auto allowed = static_cast<uint64_t>(static_cast<double>(options_.readRate) *
                                         Seconds(now - begin));
    if (cutOff.empty() && allowed > readBytes) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(allowed - readBytes, kReadSize));
      ssize_t got = recv(reader.fd, g_readBuffer, want, MSG_DONTWAIT);
      if (got > 0) {
        readBytes += static_cast<uint64_t>(got);
        in.append(g_readBuffer, static_cast<size_t>(got));
        auto nowUs = static_cast<uint64_t>(NowUs());
        size_t pos = 0;
        for (;;) {
          CutResult cut = CutFrame(std::string_view(in).substr(pos));
          if (cut.status == CutStatus::kNeedMore) break;
          if (cut.status == CutStatus::kBadLength) {
            cutOff = "bad frame length";
            break;
          }
          pos += cut.consumed;
          onFrame(cut.command, cut.data, nowUs);
        }
        in.erase(0, pos);
      } else if (got == 0) {
        cutOff = "closed by the server";
      } else if (errno != EAGAIN && errno != EINTR) {
        cutOff = std::string("recv: ") + strerror(errno);
      }
    }
    if (sendDone != 0 && finalSeen == 0 && lastSeq == static_cast<int64_t>(sent) - 1 &&
        (chatsSent == 0 || lastChat == static_cast<int64_t>(chatsSent) - 1)) {
      finalSeen = NowNs();
      break;
    }
    if (!cutOff.empty() && sendDone != 0) break;
    pollfd wait[1] = {{sender.fd, static_cast<short>(POLLIN | (outSent < out.size() ? POLLOUT : 0)),
                       0}};
    poll(wait, 1, outSent < out.size() || sending ? 1 : 5);
  }
  int64_t end = NowNs();
  double serverCpu = ServerCpuSeconds() - cpuBefore;
  long peak = ServerStatusKb("VmHWM:");
  if (finalSeen == 0 || !cutOff.empty() || older > 0 || chatsOutOfOrder > 0 ||
      chats != chatsSent) {
    incomplete_ = true;
  }
  std::printf("slowreader: sent %u positions and %u chat lines in %.3f s (%.0f positions/s)%s\n",
              sent, chatsSent, Seconds((sendDone ? sendDone : end) - begin),
              sent / std::max(1e-9, Seconds((sendDone ? sendDone : end) - begin)),
              senderCutOff.empty() ? "" : ("; the sender's connection ended: " + senderCutOff).c_str());
  std::printf("slowreader: the reader (%d bytes/s, SO_RCVBUF %d) read %llu bytes in %.3f s: %llu "
              "positions (%.3f %% of those sent), %llu chat lines (%s), %llu other frames\n",
              options_.readRate, options_.receiveBuffer, static_cast<unsigned long long>(readBytes),
              Seconds(end - begin), static_cast<unsigned long long>(positions),
              100.0 * static_cast<double>(positions) / std::max<uint32_t>(1, sent),
              static_cast<unsigned long long>(chats),
              chatsOutOfOrder == 0 ? "all in order" : "OUT OF ORDER or missing",
              static_cast<unsigned long long>(otherFrames));
  std::printf("slowreader: older position after a newer one: %llu; last position seen: %lld of "
              "%lld (%s); connection: %s; age of positions read: last %s, max %s\n",
              static_cast<unsigned long long>(older), static_cast<long long>(lastSeq),
              static_cast<long long>(sent) - 1,
              finalSeen ? ("the final one, " + std::to_string((finalSeen - sendDone) / 1'000'000) +
                           " ms after the last send").c_str()
                        : "the final one NOT received",
              cutOff.empty() ? "stayed open" : ("CUT OFF: " + cutOff).c_str(),
              Micros(lastAgeUs).c_str(), Micros(maxAgeUs).c_str());
  if (rssBefore > 0) {
    std::printf("slowreader: server CPU %.2f s; server VmRSS before %ld kB, peak %ld kB%s "
                "(+%.2f MiB)\n",
                serverCpu, rssBefore, peak, peakReset ? "" : " (peak not reset)",
                static_cast<double>(peak - rssBefore) / 1024.0);
  }
}

// ---- rate mode's extra member --------------------------------------------------------------

void LoadGenerator::ReadSlowly(int64_t now) {
  Member& reader = members_[extra_];
  if (reader.fd < 0) return;
  // No more than the rate allows since the load began.
  auto allowed = static_cast<uint64_t>(static_cast<double>(options_.readRate) *
                                       Seconds(now - loadStartNs_));
  while (reader.fd >= 0 && allowed > slowBytes_) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(allowed - slowBytes_, kReadSize));
    ssize_t got = recv(reader.fd, g_readBuffer, want, MSG_DONTWAIT);
    if (got > 0) {
      slowBytes_ += static_cast<uint64_t>(got);
      nowUs_ = NowUs();
      Consume(extra_, g_readBuffer, static_cast<size_t>(got));
      continue;
    }
    if (got == 0) return Drop(extra_, "closed by the server");
    if (errno == EAGAIN || errno == EINTR) return;
    return Drop(extra_, std::string("recv: ") + strerror(errno));
  }
}

void LoadGenerator::OnSlowPosition(uint64_t sender, uint64_t x, uint64_t seq) {
  if (sender >= slowSeen_.size()) return;
  auto now = static_cast<uint64_t>(nowUs_);
  ++slowPositions_;
  slowAge_.Add(now > x ? now - x : 0);
  uint32_t& seen = slowSeen_[sender];
  auto next = static_cast<uint32_t>(seq + 1);
  if (next <= seen) {
    ++slowOlder_;
    return;
  }
  seen = next;
  if (sendStopNs_ != 0 && seen == finalSeq_[sender] && ++slowFinalsSeen_ == activeSenders_.size())
    allNewestSeenNs_ = NowNs();
}

void LoadGenerator::OnSlowChat(std::string_view data) {
  std::string name = UserName(0);
  std::string_view prefix = name;
  if (data.size() < prefix.size() + 2 || data.substr(0, prefix.size()) != prefix ||
      data[prefix.size()] != '\0' || data[prefix.size() + 1] != 'c') {
    ++otherFrames_;
    return;
  }
  int64_t k = -1;
  std::from_chars(data.data() + prefix.size() + 2, data.data() + data.size(), k);
  ++slowChats_;
  if (k != slowLastChat_ + 1) ++slowChatsOutOfOrder_;
  slowLastChat_ = k;
}

void LoadGenerator::NoteSendingStopped(int64_t now) {
  sendStopNs_ = now;
  if (!options_.slowReader) return;
  finalSeq_.assign(static_cast<size_t>(options_.senders), 0);
  for (uint32_t sender : activeSenders_) {
    finalSeq_[sender] = members_[sender].nextSeq;
    if (slowSeen_.empty() || slowSeen_[sender] >= finalSeq_[sender]) ++slowFinalsSeen_;
  }
  if (slowFinalsSeen_ == activeSenders_.size()) allNewestSeenNs_ = now;
}

void LoadGenerator::SendFloodReports(int64_t now) {
  Member& flooder = members_[extra_];
  if (flooder.fd < 0 || !sending_) return;
  for (int handed = 0; handed < kMaxDuePerPass; ++handed) {
    auto due = loadStartNs_ + static_cast<int64_t>(static_cast<double>(floodSent_) *
                                                   kNsPerSecond / options_.floodRate);
    if (due > now) return;
    char payload[64];
    Queue(extra_, 4, ReportPayload(payload, NowUs(), floodSent_++));
  }
}

void LoadGenerator::PrintExtraSummary() const {
  if (options_.slowReader) {
    bool open = members_[extra_].fd >= 0;
    std::printf("slow reader (%d bytes/s, SO_RCVBUF %d): read %llu bytes, %llu positions; age "
                "p50 %s  p99 %s  max %s; older after newer %llu\n",
                options_.readRate, options_.receiveBuffer,
                static_cast<unsigned long long>(slowBytes_),
                static_cast<unsigned long long>(slowPositions_),
                Micros(slowAge_.Percentile(0.5)).c_str(), Micros(slowAge_.Percentile(0.99)).c_str(),
                Micros(slowAge_.Max()).c_str(), static_cast<unsigned long long>(slowOlder_));
    std::string newest =
        allNewestSeenNs_ != 0
            ? "reached it " + Micros(static_cast<uint64_t>(allNewestSeenNs_ - sendStopNs_) / 1000) +
                  " after the last reports"
            : "NOT all reached it (" + std::to_string(slowFinalsSeen_) + " of " +
                  std::to_string(activeSenders_.size()) + ")";
    std::printf("slow reader: every sender's newest position %s; chat lines %llu of %llu (%s); "
                "connection %s\n",
                newest.c_str(),
                static_cast<unsigned long long>(slowChats_),
                static_cast<unsigned long long>(chatsSent_),
                slowChatsOutOfOrder_ == 0 ? "in order" : "OUT OF ORDER or missing",
                open ? "stayed open" : "CUT OFF");
  }
  if (options_.floodRate > 0) {
    uint64_t relayed = 0;
    uint64_t most = 0;
    for (uint64_t count : floodRelayedPerSecond_) {
      relayed += count;
      most = std::max(most, count);
    }
    double seconds = static_cast<double>(measureEndUs_ - measureStartUs_) / 1e6;
    std::printf("flooder: sent %llu reports (%.0f/s asked); m0 received %llu of them in the "
                "measured window = %.1f/s, at most %llu in one second\n",
                static_cast<unsigned long long>(floodSent_), options_.floodRate,
                static_cast<unsigned long long>(relayed), static_cast<double>(relayed) / seconds,
                static_cast<unsigned long long>(most));
  }
}

// ---- figures -------------------------------------------------------------------------------

void LoadGenerator::Tick(int64_t now) {
  if (now < nextTickNs_) return;
  if (options_.timeline) {
    std::printf("  t=%5.1f s  sent %8llu/s  delivered %9llu/s  p50 %s  p99 %s  max %s\n",
                Seconds(nextTickNs_ - loadStartNs_), static_cast<unsigned long long>(tickSent_),
                static_cast<unsigned long long>(tickReceived_),
                Micros(tickLatency_.Percentile(0.5)).c_str(),
                Micros(tickLatency_.Percentile(0.99)).c_str(), Micros(tickLatency_.Max()).c_str());
    std::fflush(stdout);
  }
  tickSent_ = 0;
  tickReceived_ = 0;
  tickLatency_.Clear();
  while (nextTickNs_ <= now) nextTickNs_ += kNsPerSecond;
}

void LoadGenerator::PrintLoginSummary() const {
  std::printf("logins: ok=%d failed=%d in %.3f s (%.0f/s); log-in latency p50 %s p99 %s max %s\n",
              loggedIn_, failed_, Seconds(loginNs_), loggedIn_ / std::max(1e-9, Seconds(loginNs_)),
              Micros(loginLatency_.Percentile(0.5)).c_str(),
              Micros(loginLatency_.Percentile(0.99)).c_str(), Micros(loginLatency_.Max()).c_str());
  for (const auto& [reason, count] : failures_) {
    std::printf("  log-in failure: %s x%d\n", reason.c_str(), count);
  }
}

void LoadGenerator::PrintLoadSummary(double seconds) const {
  const char* mode = options_.mode == LoadMode::kWindow ? "window" : "rate";
  std::printf("load: mode=%s", mode);
  if (options_.mode == LoadMode::kWindow) {
    std::printf(" window=%d", options_.window);
  } else {
    std::printf(" rate=%g/s per sender", options_.rate);
  }
  std::printf(" senders=%zu members=%d warmup=%g s measured=%.2f s\n", activeSenders_.size(),
              loggedIn_, options_.warmup, seconds);
  std::printf("sent: %llu reports in the measured window (%.0f/s), %llu in all",
              static_cast<unsigned long long>(sentMeasured_), sentMeasured_ / seconds,
              static_cast<unsigned long long>(sentTotal_));
  if (options_.mode == LoadMode::kRate) {
    std::printf("; generator lagged its schedule by at most %s", Micros(maxLateNs_ / 1000).c_str());
  }
  std::printf("\n");
  std::printf("delivered: %llu frames during the measured window = %.0f deliveries/s\n",
              static_cast<unsigned long long>(receivedInWindow_), receivedInWindow_ / seconds);
  std::printf("latency (reports sent in the window, %llu samples): p50 %s  p99 %s  p99.9 %s  "
              "max %s\n",
              static_cast<unsigned long long>(latency_.Count()),
              Micros(latency_.Percentile(0.5)).c_str(), Micros(latency_.Percentile(0.99)).c_str(),
              Micros(latency_.Percentile(0.999)).c_str(), Micros(latency_.Max()).c_str());
  std::printf("losses: expected %llu deliveries of the window's reports, received %llu, "
              "missing %lld",
              static_cast<unsigned long long>(expectedMeasured_),
              static_cast<unsigned long long>(receivedMeasured_),
              static_cast<long long>(expectedMeasured_) - static_cast<long long>(receivedMeasured_));
  if (orderChecked_) {
    std::printf("; per-pair sequence gaps %llu, repeated or reordered %llu",
                static_cast<unsigned long long>(gaps_),
                static_cast<unsigned long long>(outOfOrder_));
  } else {
    std::printf("; per-pair sequence check off (too many pairs)");
  }
  std::printf("\n");
  std::printf("errors: drops %llu, member-left frames %llu, unexpected frames %llu, foreign "
              "positions %llu; largest unsent backlog %zu bytes\n",
              static_cast<unsigned long long>(drops_), static_cast<unsigned long long>(memberLeft_),
              static_cast<unsigned long long>(otherFrames_),
              static_cast<unsigned long long>(foreignFrames_), maxBacklog_);
  for (const auto& [reason, count] : dropReasons_) {
    std::printf("  drop: %s x%d\n", reason.c_str(), count);
  }
}

double LoadGenerator::MachineBusySeconds() {
  std::ifstream stat("/proc/stat");
  std::string name;
  stat >> name;  // the first line sums every core
  double busy = 0;
  for (int field = 0; field < 8; ++field) {
    double ticks = 0;
    stat >> ticks;
    if (field != 3 && field != 4) busy += ticks;  // all but idle and iowait
  }
  return busy / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long LoadGenerator::ServerStatusKb(const char* field) const {
  return bench::ServerStatusKb(options_.serverPid, field);
}

bool LoadGenerator::ResetServerPeak() const { return bench::ResetServerPeak(options_.serverPid); }

double LoadGenerator::ServerCpuSeconds() const {
  return bench::ServerCpuSeconds(options_.serverPid);
}

}  // namespace velmora::bench
