#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/HashIndex.h"
#include "networks/VelmoraUser.h"

namespace velmora {

struct RecordOutcome;

// One network: its definition from the network file, its users and its current seat count.
// Records live as long as the program; connections refer to them without owning them.
class ServerNetworks {
 public:
  // Records that `username` logged in from `address` in the network file, on the calling
  // thread; the log-ins of a running server go through Registrar instead.
  void AddUserToNetwork(const std::string& username, const std::string& address);
  // Acts on what recording a log-in in the file came to: a record for a user the file did not
  // know, and the log lines for a failure and for an administrator's address kept.
  void TakeOutcome(const std::string& username, const std::string& address,
                   const RecordOutcome& outcome);

  ServerNetworks() = default;
  ServerNetworks(std::string name, std::string password, int64_t maxusers, bool enabled);

  // Counts one more connection in CurrentUsers when the network is enabled and not full; false,
  // and nothing counted, otherwise. Seat (networks/Seat.h) is the way to hold one.
  bool TakeSeat();
  void ReturnSeat() { --CurrentUsers; }

  // The first record of Users whose Name and LastIP equal these (any letter case), or nothing.
  // The lookup indexes what was appended to Users since it last ran.
  std::shared_ptr<VelmoraUser> FindUser(std::string_view name, std::string_view address);
  // Users was assigned anew rather than appended to: the index of names starts over.
  void UsersReplaced();

  std::string NetworkName;
  std::string Password;
  int64_t MaxUsers = 0;
  int64_t CurrentUsers = 0;
  bool Enabled = false;
  int64_t Port = 0;
  std::string Path;  // empty: no file
  // Its file went away or no longer reads: a reload keeps the record for the members still on
  // it, but a selection no longer finds it.
  bool Retired = false;
  // Admins and Bans hold the very records that Users holds; membership is by identity.
  std::vector<std::shared_ptr<VelmoraUser>> Users;
  std::vector<std::shared_ptr<VelmoraUser>> Admins;
  std::vector<std::shared_ptr<VelmoraUser>> Bans;

 private:
  // Positions in Users, plus one, by the hash of the name without letter case: a log-in into a
  // network of many thousand users must not walk them all on the loop's thread.
  HashIndex<uint32_t> usersByName_;
  size_t indexedUsers_ = 0;
};

}  // namespace velmora
