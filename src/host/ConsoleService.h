#pragma once
// The operator's console as the running server offers it: while it is on, the loop publishes a
// snapshot of the server a few times a second, and the console's actions come back to the loop
// to run as the server's own operations. Off, it costs the server nothing.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "host/ServerOperations.h"
#include "host/SnapshotTaker.h"
#include "host/console/ActionRunner.h"
#include "host/console/Console.h"
#include "host/console/SnapshotHolder.h"
#include "platform/net/LoopScope.h"
#include "platform/net/Timer.h"

namespace velmora {

class ConsoleService {
 public:
  // How often the loop publishes what the console shows: the page follows members at twice
  // that interval at least.
  static constexpr std::chrono::milliseconds kPublishEvery{250};

  // The server's own objects; they must outlive the service (Stop before they go).
  // `startedAt` is when the server started.
  ConsoleService(const SnapshotTaker::Networks& networks,
                 const SnapshotTaker::Listeners& listeners, BanStore& bans,
                 const ServerCounters& counters, std::time_t startedAt);
  ~ConsoleService();
  ConsoleService(const ConsoleService&) = delete;
  ConsoleService& operator=(const ConsoleService&) = delete;

  // Loop thread. Listens at `address` ("host:port"); throws console::ConsoleError, with a
  // sentence for the log, when it cannot start as configured.
  void Start(const std::string& address, const std::string& token);
  // Loop thread. Stops listening, waits for the requests being answered and publishes no more;
  // actions still waiting for the loop are dropped. A service once stopped stays so.
  void Stop();
  bool Running() const { return console_.Running(); }
  uint16_t Port() const { return console_.Port(); }

 private:
  void PublishNowAndThen();

  SnapshotTaker taker_;
  ServerOperations operations_;
  console::SnapshotHolder snapshots_;
  platform::Timer publishing_;
  // Actions posted to the loop come to nothing once the service stops.
  platform::LoopScope actionsOnLoop_;
  console::ActionRunner actions_;
  console::Console console_;  // last: its threads stop before the rest goes
};

}  // namespace velmora
