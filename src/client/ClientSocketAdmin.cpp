// The administrators' commands of a ClientSocket: kick, ban, announce, list and lift bans.
#include "client/ClientSocket.h"
#include "protocol/PayloadFields.h"
#include "host/App.h"
#include "base/NumberText.h"
#include "base/Log.h"
#include "networks/ServerNetworks.h"
#include "platform/Clock.h"
#include "platform/SqliteDatabase.h"
#include "server/BanTable.h"
#include "server/MapSocket.h"

namespace velmora {

void ClientSocket::HandleAdminCommand(int32_t command, const std::string& data) {
  const std::string& network = myNetwork->NetworkName;
  switch (command) {
    case 10:
      myParent.KickUser(std::string(PayloadField(data, '|', 0)), network,
                        std::string(PayloadField(data, '|', 1)));
      break;
    case 11:
      myParent.BanUser(*this, std::string(PayloadField(data, '|', 0)),
                       std::string(PayloadField(data, '|', 1)));
      break;
    case 12: myParent.BroadcastMessage(data, network); break;
    case 13: SendBanList(); break;
    case 14: LiftBan(data); break;
  }
}

void ClientSocket::SendBanList() {
  std::vector<BanRow> rows;
  try {
    rows = BanTable(App::Instance().serverdb.get()).ListForNetwork(myNetwork->NetworkName);
  } catch (const platform::DatabaseError& error) {
    modGlobal::LogMessage(std::string("Error reading bans: ") + error.what(), false);
  }
  std::string list;
  for (auto& row : rows) {
    list += std::to_string(row.id) + "|" + row.address + "|" + row.by + "|" + row.reason + "|" +
            platform::ShortDate(row.bandate) + " " + platform::ShortTime(row.bandate);
    list += '\0';
  }
  SendMessage(13, list);
}

void ClientSocket::LiftBan(const std::string& data) {
  if (!BeginsWithNumber(data)) return;
  int64_t id = ReadInteger(data);
  try {
    BanTable(App::Instance().serverdb.get()).DeleteForNetwork(id, myNetwork->NetworkName);
  } catch (const platform::DatabaseError& error) {
    modGlobal::LogMessage("Error lifting ban " + std::to_string(id) + ": " + error.what(), false);
  }
}

}  // namespace velmora
