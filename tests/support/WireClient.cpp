#include "support/WireClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <thread>

#include "platform/adapters/Md5.h"
#include "protocol/FrameCodec.h"
#include "support/SendAll.h"

namespace velmora {

namespace {

std::string Escaped(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7F || c == '\\') {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string Describe(const std::optional<Message>& message) {
  if (!message) return "(no message)";
  return "code " + std::to_string(message->command) + " \"" + Escaped(message->data) + "\"";
}

void PrintTo(const Message& message, std::ostream* out) { *out << Describe(message); }

}  // namespace velmora

namespace velmora::e2e {

namespace {

int Remaining(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

std::string Md5(std::string_view text) { return platform::Md5Digest(text); }

WireClient::WireClient(uint16_t port, ClientOptions options) {
  // An address with a colon is IPv6: such a client connects to ::1, any other to 127.0.0.1.
  bool v6 = options.sourceAddress.find(':') != std::string::npos;
  sockaddr_storage source{}, target{};
  socklen_t length = 0;
  if (v6) {
    auto& from = reinterpret_cast<sockaddr_in6&>(source);
    auto& to = reinterpret_cast<sockaddr_in6&>(target);
    from.sin6_family = to.sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, options.sourceAddress.c_str(), &from.sin6_addr);
    to.sin6_addr = in6addr_loopback;
    to.sin6_port = htons(port);
    length = sizeof(sockaddr_in6);
  } else {
    auto& from = reinterpret_cast<sockaddr_in&>(source);
    auto& to = reinterpret_cast<sockaddr_in&>(target);
    from.sin_family = to.sin_family = AF_INET;
    ::inet_pton(AF_INET, options.sourceAddress.c_str(), &from.sin_addr);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    length = sizeof(sockaddr_in);
  }
  auto deadline = std::chrono::steady_clock::now() + 3s;
  int error = 0;
  while (true) {
    int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error = errno;
      break;
    }
    if (options.receiveBuffer > 0)
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer, sizeof options.receiveBuffer);
    // Bounds a write to a server that stopped reading.
    timeval sendLimit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&source), length) == 0 &&
        ::connect(fd, reinterpret_cast<sockaddr*>(&target), length) == 0) {
      fd_ = fd;
      return;
    }
    error = errno;
    ::close(fd);
    if (!options.mustConnect || error != ECONNREFUSED ||
        std::chrono::steady_clock::now() >= deadline)
      break;
    std::this_thread::sleep_for(20ms);
  }
  connectError_ = error;
  if (options.mustConnect)
    ADD_FAILURE() << "cannot connect to port " << port << " from " << options.sourceAddress << ": "
                  << std::strerror(error);
}

WireClient::~WireClient() { Close(); }

void WireClient::Close() {
  if (fd_ < 0) return;
  // Unread bytes would turn the close into a reset, and the server would report another cause.
  char chunk[65536];
  while (::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT) > 0) {
  }
  Abandon();
}

void WireClient::Abandon() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

void WireClient::CloseWrite() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void WireClient::Reset() {
  if (fd_ < 0) return;
  linger abort{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  Abandon();
}

void WireClient::Send(int32_t command, std::string_view data) {
  SendRaw(CreatePacket(command, data));
}

void WireClient::SendRaw(std::string_view bytes) {
  if (fd_ < 0) {
    ADD_FAILURE() << "send on a closed client";
    return;
  }
  if (!TrySendRaw(bytes)) ADD_FAILURE() << "send failed: " << std::strerror(errno);
}

bool WireClient::TrySend(int32_t command, std::string_view data) {
  return TrySendRaw(CreatePacket(command, data));
}

bool WireClient::TrySendRaw(std::string_view bytes) {
  return fd_ >= 0 && testing::SendAll(fd_, bytes);
}

bool WireClient::Fill(std::chrono::steady_clock::time_point deadline) {
  if (fd_ < 0 || peerClosed_) return false;
  pollfd wait{fd_, POLLIN, 0};
  int ready = ::poll(&wait, 1, Remaining(deadline));
  if (ready < 0 && errno == EINTR) return true;
  if (ready <= 0) return false;
  char chunk[65536];
  ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
  if (got <= 0) {
    if (got < 0 && errno == EINTR) return true;
    peerClosed_ = true;
    return false;
  }
  buffer_.append(chunk, static_cast<size_t>(got));
  return true;
}

std::optional<Message> WireClient::Receive(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    CutResult cut = CutFrame(buffer_);
    if (cut.status == CutStatus::kFrame) {
      Message message{cut.command, std::string(cut.data)};
      buffer_.erase(0, cut.consumed);
      return message;
    }
    if (cut.status == CutStatus::kBadLength) {
      // The server may send more than it accepts: a relayed chat line of the largest size
      // grows by the sender's name. Only a length below the header is wrong.
      auto byte = [&](int i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(buffer_[i]));
      };
      auto length = static_cast<int32_t>(byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3));
      if (length < kFrameHeaderSize) {
        ADD_FAILURE() << "the server sent a frame with the length field " << length;
        buffer_.clear();
        return std::nullopt;
      }
      if (buffer_.size() >= static_cast<size_t>(length)) {
        auto command = static_cast<int32_t>(byte(4) << 24 | byte(5) << 16 | byte(6) << 8 | byte(7));
        Message message{command, buffer_.substr(kFrameHeaderSize, length - kFrameHeaderSize)};
        buffer_.erase(0, static_cast<size_t>(length));
        return message;
      }
    }
    if (!Fill(deadline)) return std::nullopt;
  }
}

::testing::AssertionResult WireClient::ExpectNothing(std::chrono::milliseconds quiet) {
  auto message = Receive(quiet);
  if (!message) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "unexpected " << Describe(message);
}

bool WireClient::WaitForClose(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!peerClosed_) {
    buffer_.clear();
    if (!Fill(deadline) && !peerClosed_) return false;
  }
  return true;
}

::testing::AssertionResult WireClient::Step(int32_t command, std::string_view data,
                                            int32_t answerCode, std::string_view answer) {
  Send(command, data);
  auto reply = Receive();
  if (reply && reply->command == answerCode && reply->data == answer)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "code " << command << " \"" << Escaped(data) << "\" answered " << Describe(reply)
         << ", expected code " << answerCode << " \"" << answer << "\"";
}

::testing::AssertionResult WireClient::ExpectPrompt() {
  auto prompt = Receive();
  if (prompt && *prompt == Message{1, "Network"}) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "prompt: " << Describe(prompt);
}

::testing::AssertionResult WireClient::LogIn(std::string_view network, std::string_view password,
                                             std::string_view user) {
  if (auto result = ExpectPrompt(); !result) return result;
  if (auto result = Step(1, network, 2, "OK"); !result) return result;
  if (auto result = Step(2, Md5(password), 3, "OK"); !result) return result;
  return Step(3, user, 4, "OK");
}

LogInOutcome WireClient::TryStep(int32_t command, std::string_view data, int32_t answerCode) {
  if (!TrySend(command, data)) return LogInOutcome::kLost;
  auto answer = Receive();
  if (!answer) return LogInOutcome::kLost;
  if (*answer == Message{answerCode, "OK"}) return LogInOutcome::kAccepted;
  return LogInOutcome::kRefused;
}

LogInOutcome WireClient::TryLogIn(std::string_view network, std::string_view password,
                                  std::string_view user) {
  auto prompt = Receive();
  if (!prompt) return LogInOutcome::kLost;
  if (*prompt != Message{1, "Network"}) return LogInOutcome::kRefused;
  for (auto [command, data] : {std::pair<int32_t, std::string>{1, std::string(network)},
                               {2, Md5(password)},
                               {3, std::string(user)}}) {
    auto outcome = TryStep(command, data, command + 1);
    if (outcome != LogInOutcome::kAccepted) return outcome;
  }
  return LogInOutcome::kAccepted;
}

}  // namespace velmora::e2e
