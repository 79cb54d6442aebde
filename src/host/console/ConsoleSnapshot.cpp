#include "host/console/ConsoleSnapshot.h"

#include "base/TextCase.h"

namespace velmora::console {

const NetworkView* ConsoleSnapshot::FindNetwork(const std::string& name) const {
  for (auto& network : Networks)
    if (EqualsIgnoreCase(network.Name, name)) return &network;
  return nullptr;
}

}  // namespace velmora::console
