#pragma once
// The readiness protocol of the system's service manager (systemd's notify socket): a started
// service tells it when it is ready, reloading or stopping, and a line of status. A process that
// no service manager started has no socket to tell, and every call does nothing.
#include <string>

namespace velmora::platform {

// Whether a service manager waits for these messages.
bool ServiceManagerListens();
// Sends one message of newline-separated assignments, such as "READY=1\nSTATUS=...".
void NotifyServiceManager(const std::string& assignments);

}  // namespace velmora::platform
