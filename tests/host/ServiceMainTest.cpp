#include "host/ServiceMain.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/FakeServiceControl.h"

namespace velmora {
namespace {

namespace ps = platform::service;
using testing::FakeServiceControl;
using testing::RecordingApplication;

constexpr uint32_t kAcceptsAll = ps::kAcceptStop | ps::kAcceptPauseContinue;

TEST(ServiceMainTest, ReportsStartPendingRunningAndStoppedAroundTheRun) {
  FakeServiceControl control;
  RecordingApplication application;
  std::vector<platform::ServiceStatus> whileRunning;
  application.whileRunning = [&] { whileRunning = control.Statuses(); };

  ServiceMain(control, application, L"velmora", {"velmora", "a"});

  EXPECT_EQ(control.registeredNames, std::vector<std::wstring>{L"velmora"});
  ASSERT_EQ(application.runs.size(), 1u);
  EXPECT_EQ(application.runs[0], (std::vector<std::string>{"velmora", "a"}));
  // Running is reported before the application starts, so that the manager accepts controls.
  ASSERT_EQ(whileRunning.size(), 2u);
  EXPECT_EQ(whileRunning[0], (platform::ServiceStatus{16, ps::kStartPending, 0, 0, 0, 1,
                                                      kStartWaitHintMs}));
  EXPECT_EQ(whileRunning[1], (platform::ServiceStatus{16, ps::kRunning, kAcceptsAll, 0, 0, 0, 0}));
  auto statuses = control.Statuses();
  ASSERT_EQ(statuses.size(), 3u);
  EXPECT_EQ(statuses[2], (platform::ServiceStatus{16, ps::kStopped, 0, 0, 0, 0, 0}));
  for (auto handle : control.statusHandles) EXPECT_EQ(handle, 42u);
}

TEST(ServiceMainTest, AFailedRunIsReportedAsAServiceSpecificError) {
  FakeServiceControl control;
  RecordingApplication application;
  application.exitCode = 3;
  ServiceMain(control, application, L"velmora", {});
  EXPECT_EQ(control.Statuses().back(), (platform::ServiceStatus{16, ps::kStopped, 0,
                                                                ps::kErrorServiceSpecificError,
                                                                3, 0, 0}));
}

TEST(ServiceMainTest, WithoutAHandlerNothingRunsAndNothingIsReported) {
  FakeServiceControl control;
  control.handleToGive = 0;
  RecordingApplication application;
  ServiceMain(control, application, L"velmora", {});
  EXPECT_TRUE(application.runs.empty());
  EXPECT_TRUE(control.Statuses().empty());
}

TEST(ServiceMainTest, StopFromTheDispatcherThreadEndsTheRun) {
  FakeServiceControl control;
  // An application whose run lasts until its stop request, like App's main loop.
  class LoopingApplication : public RecordingApplication {
   public:
    std::atomic<bool> stop{false};
    int Run(const std::vector<std::string>&) override {
      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return 0;
    }
    void Stop() override {
      RecordingApplication::Stop();
      stop = true;
    }
  } application;

  std::thread service([&] { ServiceMain(control, application, L"velmora", {}); });
  while (control.States().size() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  control.handler(ps::kControlStop);
  service.join();

  EXPECT_EQ(application.Requests(), std::vector<std::string>{"stop"});
  auto statuses = control.Statuses();
  ASSERT_EQ(statuses.size(), 4u);
  EXPECT_EQ(statuses[2],
            (platform::ServiceStatus{16, ps::kStopPending, 0, 0, 0, 1, kStopWaitHintMs}));
  EXPECT_EQ(statuses[3].currentState, ps::kStopped);
}

TEST(ServiceMainTest, PauseAndContinueReachTheApplicationOncePerChange) {
  FakeServiceControl control;
  RecordingApplication application;
  std::vector<uint32_t> statesWhileRunning;
  application.whileRunning = [&] {
    control.handler(ps::kControlContinue);  // not paused: nothing to continue
    control.handler(ps::kControlPause);
    control.handler(ps::kControlPause);  // already paused
    control.handler(ps::kControlInterrogate);
    control.handler(ps::kControlContinue);
    control.handler(ps::kControlPause);
    control.handler(ps::kControlStop);  // a paused service can be stopped
    control.handler(ps::kControlContinue);  // stopping: no way back
    statesWhileRunning = control.States();
  };
  ServiceMain(control, application, L"velmora", {});

  EXPECT_EQ(application.Requests(),
            (std::vector<std::string>{"pause", "resume", "pause", "stop"}));
  EXPECT_EQ(statesWhileRunning,
            (std::vector<uint32_t>{ps::kStartPending, ps::kRunning, ps::kRunning, ps::kPaused,
                                   ps::kPaused, ps::kPaused, ps::kRunning, ps::kPaused,
                                   ps::kStopPending, ps::kStopPending}));
  auto statuses = control.Statuses();
  EXPECT_EQ(statuses[3].controlsAccepted, kAcceptsAll);
  EXPECT_EQ(statuses[8].controlsAccepted, 0u);
}

TEST(ServiceMainTest, RequestsAfterTheStoppedReportChangeNothing) {
  FakeServiceControl control;
  RecordingApplication application;
  ServiceMain(control, application, L"velmora", {});
  auto reported = control.Statuses().size();

  // The platform keeps the handler; it must stay safe to call once ServiceMain has returned.
  control.handler(ps::kControlStop);
  control.handler(ps::kControlPause);
  control.handler(ps::kControlContinue);
  EXPECT_TRUE(application.Requests().empty());
  EXPECT_EQ(control.Statuses().size(), reported);
}

}  // namespace
}  // namespace velmora
