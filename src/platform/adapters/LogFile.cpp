#include "platform/adapters/LogFile.h"

#include <cstdio>
#include <ctime>

#include "platform/adapters/Clock.h"
#include "platform/adapters/FileSystem.h"
#include "platform/adapters/InstanceLock.h"

namespace velmora::platform {

namespace {

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A missing data folder is created once, so that the first line of a new user's first run is
// not lost.
void EnsureFolderOf(const std::string& path) {
  std::string folder = FolderOf(path);
  if (!folder.empty() && !FolderExists(folder)) CreateFolder(folder);
}

}  // namespace

LogFile::LogFile(std::optional<std::string> folder) : folder_(std::move(folder)) {}

LogFile::~LogFile() = default;

std::optional<std::string> LogFile::Path() const {
  auto folder = folder_ ? folder_ : AppDataFolder();
  if (!folder) return std::nullopt;
  return JoinPath(*folder, kFileName);
}

bool LogFile::MayStartNew(const std::string& path) {
  if (lock_ && lockedPath_ == path) return true;
  EnsureFolderOf(path);
  auto lock = std::make_unique<InstanceLock>(path + kLockSuffix);
  switch (lock->Result()) {
    case InstanceLock::Outcome::kTaken:
      lock_ = std::move(lock);
      lockedPath_ = path;
      return true;
    case InstanceLock::Outcome::kHeldElsewhere:
      return false;
    case InstanceLock::Outcome::kUnavailable:
      break;
  }
  return true;
}

void LogFile::Write(const std::string& message, bool startNew) {
  std::time_t now = std::time(nullptr);
  auto path = Path();
  if (!path) return;
  // Another running server's log is left where it is: this one's lines join it.
  if (startNew && !MayStartNew(*path)) startNew = false;
  // Replaces the older copy; with no log yet there is nothing to keep.
  if (startNew) std::rename(path->c_str(), (*path + kPreviousSuffix).c_str());
  std::string line;
  line.reserve(message.size() + 32);
  line.append("[").append(ShortDate(now)).append(" ").append(ShortTime(now)).append("] ");
  line.append(message).append("\n");
  // Any failure but a missing folder loses the line, as nobody calling the log could do
  // anything about it. Something other than a file in the log's place (a FIFO nobody reads, a
  // device) loses it too, rather than hold up the server.
  if (AppendLineToFile(*path, line, startNew)) return;
  std::string folder = FolderOf(*path);
  if (!folder.empty() && !FolderExists(folder) && CreateFolder(folder))
    AppendLineToFile(*path, line, startNew);
}

}  // namespace velmora::platform
