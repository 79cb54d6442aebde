#pragma once
// The process entry: offers the process to the Windows service manager and runs the application
// as a console program when the process was not started by it.
#include <cstdint>
#include <string>
#include <vector>

#include "host/HostedApplication.h"
#include "platform/adapters/ServiceControl.h"

namespace velmora {

// The executable's file name without folder and extension; "Service" when the path cannot be had.
std::wstring FormServiceName(platform::ServiceControl& control);

// The dispatch table: the one service, then the empty row that ends the table. `serviceMain`
// runs on the service manager's thread with the service's start arguments.
std::vector<platform::ServiceTableEntry> MakeDispatchTable(
    const std::wstring& serviceName, platform::ServiceMainFunction serviceMain);

// The control handler of the failure path: it has nothing to control.
void DummyServiceHandler(uint32_t control);

// Gives the process exit code.
int ProcessEntry(platform::ServiceControl& control, HostedApplication& application,
                 const std::vector<std::string>& args);

}  // namespace velmora
