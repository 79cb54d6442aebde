// watch: stays logged in and prints what the network shares, one line per event.
#include <csignal>
#include <ctime>
#include <iostream>

#include "AdminClient.h"
#include "AdminCommands.h"
#include "AdminOptions.h"
#include "ServerText.h"
#include "platform/adapters/Clock.h"
#include "platform/net/EventLoop.h"
#include "protocol/Chat.h"
#include "protocol/Position.h"

namespace velmora::admin {

namespace {

constexpr int kPassWaitMs = 50;

void PrintEvent(const std::string& line) {
  // One whole line at a time, at once: the output is often a pipe or a file someone tails.
  std::cout << platform::ShortTime(std::time(nullptr)) << " " << line << std::endl;
}

std::string PositionLine(const MemberPosition& member) {
  const PositionReport& at = member.Report;
  return "position " + Printable(member.Name) + " x=" + std::to_string(at.X) +
         " y=" + std::to_string(at.Y) + " facet=" + std::to_string(at.Facet) +
         " hp=" + std::to_string(at.HP) + " battle=" + (at.InBattle ? "1" : "0") +
         " dead=" + (at.IsDead ? "1" : "0");
}

}  // namespace

ExitCode RunWatch(AdminClient& client, const AdminOptions& options) {
  bool stop = false;
  auto& loop = platform::EventLoop::Instance();
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
    loop.OnSignal(signalNumber, [&stop] { stop = true; });
  std::cerr << "Watching network " << Printable(options.network) << " as "
            << Printable(options.user) << "; Ctrl-C stops." << std::endl;
  client.SendMessage(Wire(ClientCode::kMemberListRequest), "");  // the current members first

  while (!stop) {
    std::optional<Message> message;
    try {
      message = client.Next(AdminClient::Clock::now() + std::chrono::milliseconds(kPassWaitMs));
    } catch (const AdminFailure& failure) {
      PrintEvent("closed: the server ended the connection");
      throw;
    }
    if (!message) continue;
    switch (static_cast<ServerCode>(message->command)) {
      case ServerCode::kMemberPosition:
        if (auto member = ReadMemberPosition(message->data))
          PrintEvent(PositionLine(*member));
        else
          PrintEvent("position " + Printable(message->data));
        break;
      case ServerCode::kMemberLeft: PrintEvent("left " + Printable(message->data)); break;
      case ServerCode::kChatLine: {
        auto [name, text] = SplitChatLine(message->data);
        PrintEvent("chat " + Printable(name) + ": " + Printable(text));
        break;
      }
      case ServerCode::kAnnouncement: PrintEvent("announcement: " + Printable(message->data)); break;
      case ServerCode::kKickNotice:
      case ServerCode::kBanNotice:
        PrintEvent(std::string(message->Is(ServerCode::kKickNotice) ? "kicked: " : "banned: ") +
                   Printable(message->data));
        // The notice is the last message: the server ends the connection after it.
        return ExitCode::kRemoved;
      case ServerCode::kGoodbyeAnswer:
        PrintEvent("bye: the server took the network away");
        throw AdminFailure(ExitCode::kConnection, "the server removed network '" +
                                                      options.network + "'");
      default:
        PrintEvent("message " + std::to_string(message->command) + ": " +
                   Printable(message->data));
    }
  }
  return ExitCode::kOk;
}

}  // namespace velmora::admin
