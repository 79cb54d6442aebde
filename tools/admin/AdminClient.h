#pragma once
// velmora-admin's one connection to the server: the same framed transport as the server's own
// connections, driven by the same event loop, with every wait bounded by the step time-out.
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Message.h"
#include "transport/EasyTCPSocket.h"

namespace velmora::admin {

class AdminClient : public EasyTCPSocket {
 public:
  using Clock = std::chrono::steady_clock;

  explicit AdminClient(std::chrono::milliseconds stepTimeout);

  // Connects and waits for the network prompt. Throws AdminFailure (kConnection).
  void Open(const std::string& host, uint16_t port);
  // The three log-in steps; each refusal throws AdminFailure with its own exit code.
  void LogIn(const std::string& network, const std::string& password, const std::string& user);

  // Sends `command` and returns the payload of the answer with code `answer`; the messages of
  // other codes that came first are appended to `before` when given. Throws AdminFailure
  // (kProtocol on time-out, kConnection when the connection ends).
  std::string Ask(ClientCode command, const std::string& data, ServerCode answer,
                  const std::string& what, std::vector<Message>* before = nullptr);
  // Waits for the answer to an earlier request (see Ask).
  std::string Await(ServerCode answer, const std::string& what, std::vector<Message>* before);

  // The next message, if one comes before `deadline`; nothing at the deadline. Throws
  // AdminFailure (kConnection) once the connection has ended.
  std::optional<Message> Next(Clock::time_point deadline);
  // Runs one pass of the event loop (for callers that wait on something else too).
  void Pump(int maxWaitMs);

  // Whether the server counts this connection as an administrator of its network.
  bool IsAdministrator();
  // Polite end: goodbye and its answer, briefly, then close. Never throws.
  void Leave();

  bool Ended() const { return ended_; }
  std::chrono::milliseconds StepTimeout() const { return stepTimeout_; }

 protected:
  void Event_Connected() override { connected_ = true; }
  void Event_Error(int64_t code) override;
  void Event_ReceivedMessage(int32_t command, std::string_view data) override;

 private:
  [[noreturn]] void ConnectionEnded(const std::string& during);

  std::chrono::milliseconds stepTimeout_;
  std::deque<Message> inbox_;
  std::string where_;
  bool connected_ = false;
  bool ended_ = false;
  int64_t endCode_ = 0;
};

// The operator's wording of a connection error code.
std::string ConnectionErrorText(int64_t code);

}  // namespace velmora::admin
