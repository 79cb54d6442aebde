// The administrators' commands of a session: kick, ban, announce, list and lift bans. The
// dispatcher lets only administrators of the session's network reach these.
#include "base/NumberText.h"
#include "client/ClientSocket.h"
#include "networks/ServerNetworks.h"
#include "platform/adapters/Clock.h"
#include "protocol/AdminPayloads.h"
#include "protocol/FrameCodec.h"
#include "server/BanStore.h"
#include "server/MapSocket.h"

namespace velmora {

void ClientSocket::Kick(std::string_view data) {
  auto request = ReadUserAndReason(data);
  myParent.KickUser(request.User, Network()->NetworkName, request.Reason);
}

void ClientSocket::Ban(std::string_view data) {
  auto request = ReadUserAndReason(data);
  myParent.BanUser(*this, request.User, request.Reason);
}

void ClientSocket::Announce(std::string_view text) {
  myParent.BroadcastMessage(text, Network()->NetworkName);
}

void ClientSocket::SendBanList(std::string_view) {
  std::string list;
  std::string entry;
  auto rows = myParent.Context().bans.List(Network()->NetworkName);
  size_t listed = 0;
  for (auto& row : rows) {
    // A date that does not read as one shows as nothing rather than as an invented one.
    std::string when;
    if (row.bandate)
      when = platform::ShortDate(*row.bandate) + " " + platform::ShortTime(*row.bandate);
    entry.clear();
    AppendBanListEntry(entry, {std::to_string(row.id), row.address, row.by, row.reason, when});
    // Whole rows, as many as one frame within the bound carries.
    if (list.size() + entry.size() > kMaxPayloadLength) break;
    list += entry;
    ++listed;
  }
  if (listed < rows.size())
    Log("Ban List Cut Short (" + std::to_string(listed) + " Of " + std::to_string(rows.size()) +
        " Bans).");
  Answer(ServerCode::kBanList, list);
}

void ClientSocket::LiftBan(std::string_view data) {
  if (!BeginsWithNumber(data)) return;
  myParent.Context().bans.Lift(ReadInteger(data), Network()->NetworkName);
}

}  // namespace velmora
