#pragma once
// A stand-in for the Windows service control that records what is asked of it and plays the
// service manager's part as each test sets it up.
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/HostedApplication.h"
#include "platform/adapters/ServiceControl.h"
#include "platform/adapters/WindowsPathParts.h"

namespace velmora::testing {

class FakeServiceControl : public platform::ServiceControl {
 public:
  // The executable's path; nothing when GetModuleFileNameW fails.
  std::optional<std::wstring> modulePath = L"C:\\Program Files\\Velmora\\velmora.exe";
  // Whether the dispatcher call succeeds, and the error it leaves otherwise.
  bool dispatcherSucceeds = false;
  uint32_t dispatcherError = platform::service::kErrorFailedServiceControllerConnect;
  // When set, the dispatcher runs the table's service routine with these start arguments before
  // it returns, as the service manager does for a process it started.
  std::optional<std::vector<std::string>> startArguments;
  platform::ServiceStatusHandle handleToGive = 42;

  std::vector<platform::ServiceTableEntry> table;
  std::vector<std::wstring> registeredNames;
  platform::ServiceControlHandler handler;
  std::vector<platform::ServiceStatusHandle> statusHandles;

  uint32_t GetModuleFileNameW(wchar_t* buffer, uint32_t size) override {
    if (!modulePath) {
      lastError_ = 5;
      return 0;
    }
    // As Windows does: a path that does not fit is cut, terminated, and reported as `size`.
    size_t length = modulePath->size();
    size_t copied = length < size ? length : size - 1;
    modulePath->copy(buffer, copied);
    buffer[copied] = L'\0';
    return length < size ? static_cast<uint32_t>(length) : size;
  }
  const wchar_t* PathFindFileNameW(const wchar_t* path) override {
    return platform::FileNamePartOf(path);
  }
  const wchar_t* PathFindExtensionW(const wchar_t* path) override {
    return platform::ExtensionPartOf(path);
  }
  bool StartServiceCtrlDispatcherW(const std::vector<platform::ServiceTableEntry>& rows) override {
    table = rows;
    if (startArguments && !rows.empty() && rows[0].serviceMain) rows[0].serviceMain(*startArguments);
    if (!dispatcherSucceeds) lastError_ = dispatcherError;
    return dispatcherSucceeds;
  }
  uint32_t GetLastError() override { return lastError_; }
  platform::ServiceStatusHandle RegisterServiceCtrlHandlerW(
      const std::wstring& serviceName, platform::ServiceControlHandler controlHandler) override {
    registeredNames.push_back(serviceName);
    handler = std::move(controlHandler);
    return handleToGive;
  }
  bool SetServiceStatus(platform::ServiceStatusHandle handle,
                        const platform::ServiceStatus& status) override {
    std::lock_guard lock(mutex_);
    statusHandles.push_back(handle);
    statuses_.push_back(status);
    return true;
  }

  // The reports so far; the handler may add to them from another thread.
  std::vector<platform::ServiceStatus> Statuses() {
    std::lock_guard lock(mutex_);
    return statuses_;
  }
  std::vector<uint32_t> States() {
    std::vector<uint32_t> states;
    for (const auto& status : Statuses()) states.push_back(status.currentState);
    return states;
  }

 private:
  uint32_t lastError_ = 0;
  std::mutex mutex_;
  std::vector<platform::ServiceStatus> statuses_;
};

// Records what the entry asks of the application; Run returns `exitCode` at once unless a test
// gives it something to do meanwhile.
class RecordingApplication : public HostedApplication {
 public:
  int exitCode = 0;
  std::function<void()> whileRunning;

  int Run(const std::vector<std::string>& args) override {
    runs.push_back(args);
    if (whileRunning) whileRunning();
    return exitCode;
  }
  void Stop() override { Record("stop"); }
  void Pause() override { Record("pause"); }
  void Resume() override { Record("resume"); }

  std::vector<std::string> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  std::vector<std::vector<std::string>> runs;

 private:
  void Record(const char* what) {
    std::lock_guard lock(mutex_);
    requests_.push_back(what);
  }
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

}  // namespace velmora::testing
