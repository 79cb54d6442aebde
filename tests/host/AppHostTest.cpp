#include "host/AppHost.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "host/App.h"
#include "platform/net/EventLoop.h"
#include "platform/adapters/FileSystem.h"
#include "support/ScopedVariable.h"
#include "support/ScratchFolder.h"

namespace velmora {
namespace {

// Runs a fresh App's main loop in place of the whole start-up, with the log in a folder of its
// own, so that what the requests do can be read back.
class AppHostTest : public ::testing::Test {
 protected:
  std::string Log() {
    std::string path = platform::JoinPath(folder_, "com.velmora.log");
    return platform::FileExists(path) ? platform::ReadWholeFile(path) : std::string();
  }

  // A runner like RunApplication's, with `beforeLoop` between the object's birth and its loop.
  AppHost::Runner LoopRunner(std::function<void()> beforeLoop = {}) {
    return [this, beforeLoop](const std::vector<std::string>&, const AppLifeWatcher& watcher) {
      App app;
      watcher(&app);
      if (beforeLoop) beforeLoop();
      app.RunMainLoop();
      stoppedFlag_ = app.blnStop.load();
      watcher(nullptr);
      return 0;
    };
  }

  testing::ScratchFolder scratch_{"velmora-apphost"};
  std::string folder_ = scratch_.Path();
  testing::ScopedVariable dataHome_{"XDG_DATA_HOME", folder_};
  bool stoppedFlag_ = false;
};

TEST_F(AppHostTest, StopFromAnotherThreadEndsTheMainLoop) {
  AppHost* self = nullptr;
  std::thread stopper;
  AppHost host(LoopRunner([&] {
    stopper = std::thread([self] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      self->Stop();
    });
  }));
  self = &host;
  EXPECT_EQ(host.Run({}), 0);
  EXPECT_TRUE(stoppedFlag_);
  stopper.join();
}

TEST_F(AppHostTest, StopBeforeTheApplicationExistsIsKeptForIt) {
  AppHost host(LoopRunner());
  host.Stop();
  // The loop would never end if the early stop were lost.
  EXPECT_EQ(host.Run({}), 0);
  EXPECT_TRUE(stoppedFlag_);
}

TEST_F(AppHostTest, PauseAndResumeAreLoggedOnTheLoopThread) {
  AppHost* self = nullptr;
  std::thread::id loopThread = std::this_thread::get_id();
  AppHost host(LoopRunner([&] {
    std::thread requests([self] {
      self->Pause();
      self->Resume();
    });
    requests.join();
    EXPECT_EQ(Log(), "");  // nothing happens off the loop's thread
    // Posted after the two requests, so it runs after them.
    platform::EventLoop::Instance().Post([self, loopThread] {
      EXPECT_EQ(std::this_thread::get_id(), loopThread);
      self->Stop();
    });
  }));
  self = &host;
  host.Run({});

  std::string log = Log();
  auto pause = log.find("] Life waits for no man.\n");
  auto resume = log.find("] CHARGE!\n");
  ASSERT_NE(pause, std::string::npos) << log;
  ASSERT_NE(resume, std::string::npos) << log;
  EXPECT_LT(pause, resume);
}

TEST_F(AppHostTest, RequestsAfterTheRunReachNoApplication) {
  AppHost host(LoopRunner());
  host.Stop();
  host.Run({});
  host.Pause();
  host.Resume();
  host.Stop();
  for (int pass = 0; pass < 3; ++pass) platform::EventLoop::Instance().RunOnce(0);
  EXPECT_EQ(Log(), "");
}

}  // namespace
}  // namespace velmora
