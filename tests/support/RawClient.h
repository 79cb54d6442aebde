#pragma once
// A wire client that never fails a test by itself, for faults in which the connection is
// expected to break: the server killed under it, or a client that drops out on purpose in the
// middle of a frame or a log-in. Every call reports what happened instead.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/WireClient.h"

namespace velmora::e2e {

// How a log-in dialogue ended.
enum class LogInOutcome {
  kAccepted,  // every step answered "OK"
  kRefused,   // some step answered "FAIL"
  kLost,      // no connection, or it broke (or went silent) before the last answer
};

class RawClient {
 public:
  // Connects once from `sourceAddress` to 127.0.0.1:port; Connected() tells whether it worked.
  explicit RawClient(uint16_t port, const std::string& sourceAddress = "127.0.0.1");
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return fd_ >= 0; }
  // Why the connection could not be made (an errno value), 0 when it was.
  int ConnectError() const { return connectError_; }

  // False when the bytes could not all be handed to the kernel.
  bool SendRaw(std::string_view bytes);
  bool Send(int32_t command, std::string_view data);
  // The next message, or nothing when none arrives in time or the connection ended.
  std::optional<Message> Receive(std::chrono::milliseconds limit = 3s);
  // Sends one log-in step and checks that it is answered `answerCode` "OK".
  LogInOutcome Step(int32_t command, std::string_view data, int32_t answerCode);
  // The whole dialogue: the prompt, then network, password digest and user name.
  LogInOutcome LogIn(std::string_view network, std::string_view password, std::string_view user);

  // Closes at once, whatever waits unread (an unread byte makes the kernel send a reset).
  void Close();
  // Closes with a reset in any case (SO_LINGER with a zero time-out).
  void Reset();

 private:
  int fd_ = -1;
  int connectError_ = 0;
  std::string buffer_;
};

}  // namespace velmora::e2e
