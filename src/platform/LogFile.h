#pragma once
// The log as a file: com.velmora.log in the application-data folder, one stamped line per
// message, the file opened and closed on every line so that each is whole on disk when the call
// returns and other programs may read, copy or remove the file between two lines. A new log
// keeps the one before it as com.velmora.log.1, so that a restart after a crash does not erase
// the lines that explain it.
#include <optional>
#include <string>

#include "base/Log.h"

namespace velmora::platform {

class LogFile final : public LogSink {
 public:
  static constexpr const char* kFileName = "com.velmora.log";
  static constexpr const char* kPreviousSuffix = ".1";

  // The log in `folder`; nothing means the application-data folder as it is at each line.
  explicit LogFile(std::optional<std::string> folder = std::nullopt);
  void Write(const std::string& message, bool startNew) override;
  // Where the next line goes; nothing when no location can be formed.
  std::optional<std::string> Path() const;

 private:
  std::optional<std::string> folder_;
};

}  // namespace velmora::platform
