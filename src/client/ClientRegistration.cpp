// Registration of a connection's log-in in its network file.
#include "client/ClientSocket.h"
#include "networks/ServerNetworks.h"

namespace velmora {

void ServerNetworks::AddUserToNetwork(const ClientSocket& client) {
  AddUserToNetwork(client.Username, client.RemoteAddress());
}

}  // namespace velmora
