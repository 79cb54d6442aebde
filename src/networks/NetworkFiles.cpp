#include "networks/NetworkFiles.h"

#include <exception>

#include "base/GentleGrowth.h"
#include "base/NumberText.h"
#include "base/TextCase.h"
#include "base/Log.h"
#include "platform/adapters/FileError.h"
#include "platform/adapters/FileSystem.h"
#include "platform/adapters/XmlDocument.h"

namespace velmora {

bool IsNetworkFileName(const std::string& name) {
  constexpr std::string_view kEnding = "conf";
  return !name.empty() && name.front() != '.' && name.size() >= kEnding.size() &&
         EqualsIgnoreCase(std::string_view(name).substr(name.size() - kEnding.size()), kEnding);
}

platform::XmlNode NetworkElement(const platform::XmlDocument& document) {
  auto root = document.Root();
  return root ? root.FirstElementChild() : platform::XmlNode();
}

bool IsUserElement(const platform::XmlNode& node) {
  return node.IsElement() && EqualsIgnoreCase(node.Name(), "User");
}

namespace {

std::shared_ptr<VelmoraUser> ReadUser(const platform::XmlNode& element,
                                      const std::string* path) {
  auto user = std::make_shared<VelmoraUser>();
  user->Name = element.AttributeOrEmpty("Name");
  user->LastIP = element.AttributeOrEmpty("LastIP");
  user->IsAdmin = ReadFileFlag(element.AttributeOrEmpty("IsAdmin"));
  user->IsBanned = ReadFileFlag(element.AttributeOrEmpty("IsBanned"));
  user->SetNotes(element.AttributeOrEmpty("UID"), element.AttributeOrEmpty("BanBy"),
                 element.AttributeOrEmpty("BanDate"), element.AttributeOrEmpty("BanReason"));
  user->SetPath(path);
  return user;
}

std::shared_ptr<ServerNetworks> ReadNetworkDocument(const std::string& path) {
  std::string text;
  try {
    text = platform::ReadWholeFile(path, kMaxNetworkFileBytes);
  } catch (const platform::FileError&) {
    // Unreadable (gone, no permission, no regular file, too large): the loader says which file.
    return nullptr;
  }
  platform::XmlDocument document;
  // Read the way registration reads it for its rewrite, so that a file loads exactly when the
  // server can record its log-ins.
  auto parsed = document.Parse(text, true);
  if (!parsed.ok) {
    modGlobal::LogMessage(parsed.description, false);
    return nullptr;
  }
  auto element = NetworkElement(document);
  if (!element) return nullptr;

  auto network = std::make_shared<ServerNetworks>();
  network->Path = path;
  const std::string* keptPath = VelmoraUser::KeepPath(path);
  for (auto child = element.FirstChild(); child; child = child.NextSibling()) {
    if (!IsUserElement(child)) continue;
    auto user = ReadUser(child, keptPath);
    if (user->IsAdmin) network->Admins.push_back(user);
    if (user->IsBanned) network->Bans.push_back(user);
    network->AddUser(std::move(user));
  }
  network->NetworkName = element.AttributeOrEmpty("name");
  network->Password = element.AttributeOrEmpty("password");
  network->MaxUsers = ReadInteger(element.AttributeOrEmpty("maxusers"));
  network->Enabled = ReadFileFlag(element.AttributeOrEmpty("enabled"));
  network->Port = ReadInteger(element.AttributeOrEmpty("port"));
  network->Path = path;
  modGlobal::LogMessage("Network loaded: " + path, false);
  return network;
}

}  // namespace

namespace modGlobal {

std::shared_ptr<ServerNetworks> ReadNetworkXML(const std::string& file) {
  if (file.empty()) return nullptr;
  try {
    return ReadNetworkDocument(platform::AbsolutePath(file));
  } catch (const std::exception&) {
    // Whatever goes wrong with one file, the others are still read.
    return nullptr;
  }
}

void LoadNetworks(const std::optional<std::string>& folder,
                  std::vector<std::shared_ptr<ServerNetworks>>& networks) {
  LogMessage("Reading Network Files...", false);
  if (!folder) {
    LogMessage("Error Finding ApplicationData directory.", false);
    return;
  }
  // A folder that cannot be made lists empty: nothing loads and there is nothing to add.
  if (!platform::FolderExists(*folder)) platform::CreateFolder(*folder);
  for (const auto& name : platform::ListFolder(*folder)) {
    if (!IsNetworkFileName(name)) continue;
    if (auto network = ReadNetworkXML(platform::JoinPath(*folder, name))) {
      LogMessage("Loaded Network: " + network->NetworkName, false);
      networks.push_back(std::move(network));
    } else {
      LogMessage("Error loading network: " + name, false);
    }
  }
}

}  // namespace modGlobal

}  // namespace velmora
