#pragma once
// The console's answers to requests: the page, /metrics, the JSON reads and the actions. Runs on
// the HTTP threads; reads only published snapshots and reaches the server only through the
// action runner.
#include <memory>

#include "host/console/ActionRunner.h"
#include "host/console/ConsoleAccess.h"
#include "host/console/MembersJsonCache.h"
#include "host/console/SnapshotHolder.h"
#include "platform/adapters/HttpServer.h"

namespace velmora::console {

class ConsoleRoutes {
 public:
  // Bounds on what an operator may send with an action.
  static constexpr size_t kMaxNameBytes = 256;
  static constexpr size_t kMaxTextBytes = 1024;

  ConsoleRoutes(const SnapshotHolder& snapshots, ActionRunner& actions, ConsoleAccess access);

  platform::HttpServerResponse Handle(const platform::HttpServerRequest& request) const;
  ConsoleAccess& Access() { return access_; }

 private:
  using Request = platform::HttpServerRequest;
  using Response = platform::HttpServerResponse;

  Response Page(const Request& request) const;
  Response Metrics() const;
  Response Access(const Request& request) const;
  Response LogIn(const Request& request) const;
  Response LogOut(const Request& request) const;
  Response Read(const Request& request) const;
  Response Act(const Request& request) const;

  const SnapshotHolder& snapshots_;
  ActionRunner& actions_;
  ConsoleAccess access_;
  mutable MembersJsonCache membersJson_;
};

}  // namespace velmora::console
