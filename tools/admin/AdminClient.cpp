#include "AdminClient.h"

#include <cerrno>
#include <cstring>

#include "ExitCode.h"
#include "platform/adapters/Md5.h"
#include "platform/net/EventLoop.h"

namespace velmora::admin {

namespace {

constexpr int kPassWaitMs = 10;
constexpr auto kGoodbyeWait = std::chrono::milliseconds(1000);
// The server answers every refusal with the same "FAIL" and writes the cause into its log.
constexpr char kLogSaysWhich[] =
    "; the server's log names the reason, on the line after the refusal";

std::string Seconds(std::chrono::milliseconds timeout) {
  return std::to_string((timeout.count() + 999) / 1000) + " s";
}

}  // namespace

std::string ConnectionErrorText(int64_t code) {
  switch (code) {
    case ECONNREFUSED: return "connection refused (no server listens on that port)";
    case platform::TcpConnection::kErrorLostConnection: return "the server closed the connection";
    case platform::TcpConnection::kErrorProtocol: return "the server broke the message framing";
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ECONNRESET:
    case ECONNABORTED:
    case EADDRNOTAVAIL: return std::strerror(static_cast<int>(code));
    // The resolver's own code for a name it cannot find arrives as a bare number too.
    case 1: return "unknown host, or not a valid address";
    default:
      return "error " + std::to_string(code) + " (unknown host, or an address not reached)";
  }
}

AdminClient::AdminClient(std::chrono::milliseconds stepTimeout) : stepTimeout_(stepTimeout) {}

void AdminClient::Event_Error(int64_t code) {
  ended_ = true;
  endCode_ = code;
  Close();
}

void AdminClient::Event_ReceivedMessage(int32_t command, std::string_view data) {
  inbox_.emplace_back(command, std::string(data));
}

void AdminClient::Pump(int maxWaitMs) { platform::EventLoop::Instance().RunOnce(maxWaitMs); }

void AdminClient::ConnectionEnded(const std::string& during) {
  throw AdminFailure(ExitCode::kConnection,
                     "connection to " + where_ + " ended " + during + ": " +
                         ConnectionErrorText(endCode_));
}

void AdminClient::Open(const std::string& host, uint16_t port) {
  // A bare IPv6 address reads better in brackets before the port.
  where_ = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
  Connect(host, port);
  auto deadline = Clock::now() + stepTimeout_;
  while (!connected_ && !ended_ && Clock::now() < deadline) Pump(kPassWaitMs);
  if (ended_)
    throw AdminFailure(ExitCode::kConnection,
                       "cannot connect to " + where_ + ": " + ConnectionErrorText(endCode_));
  if (!connected_)
    throw AdminFailure(ExitCode::kConnection,
                       "no connection to " + where_ + " within " + Seconds(stepTimeout_));
  try {
    std::string prompt = Await(ServerCode::kNetworkPrompt, "the network prompt", nullptr);
    if (prompt != kPromptText)
      throw AdminFailure(ExitCode::kConnection,
                         where_ + " is not a Velmora network port: its first message was not "
                                  "the network prompt");
  } catch (const AdminFailure& failure) {
    if (failure.Code() != ExitCode::kProtocol) throw;
    throw AdminFailure(ExitCode::kConnection, "connected to " + where_ +
                                                  ", but no network prompt came within " +
                                                  Seconds(stepTimeout_));
  }
}

void AdminClient::LogIn(const std::string& network, const std::string& password,
                        const std::string& user) {
  auto answer = [](const std::string& text, const std::string& what) {
    if (text == kOk) return true;
    if (text == kFail) return false;
    throw AdminFailure(ExitCode::kProtocol, "unexpected answer to " + what + ": '" + text + "'");
  };
  if (!answer(Ask(ClientCode::kNetworkSelection, network, ServerCode::kNetworkResult,
                  "the network selection"), "the network selection"))
    throw AdminFailure(ExitCode::kNetworkRefused,
                       "network '" + network + "' refused: the server has no network of that "
                       "name, or it is disabled (enabled is not \"1\") or full (maxusers)" +
                           kLogSaysWhich);
  if (!answer(Ask(ClientCode::kPasswordDigest, platform::Md5Digest(password),
                  ServerCode::kPasswordResult, "the password"), "the password"))
    throw AdminFailure(ExitCode::kPasswordRefused,
                       "password refused for network '" + network + "': the password is wrong, "
                       "or this address gave too many wrong ones and is locked out for a minute" +
                           kLogSaysWhich);
  if (!answer(Ask(ClientCode::kUserName, user, ServerCode::kUserNameResult, "the user name"), "the user name"))
    throw AdminFailure(ExitCode::kUserRefused,
                       "user name '" + user + "' refused on network '" + network +
                           "': it is in use on this server, or this address or user is banned" +
                           kLogSaysWhich);
}

std::optional<Message> AdminClient::Next(Clock::time_point deadline) {
  for (;;) {
    if (!inbox_.empty()) {
      Message message = std::move(inbox_.front());
      inbox_.pop_front();
      return message;
    }
    if (ended_) ConnectionEnded("while waiting for the server");
    if (Clock::now() >= deadline) return std::nullopt;
    Pump(kPassWaitMs);
  }
}

std::string AdminClient::Await(ServerCode answer, const std::string& what,
                               std::vector<Message>* before) {
  auto deadline = Clock::now() + stepTimeout_;
  for (;;) {
    std::optional<Message> message;
    try {
      message = Next(deadline);
    } catch (const AdminFailure&) {
      ConnectionEnded("while waiting for " + what);
    }
    if (!message)
      throw AdminFailure(ExitCode::kProtocol,
                         "no answer from " + where_ + " to " + what + " within " +
                             Seconds(stepTimeout_));
    if (message->Is(answer)) return std::move(message->data);
    if (before != nullptr) before->push_back(std::move(*message));
  }
}

std::string AdminClient::Ask(ClientCode command, const std::string& data, ServerCode answer,
                             const std::string& what, std::vector<Message>* before) {
  if (ended_) ConnectionEnded("before " + what);
  SendMessage(Wire(command), data);
  return Await(answer, what, before);
}

bool AdminClient::IsAdministrator() {
  std::string answer = Ask(ClientCode::kAdminQuery, "", ServerCode::kAdminAnswer, "the administrator query");
  if (answer != "1" && answer != "0")
    throw AdminFailure(ExitCode::kProtocol,
                       "unexpected answer to the administrator query: '" + answer + "'");
  return answer == "1";
}

void AdminClient::Leave() {
  if (!ended_ && IsConnected()) {
    SendMessage(Wire(ClientCode::kGoodbye), "");
    auto deadline = Clock::now() + std::min(stepTimeout_, kGoodbyeWait);
    try {
      while (auto message = Next(deadline))
        if (message->Is(ServerCode::kGoodbyeAnswer)) break;
    } catch (const AdminFailure&) {
      // The server went first; nothing is left to say.
    }
  }
  Close();
}

}  // namespace velmora::admin
