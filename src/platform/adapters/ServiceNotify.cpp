#include "platform/adapters/ServiceNotify.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>

namespace velmora::platform {

bool ServiceManagerListens() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  return socket != nullptr && *socket != '\0';
}

void NotifyServiceManager(const std::string& assignments) {
  // The answer is of no use: a service manager that missed a message has its own time-outs.
  if (ServiceManagerListens()) ::sd_notify(0, assignments.c_str());
}

}  // namespace velmora::platform
