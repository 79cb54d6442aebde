#include "host/ProcessEntry.h"

#include "host/ServiceMain.h"

namespace velmora {

namespace ps = platform::service;

std::wstring FormServiceName(platform::ServiceControl& control) {
  wchar_t path[ps::kMaxPath] = {};
  uint32_t length = control.GetModuleFileNameW(path, ps::kMaxPath);
  // A path cut at the buffer's end would give a wrong name as surely as none at all.
  if (length == 0 || length >= ps::kMaxPath) return L"Service";
  const wchar_t* name = control.PathFindFileNameW(path);
  const wchar_t* extension = control.PathFindExtensionW(name);
  return std::wstring(name, extension);
}

std::vector<platform::ServiceTableEntry> MakeDispatchTable(
    const std::wstring& serviceName, platform::ServiceMainFunction serviceMain) {
  std::vector<platform::ServiceTableEntry> table;
  table.push_back({serviceName, std::move(serviceMain)});
  table.push_back({});
  return table;
}

void DummyServiceHandler(uint32_t) {}

int ProcessEntry(platform::ServiceControl& control, HostedApplication& application,
                 const std::vector<std::string>& args) {
  std::wstring serviceName = FormServiceName(control);
  auto table = MakeDispatchTable(serviceName, [&](const std::vector<std::string>& serviceArgs) {
    ServiceMain(control, application, serviceName, serviceArgs);
  });
  if (control.StartServiceCtrlDispatcherW(table)) return 0;

  uint32_t error = control.GetLastError();
  if (error == ps::kErrorFailedServiceControllerConnect ||
      error == ps::kErrorServiceAlreadyRunning)
    return application.Run(args);

  // Started by the service manager but unable to serve it: say so, so that it does not wait for
  // a service that never reports. The calls' own failures leave nothing more to do.
  platform::ServiceStatusHandle handle =
      control.RegisterServiceCtrlHandlerW(serviceName, DummyServiceHandler);
  platform::ServiceStatus failed;
  failed.serviceType = ps::kWin32OwnProcess;
  failed.currentState = ps::kStopped;
  failed.controlsAccepted = 0;
  failed.win32ExitCode = ps::kErrorProcessAborted;
  failed.serviceSpecificExitCode = 0;
  failed.checkPoint = 0;
  failed.waitHint = 0;
  control.SetServiceStatus(handle, failed);
  return 1;
}

}  // namespace velmora
