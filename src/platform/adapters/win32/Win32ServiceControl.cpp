// The service control of Windows: the Win32 calls themselves. The platform calls the service
// routine and the control handler through plain function pointers without a context, so the one
// service of this process keeps its routine and handler here.
#include <windows.h>
#include <shlwapi.h>

#include <mutex>

#include "platform/adapters/ServiceControl.h"
#include "platform/adapters/win32/WideText.h"

namespace velmora::platform {

namespace {

std::mutex g_slotsMutex;
ServiceMainFunction g_serviceMain;
ServiceControlHandler g_controlHandler;

void WINAPI ServiceMainTrampoline(DWORD argc, LPWSTR* argv) {
  std::vector<std::string> args;
  for (DWORD i = 0; i < argc; ++i) args.push_back(win32::ToUtf8(argv[i], ::wcslen(argv[i])));
  ServiceMainFunction routine;
  {
    std::lock_guard lock(g_slotsMutex);
    routine = g_serviceMain;
  }
  if (routine) routine(args);
}

void WINAPI ControlHandlerTrampoline(DWORD control) {
  ServiceControlHandler handler;
  {
    std::lock_guard lock(g_slotsMutex);
    handler = g_controlHandler;
  }
  if (handler) handler(control);
}

class Win32ServiceControl final : public ServiceControl {
 public:
  uint32_t GetModuleFileNameW(wchar_t* buffer, uint32_t size) override {
    return ::GetModuleFileNameW(nullptr, buffer, size);
  }
  const wchar_t* PathFindFileNameW(const wchar_t* path) override {
    return ::PathFindFileNameW(path);
  }
  const wchar_t* PathFindExtensionW(const wchar_t* path) override {
    return ::PathFindExtensionW(path);
  }

  bool StartServiceCtrlDispatcherW(const std::vector<ServiceTableEntry>& table) override {
    std::vector<std::wstring> names;
    std::vector<SERVICE_TABLE_ENTRYW> rows;
    names.reserve(table.size());
    for (const auto& entry : table) {
      if (entry.serviceName.empty() && !entry.serviceMain) break;
      // One routine slot: a process that ran several services would need a slot per row.
      if (!rows.empty()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
      }
      names.push_back(entry.serviceName);
      rows.push_back({names.back().data(), &ServiceMainTrampoline});
      std::lock_guard lock(g_slotsMutex);
      g_serviceMain = entry.serviceMain;
    }
    rows.push_back({nullptr, nullptr});
    BOOL ok = ::StartServiceCtrlDispatcherW(rows.data());
    // The vectors' cleanup must not hide the reason from GetLastError.
    DWORD error = ::GetLastError();
    {
      std::lock_guard lock(g_slotsMutex);
      g_serviceMain = nullptr;
    }
    ::SetLastError(error);
    return ok != FALSE;
  }

  uint32_t GetLastError() override { return ::GetLastError(); }

  ServiceStatusHandle RegisterServiceCtrlHandlerW(const std::wstring& serviceName,
                                                  ServiceControlHandler handler) override {
    {
      std::lock_guard lock(g_slotsMutex);
      g_controlHandler = std::move(handler);
    }
    SERVICE_STATUS_HANDLE handle =
        ::RegisterServiceCtrlHandlerW(serviceName.c_str(), &ControlHandlerTrampoline);
    return reinterpret_cast<ServiceStatusHandle>(handle);
  }

  bool SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) override {
    SERVICE_STATUS record{};
    record.dwServiceType = status.serviceType;
    record.dwCurrentState = status.currentState;
    record.dwControlsAccepted = status.controlsAccepted;
    record.dwWin32ExitCode = status.win32ExitCode;
    record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    record.dwCheckPoint = status.checkPoint;
    record.dwWaitHint = status.waitHint;
    return ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &record) != FALSE;
  }
};

}  // namespace

ServiceControl& SystemServiceControl() {
  static Win32ServiceControl control;
  return control;
}

}  // namespace velmora::platform
