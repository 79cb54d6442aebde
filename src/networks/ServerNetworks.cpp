#include "networks/ServerNetworks.h"

#include "base/GentleGrowth.h"
#include "base/Log.h"
#include "base/TextCase.h"
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

std::shared_ptr<VelmoraUser> ServerNetworks::FindUser(std::string_view name,
                                                      std::string_view address) {
  if (indexedUsers_ > Users.size()) UsersReplaced();
  auto hashOf = [this](uint32_t entry) { return FoldedHash(Users[entry - 1]->Name); };
  for (; indexedUsers_ < Users.size(); ++indexedUsers_)
    usersByName_.Insert(static_cast<uint32_t>(indexedUsers_ + 1), hashOf);
  size_t first = Users.size();
  usersByName_.ForEach(FoldedHash(name), hashOf, [&](uint32_t entry) {
    size_t position = entry - 1;
    const VelmoraUser& user = *Users[position];
    if (position < first && EqualsIgnoreCase(user.Name, name) &&
        EqualsIgnoreCase(user.LastIP, address))
      first = position;
    return false;
  });
  return first < Users.size() ? Users[first] : nullptr;
}

void ServerNetworks::UsersReplaced() {
  usersByName_.Clear();
  indexedUsers_ = 0;
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
    user->SetPath(VelmoraUser::KeepPath(Path));
    RoomForOneMore(Users);
    Users.push_back(std::move(user));
  }
  if (outcome.failed)
    modGlobal::LogMessage(
        "Error adding user " + modGlobal::LogSafe(username) + " to network " + NetworkName, false);
}

}  // namespace velmora
