#pragma once
// Copies what the console shows out of the running server: each network with its seats, its
// members as the listeners know them and its bans, the counters, and the connections by where
// they stand in the dialogue. Runs on the loop's thread, which alone touches these objects.
// The members of a big server are copied a bounded number per call, over several passes of the
// loop, so that no pass is held for long by the console.
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

  // Begins a snapshot: the figures, the seats and the bans, no members yet.
  void Begin();
  // Copies up to `budget` more members into the snapshot begun; true once all are in. Members
  // that leave or join between calls may be missed by this snapshot; the next one has them
  // right.
  bool Continue(size_t budget);
  // The snapshot begun, complete or not.
  console::ConsoleSnapshot Finish();
  // The whole snapshot in one go.
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

  // The snapshot being taken and where its copying of members stands: the network (the
  // records are held, so one dropped meanwhile is still there), the listener and the member.
  console::ConsoleSnapshot building_;
  Networks recordsBeingCopied_;
  size_t network_ = 0;
  size_t listener_ = 0;
  size_t member_ = 0;
};

}  // namespace velmora
