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
  std::string line = "[" + platform::ShortDate(now) + " " + platform::ShortTime(now) + "] " +
                     message + "\n";
  // A missing data folder is created once; any other failure loses the line, as nobody calling
  // the log could do anything about it. Something other than a file in the log's place (a FIFO
  // nobody reads, a device) loses it too, rather than hold up the server.
  if (platform::AppendLineToFile(path, line, startNew)) return;
  if (!platform::FolderExists(*folder) && platform::CreateFolder(*folder))
    platform::AppendLineToFile(path, line, startNew);
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
