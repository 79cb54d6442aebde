#pragma once
// A web service on 127.0.0.1 for tests: a thread accepts connections on a free port and plays a
// scripted reply to each request (chunks with pauses, then a close, a reset or a silence).
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::testing {

struct FakeReply {
  struct Chunk {
    std::chrono::milliseconds delay{0};  // pause before the bytes are sent
    std::string bytes;
    // Sent again and again, each time after `delay`, until the service is released: a trickle
    // (or, with no bytes, a silence) that lasts just as long as the test needs it to.
    bool untilReleased = false;
  };
  enum class End { kClose, kReset, kStaySilent };

  std::vector<Chunk> chunks;
  End end = End::kClose;
  // kStaySilent: how long the connection stays open without a byte before it is closed.
  std::chrono::milliseconds silence{0};

  // A status line, Content-Length and the body, then the connection stays open in silence, so
  // only the announced length can tell the client the reply is whole.
  static FakeReply WithLength(const std::string& body, std::chrono::milliseconds silence);
  // A status line without Content-Length, the body, then the close.
  static FakeReply UntilClose(const std::string& body);
  // Nothing at all for `silence`, then the close.
  static FakeReply Silent(std::chrono::milliseconds silence);
};

class FakeHttpService {
 public:
  // Called on the service's threads with the request's text and its number (0 for the first).
  using Script = std::function<FakeReply(const std::string& request, int number)>;

  explicit FakeHttpService(Script script);
  ~FakeHttpService();
  FakeHttpService(const FakeHttpService&) = delete;
  FakeHttpService& operator=(const FakeHttpService&) = delete;

  // "127.0.0.1:port".
  std::string Host() const;
  std::vector<std::string> Requests() const;
  // Connections open now (accepted and not yet ended by the service or the peer).
  int OpenConnections() const { return open_; }
  // The most connections that were open at one time.
  int MostOpenConnections() const { return mostOpen_; }
  // Ends the chunks that repeat until released; every reply goes on with its next chunk.
  void Release() { released_ = true; }

 private:
  void Accept();
  void Serve(int socket, int number);
  bool Pause(std::chrono::milliseconds duration);

  Script script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> released_{false};
  std::atomic<int> open_{0};
  std::atomic<int> mostOpen_{0};
  std::atomic<int> nextNumber_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

// "127.0.0.1:port" of a port on which nothing listens: connections are refused.
std::string RefusingHost();

}  // namespace velmora::testing
