#include "networks/ServerNetworks.h"

namespace velmora {

ServerNetworks::ServerNetworks(std::string name, std::string password, int64_t maxusers,
                               bool enabled)
    : NetworkName(std::move(name)), Password(std::move(password)), MaxUsers(maxusers),
      Enabled(enabled) {}

void ServerNetworks::AddUserToNetwork(const std::string&, const std::string&) {
  // Registration is built with the network files.
}

}  // namespace velmora
