#pragma once
// Reading what the server sends (member positions, the ban list) and printing it safely.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::admin {

struct MemberPosition {
  std::string name;
  int64_t x = 0, y = 0, facet = 0, hp = 0;
  bool inBattle = false, isDead = false;
};

struct BanEntry {
  std::string id;
  std::string address;
  std::string by;
  std::string reason;
  std::string date;  // the server's local date and time, as it wrote them
};

// "name|x,y,facet,hp,battle,dead". The numbers never hold "|", so the last one ends the name.
std::optional<MemberPosition> ParseMemberPosition(std::string_view payload);
// Entries "id|address|by|reason|date time", each ended by one 0x00 byte. The reason was cut at
// the first "|" by the server and the date holds none, so a "|" in a name stays in `by`.
std::vector<BanEntry> ParseBanList(std::string_view payload);
// Chat: the sender's name, one 0x00 byte, the text.
std::pair<std::string, std::string> SplitChat(std::string_view payload);

// Text from other users made safe for a terminal: valid UTF-8 other than control characters
// passes; control characters and stray bytes are shown as \xNN, so that nobody can move the
// cursor, retitle the window or fake a line of output on the operator's screen.
std::string Printable(std::string_view text);

// Columns separated by two spaces, each as wide as its widest cell; the first row is the head.
std::string FormatTable(const std::vector<std::vector<std::string>>& rows);

}  // namespace velmora::admin
