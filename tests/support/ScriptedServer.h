#pragma once
// A stand-in for the server behind the console: a scripted world of networks and members,
// published as snapshots, and console actions that change that world and write the log lines
// the server would. Actions run on a loop thread of its own, which a test can hold still to play
// a server that does not answer.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/console/ActionRunner.h"
#include "host/console/ConsoleOperations.h"
#include "host/console/SnapshotHolder.h"

namespace velmora::testing {

class ScriptedServer : public console::ConsoleOperations {
 public:
  // Lobby (port 5000, 10 seats) with Ann in battle at 10,20 on facet 1 and Bob dead at 300,40,
  // Bob's address banned once; Arena (port 5001), disabled and empty.
  static console::ConsoleSnapshot SampleWorld();

  explicit ScriptedServer(console::ConsoleSnapshot world = SampleWorld());
  ~ScriptedServer() override;

  // Changes the world and publishes it at once.
  void Change(const std::function<void(console::ConsoleSnapshot&)>& change);
  console::ConsoleSnapshot World() const;
  const console::SnapshotHolder& Snapshots() const { return snapshots_; }
  // Posts to the loop thread.
  console::ActionRunner::Post Poster();
  // While held, the loop thread runs nothing.
  void Hold(bool held);
  std::vector<std::string> Log() const;

  console::ActionResult Kick(const std::string& network, const std::string& user,
                             const std::string& reason) override;
  console::ActionResult Ban(const std::string& network, const std::string& user,
                            const std::string& reason) override;
  console::ActionResult LiftBan(const std::string& network, int64_t banId) override;
  console::ActionResult Announce(const std::string& network, const std::string& text) override;

 private:
  void RunLoop();
  // Removes the members of that name; their addresses, or nothing when none was there.
  std::vector<std::string> Remove(console::NetworkView& network, const std::string& user);
  void PublishLocked();

  mutable std::mutex mutex_;
  console::ConsoleSnapshot world_;
  std::vector<std::string> log_;
  console::SnapshotHolder snapshots_;

  std::mutex loopMutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> work_;
  bool held_ = false;
  bool stop_ = false;
  std::thread loop_;
};

}  // namespace velmora::testing
