#pragma once
// Which user names a client may log in under. Names travel in relayed payloads, where "|" and
// 0x00 separate fields, and in log lines; a name that held either could pass for another member
// ("Bob|..." in a position, "Bob\0..." in a chat line), so only short printable names are taken.
#include <cstddef>
#include <string_view>

namespace velmora {

inline constexpr size_t kMaxUserNameBytes = 64;

// The rule: not empty, at most kMaxUserNameBytes bytes, and no "|", 0x7F or byte below 0x20
// (0x00 included). Bytes above 0x7F pass, so names in any script are taken as sent.
// UserNameFault says what breaks it, in words that follow "the user name" ("is empty"), and
// nothing for a name within it. The server logs those words with a refusal, and velmora-admin
// checks its --user with them before it connects, so both tell the one rule in the same words.
constexpr std::string_view UserNameFault(std::string_view name) {
  static_assert(kMaxUserNameBytes == 64, "the words below name the bound");
  if (name.empty()) return "is empty";
  if (name.size() > kMaxUserNameBytes) return "is longer than 64 bytes";
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte == '|') return "holds \"|\"";
    if (byte < 0x20 || byte == 0x7F) return "holds a control byte (below 0x20, or 0x7F)";
  }
  return {};
}

constexpr bool IsAcceptableUserName(std::string_view name) { return UserNameFault(name).empty(); }

}  // namespace velmora
