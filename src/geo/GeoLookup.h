#pragma once
// Where a client's address lies, asked of the geolocation service, and the flag picture for it
// from the flag service. Lookups run in the background so that a slow or silent service delays
// only the connection it concerns; each result comes back on the event loop's thread.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "client/Locator.h"
#include "platform/adapters/Picture.h"
#include "platform/net/LoopScope.h"
#include "protocol/ServerCounters.h"

namespace velmora {
namespace platform {
struct HttpResult;
}

class GeoLookup final : public Locator {
 public:
  // Lookups with requests out at once; further ones wait their turn in arrival order.
  static constexpr size_t kDefaultMaxInFlight = 4;
  // How long a lookup may wait for its turn before it is answered with no location: services
  // that trickle must not hold up the connections queued behind the ones they are asked about.
  static constexpr std::chrono::milliseconds kMaxQueueWait{2000};
  // The file that holds the last flag downloaded, in the flag folder.
  static constexpr const char* kFlagFileName = "ve_flag.gif";

  // How long lookups may take. The defaults are the server's; tests shorten them so that they
  // need not sit out the real time-outs.
  struct Timings {
    // Either request is given up once this long passes without data arriving.
    std::chrono::milliseconds Inactivity{2000};
    // Bounds on the whole of each request, however the data trickles in: a service that
    // drips forever would otherwise hold the connection's prompt, and a place in the lookups
    // in flight, for good.
    std::chrono::milliseconds LocationTotal{20000};
    std::chrono::milliseconds FlagTotal{5000};
    std::chrono::milliseconds MaxQueueWait = kMaxQueueWait;
  };

  // Each lookup that asks the location service is counted in `counters` by its outcome, with
  // the time from the question to the answer, its wait for a turn included.
  explicit GeoLookup(ServerCounters& counters);
  ~GeoLookup() override;

  // Looks `address` up in the background; `done` runs later on the loop's thread, never inside
  // Locate, once both requests have ended. Loop thread only, like everything here.
  Ticket Locate(const std::string& address, Done done) override;
  // The connection has ended: its lookup is given up and `done` never runs.
  void Cancel(Ticket ticket) override;

  // "host" or "host:port" of each service; "" turns that request off.
  void SetHosts(std::string geoHost, std::string flagHost);
  void SetMaxInFlight(size_t limit);
  // For the lookups asked from now on.
  void SetTimings(Timings timings) { timings_ = timings; }
  // Where ve_flag.gif goes; nothing means the system's temporary folder.
  void SetFlagFolder(std::optional<std::string> folder);

  size_t InFlightCount() const { return running_.size(); }
  size_t QueuedCount() const { return queued_.size(); }

 private:
  struct Lookup;
  void StartQueued();
  void GiveUpWaiting(Ticket ticket);
  void Start(Lookup& lookup);
  void OnLocation(Ticket ticket, platform::HttpResult result);
  void OnFlag(Ticket ticket, std::string body);
  void RequestEnded(Ticket ticket);
  void Count(const Lookup& lookup, LookupOutcome outcome);
  std::optional<std::string> FlagFolder() const;

  ServerCounters& counters_;
  std::string geoHost_;
  std::string flagHost_;
  std::optional<std::string> flagFolder_;
  size_t maxInFlight_ = kDefaultMaxInFlight;
  Timings timings_;
  Ticket nextTicket_ = 1;
  std::deque<std::unique_ptr<Lookup>> queued_;
  std::unordered_map<Ticket, std::unique_ptr<Lookup>> running_;
  // Answers that need no request; the requests themselves are cancelled when this goes.
  platform::LoopScope answers_;
};

}  // namespace velmora
