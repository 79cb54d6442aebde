#pragma once
// A timer started on the event loop (EventLoop::After), held by whoever started it. The handle
// is the only way to the timer: dropping it, or moving another timer into it, cancels it, so a
// timer never outlives its owner and its work never meets an owner that is gone. Loop thread
// only.
#include <chrono>
#include <functional>
#include <memory>

#include "platform/net/LoopKey.h"

namespace velmora::platform {

class Timer {
 public:
  // No timer: nothing pending.
  Timer() noexcept;
  // Starts one: `work` runs on the loop's thread once `delay` has passed, unless cancelled.
  Timer(LoopKey, std::chrono::milliseconds delay, std::function<void()> work);
  ~Timer();
  Timer(Timer&& other) noexcept;
  Timer& operator=(Timer&& other) noexcept;
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // Its work never runs. Nothing when it has run or was cancelled already.
  void Cancel();
  // Started, and neither run nor cancelled yet. False inside its own work, which may start it
  // again.
  bool Pending() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace velmora::platform
