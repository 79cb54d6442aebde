#pragma once
// The console's actions carried out by the server: each runs the operation behind the
// administrators' in-band command on every listener that serves the network, after a log line
// that names the web console as its source. Loop thread only.
#include <memory>
#include <string>
#include <vector>

#include "host/console/ConsoleOperations.h"

namespace velmora {

class BanStore;
class MapSocket;
class ServerNetworks;

class ServerOperations final : public console::ConsoleOperations {
 public:
  using Networks = std::vector<std::shared_ptr<ServerNetworks>>;
  using Listeners = std::vector<std::unique_ptr<MapSocket>>;
  // Who a ban from the console is recorded as being by.
  static constexpr const char* kSource = "web console";

  // The server's own networks, listeners and ban store, read at every call.
  ServerOperations(const Networks& networks, const Listeners& listeners, BanStore& bans);

  console::ActionResult Kick(const std::string& network, const std::string& user,
                             const std::string& reason) override;
  console::ActionResult Ban(const std::string& network, const std::string& user,
                            const std::string& reason) override;
  console::ActionResult LiftBan(const std::string& network, int64_t banId) override;
  console::ActionResult Announce(const std::string& network, const std::string& text) override;

 private:
  // The first network of that name, letter case aside, or nullptr.
  const ServerNetworks* FindNetwork(const std::string& name) const;
  // The listeners on which someone is logged in as `user` on a network named `network`.
  std::vector<MapSocket*> ListenersWith(const std::string& network, const std::string& user) const;

  const Networks& networks_;
  const Listeners& listeners_;
  BanStore& bans_;
};

}  // namespace velmora
