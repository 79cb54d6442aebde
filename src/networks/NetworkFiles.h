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

// Reads one network file into a record; nothing when it does not read as a network, and then
// `why` (when given) says where and what, "Error in PATH at line L, column C: ...".
std::shared_ptr<ServerNetworks> ReadNetworkXML(const std::string& file, std::string* why = nullptr);
// Reads every network file of the networks folder (nothing: it could not be determined) into
// the registry `networks`, logging each file.
void LoadNetworks(const std::optional<std::string>& folder,
                  std::vector<std::shared_ptr<ServerNetworks>>& networks);

}  // namespace velmora::modGlobal

namespace velmora {

// The name of the networks folder inside the executable's folder.
inline constexpr const char* kNetworksFolderName = "velmora-server";

// The largest network file that is read. A user takes some 50 to 80 bytes of the file ("<User
// Name=... LastIP=... />" on a line of its own), so 100,000 users (5 to 8 MB) load, while a file
// of about a million users (50 MB and more), which would hold up every log-in for its rewrite,
// or any endless file is refused like an unreadable one.
inline constexpr size_t kMaxNetworkFileBytes = 32 << 20;

// Whether a folder entry is taken for a network file: not hidden, and its name ends in "conf"
// in any letter case (no dot needed before it).
bool IsNetworkFileName(const std::string& name);

// The element that describes the network: the root element's first child element. Writers of
// these files put comments and line breaks in front of it, so only elements count.
platform::XmlNode NetworkElement(const platform::XmlDocument& document);

// Whether a child of the network element describes a user.
bool IsUserElement(const platform::XmlNode& node);

}  // namespace velmora
