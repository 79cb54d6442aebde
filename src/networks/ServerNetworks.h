#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "networks/VelmoraUser.h"

namespace velmora {

class ClientSocket;

// One network: its definition from the network file, its users and its current seat count.
class ServerNetworks {
 public:
  // Records the log-in of `client` in the network file (see ServerNetworks.cpp).
  void AddUserToNetwork(const ClientSocket& client);
  // The same for a user name and address; the connection-free core of the above.
  void AddUserToNetwork(const std::string& username, const std::string& address);

  ServerNetworks() = default;
  ServerNetworks(std::string name, std::string password, int64_t maxusers, bool enabled);

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
