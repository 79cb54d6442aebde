#pragma once
// Folders and files of the host. Everything above platform/ names files by these plain paths.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

// The folder that holds the running executable, or nothing when it cannot be found.
std::optional<std::string> ExecutableFolder();
// The per-user application-data folder: $XDG_DATA_HOME, else $HOME/.local/share.
std::optional<std::string> AppDataFolder();
// The system's temporary folder: $TMPDIR, else /tmp.
std::optional<std::string> TempFolder();

std::string JoinPath(const std::string& folder, const std::string& name);
// The path made absolute against the current folder, links left as they are.
std::string AbsolutePath(const std::string& path);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Creates the folder (and its parents); false when it could not be made.
bool CreateFolder(const std::string& path);
// Entry names of a folder in the order the file system lists them; empty when unreadable.
std::vector<std::string> ListFolder(const std::string& path);

// The limit of ReadWholeFile when the caller names none: enough for a file of settings or a
// secret, small enough that reading it never weighs on the server.
inline constexpr size_t kSmallFileMaxBytes = 1 << 20;

// The whole content of a regular file, links followed. Throws FileError when it cannot be read,
// when it is anything but a regular file (a FIFO, a device, a socket, a folder: reading those
// could block for good or never end), and when it holds more than `maxBytes`.
std::string ReadWholeFile(const std::string& path, size_t maxBytes = kSmallFileMaxBytes);

// Appends `line` to the regular file at `path`, links followed, creating the file when it is
// missing and emptying it first when `truncateFirst`. Never waits on what stands at the path:
// false, with nothing written, when it is not a regular file or cannot be opened or written.
bool AppendLineToFile(const std::string& path, std::string_view line, bool truncateFirst);

struct AtomicWriteOptions {
  // Refuse to replace a file whose owner has taken its write permission away.
  bool refuseReadOnlyTarget = false;
  // For files in folders others can write to, such as the temporary folder: whatever stands at
  // the path (a symbolic link someone planted included) is replaced, never written through, and
  // the new file is the caller's alone (mode 0600), taking over nobody's permissions or owner.
  bool privateFile = false;
  // Flush the file to disk before the rename; a scratch file can do without.
  bool durable = true;
};

// Replaces `path` with `content` so that a crash at any moment leaves either the old or the new
// file: a temporary file in the same folder is written, flushed to disk and renamed over the
// original, keeping the original's permissions and owner (unless privateFile). A symbolic link
// at `path` (a chain of them included) stays as it is: the file it finally leads to is the one
// replaced, from a temporary file in that file's folder, so that an operator's links into a
// managed folder keep working. Throws FileError on any failure.
void WriteFileAtomically(const std::string& path, const std::string& content,
                         AtomicWriteOptions options = {});

}  // namespace velmora::platform
