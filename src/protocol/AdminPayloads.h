#pragma once
// The payloads of the administrators' requests and of the ban list the server answers with.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Kick and ban requests: user "|" reason. Further fields are ignored, a missing one is empty, so
// a "|" inside the reason ends it there.
struct UserAndReason {
  std::string User;
  std::string Reason;
};
UserAndReason ReadUserAndReason(std::string_view payload);
std::string UserAndReasonPayload(std::string_view user, std::string_view reason);

// One row of the ban list: id|address|by|reason|date time, ended by one 0x00 byte.
struct BanListEntry {
  std::string Id;
  std::string Address;
  std::string By;
  std::string Reason;
  std::string When;  // the server's local date and time, as it wrote them
};
void AppendBanListEntry(std::string& out, const BanListEntry& entry);
// The entries of a ban list. The reason was cut at its first "|" and the date holds none, so a
// "|" in the administrator's name stays in `By`; entries of fewer than five fields are skipped.
std::vector<BanListEntry> ReadBanList(std::string_view payload);

}  // namespace velmora
