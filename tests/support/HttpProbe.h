#pragma once
// An HTTP client for tests that says exactly what it sends: raw request text over one loopback
// connection, and the answer as it came, or how the connection ended.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::testing {

struct HttpAnswer {
  int Status = 0;  // 0: no status line arrived
  std::string Head;
  std::string Body;
  // The value of the first header of that name (any letter case), or "".
  std::string Header(std::string_view name) const;
};

class HttpProbe {
 public:
  explicit HttpProbe(uint16_t port);
  ~HttpProbe();
  HttpProbe(const HttpProbe&) = delete;
  HttpProbe& operator=(const HttpProbe&) = delete;

  bool Connected() const { return fd_ >= 0; }
  // False once the server stopped taking bytes.
  bool Send(std::string_view bytes);
  // One answer: the head, then the body by its Content-Length (or up to the close).
  HttpAnswer Receive(std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Whether the server closes the connection within `limit` (bytes arriving meanwhile are
  // dropped).
  bool ClosedWithin(std::chrono::milliseconds limit);

 private:
  bool Fill(std::chrono::steady_clock::time_point deadline);
  int fd_ = -1;
  bool closed_ = false;
  std::string buffer_;
};

// "GET <path> HTTP/1.1" to 127.0.0.1, closed after the answer; `headers` end in "\r\n" each.
std::string GetRequest(std::string_view path, std::string_view headers = "");
std::string PostRequest(std::string_view path, std::string_view body,
                        std::string_view headers = "",
                        std::string_view contentType = "application/json");
// Sends one request on a new connection and returns its answer.
HttpAnswer Exchange(uint16_t port, std::string_view request);

}  // namespace velmora::testing
