#include "server/PendingLogins.h"

#include <algorithm>
#include <vector>

#include "platform/net/EventLoop.h"
#include "server/MapConnection.h"
#include "server/MapSocket.h"

namespace velmora {

PendingLogins::PendingLogins(std::chrono::milliseconds deadline)
    : deadline_(deadline) {}

PendingLogins::~PendingLogins() {
  places_.clear();
}

void PendingLogins::PushBack(Place& place) {
  place.prev = tail_;
  place.next = nullptr;
  (tail_ != nullptr ? tail_->next : head_) = &place;
  tail_ = &place;
  ArmSweep();
}

void PendingLogins::Unlink(Place& place) {
  (place.prev != nullptr ? place.prev->next : head_) = place.next;
  (place.next != nullptr ? place.next->prev : tail_) = place.prev;
  place.prev = place.next = nullptr;
}

void PendingLogins::Add(MapConnection& connection, bool prompted) {
  auto [entry, added] = places_.try_emplace(&connection);
  if (!added) return;
  Place& place = entry->second;
  place.connection = &connection;
  place.promptedAt = prompted ? platform::EventLoop::Instance().Now() : Clock::time_point{};
  PushBack(place);
}

void PendingLogins::Prompted(MapConnection& connection) {
  auto entry = places_.find(&connection);
  if (entry == places_.end()) return;
  Place* place = &entry->second;
  // To the back: prompted connections stand in the order of their deadlines.
  Unlink(*place);
  place->promptedAt = platform::EventLoop::Instance().Now();
  PushBack(*place);
}

void PendingLogins::Remove(MapConnection& connection) {
  auto entry = places_.find(&connection);
  if (entry == places_.end()) return;
  Unlink(entry->second);
  places_.erase(entry);
  // After a crowd has logged in, the table of the few still waiting shrinks to their number.
  if (places_.size() * 8 < places_.bucket_count() && places_.bucket_count() > 64)
    places_.rehash(0);
}

bool PendingLogins::ShedOldest() {
  if (head_ == nullptr) return false;
  MapConnection& connection = *head_->connection;
  auto keepAlive = connection.shared_from_this();
  connection.Parent().CallStatusMessage(connection.RemoteAddress() +
                                        ": Dropped For A Newcomer, Out Of Descriptors.");
  connection.Depart(MapConnection::kErrorShedForNewcomer, DepartureReason::kOther);
  Remove(connection);
  return true;
}

void PendingLogins::Sweep(Clock::time_point now) {
  // Collect first (and keep alive): ending one connection frees its place in the list.
  std::vector<std::shared_ptr<MapConnection>> expired;
  for (Place* place = head_; place != nullptr; place = place->next) {
    if (place->promptedAt == Clock::time_point{}) continue;  // its lookup still runs
    // Those behind were prompted later still.
    if (now - place->promptedAt < deadline_) break;
    expired.push_back(
        std::static_pointer_cast<MapConnection>(place->connection->shared_from_this()));
  }
  for (const auto& connection : expired) {
    if (!Listed(*connection)) continue;
    connection->Parent().CallStatusMessage(connection->RemoteAddress() + ": Login Timed Out.");
    connection->Depart(MapConnection::kErrorLoginDeadline, DepartureReason::kDeadline);
    Remove(*connection);
  }
}

void PendingLogins::ArmSweep() {
  if (sweep_.Pending() || head_ == nullptr) return;
  auto interval = std::min<std::chrono::milliseconds>(kSweepInterval, deadline_);
  sweep_ = platform::EventLoop::Instance().After(interval, [this] {
    Sweep(platform::EventLoop::Instance().Now());
    ArmSweep();
  });
}

}  // namespace velmora
