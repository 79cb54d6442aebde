#include "base/TextCase.h"
#include "host/NICByMac.h"

namespace velmora::modGlobal {

std::optional<platform::NetworkInterface> NICByMac(const std::string& mac) {
  auto interfaces = platform::ListNetworkInterfaces();
  for (size_t index = 0; index < interfaces.size(); ++index)
    if (EqualsIgnoreCase(interfaces[index].MacAddress, mac)) return interfaces[index];
  return std::nullopt;
}

}  // namespace velmora::modGlobal
