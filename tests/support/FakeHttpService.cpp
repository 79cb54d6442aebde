#include "support/FakeHttpService.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "support/SendAll.h"

namespace velmora::testing {

namespace {

using Clock = std::chrono::steady_clock;

int LoopbackSocket(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("bind");
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

std::string Header(const std::string& extra) {
  return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n" + extra + "\r\n";
}

}  // namespace

FakeReply FakeReply::WithLength(const std::string& body, std::chrono::milliseconds silence) {
  FakeReply reply;
  reply.chunks.push_back(
      {{}, Header("Content-Length: " + std::to_string(body.size()) + "\r\n") + body});
  reply.end = End::kStaySilent;
  reply.silence = silence;
  return reply;
}

FakeReply FakeReply::UntilClose(const std::string& body) {
  FakeReply reply;
  reply.chunks.push_back({{}, Header("") + body});
  return reply;
}

FakeReply FakeReply::Silent(std::chrono::milliseconds silence) {
  FakeReply reply;
  reply.end = End::kStaySilent;
  reply.silence = silence;
  return reply;
}

FakeHttpService::FakeHttpService(Script script) : script_(std::move(script)) {
  listener_ = LoopbackSocket(port_);
  if (::listen(listener_, 64) != 0) throw std::runtime_error("listen");
  acceptor_ = std::thread([this] { Accept(); });
}

FakeHttpService::~FakeHttpService() {
  stop_ = true;
  acceptor_.join();
  for (auto& connection : connections_) connection.join();
  ::close(listener_);
}

std::string FakeHttpService::Host() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> FakeHttpService::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool FakeHttpService::Pause(std::chrono::milliseconds duration) {
  auto until = Clock::now() + duration;
  while (Clock::now() < until) {
    if (stop_) return false;
    std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(),
                                                          std::chrono::milliseconds(5)));
  }
  return !stop_;
}

void FakeHttpService::Accept() {
  while (!stop_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 20) <= 0) continue;
    int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) continue;
    int open = ++open_;
    if (open > mostOpen_) mostOpen_ = open;
    int number = nextNumber_++;
    std::lock_guard lock(mutex_);
    connections_.emplace_back([this, socket, number] { Serve(socket, number); });
  }
}

void FakeHttpService::Serve(int socket, int number) {
  // The request ends at its blank line; give up on a client that never sends one.
  std::string request;
  auto giveUp = Clock::now() + std::chrono::seconds(5);
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 &&
         Clock::now() < giveUp && !stop_) {
    pollfd waiting{socket, POLLIN, 0};
    if (::poll(&waiting, 1, 20) <= 0) continue;
    char buffer[4096];
    ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    request.append(buffer, static_cast<size_t>(got));
  }
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  FakeReply reply = script_(request, number);
  bool going = true;
  for (auto& chunk : reply.chunks) {
    do {
      going = Pause(chunk.delay) && SendAll(socket, chunk.bytes);
    } while (going && chunk.untilReleased && !released_);
    if (!going) break;
  }
  if (going && reply.end == FakeReply::End::kStaySilent) {
    // Stay quiet, but notice when the client hangs up.
    auto until = Clock::now() + reply.silence;
    while (Clock::now() < until && !stop_) {
      pollfd waiting{socket, POLLIN, 0};
      if (::poll(&waiting, 1, 5) <= 0) continue;
      char buffer[256];
      if (::recv(socket, buffer, sizeof buffer, 0) <= 0) break;
    }
  }
  if (reply.end == FakeReply::End::kReset) {
    linger abort{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  // Counted closed before the client can see the close and open its next connection.
  --open_;
  ::close(socket);
}

std::string RefusingHost() {
  int port = 0;
  int fd = LoopbackSocket(port);  // bound but never listening: connections to it are refused
  ::close(fd);
  return "127.0.0.1:" + std::to_string(port);
}

}  // namespace velmora::testing
