#pragma once
// What a listener and the connections it accepts need of the server around them, handed down
// by the application when it builds them.
#include <memory>
#include <vector>

namespace velmora {

class BanStore;
class PendingLogins;
class PositionCeiling;
class Registrar;
class ServerNetworks;
struct ServerCounters;

struct ServerContext {
  // The registry of networks, in load order; log-in looks networks up in it by name.
  std::vector<std::shared_ptr<ServerNetworks>>& networks;
  BanStore& bans;
  Registrar& registrar;
  // The connections of every listener that have not logged in yet.
  PendingLogins& pending;
  // What the server has done, for monitoring; written on the loop's thread only.
  ServerCounters& counters;
  // How often each member's positions are relayed at most.
  PositionCeiling& ceiling;
};

}  // namespace velmora
