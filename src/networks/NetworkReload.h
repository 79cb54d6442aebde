#pragma once
// Reading the networks folder again while the server runs. Connections and seats refer to
// network and user records without owning them, so a reload never replaces a record that is in
// use: it brings each one in line with its file in place, keeps the records of networks whose
// file is gone (retired, for the members still on them) and of users no longer listed (for the
// connections logged in as them), and appends records only for networks it has not seen.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "networks/ServerNetworks.h"

namespace velmora {

// Gives `live` the definition read into `fresh`: password, capacity, enabled flag, file and
// users. Its seat count stays, and so does its port, which only a restart can move (`fresh`'s
// port is left for the caller to compare). User records of the same name (and address, where
// that tells two apart) are updated rather than replaced, so that a logged-in administrator stays
// one by identity. Returns whether anything changed.
bool UpdateNetworkInPlace(ServerNetworks& live, const ServerNetworks& fresh);

}  // namespace velmora

namespace velmora::modGlobal {

// Reads every network file of `folder` as start-up does, then matches the records by name to
// those of `networks`: a changed one is updated in place, a new one appended, one without a file
// retired, and a retired one whose file is back brought back. Logs a line for each network
// added, changed or retired, and for each port that would need a restart. Returns the records
// that joined the registry, in file order. An unknown folder changes nothing.
std::vector<ServerNetworks*> ReloadNetworks(const std::optional<std::string>& folder,
                                            std::vector<std::shared_ptr<ServerNetworks>>& networks);

}  // namespace velmora::modGlobal
