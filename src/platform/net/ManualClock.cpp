#include "platform/net/ManualClock.h"

#include <algorithm>

#include "platform/net/EventLoop.h"

namespace velmora::platform {

ManualClock::ManualClock() : previous_(EventLoop::Instance().clock_) {
  EventLoop::Instance().clock_ = this;
}

ManualClock::~ManualClock() { EventLoop::Instance().clock_ = previous_; }

void ManualClock::Advance(Duration by) {
  now_ += by;
  while (!waits_.empty() && waits_.begin()->first.first <= now_) {
    auto due = waits_.extract(waits_.begin());
    if (!due.mapped().owner.expired()) EventLoop::Instance().Post(std::move(due.mapped().fire));
  }
}

void ManualClock::AdvanceWithin(Duration limit) {
  auto next = NextDue();
  Advance(next && *next - now_ < limit ? *next - now_ : limit);
}

std::optional<ManualClock::TimePoint> ManualClock::NextDue() {
  while (!waits_.empty() && waits_.begin()->second.owner.expired()) waits_.erase(waits_.begin());
  if (waits_.empty()) return std::nullopt;
  return waits_.begin()->first.first;
}

void ManualClock::Schedule(LoopKey, Duration delay, std::weak_ptr<void> owner,
                           std::function<void()> fire) {
  waits_.emplace(std::make_pair(now_ + std::max(delay, Duration::zero()), ++started_),
                 Wait{std::move(owner), std::move(fire)});
  // A timer due now runs in the next handlers, as an elapsed real one does.
  Advance(Duration::zero());
}

}  // namespace velmora::platform
