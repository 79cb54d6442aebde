// Stand-in until the network file reader lands.
#include "host/modGlobal.h"
#include "networks/ServerNetworks.h"

namespace velmora::modGlobal {

std::shared_ptr<ServerNetworks> ReadNetworkXML(const std::string&) { return nullptr; }

void LoadNetworks() { LogMessage("Reading Network Files...", false); }

}  // namespace velmora::modGlobal
