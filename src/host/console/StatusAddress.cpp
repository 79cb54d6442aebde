#include "host/console/StatusAddress.h"

#include <charconv>

#include "host/console/ConsoleError.h"

namespace velmora::console {

StatusAddress StatusAddress::Parse(const std::string& text) {
  auto refuse = [&] {
    return ConsoleError("StatusAddress \"" + text +
                        "\" is not host:port (for example 127.0.0.1:9480 or [::1]:9480)");
  };
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw refuse();
  std::string host = text.substr(0, colon);
  std::string port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    throw refuse();  // an IPv6 address needs its brackets, or the port cannot be told apart
  }
  if (host.empty() || port.empty() || host.find_first_of(" []/") != std::string::npos)
    throw refuse();
  unsigned value = 0;
  auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (error != std::errc() || end != port.data() + port.size() || value > 65535) throw refuse();
  return {host, static_cast<uint16_t>(value)};
}

}  // namespace velmora::console
