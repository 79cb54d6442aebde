#pragma once
// A blocking client of the server's wire protocol on a plain socket, for end-to-end tests.
// Every wait is bounded, so a silent or dead server fails a test instead of hanging it.
//
// It speaks in two styles. The checking calls (Send, LogIn, Step, Expect...) fail the running
// test when the server does not answer as a healthy one does. The Try... calls, Receive and
// WaitForClose never fail a test by themselves: they report what happened, for faults in which
// the connection is meant to break (the server killed under it, a client dropping out on
// purpose halfway through a frame or a log-in).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "protocol/Message.h"

namespace velmora {

// Readable form for test failures; control bytes are shown as escapes.
std::string Describe(const std::optional<Message>& message);
void PrintTo(const Message& message, std::ostream* out);

}  // namespace velmora

namespace velmora::e2e {

using namespace std::chrono_literals;

// The 16 raw bytes of the MD5 digest of `text`.
std::string Md5(std::string_view text);

struct ClientOptions {
  // Loopback source address; the server sees it as the client's address, so tests give
  // users addresses of their own (127.0.0.2, ...) to tell bans and user records apart.
  std::string sourceAddress = "127.0.0.1";
  // A small receive buffer, for a client that is meant to fall behind; 0 keeps the default.
  int receiveBuffer = 0;
  // When false, a failed connection is no test failure and is not tried again: the client is
  // left unconnected at once, and ConnectError() says why.
  bool mustConnect = true;
};

// How a log-in dialogue, or one step of it, ended.
enum class LogInOutcome {
  kAccepted,  // every step answered "OK"
  kRefused,   // some step answered otherwise
  kLost,      // no connection, or it broke (or went silent) before the last answer
};

class WireClient {
 public:
  // Connects to 127.0.0.1:port (::1 for an IPv6 source), retrying refused connections briefly
  // when the connection must be made.
  explicit WireClient(uint16_t port, ClientOptions options = {});
  ~WireClient();
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  bool Connected() const { return fd_ >= 0; }
  // Why the connection could not be made (an errno value), 0 when it was.
  int ConnectError() const { return connectError_; }

  // --- checking calls: a failure fails the test ---
  void Send(int32_t command, std::string_view data);
  // Writes bytes as they are, for frames the codec would refuse to build.
  void SendRaw(std::string_view bytes);
  // True when no message arrives for `quiet`.
  ::testing::AssertionResult ExpectNothing(std::chrono::milliseconds quiet = 200ms);
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

  // --- reporting calls: never a failure by themselves ---
  // False when the bytes could not all be handed to the kernel.
  bool TrySend(int32_t command, std::string_view data);
  bool TrySendRaw(std::string_view bytes);
  // Sends one log-in step and tells whether it was answered `answerCode` "OK".
  LogInOutcome TryStep(int32_t command, std::string_view data, int32_t answerCode);
  // The whole dialogue: the prompt, then network, password digest and user name.
  LogInOutcome TryLogIn(std::string_view network, std::string_view password,
                        std::string_view user);
  // The next message, or nothing when none arrives in time or the connection ended. (A frame
  // whose length field is shorter than its header is never sent by a sound server: it fails
  // the test.)
  std::optional<Message> Receive(std::chrono::milliseconds limit = 3s);
  // True when the server closes the connection within `limit` (messages before it are skipped).
  bool WaitForClose(std::chrono::milliseconds limit = 3s);
  bool PeerClosed() const { return peerClosed_; }

  // Reads what waits unread, then closes: an orderly close, which the server sees as one.
  void Close();
  // Closes at once, whatever waits unread (an unread byte makes the kernel send a reset).
  void Abandon();
  // Ends the connection with a reset in any case (SO_LINGER with a zero time-out).
  void Reset();
  // Closes the sending side only (a half-close): the server reads to the end of the stream.
  void CloseWrite();

 private:
  // Reads more into the buffer; false when nothing came by `deadline` or the connection ended.
  bool Fill(std::chrono::steady_clock::time_point deadline);

  int fd_ = -1;
  int connectError_ = 0;
  bool peerClosed_ = false;
  std::string buffer_;
};

}  // namespace velmora::e2e
