#include "RoundTripProbe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "protocol/FrameCodec.h"

namespace velmora::bench {

namespace {

constexpr int32_t kQuestion = 9;  // the administrator query: answered by the server at once
constexpr int kLogInStepMs = 5000;
// A question unanswered this long counts as such, and the probe gives up.
constexpr int kLongestWaitMs = 10000;

using Clock = std::chrono::steady_clock;

std::string Md5Raw(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1)
    throw std::runtime_error("MD5 digest failed");
  return std::string(reinterpret_cast<const char*>(digest), length);
}

bool SendFrame(int fd, int32_t command, std::string_view data) {
  std::string frame;
  AppendPacket(frame, command, data);
  return send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
}

}  // namespace

RoundTripProbe::RoundTripProbe(const LoadOptions& options) : options_(options) {}

RoundTripProbe::~RoundTripProbe() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) close(fd_);
}

bool RoundTripProbe::Expect(int32_t command, int limitMs, std::string* data) {
  auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    CutResult cut = CutFrame(in_);
    if (cut.status == CutStatus::kBadLength) return false;
    if (cut.status == CutStatus::kFrame) {
      bool wanted = cut.command == command;
      if (wanted && data != nullptr) data->assign(cut.data);
      in_.erase(0, cut.consumed);
      if (wanted) return true;
      continue;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd readable{fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count()) + 1) <= 0)
      return false;
    char buffer[4096];
    ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    in_.append(buffer, static_cast<size_t>(got));
  }
}

void RoundTripProbe::Start() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error(std::string("probe: socket: ") + strerror(errno));
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(options_.port));
  inet_pton(AF_INET, options_.host.c_str(), &target.sin_addr);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0)
    throw std::runtime_error(std::string("probe: connect: ") + strerror(errno));
  std::string answer;
  bool in = Expect(1, kLogInStepMs) && SendFrame(fd_, 1, options_.probeNetwork) &&
            Expect(2, kLogInStepMs, &answer) && answer == "OK" &&
            SendFrame(fd_, 2, Md5Raw(options_.password)) && Expect(3, kLogInStepMs, &answer) &&
            answer == "OK" && SendFrame(fd_, 3, "probe") && Expect(4, kLogInStepMs, &answer) &&
            answer == "OK";
  if (!in) throw std::runtime_error("probe: log-in to " + options_.probeNetwork + " failed");
  thread_ = std::thread([this] { Ask(); });
}

void RoundTripProbe::Ask() {
  auto interval = std::chrono::microseconds(static_cast<int64_t>(options_.probeIntervalMs * 1000));
  while (!stop_) {
    auto asked = Clock::now();
    if (!SendFrame(fd_, kQuestion, "") || !Expect(kQuestion, kLongestWaitMs)) {
      ++unanswered_;
      return;
    }
    auto answered = Clock::now();
    roundTrips_.Add(static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(answered - asked).count()));
    std::this_thread::sleep_until(answered + interval);
  }
}

void RoundTripProbe::StopAndPrint(const char* phase) {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  auto ms = [](uint64_t micros) { return static_cast<double>(micros) / 1000.0; };
  std::printf("probe round trips during %s (%s, one every %g ms): %llu answered, p50 %.3f ms  "
              "p99 %.3f ms  max %.3f ms%s\n",
              phase, options_.probeNetwork.c_str(), options_.probeIntervalMs,
              static_cast<unsigned long long>(roundTrips_.Count()),
              ms(roundTrips_.Percentile(0.5)), ms(roundTrips_.Percentile(0.99)),
              ms(roundTrips_.Max()),
              unanswered_ > 0 ? "; a question went unanswered for 10 s or the connection broke"
                              : "");
}

}  // namespace velmora::bench
