#pragma once
// The Windows service-control calls that the process entry needs, behind one narrow interface so
// that the entry and the service side above it are plain C++ and can be driven by a fake.
// Each operation keeps the name and the meaning of the Win32 call it stands for.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmora::platform {

// Field by field the platform's SERVICE_STATUS.
struct ServiceStatus {
  uint32_t serviceType = 0;
  uint32_t currentState = 0;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;

  bool operator==(const ServiceStatus&) const = default;
};

// The platform's numbers, so that code above platform/ needs no Windows header.
namespace service {
constexpr uint32_t kWin32OwnProcess = 0x10;

constexpr uint32_t kStopped = 1;
constexpr uint32_t kStartPending = 2;
constexpr uint32_t kStopPending = 3;
constexpr uint32_t kRunning = 4;
constexpr uint32_t kContinuePending = 5;
constexpr uint32_t kPausePending = 6;
constexpr uint32_t kPaused = 7;

constexpr uint32_t kAcceptStop = 0x1;
constexpr uint32_t kAcceptPauseContinue = 0x2;

constexpr uint32_t kControlStop = 1;
constexpr uint32_t kControlPause = 2;
constexpr uint32_t kControlContinue = 3;
constexpr uint32_t kControlInterrogate = 4;
constexpr uint32_t kControlShutdown = 5;

constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
constexpr uint32_t kErrorFailedServiceControllerConnect = 1063;
constexpr uint32_t kErrorServiceSpecificError = 1066;
constexpr uint32_t kErrorProcessAborted = 1067;

// Wide characters of the executable's path that the entry reads (the platform's MAX_PATH).
constexpr uint32_t kMaxPath = 260;
}  // namespace service

// The service entry routine with its start arguments, already in UTF-8.
using ServiceMainFunction = std::function<void(const std::vector<std::string>& args)>;
// A control handler: called with the control code, on the dispatcher's thread.
using ServiceControlHandler = std::function<void(uint32_t control)>;
// Opaque; 0 means registration failed.
using ServiceStatusHandle = std::uintptr_t;

// One row of the dispatch table; a row with an empty name and no routine ends the table.
struct ServiceTableEntry {
  std::wstring serviceName;
  ServiceMainFunction serviceMain;
};

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;

  // Writes the executable's path into `buffer` (at most `size` characters with the terminating
  // zero). Returns the length without the zero, 0 on failure, `size` when the path was cut.
  virtual uint32_t GetModuleFileNameW(wchar_t* buffer, uint32_t size) = 0;
  // Pointers into `path`: where its file name begins, and where the file name's extension
  // begins (or its terminating zero when it has none).
  virtual const wchar_t* PathFindFileNameW(const wchar_t* path) = 0;
  virtual const wchar_t* PathFindExtensionW(const wchar_t* path) = 0;
  // Runs the services of `table` and returns once they have all ended; false at once when the
  // process may not act as a service, with the reason left for GetLastError.
  virtual bool StartServiceCtrlDispatcherW(const std::vector<ServiceTableEntry>& table) = 0;
  virtual uint32_t GetLastError() = 0;
  virtual ServiceStatusHandle RegisterServiceCtrlHandlerW(const std::wstring& serviceName,
                                                          ServiceControlHandler handler) = 0;
  virtual bool SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) = 0;
};

// The service control of the system the process runs on. Where there is no Windows service
// manager it behaves as Windows does for a process not started by one: the dispatcher call fails
// with 1063.
ServiceControl& SystemServiceControl();

}  // namespace velmora::platform
