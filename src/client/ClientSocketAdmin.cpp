// The administrators' commands of a session: kick, ban, announce, list and lift bans. The
// dispatcher lets only administrators of the session's network reach these.
#include "base/NumberText.h"
#include "client/ClientSocket.h"
#include "networks/ServerNetworks.h"
#include "platform/Clock.h"
#include "protocol/AdminPayloads.h"
#include "server/BanStore.h"
#include "server/MapSocket.h"

namespace velmora {

void ClientSocket::Kick(const std::string& data) {
  auto request = ReadUserAndReason(data);
  myParent.KickUser(request.User, Network()->NetworkName, request.Reason);
}

void ClientSocket::Ban(const std::string& data) {
  auto request = ReadUserAndReason(data);
  myParent.BanUser(*this, request.User, request.Reason);
}

void ClientSocket::Announce(const std::string& text) {
  myParent.BroadcastMessage(text, Network()->NetworkName);
}

void ClientSocket::SendBanList(const std::string&) {
  std::string list;
  for (auto& row : myParent.Context().bans.List(Network()->NetworkName)) {
    AppendBanListEntry(list, {std::to_string(row.id), row.address, row.by, row.reason,
                              platform::ShortDate(row.bandate) + " " +
                                  platform::ShortTime(row.bandate)});
  }
  Answer(MessageCode::kBanList, list);
}

void ClientSocket::LiftBan(const std::string& data) {
  if (!BeginsWithNumber(data)) return;
  myParent.Context().bans.Lift(ReadInteger(data), Network()->NetworkName);
}

}  // namespace velmora
