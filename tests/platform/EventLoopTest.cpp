#include <gtest/gtest.h>

#include <chrono>

#include "platform/net/EventLoop.h"

namespace velmora::platform {
namespace {

// With no socket, timer or posted work outstanding a pass must still wait its limit: otherwise
// the main loop spins a core while its only work runs on a background thread.
TEST(EventLoop, APassWithNothingReadyWaitsItsLimit) {
  auto& loop = EventLoop::Instance();
  loop.RunOnce(0);
  auto started = std::chrono::steady_clock::now();
  for (int pass = 0; pass < 10; ++pass) loop.RunOnce(20);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(190));

  bool ran = false;
  loop.Post([&] { ran = true; });
  loop.RunOnce(1000);
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace velmora::platform
