#include "networks/ServerNetworks.h"

#include "base/Log.h"
#include "networks/LogInRecords.h"

namespace velmora {

ServerNetworks::ServerNetworks(std::string name, std::string password, int64_t maxusers,
                               bool enabled)
    : NetworkName(std::move(name)), Password(std::move(password)), MaxUsers(maxusers),
      Enabled(enabled) {}

bool ServerNetworks::TakeSeat() {
  if (!Enabled || CurrentUsers >= MaxUsers) return false;
  ++CurrentUsers;
  return true;
}

void ServerNetworks::AddUserToNetwork(const std::string& username, const std::string& address) {
  if (Path.empty()) return;
  BatchOutcome batch = RecordLogIns(Path, {LogInRecord{username, address}});
  TakeOutcome(username, address, batch.logIns.front());
}

void ServerNetworks::TakeOutcome(const std::string& username, const std::string& address,
                                 const RecordOutcome& outcome) {
  for (const auto& kept : outcome.keptAdminAddresses)
    modGlobal::LogMessage(address + ": Admin Address Kept (" + modGlobal::LogSafe(username) +
                              " stays at " + modGlobal::LogSafe(kept) + ")",
                          false);
  if (outcome.newUser) {
    // The record stays even when the file could not take the user; the next log-in of the
    // name then adds another.
    auto user = std::make_shared<VelmoraUser>();
    user->Name = username;
    user->LastIP = address;
    user->Path = Path;
    Users.push_back(std::move(user));
  }
  if (outcome.failed)
    modGlobal::LogMessage(
        "Error adding user " + modGlobal::LogSafe(username) + " to network " + NetworkName, false);
}

}  // namespace velmora
