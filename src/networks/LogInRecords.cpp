#include "networks/LogInRecords.h"

#include <exception>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "base/NumberText.h"
#include "base/TextCase.h"
#include "networks/NetworkFiles.h"
#include "platform/adapters/FileSystem.h"
#include "platform/adapters/XmlDocument.h"

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

// The user elements of the network by name without letter case, each list in document order:
// a batch looks every log-in up in it instead of walking the whole file for each.
using UsersByName = std::unordered_map<std::string, std::vector<platform::XmlNode>>;

UsersByName IndexUsers(platform::XmlNode network) {
  UsersByName users;
  for (auto child = network.FirstChild(); child; child = child.NextSibling())
    if (IsUserElement(child)) users[FoldedCopy(child.AttributeOrEmpty("Name"))].push_back(child);
  return users;
}

// Records one log-in in the document; true when the document changed. Without `mayAdd` a user
// the file does not know is refused instead of added.
bool Record(const platform::XmlDocument& document, platform::XmlNode network, UsersByName& users,
            const LogInRecord& logIn, bool mayAdd, RecordOutcome& outcome) {
  // A name the file cannot hold (a NUL byte; bytes that are no UTF-8 in a file of another
  // encoding) would be written as another user's; such a log-in is recorded like one whose
  // write failed.
  bool fits = document.Carries(logIn.username) && document.Carries(logIn.address);
  std::string folded = FoldedCopy(logIn.username);
  auto& named = users[folded];
  bool known = !named.empty();
  bool changed = false;
  for (auto child : named) {
    if (!fits) continue;
    auto lastIp = child.Attribute("LastIP");
    // Whoever knows the network's password could otherwise take an administrator's name from
    // their own address and hold the rights after the next start; the operator moves an
    // administrator by editing the file.
    if (ReadFileFlag(child.AttributeOrEmpty("IsAdmin")) &&
        !EqualsIgnoreCase(lastIp.value_or(""), logIn.address)) {
      outcome.keptAdminAddresses.push_back(lastIp.value_or(""));
      continue;
    }
    if (lastIp == logIn.address) continue;
    child.SetAttribute("LastIP", logIn.address);
    changed = true;
  }
  if (known) {
    outcome.failed = !fits;
    return changed;
  }
  outcome.newUser = true;
  if (!fits || !mayAdd) {
    outcome.failed = true;
    return changed;
  }
  auto element = AppendUserElement(network);
  element.SetAttribute("LastIP", logIn.address);
  element.SetAttribute("Name", logIn.username);
  named.push_back(element);
  return true;
}

struct Rewrite {
  std::vector<RecordOutcome> outcomes;
  std::string text;  // the document to write; empty when nothing changed
};

// The batch applied to the file's text; nothing when the text holds no network.
std::optional<Rewrite> Apply(const std::string& original, const std::vector<LogInRecord>& logIns,
                             bool mayAdd) {
  platform::XmlDocument document;
  if (!document.Parse(original, true).ok) return std::nullopt;
  auto network = NetworkElement(document);
  if (!network) return std::nullopt;
  UsersByName users = IndexUsers(network);
  Rewrite rewrite;
  rewrite.outcomes.resize(logIns.size());
  bool changed = false;
  for (size_t i = 0; i < logIns.size(); ++i)
    changed |= Record(document, network, users, logIns[i], mayAdd, rewrite.outcomes[i]);
  if (changed) rewrite.text = document.Serialize(true);
  return rewrite;
}

}  // namespace

BatchOutcome RecordLogIns(const std::string& path, const std::vector<LogInRecord>& logIns,
                          size_t maxBytes) {
  BatchOutcome batch;
  batch.logIns.resize(logIns.size());
  std::string original;
  try {
    original = platform::ReadWholeFile(path, kMaxNetworkFileBytes);
  } catch (const std::exception&) {
    return batch;  // gone or unreadable: the log-ins go on without a record in the file
  }
  auto rewrite = Apply(original, logIns, true);
  if (!rewrite) return batch;
  // A file grown past what the server loads would take the network away at the next start:
  // users it does not know yet are then refused, and the others still recorded.
  if (rewrite->text.size() > maxBytes) rewrite = Apply(original, logIns, false);
  bool tooLarge = rewrite->text.size() > maxBytes;
  batch.logIns = std::move(rewrite->outcomes);
  if (rewrite->text.empty()) return batch;
  try {
    if (tooLarge) throw std::length_error("the network file would outgrow the load limit");
    // The owner's read-only bit means "do not touch", even though replacing the file by a
    // rename would get past it.
    platform::WriteFileAtomically(path, rewrite->text, {.refuseReadOnlyTarget = true});
    batch.rewritten = true;
  } catch (const std::exception&) {
    for (auto& outcome : batch.logIns) outcome.failed = true;
  }
  return batch;
}

}  // namespace velmora
