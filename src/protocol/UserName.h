#pragma once
// Which user names a client may log in under. Names travel in relayed payloads, where "|" and
// 0x00 separate fields, and in log lines; a name that held either could pass for another member
// ("Bob|..." in a position, "Bob\0..." in a chat line), so only short printable names are taken.
#include <cstddef>
#include <string_view>

namespace velmora {

inline constexpr size_t kMaxUserNameBytes = 64;

// Not empty, at most kMaxUserNameBytes bytes, and no "|", 0x7F or byte below 0x20 (0x00
// included). Bytes above 0x7F pass, so names in any script are taken as sent.
constexpr bool IsAcceptableUserName(std::string_view name) {
  if (name.empty() || name.size() > kMaxUserNameBytes) return false;
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || byte == '|') return false;
  }
  return true;
}

}  // namespace velmora
