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

// Reads the network file at `path`; without a record, `why` says what is wrong with the file,
// for the operator who has to mend it.
std::shared_ptr<ServerNetworks> ReadNetworkDocument(const std::string& path, std::string& why) {
  std::string text;
  try {
    text = platform::ReadWholeFile(path, kMaxNetworkFileBytes);
  } catch (const platform::FileError& error) {
    // Unreadable (gone, no permission, no regular file, too large).
    why = "Error in " + path + ": cannot be read (" + error.what() + ")";
    return nullptr;
  }
  platform::XmlDocument document;
  // Read the way registration reads it for its rewrite, so that a file loads exactly when the
  // server can record its log-ins.
  auto parsed = document.Parse(text, true);
  if (!parsed.ok) {
    modGlobal::LogMessage(parsed.description, false);
    why = "Error in " + path;
    if (parsed.line != 0)
      why += " at line " + std::to_string(parsed.line) + ", column " + std::to_string(parsed.column);
    why += ": " + parsed.description;
    return nullptr;
  }
  auto element = NetworkElement(document);
  if (!element) {
    why = "Error in " + path + ": no network element inside the root element";
    return nullptr;
  }

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

std::shared_ptr<ServerNetworks> ReadNetworkXML(const std::string& file, std::string* why) {
  std::string reason;
  std::shared_ptr<ServerNetworks> network;
  if (!file.empty()) {
    try {
      network = ReadNetworkDocument(platform::AbsolutePath(file), reason);
    } catch (const std::exception& error) {
      // Whatever goes wrong with one file, the others are still read.
      reason = "Error in " + file + ": " + error.what();
    }
  }
  if (why != nullptr) *why = std::move(reason);
  return network;
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
    std::string why;
    if (auto network = ReadNetworkXML(platform::JoinPath(*folder, name), &why)) {
      LogMessage("Loaded Network: " + network->NetworkName, false);
      networks.push_back(std::move(network));
    } else {
      LogMessage("Error loading network: " + name, false);
      // Where and why, so that the operator can mend the file; an error line, so that standard
      // error has it too.
      if (!why.empty()) LogMessage(why, false);
    }
  }
}

}  // namespace modGlobal

}  // namespace velmora
