#include <cstdio>
#include <ctime>

#include "host/modGlobal.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace velmora::modGlobal {

void LogMessage(const std::string& message, bool startNew) {
  std::time_t now = std::time(nullptr);
  auto folder = platform::AppDataFolder();
  if (!folder) return;
  std::string path = platform::JoinPath(*folder, "com.velmora.log");
  std::FILE* file = std::fopen(path.c_str(), startNew ? "wb" : "ab");
  if (file == nullptr) {
    // A missing data folder is created once; any other failure loses the line, as nobody
    // calling the log could do anything about it.
    if (!platform::CreateFolder(*folder)) return;
    file = std::fopen(path.c_str(), startNew ? "wb" : "ab");
    if (file == nullptr) return;
  }
  std::string line = "[" + platform::ShortDate(now) + " " + platform::ShortTime(now) + "] " +
                     message + "\n";
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
}

std::string LogSafe(std::string_view clientText) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string safe;
  safe.reserve(clientText.size());
  for (unsigned char c : clientText) {
    switch (c) {
      case '\n': safe += "\\n"; break;
      case '\r': safe += "\\r"; break;
      case '\t': safe += "\\t"; break;
      case '\\': safe += "\\\\"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          safe += "\\x";
          safe += kHex[c >> 4];
          safe += kHex[c & 15];
        } else {
          safe += static_cast<char>(c);
        }
    }
  }
  return safe;
}

}  // namespace velmora::modGlobal
