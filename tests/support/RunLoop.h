#pragma once
// Drives the event loop in a test until a condition holds, bounded in passes and in time.
#include <chrono>
#include <functional>

#include "platform/net/EventLoop.h"

namespace velmora::testing {

inline bool RunLoopUntil(const std::function<bool()>& condition,
                         std::chrono::milliseconds limit = std::chrono::seconds(15)) {
  auto until = std::chrono::steady_clock::now() + limit;
  for (int pass = 0; pass < 100000 && std::chrono::steady_clock::now() < until; ++pass) {
    if (condition()) return true;
    platform::EventLoop::Instance().RunOnce(10);
  }
  return condition();
}

// Runs the loop for `duration` whatever happens, to show that something did not happen.
inline void RunLoopFor(std::chrono::milliseconds duration) {
  auto until = std::chrono::steady_clock::now() + duration;
  for (int pass = 0; pass < 100000 && std::chrono::steady_clock::now() < until; ++pass)
    platform::EventLoop::Instance().RunOnce(10);
}

}  // namespace velmora::testing
