#include "platform/LogFile.h"

#include <cstdio>
#include <ctime>

#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace velmora::platform {

LogFile::LogFile(std::optional<std::string> folder) : folder_(std::move(folder)) {}

std::optional<std::string> LogFile::Path() const {
  auto folder = folder_ ? folder_ : AppDataFolder();
  if (!folder) return std::nullopt;
  return JoinPath(*folder, kFileName);
}

void LogFile::Write(const std::string& message, bool startNew) {
  std::time_t now = std::time(nullptr);
  auto path = Path();
  if (!path) return;
  // Replaces the older copy; with no log yet there is nothing to keep.
  if (startNew) std::rename(path->c_str(), (*path + kPreviousSuffix).c_str());
  std::FILE* file = std::fopen(path->c_str(), startNew ? "wb" : "ab");
  if (file == nullptr) {
    // A missing data folder is created once; any other failure loses the line, as nobody
    // calling the log could do anything about it.
    auto slash = path->rfind('/');
    if (slash == std::string::npos || !CreateFolder(path->substr(0, slash))) return;
    file = std::fopen(path->c_str(), startNew ? "wb" : "ab");
    if (file == nullptr) return;
  }
  std::string line = "[" + ShortDate(now) + " " + ShortTime(now) + "] " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
}

}  // namespace velmora::platform
