#pragma once
// The console's JSON answers, built from a snapshot. Times are ISO 8601 in UTC.
#include <string>

#include "host/console/ConsoleOperations.h"
#include "host/console/ConsoleSnapshot.h"

namespace velmora::console {

// {"takenAt", "networks": [{"name", "port", "enabled", "seatsUsed", "capacity", "members"}]}
std::string NetworksJson(const ConsoleSnapshot& snapshot);
// {"takenAt", "network", "members": [{"name", "address", "location", "country", "x", "y",
// "facet", "hp", "inBattle", "isDead", "connectedSince", "messagesSent"}]}
std::string MembersJson(const ConsoleSnapshot& snapshot, const NetworkView& network);
// {"takenAt", "network", "bans": [{"id", "address", "by", "reason", "banDate"}]}
std::string BansJson(const ConsoleSnapshot& snapshot, const NetworkView& network);
// {"ok": false, "error": text} or {"ok": true, "message": text}
std::string ResultJson(bool ok, const std::string& text);
// The answer to an action: ResultJson, and for a kick or a ban "removed", the number of the
// member's connections it ended (0: nobody of that name was there).
std::string ActionJson(const ActionResult& result, bool removes);
// {"tokenConfigured", "reads", "actions"}: what this request may do.
std::string AccessJson(bool tokenConfigured, bool reads, bool actions);

}  // namespace velmora::console
