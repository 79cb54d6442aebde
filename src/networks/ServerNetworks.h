#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "networks/VelmoraUser.h"

namespace velmora {

// One network: its definition from the network file, its users and its current seat count.
// Records live as long as the program; connections refer to them without owning them.
class ServerNetworks {
 public:
  // Records that `username` logged in from `address` in the network file (see the .cpp); false
  // when the file could not be read or written (with no file, there is nothing to record).
  bool AddUserToNetwork(const std::string& username, const std::string& address);

  ServerNetworks() = default;
  ServerNetworks(std::string name, std::string password, int64_t maxusers, bool enabled);

  // Counts one more connection in CurrentUsers when the network is enabled and not full; false,
  // and nothing counted, otherwise. Seat (networks/Seat.h) is the way to hold one.
  bool TakeSeat();
  void ReturnSeat() { --CurrentUsers; }

  std::string NetworkName;
  std::string Password;
  int64_t MaxUsers = 0;
  int64_t CurrentUsers = 0;
  bool Enabled = false;
  int64_t Port = 0;
  std::string Path;  // empty: no file
  // Admins and Bans hold the very records that Users holds; membership is by identity.
  std::vector<std::shared_ptr<VelmoraUser>> Users;
  std::vector<std::shared_ptr<VelmoraUser>> Admins;
  std::vector<std::shared_ptr<VelmoraUser>> Bans;
};

}  // namespace velmora
