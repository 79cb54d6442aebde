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
  while (head_ != nullptr) Remove(*head_->connection);
}

void PendingLogins::PushBack(PendingPlace& place) {
  place.list = this;
  place.prev = tail_;
  place.next = nullptr;
  (tail_ != nullptr ? tail_->next : head_) = &place;
  tail_ = &place;
  ++count_;
  ArmSweep();
}

void PendingLogins::Unlink(PendingPlace& place) {
  (place.prev != nullptr ? place.prev->next : head_) = place.next;
  (place.next != nullptr ? place.next->prev : tail_) = place.prev;
  place.prev = place.next = nullptr;
  --count_;
}

void PendingLogins::Add(MapConnection& connection, bool prompted) {
  if (connection.pendingPlace_ != nullptr) return;
  auto* place = new PendingPlace;
  place->connection = &connection;
  place->promptedAt = prompted ? platform::EventLoop::Instance().Now() : Clock::time_point{};
  connection.pendingPlace_ = place;
  PushBack(*place);
}

void PendingLogins::Prompted(MapConnection& connection) {
  PendingPlace* place = connection.pendingPlace_;
  if (place == nullptr || place->list != this) return;
  // To the back: prompted connections stand in the order of their deadlines.
  Unlink(*place);
  place->promptedAt = platform::EventLoop::Instance().Now();
  PushBack(*place);
}

void PendingLogins::Remove(MapConnection& connection) {
  PendingPlace* place = connection.pendingPlace_;
  if (place == nullptr || place->list != this) return;
  Unlink(*place);
  connection.pendingPlace_ = nullptr;
  delete place;
}

void PendingLogins::Forget(MapConnection& connection) {
  if (connection.pendingPlace_ != nullptr) connection.pendingPlace_->list->Remove(connection);
}

bool PendingLogins::ShedOldest() {
  if (head_ == nullptr) return false;
  MapConnection& connection = *head_->connection;
  auto keepAlive = connection.shared_from_this();
  connection.myParent.CallStatusMessage(connection.RemoteAddress() +
                                        ": Dropped For A Newcomer, Out Of Descriptors.");
  connection.Depart(MapConnection::kErrorShedForNewcomer);
  Remove(connection);
  return true;
}

void PendingLogins::Sweep(Clock::time_point now) {
  // Collect first (and keep alive): ending one connection frees its place in the list.
  std::vector<std::shared_ptr<MapConnection>> expired;
  for (PendingPlace* place = head_; place != nullptr; place = place->next) {
    if (place->promptedAt == Clock::time_point{}) continue;  // its lookup still runs
    // Those behind were prompted later still.
    if (now - place->promptedAt < deadline_) break;
    expired.push_back(
        std::static_pointer_cast<MapConnection>(place->connection->shared_from_this()));
  }
  for (const auto& connection : expired) {
    if (connection->pendingPlace_ == nullptr) continue;
    connection->myParent.CallStatusMessage(connection->RemoteAddress() + ": Login Timed Out.");
    connection->Depart(MapConnection::kErrorLoginDeadline);
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
