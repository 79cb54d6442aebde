#pragma once
// The connections that have not logged in yet, over every listener, oldest first. Whoever has
// not logged in kLoginDeadline after its network prompt is ended, by one sweep a second for the
// whole server; and when the server runs short of descriptors, the oldest of them makes room for
// a newcomer. Members are not in the list: they cost nothing here and are never shed.
#include <chrono>
#include <cstddef>
#include <memory>

#include <absl/container/node_hash_map.h>

#include "platform/net/Timer.h"

namespace velmora {

class MapConnection;

class PendingLogins {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr std::chrono::seconds kLoginDeadline{60};
  static constexpr std::chrono::seconds kSweepInterval{1};

  // `deadline` shorter than kLoginDeadline only for tests that must not wait a minute.
  explicit PendingLogins(std::chrono::milliseconds deadline = kLoginDeadline);
  ~PendingLogins();
  PendingLogins(const PendingLogins&) = delete;
  PendingLogins& operator=(const PendingLogins&) = delete;

  // A connection that has not logged in: accepted (its deadline starts with the prompt), or one
  // that has left its network (prompted long ago, so its deadline starts now).
  void Add(MapConnection& connection, bool prompted);
  // The prompt has gone out to `connection`: its deadline starts now.
  void Prompted(MapConnection& connection);
  // Logged in, or gone. Nothing for a connection that is not listed. The listener takes every
  // connection it accepted off the list before it lets the connection go.
  void Remove(MapConnection& connection);
  bool Listed(const MapConnection& connection) const { return places_.contains(&connection); }

  // Ends the oldest connection that has not logged in, to free its descriptor; false when there
  // is none.
  bool ShedOldest();
  // Ends every connection whose deadline has passed at `now`.
  void Sweep(Clock::time_point now);

  size_t Count() const { return places_.size(); }
  std::chrono::milliseconds Deadline() const { return deadline_; }

 private:
  // Where a connection stands in the list.
  struct Place {
    MapConnection* connection = nullptr;
    Place* prev = nullptr;
    Place* next = nullptr;
    Clock::time_point promptedAt{};  // the epoch until prompted
  };

  void PushBack(Place& place);
  void Unlink(Place& place);
  void ArmSweep();

  std::chrono::milliseconds deadline_;
  // The places by connection; a node each, so that the links between them hold.
  absl::node_hash_map<const MapConnection*, Place> places_;
  // Prompted connections stand in prompt order; one not prompted yet keeps its accept place.
  Place* head_ = nullptr;
  Place* tail_ = nullptr;
  platform::Timer sweep_;  // while anyone is listed
};

}  // namespace velmora
