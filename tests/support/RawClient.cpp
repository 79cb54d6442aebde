#include "support/RawClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "protocol/FrameCodec.h"

namespace velmora::e2e {

RawClient::RawClient(uint16_t port, const std::string& sourceAddress) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    connectError_ = errno;
    return;
  }
  // Bounds a write to a server that stopped reading or stopped altogether.
  timeval sendLimit{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in source{};
  source.sin_family = AF_INET;
  ::inet_pton(AF_INET, sourceAddress.c_str(), &source.sin_addr);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    connectError_ = errno;
    ::close(fd);
    return;
  }
  fd_ = fd;
}

RawClient::~RawClient() { Close(); }

void RawClient::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

void RawClient::Reset() {
  if (fd_ < 0) return;
  linger abort{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  Close();
}

bool RawClient::SendRaw(std::string_view bytes) {
  while (fd_ >= 0 && !bytes.empty()) {
    ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return fd_ >= 0;
}

bool RawClient::Send(int32_t command, std::string_view data) {
  return SendRaw(CreatePacket(command, data));
}

std::optional<Message> RawClient::Receive(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (fd_ >= 0) {
    CutResult cut = CutFrame(buffer_);
    if (cut.status == CutStatus::kFrame) {
      Message message{cut.command, std::string(cut.data)};
      buffer_.erase(0, cut.consumed);
      return message;
    }
    if (cut.status == CutStatus::kBadLength) return std::nullopt;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd wait{fd_, POLLIN, 0};
    int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[65536];
    ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    buffer_.append(chunk, static_cast<size_t>(got));
  }
  return std::nullopt;
}

LogInOutcome RawClient::Step(int32_t command, std::string_view data, int32_t answerCode) {
  if (!Send(command, data)) return LogInOutcome::kLost;
  auto answer = Receive();
  if (!answer) return LogInOutcome::kLost;
  if (answer->command == answerCode && answer->data == "OK") return LogInOutcome::kAccepted;
  return LogInOutcome::kRefused;
}

LogInOutcome RawClient::LogIn(std::string_view network, std::string_view password,
                              std::string_view user) {
  auto prompt = Receive();
  if (!prompt) return LogInOutcome::kLost;
  if (*prompt != Message{1, "Network"}) return LogInOutcome::kRefused;
  for (auto [command, data] : {std::pair<int32_t, std::string>{1, std::string(network)},
                               {2, Md5(password)},
                               {3, std::string(user)}}) {
    auto outcome = Step(command, data, command + 1);
    if (outcome != LogInOutcome::kAccepted) return outcome;
  }
  return LogInOutcome::kAccepted;
}

}  // namespace velmora::e2e
