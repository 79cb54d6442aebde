#pragma once
// Copies what the console shows out of the running server: each network with its seats, its
// members as the listeners know them and its bans, the counters, and the connections by where
// they stand in the dialogue. Runs on the loop's thread, which alone touches these objects.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/console/ConsoleSnapshot.h"

namespace velmora {

class BanStore;
class MapSocket;
class ServerNetworks;
struct ServerCounters;

class SnapshotTaker {
 public:
  using Networks = std::vector<std::shared_ptr<ServerNetworks>>;
  using Listeners = std::vector<std::unique_ptr<MapSocket>>;
  // The newest bans of a network that a snapshot carries; a table grown past that would make
  // every snapshot a copy of it.
  static constexpr size_t kMaxBansShown = 500;

  // The first four are the server's own, read at every Take; networks and listeners may grow.
  SnapshotTaker(const Networks& networks, const Listeners& listeners, BanStore& bans,
                const ServerCounters& counters, std::time_t startedAt);

  console::ConsoleSnapshot Take();

 private:
  // The ban lists are read from the database only after a ban or a lift, not at every Take.
  const std::vector<console::BanView>& BansOf(const std::string& network);

  const Networks& networks_;
  const Listeners& listeners_;
  BanStore& bans_;
  const ServerCounters& counters_;
  std::time_t startedAt_;
  std::unordered_map<std::string, std::vector<console::BanView>> banLists_;  // by folded name
  uint64_t banRevision_ = 0;
};

}  // namespace velmora
