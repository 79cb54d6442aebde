#include "platform/net/WallClock.h"

#include <chrono>

#include "platform/net/EventLoop.h"
#include "platform/net/ManualClock.h"

namespace velmora::platform {

namespace {

// 2026-01-01T00:00:00Z less the day at which every ManualClock starts.
constexpr std::time_t kManualEpoch = 1767225600 - 86400;

}  // namespace

std::time_t WallTime() {
  ManualClock* manual = EventLoop::Instance().ManualTime();
  if (manual == nullptr) return std::time(nullptr);
  return kManualEpoch +
         std::chrono::duration_cast<std::chrono::seconds>(manual->Now().time_since_epoch()).count();
}

}  // namespace velmora::platform
