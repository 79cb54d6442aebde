#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/net/EventLoop.h"
#include "platform/net/LoopScope.h"

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

// Runs passes until `done` holds (or a generous bound passes), then a few more, in which work
// that should not run would show.
template <typename Done>
void RunUntil(EventLoop& loop, Done done) {
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done() && std::chrono::steady_clock::now() < giveUp) loop.RunOnce(10);
  for (int pass = 0; pass < 5; ++pass) loop.RunOnce(5);
}

// Whoever starts a timer owns it: the work of a kept handle runs once, that of a dropped one
// never, not even when its time had come in the same pass as the work that dropped it.
TEST(EventLoop, ATimerRunsOnceWhileItsHandleIsKept) {
  using std::chrono::milliseconds;
  auto& loop = EventLoop::Instance();
  int kept = 0;
  int dropped = 0;
  Timer keep = loop.After(milliseconds(1), [&] { ++kept; });
  { Timer drop = loop.After(milliseconds(1), [&] { ++dropped; }); }
  // Two timers due together, each dropping the other: whichever runs first, the second's
  // completion is queued already and must still come to nothing.
  Timer first;
  Timer second;
  int ranOfTwo = 0;
  first = loop.After(milliseconds(1), [&] { ++ranOfTwo; second = Timer(); });
  second = loop.After(milliseconds(1), [&] { ++ranOfTwo; first = Timer(); });
  std::this_thread::sleep_for(milliseconds(20));
  RunUntil(loop, [&] { return kept > 0 && ranOfTwo > 0; });
  EXPECT_EQ(kept, 1);
  EXPECT_FALSE(keep.Pending());
  EXPECT_EQ(dropped, 0);
  EXPECT_EQ(ranOfTwo, 1);
}

// Work posted from another thread through a scope runs while the scope is open, and comes to
// nothing once it has closed, though it was on its way already.
TEST(EventLoop, WorkPostedThroughAClosedScopeNeverRuns) {
  auto& loop = EventLoop::Instance();
  int ran = 0;
  int late = 0;
  {
    LoopScope open;
    std::thread([post = open.MakePoster(), &ran] { post([&ran] { ++ran; }); }).join();
    RunUntil(loop, [&] { return ran > 0; });
  }
  LoopScope::Poster post;
  {
    LoopScope closing;
    post = closing.MakePoster();
    std::thread([&] { post([&] { ++late; }); }).join();  // on its way before the scope ends
  }
  std::thread([&] { post([&] { ++late; }); }).join();  // posted after it has ended
  bool after = false;  // posted behind the late work, so it runs after it would have
  loop.Post([&] { after = true; });
  RunUntil(loop, [&] { return after; });
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(late, 0);
}

}  // namespace
}  // namespace velmora::platform
