#pragma once
// What the console shows, copied out of the server by the event loop a few times a second. The
// HTTP threads read only these copies, never the server's own objects.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "protocol/Position.h"
#include "protocol/ServerCounters.h"

namespace velmora::console {

struct MemberView {
  std::string Name;
  std::string Address;
  // Empty until the address has been looked up, and where the service named nothing.
  std::string Location;
  std::string Country;
  PositionReport Position;  // the last report
  std::time_t ConnectedSince = 0;
  uint64_t MessagesSent = 0;
};

struct BanView {
  int64_t Id = 0;
  std::string Address;
  std::string By;
  std::string Reason;
  std::time_t BanDate = 0;
};

struct NetworkView {
  std::string Name;
  int64_t Port = 0;
  bool Enabled = false;
  int64_t SeatsUsed = 0;
  int64_t Capacity = 0;
  std::vector<MemberView> Members;
  std::vector<BanView> Bans;
};

// Connections by where they stand in the dialogue.
struct ConnectionCounts {
  uint64_t WaitingForLookup = 0;
  uint64_t LoggingIn = 0;
  uint64_t LoggedIn = 0;
};

struct ConsoleSnapshot {
  std::time_t TakenAt = 0;
  // When this run of the server began; the counters count from then.
  std::time_t StartedAt = 0;
  std::vector<NetworkView> Networks;
  ServerCounters Counters;
  ConnectionCounts Connections;
  // Bytes waiting in the connections' output queues.
  uint64_t OutputQueueBytes = 0;

  // The network of that name, compared without regard to letter case; nullptr when none.
  const NetworkView* FindNetwork(const std::string& name) const;
};

}  // namespace velmora::console
