#include "networks/NetworkReload.h"

#include <algorithm>
#include <utility>

#include "base/Log.h"
#include "base/TextCase.h"
#include "networks/NetworkFiles.h"

namespace velmora {

namespace {

// The unused record among `records` that stands for `user`: the same name from the same address
// first, else the same name. Nothing when there is none.
std::shared_ptr<VelmoraUser> TakeMatchingRecord(std::vector<std::shared_ptr<VelmoraUser>>& records,
                                                const VelmoraUser& user) {
  auto take = [&](auto matches) -> std::shared_ptr<VelmoraUser> {
    auto found = std::find_if(records.begin(), records.end(), [&](const auto& record) {
      return record && matches(*record);
    });
    if (found == records.end()) return nullptr;
    return std::exchange(*found, nullptr);
  };
  auto record = take([&](const VelmoraUser& candidate) {
    return EqualsIgnoreCase(candidate.Name, user.Name) &&
           EqualsIgnoreCase(candidate.LastIP, user.LastIP);
  });
  if (!record)
    record = take([&](const VelmoraUser& candidate) {
      return EqualsIgnoreCase(candidate.Name, user.Name);
    });
  return record;
}

bool SameUsers(const std::vector<std::shared_ptr<VelmoraUser>>& before,
               const std::vector<std::shared_ptr<VelmoraUser>>& after) {
  return std::equal(before.begin(), before.end(), after.begin(), after.end(),
                    [](const auto& a, const auto& b) { return *a == *b; });
}

}  // namespace

bool UpdateNetworkInPlace(ServerNetworks& live, const ServerNetworks& fresh) {
  // Copies of the old values, to tell whether the file said anything new.
  std::vector<std::shared_ptr<VelmoraUser>> before;
  for (const auto& user : live.Users()) before.push_back(std::make_shared<VelmoraUser>(*user));
  bool changed = live.NetworkName != fresh.NetworkName || live.Password != fresh.Password ||
                 live.MaxUsers != fresh.MaxUsers || live.Enabled != fresh.Enabled ||
                 live.Path != fresh.Path;

  std::vector<std::shared_ptr<VelmoraUser>> unused = live.Users();
  std::vector<std::shared_ptr<VelmoraUser>> users;
  std::vector<std::shared_ptr<VelmoraUser>> admins;
  std::vector<std::shared_ptr<VelmoraUser>> bans;
  for (const auto& user : fresh.Users()) {
    auto record = TakeMatchingRecord(unused, *user);
    if (record)
      *record = *user;
    else
      record = std::make_shared<VelmoraUser>(*user);
    if (record->IsAdmin) admins.push_back(record);
    if (record->IsBanned) bans.push_back(record);
    users.push_back(std::move(record));
  }
  changed = changed || !SameUsers(before, users);

  live.NetworkName = fresh.NetworkName;
  live.Password = fresh.Password;
  live.MaxUsers = fresh.MaxUsers;
  live.Enabled = fresh.Enabled;
  live.Path = fresh.Path;
  live.SetUsers(std::move(users));
  live.Admins = std::move(admins);
  live.Bans = std::move(bans);
  return changed;
}

}  // namespace velmora

namespace velmora::modGlobal {

std::vector<ServerNetworks*> ReloadNetworks(const std::optional<std::string>& folder,
                                            std::vector<std::shared_ptr<ServerNetworks>>& networks) {
  std::vector<std::shared_ptr<ServerNetworks>> read;
  LoadNetworks(folder, read);
  // Without the folder nothing can be told about the files: every network stays as it is.
  if (!folder) return {};

  std::vector<ServerNetworks*> matched;
  auto isMatched = [&](const ServerNetworks* record) {
    return std::find(matched.begin(), matched.end(), record) != matched.end();
  };
  // The first record of that name not yet matched, serving ones before retired ones: two files
  // of one name pair up with the two records in order.
  auto findRecord = [&](const std::string& name) -> ServerNetworks* {
    for (bool retired : {false, true})
      for (auto& record : networks)
        if (record->Retired == retired && !isMatched(record.get()) &&
            EqualsIgnoreCase(record->NetworkName, name))
          return record.get();
    return nullptr;
  };

  std::vector<ServerNetworks*> added;
  for (auto& fresh : read) {
    ServerNetworks* record = findRecord(fresh->NetworkName);
    if (record == nullptr) {
      networks.push_back(fresh);
      matched.push_back(fresh.get());
      added.push_back(fresh.get());
      LogMessage("Network added: " + fresh->NetworkName, false);
      continue;
    }
    matched.push_back(record);
    bool changed = UpdateNetworkInPlace(*record, *fresh);
    if (record->Retired) {
      // Back after its file was gone: as good as new, port included.
      record->Retired = false;
      record->Port = fresh->Port;
      added.push_back(record);
      LogMessage("Network added: " + record->NetworkName, false);
      continue;
    }
    if (changed) LogMessage("Network changed: " + record->NetworkName, false);
    if (fresh->Port != record->Port)
      LogMessage("Port of network " + record->NetworkName + " changed to " +
                     std::to_string(fresh->Port) + ": restart the server to listen on it.",
                 false);
  }
  for (auto& record : networks) {
    if (record->Retired || isMatched(record.get())) continue;
    record->Retired = true;
    LogMessage("Network retired: " + record->NetworkName, false);
  }
  return added;
}

}  // namespace velmora::modGlobal
