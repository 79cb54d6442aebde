#pragma once
// Reading the network files of the networks folder into the registry of networks.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "networks/ServerNetworks.h"

namespace velmora::platform {
class XmlDocument;
class XmlNode;
}  // namespace velmora::platform

namespace velmora::modGlobal {

// Reads one network file into a record; nothing when it does not read as a network.
std::shared_ptr<ServerNetworks> ReadNetworkXML(const std::string& file);
// Reads every network file of the networks folder (nothing: it could not be determined) into
// the registry `networks`, logging each file.
void LoadNetworks(const std::optional<std::string>& folder,
                  std::vector<std::shared_ptr<ServerNetworks>>& networks);

}  // namespace velmora::modGlobal

namespace velmora {

// The largest network file the server reads: a million users fit in it, and reading it
// bounds what one file can cost.
inline constexpr size_t kMaxNetworkFileBytes = 32 * 1024 * 1024;

// The name of the networks folder inside the executable's folder.
inline constexpr const char* kNetworksFolderName = "velmora-server";

// Whether a folder entry is taken for a network file: not hidden, and its name ends in "conf"
// in any letter case (no dot needed before it).
bool IsNetworkFileName(const std::string& name);

// The element that describes the network: the root element's first child element. Writers of
// these files put comments and line breaks in front of it, so only elements count.
platform::XmlNode NetworkElement(const platform::XmlDocument& document);

// Whether a child of the network element describes a user.
bool IsUserElement(const platform::XmlNode& node);

}  // namespace velmora
