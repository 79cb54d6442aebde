#pragma once
// A small HTTP/1.1 server on threads of its own, for the operator's console. Every request is
// handed to one handler as plain structs; the handler runs on one of the server's threads, never
// on the event loop's. Every client may be hostile, so each connection is bounded: the request
// head by memory, the body by size, silence by a time-out, and connections in all and per address
// by count. A client that breaks a bound is answered with an error and cut off.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace velmora::platform {

struct HttpServerRequest {
  std::string Method;  // "GET", "POST", ...
  // The path as sent (still percent-encoded), without the query.
  std::string Path;
  // The path cut at "/" and each piece percent-decoded: "/api/a%2Fb/x" gives {"api", "a/b", "x"}.
  std::vector<std::string> PathSegments;
  // Header names in small letters, values as sent.
  std::vector<std::pair<std::string, std::string>> Headers;
  std::vector<std::pair<std::string, std::string>> Cookies;
  std::string Body;
  std::string RemoteAddress;

  // The first header of that name (given in small letters), or "".
  std::string Header(const std::string& lowerName) const;
  std::string Cookie(const std::string& name) const;
};

struct HttpServerResponse {
  int Status = 200;
  std::string ContentType = "text/plain; charset=utf-8";
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;

  static HttpServerResponse Text(int status, std::string body);
};

struct HttpServerLimits {
  size_t MaxConnections = 64;
  size_t MaxConnectionsPerAddress = 16;
  // Memory for one connection's request line and headers; a larger head is refused with 431.
  size_t MaxHeadBytes = 32 * 1024;
  // A larger body is refused with 413.
  size_t MaxBodyBytes = 16 * 1024;
  // A connection that sends or takes nothing for this long is closed.
  std::chrono::seconds IdleTimeout{10};
  // Threads serving connections; a handler that waits holds up only the connections of its own.
  unsigned Threads = 2;
};

class HttpServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Whether `host` (an address, or a name looked up here) is a loopback address: 127.0.0.0/8 or ::1.
// Throws HttpServerError when the name cannot be resolved.
bool IsLoopbackHost(const std::string& host);

class HttpServer {
 public:
  // Must not throw; an escaping exception is answered with 500.
  using Handler = std::function<HttpServerResponse(const HttpServerRequest&)>;

  explicit HttpServer(Handler handler, HttpServerLimits limits = {});
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds `host` (an address or a name; its first address) and `port` (0: any free port) and
  // starts serving. Throws HttpServerError when the address cannot be had.
  void Start(const std::string& host, uint16_t port);
  // Closes the listener and every connection; waits for running handlers. Safe to repeat.
  void Stop();
  bool Running() const;
  uint16_t Port() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::platform
