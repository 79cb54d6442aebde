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
  std::string line = "[" + ShortDate(now) + " " + ShortTime(now) + "] " + message + "\n";
  // A missing data folder is created once; any other failure loses the line, as nobody calling
  // the log could do anything about it. Something other than a file in the log's place (a FIFO
  // nobody reads, a device) loses it too, rather than hold up the server.
  if (AppendLineToFile(*path, line, startNew)) return;
  auto slash = path->rfind('/');
  if (slash == std::string::npos) return;
  std::string folder = path->substr(0, slash);
  if (!FolderExists(folder) && CreateFolder(folder)) AppendLineToFile(*path, line, startNew);
}

}  // namespace velmora::platform
