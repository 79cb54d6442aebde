#include "networks/Registrar.h"

#include "networks/ServerNetworks.h"

namespace velmora {

void Registrar::Record(ServerNetworks& network, const std::string& username,
                       const std::string& address, Recorded recorded) {
  network.AddUserToNetwork(username, address);
  recorded();
}

}  // namespace velmora
