#pragma once
#include <optional>
#include <string>

#include "platform/net/NetworkInterfaces.h"

namespace velmora::modGlobal {

// The first interface whose MAC address text equals `mac` without regard to letter case.
std::optional<platform::NetworkInterface> NICByMac(const std::string& mac);

}  // namespace velmora::modGlobal
