// The network-file reader and the registration rewrite. The input is written as a network file;
// when it reads as a network, a log-in is registered in it and the file is read again: it must
// still be well-formed XML to a conforming parser and give the same network and the same users
// in the same order with the same fields, except that the users of the logged-in name now carry
// the new address, or that one user is appended. A second registration of the same log-in must
// leave the file byte for byte as it is. A file that does not read as a network must be left
// alone, and one that reads as a network must be well-formed.
#include <iterator>

#include "FuzzSupport.h"
#include "base/TextCase.h"
#include "base/Log.h"
#include "networks/NetworkFiles.h"
#include "networks/ServerNetworks.h"
#include "platform/adapters/XmlWellFormedness.h"

namespace velmora::fuzz {
namespace {

const char* const kNames[] = {"Bob", "ann", "ROOT", "", "Mallory"};
const char* const kAddresses[] = {"10.0.0.5", "::1", "127.0.0.1", ""};

template <size_t N>
std::string Choose(ByteReader& input, const char* const (&values)[N]) {
  uint8_t choice = input.Byte();
  if (choice == 255) return input.Text(24);
  return values[choice % N];
}

std::string Show(std::string_view text) {
  std::string shown;
  for (unsigned char c : text.substr(0, 60)) {
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789abcdef";
      shown += "\\x";
      shown += kHex[c >> 4];
      shown += kHex[c & 15];
    }
  }
  return "\"" + shown + "\"";
}

std::string Fields(const VelmoraUser& user) {
  return Show(user.Name) + " " + Show(user.LastIP) + " " + Show(user.UniqueID()) + " " +
         (user.IsAdmin ? "admin " : "") + (user.IsBanned ? "banned " : "") + Show(user.BanBy()) +
         " " + Show(user.BanDate()) + " " + Show(user.BanReason());
}

bool SameExceptAddress(const VelmoraUser& a, const VelmoraUser& b) {
  return a.Name == b.Name && a.UniqueID() == b.UniqueID() && a.IsAdmin == b.IsAdmin &&
         a.IsBanned == b.IsBanned && a.BanBy() == b.BanBy() && a.BanDate() == b.BanDate() &&
         a.BanReason() == b.BanReason() && a.Path() == b.Path();
}

// The lists Admins and Bans hold exactly the flagged users, in order, as the same objects.
void CheckLists(const ServerNetworks& network) {
  std::vector<VelmoraUser*> admins, bans;
  for (auto& user : network.Users()) {
    if (user->IsAdmin) admins.push_back(user.get());
    if (user->IsBanned) bans.push_back(user.get());
  }
  FUZZ_CHECK(admins.size() == network.Admins.size(), "Admins does not list the administrators");
  for (size_t i = 0; i < admins.size(); ++i)
    FUZZ_CHECK(network.Admins[i].get() == admins[i], "Admins holds copies or another order");
  FUZZ_CHECK(bans.size() == network.Bans.size(), "Bans does not list the banned users");
  for (size_t i = 0; i < bans.size(); ++i)
    FUZZ_CHECK(network.Bans[i].get() == bans[i], "Bans holds copies or another order");
}

// Whether a refused registration is owed to the name or to the file: a name with bytes XML
// cannot hold (NUL, control characters but tab and line ends) or beyond ASCII (each encoding
// takes another share of those), or a file in Latin-1 or US-ASCII with character references,
// which may stand for characters the file cannot write back.
bool RefusalExplained(const std::string& name, const std::string& content) {
  for (unsigned char c : name)
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c >= 0x80) return true;
  auto encoding = platform::CheckXmlWellFormed(content).encoding;
  return (encoding == platform::XmlEncoding::kLatin1 ||
          encoding == platform::XmlEncoding::kAscii) &&
         content.find("&#") != std::string::npos;
}

}  // namespace
}  // namespace velmora::fuzz

using namespace velmora;
using namespace velmora::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = ScratchFolder() + "/network.conf";
  FuzzLog().Clear();

  ByteReader input(data, size);
  std::string name = Choose(input, kNames);
  // The platform reports addresses as IP text; the input picks one.
  std::string address = kAddresses[input.Below(std::size(kAddresses))];
  std::string content = input.Rest();
  WriteFile(path, content);

  auto before = modGlobal::ReadNetworkXML(path);
  if (!before) {
    ServerNetworks network;
    network.Path = path;
    network.AddUserToNetwork(name, address);
    FUZZ_CHECK(ReadFile(path) == content, "a file that is no network was rewritten");
    FUZZ_CHECK(network.Users().empty(), "a file that is no network gained a user");
    return 0;
  }
  FUZZ_CHECK(platform::CheckXmlWellFormed(content).ok, "a file that is not well-formed loaded");
  CheckLists(*before);
  FUZZ_CHECK(before->Path == path && before->CurrentUsers == 0, "a new record is not fresh");
  for (auto& user : before->Users()) FUZZ_CHECK(user->Path() == path, "a user without the file");

  std::vector<VelmoraUser> users;
  for (auto& user : before->Users()) users.push_back(*user);
  bool known = false;
  for (auto& user : users) known = known || EqualsIgnoreCase(user.Name, name);

  before->AddUserToNetwork(name, address);
  FUZZ_CHECK(before->Users().size() == users.size() + (known ? 0 : 1),
             "registration added " + std::to_string(before->Users().size() - users.size()) +
                 " records in memory");
  std::string rewritten = ReadFile(path);
  auto& lines = FuzzLog().Messages();
  if (std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("Error adding user ", 0) == 0;
      })) {
    // A name that the file cannot hold is refused like a failed write: recorded in memory only.
    FUZZ_CHECK(RefusalExplained(name, content), "the file refused the plain name " + Show(name));
    FUZZ_CHECK(rewritten == content, "a refused registration changed the file");
    return 0;
  }
  auto wellFormed = platform::CheckXmlWellFormed(rewritten);
  FUZZ_CHECK(wellFormed.ok, "the rewrite made the file ill-formed: " + wellFormed.message +
                                " (name " + Show(name) + ")");
  auto after = modGlobal::ReadNetworkXML(path);
  FUZZ_CHECK(after != nullptr, "the rewritten file no longer reads as a network");
  CheckLists(*after);
  FUZZ_CHECK(after->NetworkName == before->NetworkName && after->Password == before->Password &&
                 after->MaxUsers == before->MaxUsers && after->Enabled == before->Enabled &&
                 after->Port == before->Port,
             "the network's own fields changed: " + Show(before->NetworkName) + " -> " +
                 Show(after->NetworkName));
  FUZZ_CHECK(after->Users().size() == users.size() + (known ? 0 : 1),
             "the rewritten file lists " + std::to_string(after->Users().size()) + " users, had " +
                 std::to_string(users.size()) + (known ? ", name known" : ", name new"));
  for (size_t i = 0; i < users.size(); ++i) {
    const VelmoraUser& was = users[i];
    const VelmoraUser& is = *after->Users()[i];
    // An administrator's element keeps its address when the log-in comes from another.
    bool renewed = EqualsIgnoreCase(was.Name, name) &&
                   !(was.IsAdmin && !EqualsIgnoreCase(was.LastIP, address));
    FUZZ_CHECK(SameExceptAddress(was, is) && is.LastIP == (renewed ? address : was.LastIP),
               "user " + std::to_string(i) + " was " + Fields(was) + ", reads back as " +
                   Fields(is));
  }
  if (!known) {
    const VelmoraUser& added = *after->Users().back();
    FUZZ_CHECK(added.Name == name && added.LastIP == address && added.UniqueID().empty() &&
                   !added.IsAdmin && !added.IsBanned && added.BanBy().empty() &&
                   added.BanDate().empty() && added.BanReason().empty(),
               "the appended user reads back as " + Fields(added) + " for " + Show(name) + " " +
                   Show(address));
  }

  after->AddUserToNetwork(name, address);
  FUZZ_CHECK(ReadFile(path) == rewritten, "registering the same log-in again changed the file");
  return 0;
}
