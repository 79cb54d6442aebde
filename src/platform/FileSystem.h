#pragma once
// Folders and files of the host. Everything above platform/ names files by these plain paths.
#include <optional>
#include <string>
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

// The whole content of a file; throws FileError when it cannot be read.
std::string ReadWholeFile(const std::string& path);

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
// original, keeping the original's permissions (unless privateFile). Throws FileError on any
// failure.
void WriteFileAtomically(const std::string& path, const std::string& content,
                         AtomicWriteOptions options = {});

}  // namespace velmora::platform
