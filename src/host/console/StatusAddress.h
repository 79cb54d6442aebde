#pragma once
// Where the console listens: "host:port", the host being a name, an IPv4 address or an IPv6
// address in brackets ("[::1]:9480"), the port from 0 to 65535, 0 asking for any free one.
// The setting StatusAddress and the command line's --status both follow this rule.
#include <cstdint>
#include <string>

namespace velmora::console {

struct StatusAddress {
  std::string Host;  // without brackets
  uint16_t Port = 0;

  // Throws ConsoleError when `text` is not of that form.
  static StatusAddress Parse(const std::string& text);
};

}  // namespace velmora::console
