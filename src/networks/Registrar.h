#pragma once
// Records log-ins in the network files: the address a user logged in from, and users the file
// does not know yet. A log-in is answered only once its record is on disk, so that no crash can
// lose a user who was told "OK".
//
// Rewriting a file costs as much as the file is large, so it runs off the loop's thread, and
// the log-ins that arrive for one file within a few milliseconds, or while its last rewrite
// runs, share one rewrite. A file is never rewritten twice at once.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "networks/LogInRecords.h"
#include "platform/net/BackgroundWorker.h"
#include "platform/net/Timer.h"

namespace velmora {

class ServerNetworks;
struct ServerCounters;

class Registrar {
 public:
  using Recorded = std::function<void()>;

  // How long the first log-in for a file that is not being rewritten waits for others to join it.
  static constexpr std::chrono::milliseconds kGatherTime{2};
  // Files rewritten at once (each by its own thread); a large file then holds up no other.
  static constexpr size_t kRewriters = 2;

  // Every rewrite of a network file is counted in `counters`, with the time it took.
  explicit Registrar(ServerCounters& counters);
  ~Registrar();
  Registrar(const Registrar&) = delete;
  Registrar& operator=(const Registrar&) = delete;

  // Records that `username` logged in from `address` on `network`; `recorded` runs on the
  // loop's thread once the file holds it, or once its failure has been logged. A network
  // without a file has nothing to record: `recorded` runs at once.
  void Record(ServerNetworks& network, const std::string& username, const std::string& address,
              Recorded recorded);

  // Log-ins waiting for their record, over every file.
  size_t Waiting() const { return waiting_; }
  // Rewrites started so far, each of one file for a batch of log-ins.
  size_t Batches() const { return batches_; }

 private:
  struct LogIn {
    ServerNetworks* network;
    LogInRecord record;
    Recorded recorded;
  };
  struct File {
    std::vector<LogIn> gathered;   // waiting for the next rewrite
    std::vector<LogIn> rewriting;  // in the rewrite under way
    platform::Timer gathering;     // a rewrite starts when it ends
    std::chrono::steady_clock::time_point started;  // of the rewrite under way
  };

  void Start(const std::string& path);
  void Finish(const std::string& path, BatchOutcome outcome);

  ServerCounters& counters_;
  std::unordered_map<std::string, File> files_;
  size_t waiting_ = 0;
  size_t batches_ = 0;
  // Last: joined before the rest goes; results and gathering timers end with this object.
  platform::BackgroundWorker worker_;
};

}  // namespace velmora
