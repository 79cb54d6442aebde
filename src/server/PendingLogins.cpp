#include "server/PendingLogins.h"

#include <algorithm>

#include "platform/EventLoop.h"
#include "server/MapConnection.h"
#include "server/MapSocket.h"

namespace velmora {

PendingLogins::PendingLogins(std::chrono::milliseconds deadline)
    : deadline_(deadline), alive_(std::make_shared<bool>(true)) {}

PendingLogins::~PendingLogins() {
  *alive_ = false;
  while (head_ != nullptr) Remove(*head_);
}

void PendingLogins::PushBack(MapConnection& connection) {
  connection.pendingList_ = this;
  connection.pendingPrev_ = tail_;
  connection.pendingNext_ = nullptr;
  (tail_ != nullptr ? tail_->pendingNext_ : head_) = &connection;
  tail_ = &connection;
  ++count_;
  ArmSweep();
}

void PendingLogins::Add(MapConnection& connection, bool prompted) {
  if (connection.pendingList_ != nullptr) return;
  connection.promptedAt_ = prompted ? Clock::now() : Clock::time_point{};
  PushBack(connection);
}

void PendingLogins::Prompted(MapConnection& connection) {
  if (connection.pendingList_ != this) return;
  // To the back: prompted connections stand in the order of their deadlines.
  Remove(connection);
  connection.promptedAt_ = Clock::now();
  PushBack(connection);
}

void PendingLogins::Remove(MapConnection& connection) {
  if (connection.pendingList_ != this) return;
  (connection.pendingPrev_ != nullptr ? connection.pendingPrev_->pendingNext_ : head_) =
      connection.pendingNext_;
  (connection.pendingNext_ != nullptr ? connection.pendingNext_->pendingPrev_ : tail_) =
      connection.pendingPrev_;
  connection.pendingList_ = nullptr;
  connection.pendingPrev_ = connection.pendingNext_ = nullptr;
  --count_;
}

bool PendingLogins::ShedOldest() {
  if (head_ == nullptr) return false;
  MapConnection& connection = *head_;
  auto keepAlive = connection.shared_from_this();
  connection.myParent.CallStatusMessage(connection.RemoteAddress() +
                                        ": Dropped For A Newcomer, Out Of Descriptors.");
  connection.Depart(MapConnection::kErrorShedForNewcomer);
  Remove(connection);
  return true;
}

void PendingLogins::Sweep(Clock::time_point now) {
  MapConnection* next = head_;
  while (next != nullptr) {
    MapConnection& connection = *next;
    next = connection.pendingNext_;
    if (connection.promptedAt_ == Clock::time_point{}) continue;  // its lookup still runs
    // Those behind were prompted later still.
    if (now - connection.promptedAt_ < deadline_) break;
    auto keepAlive = connection.shared_from_this();
    connection.myParent.CallStatusMessage(connection.RemoteAddress() + ": Login Timed Out.");
    connection.Depart(MapConnection::kErrorLoginDeadline);
    Remove(connection);
  }
}

void PendingLogins::ArmSweep() {
  if (sweepArmed_ || head_ == nullptr) return;
  sweepArmed_ = true;
  auto interval = std::min<std::chrono::milliseconds>(kSweepInterval, deadline_);
  platform::EventLoop::Instance().After(interval, [this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.expired()) return;
    sweepArmed_ = false;
    Sweep(Clock::now());
    ArmSweep();
  });
}

}  // namespace velmora
