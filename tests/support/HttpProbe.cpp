#include "support/HttpProbe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/TextCase.h"
#include "support/SendAll.h"

namespace velmora::testing {

std::string HttpAnswer::Header(std::string_view name) const {
  size_t start = Head.find("\r\n");
  while (start != std::string::npos && start + 2 < Head.size()) {
    size_t end = Head.find("\r\n", start + 2);
    std::string line = Head.substr(start + 2, end == std::string::npos ? end : end - start - 2);
    size_t colon = line.find(':');
    if (colon != std::string::npos && EqualsIgnoreCase(line.substr(0, colon), name)) {
      size_t value = line.find_first_not_of(' ', colon + 1);
      return value == std::string::npos ? "" : line.substr(value);
    }
    start = end;
  }
  return "";
}

HttpProbe::HttpProbe(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  timeval sendLimit{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

HttpProbe::~HttpProbe() {
  if (fd_ >= 0) ::close(fd_);
}

bool HttpProbe::Send(std::string_view bytes) { return fd_ >= 0 && SendAll(fd_, bytes); }

bool HttpProbe::Fill(std::chrono::steady_clock::time_point deadline) {
  while (fd_ >= 0 && !closed_) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd wait{fd_, POLLIN, 0};
    int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char chunk[65536];
    ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      closed_ = true;
      return false;
    }
    buffer_.append(chunk, static_cast<size_t>(got));
    return true;
  }
  return false;
}

HttpAnswer HttpProbe::Receive(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  HttpAnswer answer;
  size_t headEnd;
  while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos)
    if (!Fill(deadline)) return answer;
  answer.Head = buffer_.substr(0, headEnd + 2);
  buffer_.erase(0, headEnd + 4);
  if (answer.Head.rfind("HTTP/1.", 0) == 0 && answer.Head.size() > 12)
    answer.Status = std::atoi(answer.Head.c_str() + 9);
  std::string length = answer.Header("Content-Length");
  if (length.empty()) {
    while (Fill(deadline)) {
    }
    answer.Body = std::move(buffer_);
    buffer_.clear();
    return answer;
  }
  size_t want = std::strtoull(length.c_str(), nullptr, 10);
  while (buffer_.size() < want && Fill(deadline)) {
  }
  answer.Body = buffer_.substr(0, want);
  buffer_.erase(0, std::min(want, buffer_.size()));
  return answer;
}

bool HttpProbe::ClosedWithin(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!closed_ && Fill(deadline)) buffer_.clear();
  return closed_;
}

std::string GetRequest(std::string_view path, std::string_view headers) {
  return "GET " + std::string(path) +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + std::string(headers) + "\r\n";
}

std::string PostRequest(std::string_view path, std::string_view body, std::string_view headers,
                        std::string_view contentType) {
  return "POST " + std::string(path) +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: " +
         std::string(contentType) + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n" + std::string(headers) + "\r\n" + std::string(body);
}

HttpAnswer Exchange(uint16_t port, std::string_view request) {
  HttpProbe probe(port);
  if (!probe.Send(request)) return {};
  return probe.Receive();
}

}  // namespace velmora::testing
