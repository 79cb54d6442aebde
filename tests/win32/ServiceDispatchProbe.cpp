// Runs the process entry against the real Win32 service calls. Built by the cross compiler and
// run under Wine by scripts/ci.d/windows-cross.sh; it is not part of the Linux test binary.
//
//   velmora-probe                      console checks: a process not started by the service
//                                      manager falls back to console mode (1063), and the
//                                      path and folder helpers agree with Windows
//   velmora-probe --service-check      installs itself as a service, starts, pauses, continues
//                                      and stops it, and checks what the service saw
//   velmora-probe --as-service REPORT  what the service manager starts; writes REPORT
#include <windows.h>
#include <shlwapi.h>

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "host/ProcessEntry.h"
#include "platform/adapters/FileSystem.h"
#include "platform/adapters/ServiceControl.h"
#include "platform/adapters/WindowsPathParts.h"

namespace {

using namespace velmora;
namespace ps = platform::service;

const wchar_t kServiceName[] = L"velmora-probe";
int g_failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "PASS" : "FAIL", what.c_str());
  if (!ok) ++g_failures;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

// Passes every call to the real service control and remembers what came back.
class RecordingControl : public platform::ServiceControl {
 public:
  explicit RecordingControl(platform::ServiceControl& real) : real_(real) {}
  uint32_t GetModuleFileNameW(wchar_t* buffer, uint32_t size) override {
    return real_.GetModuleFileNameW(buffer, size);
  }
  const wchar_t* PathFindFileNameW(const wchar_t* path) override {
    return real_.PathFindFileNameW(path);
  }
  const wchar_t* PathFindExtensionW(const wchar_t* path) override {
    return real_.PathFindExtensionW(path);
  }
  bool StartServiceCtrlDispatcherW(const std::vector<platform::ServiceTableEntry>& t) override {
    dispatcherResult = real_.StartServiceCtrlDispatcherW(t);
    return dispatcherResult;
  }
  uint32_t GetLastError() override { return lastError = real_.GetLastError(); }
  platform::ServiceStatusHandle RegisterServiceCtrlHandlerW(
      const std::wstring& name, platform::ServiceControlHandler handler) override {
    ++registrations;
    return real_.RegisterServiceCtrlHandlerW(name, std::move(handler));
  }
  bool SetServiceStatus(platform::ServiceStatusHandle handle,
                        const platform::ServiceStatus& status) override {
    ++statusReports;
    return real_.SetServiceStatus(handle, status);
  }

  bool dispatcherResult = true;
  uint32_t lastError = 0;
  int registrations = 0;
  int statusReports = 0;

 private:
  platform::ServiceControl& real_;
};

// Console mode: Run returns at once. Service mode: Run lasts until Stop, like App's main loop,
// and every request is written to the report as it arrives.
class ProbeApplication : public HostedApplication {
 public:
  explicit ProbeApplication(std::string report = {}, bool waitForStop = false)
      : report_(std::move(report)), waitForStop_(waitForStop) {}

  int Run(const std::vector<std::string>& args) override {
    ++runs;
    lastArgs = args;
    Note("run");
    if (waitForStop_) {
      std::unique_lock lock(mutex_);
      stopped_.wait(lock, [this] { return stop_; });
    }
    Note("ended");
    return 0;
  }
  void Stop() override {
    Note("stop");
    std::lock_guard lock(mutex_);
    stop_ = true;
    stopped_.notify_all();
  }
  void Pause() override { Note("pause"); }
  void Resume() override { Note("resume"); }

  void Note(const std::string& line) {
    if (report_.empty()) return;
    std::lock_guard lock(fileMutex_);
    std::ofstream(report_, std::ios::app) << line << "\n";
  }

  int runs = 0;
  std::vector<std::string> lastArgs;

 private:
  std::string report_;
  bool waitForStop_;
  std::mutex mutex_;
  std::mutex fileMutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
};

void CheckPathParts() {
  const wchar_t* paths[] = {
      L"C:\\Program Files\\Velmora\\velmora.exe", L"C:\\relay.v2\\maprelay", L"velmora.exe",
      L"C:\\dir\\", L"C:\\a b\\map relay.test.exe", L"C:velmora.exe", L"\\\\host\\share\\x.y.z",
      L"C:/mixed/forward.exe", L"C:\\dir\\name.", L"C:\\dir\\.hidden", L"", L"C:\\a.b c"};
  for (const wchar_t* path : paths) {
    bool same = platform::FileNamePartOf(path) == ::PathFindFileNameW(path) &&
                platform::ExtensionPartOf(path) == ::PathFindExtensionW(path);
    Check(same, "path cutting matches shlwapi for \"" + Narrow(path) + "\"");
  }
}

void CheckFolders() {
  wchar_t module[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::string modulePath = Narrow(std::wstring(module, length));
  auto folder = platform::ExecutableFolder();
  Check(folder && modulePath.rfind(*folder + "\\", 0) == 0,
        "executable folder \"" + folder.value_or("") + "\" holds \"" + modulePath + "\"");

  wchar_t appData[MAX_PATH];
  DWORD appDataLength = ::GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
  auto data = platform::AppDataFolder();
  Check(appDataLength > 0 && data && *data == Narrow(std::wstring(appData, appDataLength)),
        "application-data folder is %APPDATA%: \"" + data.value_or("") + "\"");
  // Without the variable the known folder still answers.
  ::SetEnvironmentVariableW(L"APPDATA", nullptr);
  auto known = platform::AppDataFolder();
  ::SetEnvironmentVariableW(L"APPDATA", std::wstring(appData, appDataLength).c_str());
  Check(known && !known->empty(), "application-data folder without %APPDATA%: \"" +
                                      known.value_or("") + "\"");
  auto temp = platform::TempFolder();
  Check(temp && !temp->empty() && temp->back() != '\\', "temporary folder \"" +
                                                            temp.value_or("") + "\"");
}

int ConsoleChecks(const std::vector<std::string>& args) {
  RecordingControl control(platform::SystemServiceControl());
  Check(FormServiceName(control) == kServiceName,
        "service name from the executable: " + Narrow(FormServiceName(control)));

  ProbeApplication application;
  int exitCode = ProcessEntry(control, application, args);
  Check(!control.dispatcherResult, "StartServiceCtrlDispatcherW fails outside the manager");
  Check(control.lastError == ps::kErrorFailedServiceControllerConnect,
        "its error is 1063, got " + std::to_string(control.lastError));
  Check(application.runs == 1 && application.lastArgs == args,
        "console fallback ran the application with the command line");
  Check(exitCode == 0, "exit code of the console run is 0");
  Check(control.registrations == 0 && control.statusReports == 0,
        "nothing was registered or reported");
  if (g_failures == 0)
    std::printf("console fallback: StartServiceCtrlDispatcherW failed with %u, ran in console "
                "mode\n", control.lastError);

  CheckPathParts();
  CheckFolders();
  return g_failures == 0 ? 0 : 1;
}

int RunAsService(const std::string& report) {
  ProbeApplication application(report, true);
  int exitCode = ProcessEntry(platform::SystemServiceControl(), application, {"--as-service"});
  application.Note("exit " + std::to_string(exitCode));
  return exitCode;
}

// Waits until the service is in `state`, for at most 20 s.
bool WaitForState(SC_HANDLE service, DWORD state, SERVICE_STATUS& status) {
  for (int i = 0; i < 200; ++i) {
    if (!::QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == state) return true;
    ::Sleep(100);
  }
  return false;
}

std::string ReadReport(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

int ServiceChecks() {
  auto folder = platform::ExecutableFolder();
  wchar_t module[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  if (!folder || length == 0) return Check(false, "own path"), 1;
  std::string report = *folder + "\\service-report.txt";
  ::DeleteFileA(report.c_str());
  std::wstring command = L"\"" + std::wstring(module, length) + L"\" --as-service \"" +
                         std::wstring(report.begin(), report.end()) + L"\"";

  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return Check(false, "OpenSCManagerW"), 1;
  SC_HANDLE old = ::OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
  if (old != nullptr) {
    ::DeleteService(old);
    ::CloseServiceHandle(old);
  }
  SC_HANDLE service = ::CreateServiceW(
      manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
      nullptr, nullptr);
  if (service == nullptr) {
    Check(false, "CreateServiceW, error " + std::to_string(::GetLastError()));
    return 1;
  }

  SERVICE_STATUS status{};
  Check(::StartServiceW(service, 0, nullptr) != FALSE, "StartServiceW");
  Check(WaitForState(service, SERVICE_RUNNING, status), "service reports running");
  Check(status.dwControlsAccepted == (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE),
        "it accepts stop and pause/continue");
  Check(::ControlService(service, SERVICE_CONTROL_PAUSE, &status) != FALSE, "pause request");
  Check(WaitForState(service, SERVICE_PAUSED, status), "service reports paused");
  Check(::ControlService(service, SERVICE_CONTROL_CONTINUE, &status) != FALSE,
        "continue request");
  Check(WaitForState(service, SERVICE_RUNNING, status), "service reports running again");
  Check(::ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE, "stop request");
  Check(WaitForState(service, SERVICE_STOPPED, status), "service reports stopped");
  Check(status.dwWin32ExitCode == 0, "with exit code 0");
  ::DeleteService(service);
  ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);

  // The process writes its last line after the dispatcher has returned.
  std::string seen;
  for (int i = 0; i < 50; ++i) {
    seen = ReadReport(report);
    if (seen.find("exit ") != std::string::npos) break;
    ::Sleep(100);
  }
  Check(seen == "run\npause\nresume\nstop\nended\nexit 0\n",
        "the service saw run, pause, resume, stop and ended with 0; report:\n" + seen);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (argc >= 3 && args[1] == "--as-service") return RunAsService(args[2]);
  if (argc >= 2 && args[1] == "--service-check") return ServiceChecks();
  return ConsoleChecks(args);
}
