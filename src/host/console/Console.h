#pragma once
// The operator's console: a web page with each network's live map, JSON reads, actions and
// /metrics, served on threads of its own from the snapshots the event loop publishes. Off unless
// the settings name an address.
#include <cstdint>
#include <memory>
#include <string>

#include "host/console/ActionRunner.h"
#include "host/console/SnapshotHolder.h"

namespace velmora::platform {
class HttpServer;
}

namespace velmora::console {

class ConsoleRoutes;

class Console {
 public:
  // Both must outlive the console.
  Console(const SnapshotHolder& snapshots, ActionRunner& actions);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Serves at `statusAddress` ("host:port"; empty: the console stays off). The token rules are
  // applied before anything listens: throws ConsoleError, with a sentence for the log, when the
  // console cannot start as configured.
  void Start(const std::string& statusAddress, const std::string& statusToken);
  // Stops listening and waits for the requests being answered.
  void Stop();
  bool Running() const;
  // Loop thread: writes to the log the wrong tokens of minutes now over, a line per address.
  void LogWrongTokens();
  // A token read again by a reload; a different one ends every session. Throws ConsoleError,
  // keeping the old token, when the new one would not have let the console start.
  void ChangeToken(const std::string& statusToken);
  uint16_t Port() const;

 private:
  const SnapshotHolder& snapshots_;
  ActionRunner& actions_;
  std::unique_ptr<ConsoleRoutes> routes_;
  std::unique_ptr<platform::HttpServer> server_;
};

}  // namespace velmora::console
