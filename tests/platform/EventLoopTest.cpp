#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/net/BackgroundWorker.h"
#include "platform/net/EventLoop.h"
#include "platform/net/LoopScope.h"
#include "platform/net/ManualClock.h"
#include "platform/net/WallClock.h"

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

// On a test's clock, timers come due by its time alone, in the order of their due times; a pass
// that would wait moves the time on to the next timer instead of waiting.
TEST(EventLoop, ATestsClockAloneBringsTimersDue) {
  using std::chrono::milliseconds;
  auto& loop = EventLoop::Instance();
  ManualClock clock;
  auto start = loop.Now();
  std::vector<int> ran;
  Timer late = loop.After(milliseconds(30), [&] { ran.push_back(30); });
  Timer early = loop.After(milliseconds(10), [&] { ran.push_back(10); });
  Timer dropped = loop.After(milliseconds(5), [&] { ran.push_back(5); });
  dropped = Timer();
  std::this_thread::sleep_for(milliseconds(40));
  loop.RunOnce(0);
  EXPECT_TRUE(ran.empty());
  clock.Advance(milliseconds(9));
  loop.RunOnce(0);
  EXPECT_TRUE(ran.empty());
  clock.Advance(milliseconds(1));
  loop.RunOnce(0);
  EXPECT_EQ(ran, std::vector<int>{10});
  auto before = std::chrono::steady_clock::now();
  loop.RunOnce(1000);
  EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(500));
  EXPECT_EQ(ran, (std::vector<int>{10, 30}));
  EXPECT_EQ(loop.Now() - start, milliseconds(30));
  loop.RunOnce(20);
  EXPECT_EQ(loop.Now() - start, milliseconds(50));
}

// On a test's clock the calendar time (ban dates, connection times) is the same on every run
// and moves with that clock alone.
TEST(EventLoop, ATestsClockGivesTheCalendarTimeToo) {
  std::time_t start = 0;
  {
    ManualClock clock;
    start = WallTime();
    clock.Advance(std::chrono::seconds(90));
    EXPECT_EQ(WallTime(), start + 90);
  }
  ManualClock again;
  EXPECT_EQ(WallTime(), start);
}

// Workers made while jobs run inline start no thread: a job and its result run on the loop's
// thread in a later pass, and not at all once the worker is gone.
TEST(EventLoop, InlineJobsRunOnTheLoopsThreadInALaterPass) {
  auto& loop = EventLoop::Instance();
  BackgroundWorker::RunInline inlineJobs;
  std::vector<std::string> ran;
  auto loopThread = std::this_thread::get_id();
  {
    BackgroundWorker worker(2);
    worker.Run([&] {
      ran.push_back(std::this_thread::get_id() == loopThread ? "job" : "job elsewhere");
      return [&] { ran.push_back("result"); };
    });
    EXPECT_TRUE(ran.empty());
    loop.RunOnce(0);
    EXPECT_EQ(ran, (std::vector<std::string>{"job", "result"}));
    worker.Run([&] {
      ran.push_back("dropped");
      return BackgroundWorker::Result();
    });
  }
  loop.RunOnce(0);
  EXPECT_EQ(ran.size(), 2u);
}

}  // namespace
}  // namespace velmora::platform
