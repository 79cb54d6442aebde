#include "support/ProcessProbe.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace velmora::e2e {

std::optional<size_t> OpenDescriptors(pid_t pid) {
  std::error_code error;
  std::filesystem::directory_iterator entries("/proc/" + std::to_string(pid) + "/fd", error);
  if (error) return std::nullopt;
  size_t count = 0;
  for (auto it = entries; it != std::filesystem::directory_iterator(); it.increment(error)) {
    if (error) return std::nullopt;
    ++count;
  }
  return count;
}

std::optional<size_t> ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) != 0) continue;
    std::istringstream fields(line.substr(6));
    size_t kib = 0;
    if (fields >> kib) return kib;
  }
  return std::nullopt;
}

std::optional<long> CpuTicks(pid_t pid) {
  std::string stat = [&] {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    return line;
  }();
  // The command name may hold spaces; the fields after it begin with the state (the third).
  auto end = stat.rfind(')');
  if (end == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(end + 1));
  std::string field;
  long user = 0, system = 0;
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) user = std::stol(field);
    if (index == 15) system = std::stol(field);
  }
  return user + system;
}

long TicksPerSecond() { return ::sysconf(_SC_CLK_TCK); }

bool SomethingListensOn(uint16_t port) {
  // Lines read "sl local_address rem_address st ...", the local address as HEX:PORT in hex,
  // and state 0A for LISTEN.
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      if (!(fields >> slot >> local >> remote >> state)) continue;
      auto colon = local.rfind(':');
      if (colon == std::string::npos || state != "0A") continue;
      if (std::stoul(local.substr(colon + 1), nullptr, 16) == port) return true;
    }
  }
  return false;
}

}  // namespace velmora::e2e
