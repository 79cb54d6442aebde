#include "networks/ServerNetworks.h"

#include "base/GentleGrowth.h"
#include "base/Log.h"
#include "base/TextCase.h"
#include "networks/LogInRecords.h"

namespace velmora {

ServerNetworks::ServerNetworks()
    : usersByName_(0, UserKey{&users_}, UserKey{&users_}) {}

ServerNetworks::ServerNetworks(std::string name, std::string password, int64_t maxusers,
                               bool enabled)
    : NetworkName(std::move(name)), Password(std::move(password)), MaxUsers(maxusers),
      Enabled(enabled), usersByName_(0, UserKey{&users_}, UserKey{&users_}) {}

bool ServerNetworks::TakeSeat() {
  if (!Enabled || CurrentUsers >= MaxUsers) return false;
  ++CurrentUsers;
  return true;
}

std::shared_ptr<VelmoraUser> ServerNetworks::FindUser(std::string_view name,
                                                      std::string_view address) const {
  auto found = usersByName_.find(NameAndAddress{name, address});
  return found == usersByName_.end() ? nullptr : users_[*found];
}

void ServerNetworks::AddUser(std::shared_ptr<VelmoraUser> user) {
  RoomForOneMore(users_);
  users_.push_back(std::move(user));
  // A later record of a name and address already listed is never the first: not indexed.
  usersByName_.insert(static_cast<uint32_t>(users_.size() - 1));
}

void ServerNetworks::SetUsers(std::vector<std::shared_ptr<VelmoraUser>> users) {
  usersByName_.clear();
  users_ = std::move(users);
  usersByName_.reserve(users_.size());
  for (size_t position = 0; position < users_.size(); ++position)
    usersByName_.insert(static_cast<uint32_t>(position));
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
    AddUser(std::move(user));
  }
  if (outcome.failed)
    modGlobal::LogMessage(
        "Error adding user " + modGlobal::LogSafe(username) + " to network " + NetworkName, false);
}

}  // namespace velmora
