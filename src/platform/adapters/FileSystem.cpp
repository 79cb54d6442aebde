#include "platform/adapters/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/adapters/FileError.h"

namespace velmora::platform {

namespace {

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

std::optional<std::string> NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

// Closes a descriptor on every path out of a scope.
struct FdGuard {
  int fd;
  ~FdGuard() {
    if (fd >= 0) ::close(fd);
  }
};

// As many links as the kernel follows in one path before it gives up (ELOOP).
constexpr int kMaxLinksFollowed = 40;

// Whether something other than a regular file stands at the path. Looking before opening spares
// a device the open itself, which some act upon (a tape rewinds); the check on the opened
// descriptor is the one that counts.
bool SomethingElseThanAFileAt(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

bool IsRegularFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(put));
  }
  return true;
}

// The folder part of a path, as a path to open.
std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Where a chain of symbolic links that starts at `path` ends: the first entry that is no link,
// or that does not exist yet. A relative link is read from the folder that holds it.
std::string FinalTarget(const std::string& path) {
  std::string current = path;
  for (int followed = 0; followed <= kMaxLinksFollowed; ++followed) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    char buffer[PATH_MAX];
    ssize_t length = ::readlink(current.c_str(), buffer, sizeof buffer);
    if (length <= 0) throw FileError(ErrnoText("cannot read the link", current));
    if (static_cast<size_t>(length) == sizeof buffer) throw FileError("link too long: " + current);
    std::string target(buffer, static_cast<size_t>(length));
    current = target.front() == '/' ? target : JoinPath(FolderOf(current), target);
  }
  throw FileError("too many levels of symbolic links: " + path);
}

}  // namespace

std::optional<std::string> ExecutableFolder() {
  char buffer[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::nullopt;
  std::string path(buffer, static_cast<size_t>(length));
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::optional<std::string> AppDataFolder() {
  if (auto xdg = NonEmptyEnv("XDG_DATA_HOME")) return xdg;
  if (auto home = NonEmptyEnv("HOME")) return JoinPath(*home, ".local/share");
  return std::nullopt;
}

std::optional<std::string> TempFolder() {
  if (auto tmp = NonEmptyEnv("TMPDIR")) return tmp;
  return std::string("/tmp");
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::error_code error;
  auto absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.string();
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool FolderExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateFolder(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return FolderExists(path);
}

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  DIR* folder = ::opendir(path.c_str());
  if (folder == nullptr) return names;
  while (dirent* entry = ::readdir(folder)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    names.push_back(std::move(name));
  }
  ::closedir(folder);
  return names;
}

std::string ReadWholeFile(const std::string& path, size_t maxBytes) {
  if (SomethingElseThanAFileAt(path)) throw FileError("not a regular file: " + path);
  // Without O_NONBLOCK the open of a FIFO waits for a writer, for good if none comes.
  FdGuard file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  if (file.fd < 0) throw FileError(ErrnoText("cannot open", path));
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) throw FileError(ErrnoText("cannot examine", path));
  if (!S_ISREG(info.st_mode)) throw FileError("not a regular file: " + path);
  auto tooLarge = [&] {
    return FileError("larger than " + std::to_string(maxBytes) + " bytes: " + path);
  };
  if (static_cast<uintmax_t>(info.st_size) > maxBytes) throw tooLarge();
  std::string content;
  content.reserve(static_cast<size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    // One byte beyond the limit is asked for, so that a file still growing is caught.
    size_t left = maxBytes - content.size();
    ssize_t got = ::read(file.fd, buffer, left < sizeof buffer ? left + 1 : sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError(ErrnoText("cannot read", path));
    }
    if (got == 0) break;
    content.append(buffer, static_cast<size_t>(got));
    if (content.size() > maxBytes) throw tooLarge();
  }
  return content;
}

bool AppendLineToFile(const std::string& path, std::string_view line, bool truncateFirst) {
  if (SomethingElseThanAFileAt(path)) return false;
  // O_NONBLOCK: the open of a FIFO that nobody reads fails at once instead of waiting for a
  // reader. The file is emptied only once it is known to be a regular file.
  FdGuard file{::open(path.c_str(),
                      O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666)};
  if (file.fd < 0 || !IsRegularFile(file.fd)) return false;
  if (truncateFirst && ::ftruncate(file.fd, 0) != 0) return false;
  return WriteAll(file.fd, line);
}

void WriteFileAtomically(const std::string& path, const std::string& content,
                         AtomicWriteOptions options) {
  mode_t mode = options.privateFile ? 0600 : 0644;
  struct stat existing {};
  std::string target = path;
  if (options.privateFile) {
    // Only what the path itself is matters: a link is replaced like a file, never followed.
    if (::lstat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))
      throw FileError("not a regular file: " + path);
    existing = {};
  } else {
    target = FinalTarget(path);
    if (::stat(target.c_str(), &existing) == 0) {
      if (!S_ISREG(existing.st_mode)) throw FileError("not a regular file: " + target);
      // Root may write anything; the owner's write bit is what says "leave this file alone".
      if (options.refuseReadOnlyTarget && (existing.st_mode & S_IWUSR) == 0)
        throw FileError("read-only file: " + target);
      mode = existing.st_mode & 07777;
    }
  }

  std::string folder = FolderOf(target);
  std::string base = target.substr(target.rfind('/') + 1);
  // The draw is written at a fixed width, so that naming the file takes the same steps whatever
  // it is: the fuzz targets, run twice on the same inputs, then cover the same code.
  std::random_device entropy;
  char draw[9];
  std::snprintf(draw, sizeof draw, "%08x", entropy());
  std::string temp = JoinPath(folder, "." + base + ".tmp" + draw);

  FdGuard file{::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)};
  if (file.fd < 0) throw FileError(ErrnoText("cannot create", temp));
  auto fail = [&](const std::string& what) {
    std::string text = ErrnoText(what, temp);
    ::unlink(temp.c_str());
    throw FileError(text);
  };
  if (!WriteAll(file.fd, content)) fail("cannot write");
  if (::fchmod(file.fd, mode) != 0) fail("cannot set permissions of");
  if (existing.st_nlink > 0 && ::fchown(file.fd, existing.st_uid, existing.st_gid) != 0) {
    // Only root can hand a file to another owner; anyone else keeps their own file anyway.
  }
  if (options.durable && ::fsync(file.fd) != 0) fail("cannot flush");
  ::close(file.fd);
  file.fd = -1;
  if (::rename(temp.c_str(), target.c_str()) != 0) fail("cannot rename");
  if (!options.durable) return;
  // Make the rename itself durable.
  FdGuard dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd >= 0) ::fsync(dir.fd);
}

}  // namespace velmora::platform
