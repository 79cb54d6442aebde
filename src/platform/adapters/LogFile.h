#pragma once
// The log as a file: com.velmora.log in the application-data folder, one stamped line per
// message, the file opened and closed on every line so that each is whole on disk when the call
// returns and other programs may read, copy or remove the file between two lines. A new log
// keeps the one before it as com.velmora.log.1, so that a restart after a crash does not erase
// the lines that explain it.
//
// The folder depends on the user, not on the server's folder, so two servers that one user runs
// from two folders share the file. A server that begins a new log holds a lock on it
// (com.velmora.log.lock beside it) for as long as it runs; another server that finds the lock
// held appends to the running server's log instead of moving it aside.
#include <memory>
#include <optional>
#include <string>

#include "base/Log.h"

namespace velmora::platform {

class InstanceLock;

class LogFile final : public LogSink {
 public:
  static constexpr const char* kFileName = "com.velmora.log";
  static constexpr const char* kPreviousSuffix = ".1";
  static constexpr const char* kLockSuffix = ".lock";

  // The log in `folder`; nothing means the application-data folder as it is at each line.
  explicit LogFile(std::optional<std::string> folder = std::nullopt);
  ~LogFile() override;
  void Write(const std::string& message, bool startNew) override;
  // Where the next line goes; nothing when no location can be formed.
  std::optional<std::string> Path() const;

 private:
  // Whether this log may begin the file at `path` anew: true once it holds the file's lock, or
  // when no lock can be had at all (a folder where nothing but the log can be written); false
  // while another server holds it.
  bool MayStartNew(const std::string& path);

  std::optional<std::string> folder_;
  std::unique_ptr<InstanceLock> lock_;
  std::string lockedPath_;
};

}  // namespace velmora::platform
