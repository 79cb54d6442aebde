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
};

// Replaces `path` with `content` so that a crash at any moment leaves either the old or the new
// file: a temporary file in the same folder is written, flushed to disk and renamed over the
// original, keeping the original's permissions. Throws FileError on any failure.
void WriteFileAtomically(const std::string& path, const std::string& content,
                         AtomicWriteOptions options = {});

}  // namespace velmora::platform
