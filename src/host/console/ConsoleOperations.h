#pragma once
// The server's side of the console's actions, implemented where the server's objects live.
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::console {

struct ConsoleAction {
  enum class Kind { kKick, kBan, kLiftBan, kAnnounce };
  Kind What = Kind::kKick;
  std::string Network;  // as the operator named it; letter case may differ from the network's
  std::string User;     // kick, ban
  std::string Reason;   // kick, ban
  int64_t BanId = 0;    // lift
  std::string Text;     // announce
};

struct ActionResult {
  enum class Outcome {
    kDone,
    kNotFound,  // no such network, member or ban
    kRefused,   // the server would not do it (for example, no database to record a ban in)
  };
  Outcome What = Outcome::kDone;
  // A sentence for the operator.
  std::string Message;
  // Kick and ban: the connections of the member that the action ended.
  size_t Removed = 0;
};

// Every call runs on the event loop's thread and runs the same server operation as the
// administrators' in-band command, logged with "web console" named as its source.
class ConsoleOperations {
 public:
  virtual ~ConsoleOperations() = default;
  virtual ActionResult Kick(const std::string& network, const std::string& user,
                            const std::string& reason) = 0;
  virtual ActionResult Ban(const std::string& network, const std::string& user,
                           const std::string& reason) = 0;
  // Lifts the ban `banId` when it belongs to `network`.
  virtual ActionResult LiftBan(const std::string& network, int64_t banId) = 0;
  virtual ActionResult Announce(const std::string& network, const std::string& text) = 0;
};

}  // namespace velmora::console
