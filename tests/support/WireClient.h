#pragma once
// A blocking client of the server's wire protocol on a plain socket, for end-to-end tests.
// Every wait is bounded, so a silent or dead server fails a test instead of hanging it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::e2e {

using namespace std::chrono_literals;

struct Message {
  int32_t command = 0;
  std::string data;
  bool operator==(const Message&) const = default;
};

// Readable form for test failures; control bytes are shown as escapes.
std::string Describe(const std::optional<Message>& message);
void PrintTo(const Message& message, std::ostream* out);

// The 16 raw bytes of the MD5 digest of `text`.
std::string Md5(std::string_view text);

struct ClientOptions {
  // Loopback source address; the server sees it as the client's address, so tests give
  // users addresses of their own (127.0.0.2, ...) to tell bans and user records apart.
  std::string sourceAddress = "127.0.0.1";
  // A small receive buffer, for a client that is meant to fall behind; 0 keeps the default.
  int receiveBuffer = 0;
  // When false, a refused connection is no failure: the client is left unconnected at once.
  bool mustConnect = true;
};

class WireClient {
 public:
  // Connects to 127.0.0.1:port (::1 for an IPv6 source), retrying refused connections briefly.
  explicit WireClient(uint16_t port, ClientOptions options = {});
  ~WireClient();
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  bool Connected() const { return fd_ >= 0; }

  void Send(int32_t command, std::string_view data);
  // Writes bytes as they are, for frames the codec would refuse to build.
  void SendRaw(std::string_view bytes);

  // The next message, or nothing when none arrives in time or the server closed the connection.
  std::optional<Message> Receive(std::chrono::milliseconds limit = 3s);
  // True when no message arrives for `quiet`.
  ::testing::AssertionResult ExpectNothing(std::chrono::milliseconds quiet = 200ms);
  // True when the server closes the connection within `limit` (messages before it are skipped).
  bool WaitForClose(std::chrono::milliseconds limit = 3s);
  bool PeerClosed() const { return peerClosed_; }

  // The dialogue of a log-in, checking each answer: the prompt, then the network, the
  // password digest and the user name, each answered "OK".
  ::testing::AssertionResult LogIn(std::string_view network, std::string_view password,
                                   std::string_view user);
  // One step: sends `command` with `data` and checks that the answer is `answerCode` with
  // `answer`.
  ::testing::AssertionResult Step(int32_t command, std::string_view data, int32_t answerCode,
                                  std::string_view answer);
  // Awaits the network prompt, code 1 "Network".
  ::testing::AssertionResult ExpectPrompt();

  void Close();
  // Ends the connection with a reset instead of an orderly close.
  void Reset();
  // Closes the sending side only (a half-close): the server reads to the end of the stream.
  void CloseWrite();

 private:
  bool Fill(std::chrono::steady_clock::time_point deadline);

  int fd_ = -1;
  bool peerClosed_ = false;
  std::string buffer_;
};

}  // namespace velmora::e2e
