#pragma once
// Plain-HTTP GET requests run in the background. One worker thread drives every transfer (name
// resolution included), so no request ever holds up the event loop; each result is handed back
// to the loop's thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velmora::platform {

struct HttpRequest {
  // "host" or "host:port" (port 80 when none is given).
  std::string Host;
  // Path and query, sent as given.
  std::string Path;
  // The request is given up once this long passes without data arriving or the connection
  // being established; every arrival starts the wait again.
  std::chrono::milliseconds InactivityTimeout{2000};
  // Bound on the whole request, however the data trickles in; zero means none.
  std::chrono::milliseconds TotalTimeout{0};
  // Body bytes kept at most; the transfer stops when the service sends more.
  size_t MaxBodyBytes = 1u << 20;
};

enum class HttpOutcome {
  kComplete,  // the whole body arrived (as announced by Content-Length, or up to the close)
  kTimedOut,  // one of the time-outs fired
  kFailed,    // the request could not be made, or the connection failed or was reset
  kTooLarge,  // the body passed MaxBodyBytes
};

struct HttpResult {
  // What arrived of the body, whatever the status of the reply and however the request ended.
  std::string Body;
  HttpOutcome Outcome = HttpOutcome::kFailed;
  long Status = 0;  // the reply's status code; 0 when no status line arrived
};

class HttpClient {
 public:
  using RequestId = uint64_t;
  using Done = std::function<void(HttpResult)>;
  // Transfers running at once; further requests wait their turn.
  static constexpr size_t kMaxTransfers = 16;

  static HttpClient& Instance();

  // An HTTP/1.0 GET with the headers Host, "Accept: */*" and "Accept-Language: en"; redirects
  // are not followed, no credentials, proxies or cookies are used. `done` runs on the loop's
  // thread during a later pass, never inside Get. Call from the loop's thread.
  RequestId Get(HttpRequest request, Done done);
  // Drops a request: its transfer is stopped and `done` never runs. Call from the loop's thread.
  void Cancel(RequestId id);

  struct Impl;

 private:
  HttpClient();
  ~HttpClient();
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::platform
