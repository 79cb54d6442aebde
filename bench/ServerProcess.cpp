#include "ServerProcess.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace velmora::bench {

long ServerStatusKb(int pid, const char* field) {
  if (pid <= 0) return -1;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0) return std::stol(line.substr(length));
  }
  return -1;
}

bool ResetServerPeak(int pid) {
  if (pid <= 0) return false;
  std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
  clear << "5\n";
  clear.flush();
  return static_cast<bool>(clear);
}

double ServerCpuSeconds(int pid) {
  if (pid <= 0) return -1;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The command name may hold blanks; the fields counted here start after its closing bracket.
  size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace velmora::bench
