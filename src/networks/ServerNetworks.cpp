#include "networks/ServerNetworks.h"

#include "base/Log.h"
#include "base/TextCase.h"
#include "networks/LogInRecords.h"

namespace velmora {

namespace {

// FNV-1a over the name without letter case.
uint64_t NameHash(std::string_view name) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : name) {
    hash ^= static_cast<unsigned char>(FoldCase(c));
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

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
  if (indexedUsers_ > Users.size()) {
    usersByName_.clear();
    indexedUsers_ = 0;
  }
  for (; indexedUsers_ < Users.size(); ++indexedUsers_)
    usersByName_.emplace(NameHash(Users[indexedUsers_]->Name), indexedUsers_);
  size_t first = Users.size();
  auto [begin, end] = usersByName_.equal_range(NameHash(name));
  for (auto entry = begin; entry != end; ++entry) {
    const VelmoraUser& user = *Users[entry->second];
    if (entry->second < first && EqualsIgnoreCase(user.Name, name) &&
        EqualsIgnoreCase(user.LastIP, address))
      first = entry->second;
  }
  return first < Users.size() ? Users[first] : nullptr;
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
    user->SetPath(UsersPath());
    Users.push_back(std::move(user));
  }
  if (outcome.failed)
    modGlobal::LogMessage(
        "Error adding user " + modGlobal::LogSafe(username) + " to network " + NetworkName, false);
}

}  // namespace velmora
