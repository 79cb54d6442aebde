#include "host/ProcessEntry.h"

#include <gtest/gtest.h>

#include "host/FakeServiceControl.h"

namespace velmora {
namespace {

namespace ps = platform::service;
using testing::FakeServiceControl;
using testing::RecordingApplication;

const std::vector<std::string> kCommandLine = {"velmora.exe", "--ignored"};

TEST(ServiceNameTest, IsTheExecutableFileNameWithoutFolderAndExtension) {
  FakeServiceControl control;
  control.modulePath = L"C:\\Program Files\\Velmora\\velmora.exe";
  EXPECT_EQ(FormServiceName(control), L"velmora");
  control.modulePath = L"D:\\relay.v2\\map relay.test.exe";
  EXPECT_EQ(FormServiceName(control), L"map relay.test");
  control.modulePath = L"D:\\relay.v2\\maprelay";
  EXPECT_EQ(FormServiceName(control), L"maprelay");
  control.modulePath = L"maprelay.exe";
  EXPECT_EQ(FormServiceName(control), L"maprelay");
}

TEST(ServiceNameTest, IsServiceWhenThePathCannotBeHad) {
  FakeServiceControl control;
  control.modulePath.reset();
  EXPECT_EQ(FormServiceName(control), L"Service");

  // 259 characters fit the buffer of 260 with its terminating zero; 260 are cut.
  std::wstring folder = L"C:\\" + std::wstring(247, L'd') + L"\\";
  control.modulePath = folder + L"velmora.exe";
  ASSERT_EQ(control.modulePath->size(), 262u);
  EXPECT_EQ(FormServiceName(control), L"Service");
  control.modulePath = folder.substr(0, folder.size() - 3) + L"\\velmora.exe";
  ASSERT_EQ(control.modulePath->size(), 260u);
  EXPECT_EQ(FormServiceName(control), L"Service");
  control.modulePath = folder.substr(0, folder.size() - 4) + L"\\velmora.exe";
  ASSERT_EQ(control.modulePath->size(), 259u);
  EXPECT_EQ(FormServiceName(control), L"velmora");
}

TEST(ProcessEntryTest, OffersOneServiceAndAnEndingRowToTheDispatcher) {
  FakeServiceControl control;
  RecordingApplication application;
  ProcessEntry(control, application, kCommandLine);
  ASSERT_EQ(control.table.size(), 2u);
  EXPECT_EQ(control.table[0].serviceName, L"velmora");
  EXPECT_TRUE(control.table[0].serviceMain);
  EXPECT_TRUE(control.table[1].serviceName.empty());
  EXPECT_FALSE(control.table[1].serviceMain);
}

TEST(ProcessEntryTest, StartedByTheServiceManagerRunsTheServiceAndEndsWithZero) {
  FakeServiceControl control;
  control.dispatcherSucceeds = true;
  control.startArguments = std::vector<std::string>{"velmora", "/start-arg"};
  RecordingApplication application;
  application.exitCode = 3;  // what the service reports; the process itself still ends with 0

  EXPECT_EQ(ProcessEntry(control, application, kCommandLine), 0);
  ASSERT_EQ(application.runs.size(), 1u);
  EXPECT_EQ(application.runs[0], *control.startArguments);
  EXPECT_EQ(control.registeredNames, std::vector<std::wstring>{L"velmora"});
  EXPECT_EQ(control.States(),
            (std::vector<uint32_t>{ps::kStartPending, ps::kRunning, ps::kStopped}));
}

TEST(ProcessEntryTest, NotStartedByTheServiceManagerRunsInConsoleMode) {
  // 1063: started from a prompt; 1056: an instance of the service is already running.
  for (uint32_t error : {ps::kErrorFailedServiceControllerConnect,
                         ps::kErrorServiceAlreadyRunning}) {
    SCOPED_TRACE(error);
    for (int exitCode : {0, 7}) {
      FakeServiceControl control;
      control.dispatcherError = error;
      RecordingApplication application;
      application.exitCode = exitCode;

      EXPECT_EQ(ProcessEntry(control, application, kCommandLine), exitCode);
      ASSERT_EQ(application.runs.size(), 1u);
      EXPECT_EQ(application.runs[0], kCommandLine);
      EXPECT_TRUE(control.registeredNames.empty());
      EXPECT_TRUE(control.Statuses().empty());
    }
  }
}

TEST(ProcessEntryTest, AnyOtherDispatcherErrorReportsTheFailureAndEndsWithOne) {
  for (uint32_t error : {0u, 5u, 87u, 1062u, 1064u}) {
    SCOPED_TRACE(error);
    FakeServiceControl control;
    control.dispatcherError = error;
    RecordingApplication application;

    EXPECT_EQ(ProcessEntry(control, application, kCommandLine), 1);
    EXPECT_TRUE(application.runs.empty());
    EXPECT_EQ(control.registeredNames, std::vector<std::wstring>{L"velmora"});
    auto* registered = control.handler.target<void (*)(uint32_t)>();
    ASSERT_NE(registered, nullptr);
    EXPECT_EQ(*registered, &DummyServiceHandler);
    platform::ServiceStatus expected{16, 1, 0, 1067, 0, 0, 0};
    EXPECT_EQ(control.Statuses(), std::vector<platform::ServiceStatus>{expected});
    EXPECT_EQ(control.statusHandles, std::vector<platform::ServiceStatusHandle>{42});
  }
}

TEST(ProcessEntryTest, FailureIsReportedEvenWhenRegistrationFails) {
  FakeServiceControl control;
  control.dispatcherError = 5;
  control.handleToGive = 0;
  RecordingApplication application;
  EXPECT_EQ(ProcessEntry(control, application, kCommandLine), 1);
  EXPECT_EQ(control.Statuses().size(), 1u);
  EXPECT_EQ(control.statusHandles, std::vector<platform::ServiceStatusHandle>{0});
}

TEST(ProcessEntryTest, WithoutAModulePathTheServiceIsCalledService) {
  FakeServiceControl control;
  control.modulePath.reset();
  RecordingApplication console;
  EXPECT_EQ(ProcessEntry(control, console, kCommandLine), 0);
  EXPECT_EQ(console.runs.size(), 1u);
  EXPECT_EQ(control.table.at(0).serviceName, L"Service");

  control.dispatcherError = 1060;
  RecordingApplication failed;
  EXPECT_EQ(ProcessEntry(control, failed, kCommandLine), 1);
  EXPECT_EQ(control.registeredNames, std::vector<std::wstring>{L"Service"});

  control.dispatcherSucceeds = true;
  control.startArguments = std::vector<std::string>{"Service"};
  RecordingApplication service;
  EXPECT_EQ(ProcessEntry(control, service, kCommandLine), 0);
  EXPECT_EQ(control.registeredNames.back(), L"Service");
  EXPECT_EQ(service.runs.size(), 1u);
}

TEST(ProcessEntryTest, WithoutAServiceManagerTheSystemEntryRunsInConsoleMode) {
  auto& control = platform::SystemServiceControl();
  EXPECT_EQ(FormServiceName(control), L"velmora_tests");
  RecordingApplication application;
  EXPECT_EQ(ProcessEntry(control, application, kCommandLine), 0);
  ASSERT_EQ(application.runs.size(), 1u);
  EXPECT_EQ(application.runs[0], kCommandLine);
}

}  // namespace
}  // namespace velmora
