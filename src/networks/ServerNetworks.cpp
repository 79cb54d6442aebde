#include "networks/ServerNetworks.h"

#include <exception>
#include <stdexcept>

#include "base/TextCase.h"
#include "base/Log.h"
#include "networks/NetworkFiles.h"
#include "platform/FileSystem.h"
#include "platform/XmlDocument.h"

namespace velmora {

namespace {

bool IsWhiteSpaceText(const platform::XmlNode& node) {
  return node.IsText() && node.Text().find_first_not_of(" \t\r\n") == std::string::npos;
}

// Appends the new user's element so that a file laid out one user a line stays so: the element
// goes in front of the white space that indents the closing tag, behind a copy of the white
// space that indents the last element. Without such layout it simply becomes the last child.
platform::XmlNode AppendUserElement(platform::XmlNode network) {
  auto closingIndent = network.LastChild();
  if (!closingIndent || !IsWhiteSpaceText(closingIndent) ||
      closingIndent.Text().find('\n') == std::string::npos)
    return network.AppendElement("User");
  std::string indent = closingIndent.Text();
  for (auto node = closingIndent.PreviousSibling(); node; node = node.PreviousSibling()) {
    if (!node.IsElement()) continue;
    auto before = node.PreviousSibling();
    if (before && IsWhiteSpaceText(before)) indent = before.Text();
    break;
  }
  network.InsertTextBefore(indent, closingIndent);
  return network.InsertElementBefore("User", closingIndent);
}

}  // namespace

ServerNetworks::ServerNetworks(std::string name, std::string password, int64_t maxusers,
                               bool enabled)
    : NetworkName(std::move(name)), Password(std::move(password)), MaxUsers(maxusers),
      Enabled(enabled) {}

bool ServerNetworks::TakeSeat() {
  if (!Enabled || CurrentUsers >= MaxUsers) return false;
  ++CurrentUsers;
  return true;
}

bool ServerNetworks::AddUserToNetwork(const std::string& username, const std::string& address) {
  if (Path.empty()) return true;
  // Start from the file as it is now, so that an administrator's edits since start-up survive.
  platform::XmlDocument document;
  try {
    if (!document.Parse(platform::ReadWholeFile(Path, kMaxNetworkFileBytes), true).ok) return false;
  } catch (const std::exception&) {
    return false;  // gone or unreadable: the log-in goes on without a record in the file
  }
  auto network = NetworkElement(document);
  if (!network) return false;

  bool known = false;
  for (auto child = network.FirstChild(); child; child = child.NextSibling()) {
    if (!IsUserElement(child) || !EqualsIgnoreCase(child.AttributeOrEmpty("Name"), username))
      continue;
    child.SetAttribute("LastIP", address);
    known = true;
  }
  if (!known) {
    auto element = AppendUserElement(network);
    element.SetAttribute("LastIP", address);
    element.SetAttribute("Name", username);
    auto user = std::make_shared<VelmoraUser>();
    user->Name = username;
    user->LastIP = address;
    user->Path = Path;
    Users.push_back(std::move(user));
  }

  try {
    // A name the file cannot hold (a NUL or control byte, bytes that are no UTF-8, characters
    // beyond the file's encoding) would be written as another user's or make the file one that
    // no longer loads; such a log-in is recorded like one whose write failed.
    if (!document.Carries(username) || !document.Carries(address))
      throw std::invalid_argument("the file cannot hold the user's name");
    std::string content = document.Serialize(true);
    // Nor may the file outgrow what the next start reads.
    if (content.size() > kMaxNetworkFileBytes)
      throw std::length_error("the network file would grow too large");
    // The owner's read-only bit means "do not touch", even though replacing the file by a
    // rename would get past it.
    platform::WriteFileAtomically(Path, content, {.refuseReadOnlyTarget = true});
    return true;
  } catch (const std::exception&) {
    modGlobal::LogMessage(
        "Error adding user " + modGlobal::LogSafe(username) + " to network " + NetworkName, false);
    return false;
  }
}

}  // namespace velmora
