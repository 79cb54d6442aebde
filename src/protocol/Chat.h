#pragma once
// A relayed chat line: the sender's name, one 0x00 byte, then the text as it was sent.
#include <string>
#include <string_view>
#include <utility>

namespace velmora {

inline std::string ChatLinePayload(std::string_view sender, std::string_view text) {
  std::string payload;
  payload.reserve(sender.size() + 1 + text.size());
  payload += sender;
  payload += '\0';
  payload += text;
  return payload;
}

// The sender and the text; a payload without 0x00 is all sender.
inline std::pair<std::string, std::string> SplitChatLine(std::string_view payload) {
  size_t zero = payload.find('\0');
  if (zero == std::string_view::npos) return {std::string(payload), std::string()};
  return {std::string(payload.substr(0, zero)), std::string(payload.substr(zero + 1))};
}

}  // namespace velmora
