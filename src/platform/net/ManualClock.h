#pragma once
// Time that moves only when a test moves it, for tests and fuzzers that must run the same way
// every time. While one is installed the event loop's Now() is its time, timers started
// meanwhile come due by it, a pass that would wait lets it run forward instead of waiting, and
// no pass's delivery is cut short by the clock. Loop thread only.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "platform/net/LoopKey.h"

namespace velmora::platform {

class ManualClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::steady_clock::duration;

  // Installs itself on the loop, which goes back to the clock before it when this one goes.
  // Timers it holds that have not come due by then never do.
  ManualClock();
  ~ManualClock();
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  TimePoint Now() const { return now_; }
  // Moves time on; the timers that come due run in the loop's next handlers, in the order of
  // their due times (of their starts, among timers due together).
  void Advance(Duration by);
  // Moves time on to the first timer due within `limit`, or by `limit` when none is.
  void AdvanceWithin(Duration limit);
  // When the first timer that may still run is due.
  std::optional<TimePoint> NextDue();

  // A timer on this clock: `fire` goes to the loop once `delay` has passed, while `owner` lives.
  void Schedule(LoopKey, Duration delay, std::weak_ptr<void> owner, std::function<void()> fire);

 private:
  struct Wait {
    std::weak_ptr<void> owner;
    std::function<void()> fire;
  };

  // An arbitrary start, far from the clock's epoch, which code may take for "never".
  TimePoint now_ = TimePoint{} + std::chrono::hours(24);
  std::map<std::pair<TimePoint, uint64_t>, Wait> waits_;  // by due time, then start order
  uint64_t started_ = 0;
  ManualClock* previous_ = nullptr;
};

}  // namespace velmora::platform
