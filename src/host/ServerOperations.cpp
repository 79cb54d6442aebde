#include "host/ServerOperations.h"

#include "base/Log.h"
#include "base/TextCase.h"
#include "networks/ServerNetworks.h"
#include "server/BanStore.h"
#include "server/MapSocket.h"

namespace velmora {

namespace {

using console::ActionResult;

ActionResult NoNetwork(const std::string& name) {
  return {ActionResult::Outcome::kNotFound, "no network is named \"" + name + "\""};
}

ActionResult NotThere(const std::string& user, const std::string& network) {
  return {ActionResult::Outcome::kNotFound, user + " is not logged in on " + network};
}

// "Ann was removed from Lobby", "Ann was banned and removed from Lobby (2 connections)".
std::string Removed(const std::string& user, const std::string& how, const std::string& network,
                    size_t connections) {
  std::string text = user + " was " + how + "removed from " + network;
  if (connections > 1) text += " (" + std::to_string(connections) + " connections)";
  return text;
}

// "<what> on network <name> by the web console<rest>": the line that tells an operator's action
// from an administrator's.
void LogSource(const std::string& what, const std::string& network,
               const std::string& rest = "") {
  modGlobal::LogMessage(what + " on network " + modGlobal::LogSafe(network) + " by the " +
                            ServerOperations::kSource + rest,
                        false);
}

}  // namespace

ServerOperations::ServerOperations(const Networks& networks, const Listeners& listeners,
                                   BanStore& bans)
    : networks_(networks), listeners_(listeners), bans_(bans) {}

const ServerNetworks* ServerOperations::FindNetwork(const std::string& name) const {
  for (auto& network : networks_)
    if (EqualsIgnoreCase(network->NetworkName, name)) return network.get();
  return nullptr;
}

std::vector<MapSocket*> ServerOperations::ListenersWith(const std::string& network,
                                                        const std::string& user) const {
  std::vector<MapSocket*> found;
  for (auto& listener : listeners_) {
    bool there = false;
    for (auto& record : networks_) {
      if (!EqualsIgnoreCase(record->NetworkName, network)) continue;
      for (const MapConnection* member : listener->Members(record.get()))
        there = there || EqualsIgnoreCase(member->Username(), user);
    }
    if (there) found.push_back(listener.get());
  }
  return found;
}

ActionResult ServerOperations::Kick(const std::string& network, const std::string& user,
                                    const std::string& reason) {
  const ServerNetworks* record = FindNetwork(network);
  if (record == nullptr) return NoNetwork(network);
  auto listeners = ListenersWith(record->NetworkName, user);
  if (listeners.empty()) return NotThere(user, record->NetworkName);
  LogSource("Kick of " + modGlobal::LogSafe(user), record->NetworkName);
  size_t removed = 0;
  for (MapSocket* listener : listeners)
    removed += listener->KickUser(user, record->NetworkName, reason);
  // The answer says what the listeners did, not what was asked of them.
  if (removed == 0) return NotThere(user, record->NetworkName);
  return {ActionResult::Outcome::kDone, Removed(user, "", record->NetworkName, removed), removed};
}

ActionResult ServerOperations::Ban(const std::string& network, const std::string& user,
                                   const std::string& reason) {
  const ServerNetworks* record = FindNetwork(network);
  if (record == nullptr) return NoNetwork(network);
  auto listeners = ListenersWith(record->NetworkName, user);
  if (listeners.empty()) return NotThere(user, record->NetworkName);
  LogSource("Ban of " + modGlobal::LogSafe(user), record->NetworkName);
  size_t stored = 0;
  for (MapSocket* listener : listeners)
    stored += listener->BanUser(kSource, record->NetworkName, user, reason);
  if (stored == 0)
    return {ActionResult::Outcome::kRefused,
            "the ban of " + user + " could not be stored; the server's log says why"};
  return {ActionResult::Outcome::kDone,
          Removed(user, "banned and ", record->NetworkName, stored), stored};
}

ActionResult ServerOperations::LiftBan(const std::string& network, int64_t banId) {
  const ServerNetworks* record = FindNetwork(network);
  if (record == nullptr) return NoNetwork(network);
  std::string ban = "ban " + std::to_string(banId);
  if (!bans_.Lift(banId, record->NetworkName))
    return {ActionResult::Outcome::kNotFound, record->NetworkName + " has no " + ban};
  LogSource("Lift of " + ban, record->NetworkName);
  return {ActionResult::Outcome::kDone, "The " + ban + " was lifted"};
}

ActionResult ServerOperations::Announce(const std::string& network, const std::string& text) {
  const ServerNetworks* record = FindNetwork(network);
  if (record == nullptr) return NoNetwork(network);
  LogSource("Announcement", record->NetworkName, ": " + modGlobal::LogSafe(text));
  for (auto& listener : listeners_) listener->BroadcastMessage(text, record->NetworkName);
  return {ActionResult::Outcome::kDone, "announced on " + record->NetworkName};
}

}  // namespace velmora
