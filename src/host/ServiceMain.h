#pragma once
// The service side of the process entry: what runs when the service manager starts the service.
#include <string>
#include <vector>

#include "host/HostedApplication.h"
#include "platform/adapters/ServiceControl.h"

namespace velmora {

// How long the service manager is told to wait for the main loop to notice a stop: one loop pass
// plus the longest handler that may be running in it (a blocking web lookup takes up to 2 s).
constexpr uint32_t kStopWaitHintMs = 5000;
constexpr uint32_t kStartWaitHintMs = 3000;

// Registers the control handler, reports start-pending and then running, runs the application
// with the service's start arguments and reports stopped once it has ended. Stop, pause and
// continue requests become the application's Stop, Pause and Resume; they arrive on the
// dispatcher's thread, not on the one that runs the application.
void ServiceMain(platform::ServiceControl& control, HostedApplication& application,
                 const std::wstring& serviceName, const std::vector<std::string>& args);

}  // namespace velmora
