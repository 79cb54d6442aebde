#pragma once
// The server's one log. Every room reports through modGlobal::LogMessage; where the lines go
// is decided once, at the top: the application installs the file writer, a test installs what
// it wants to look at, and with nothing installed a line goes nowhere.
#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

class LogSink {
 public:
  virtual ~LogSink() = default;
  // One message as passed to LogMessage; startNew begins a new log with it.
  virtual void Write(const std::string& message, bool startNew) = 0;
  // A line that the log keeps as `message` alone, while a person watching the server gets
  // `detail` as well (where and why it happened); sinks without such a person just log it.
  virtual void WriteWithDetail(const std::string& message, const std::string& detail) {
    Write(message, false);
  }
};

// Makes `sink` receive every later line; nullptr discards them. The caller keeps it alive.
// Returns the sink that was installed before.
LogSink* InstallLogSink(LogSink* sink);

}  // namespace velmora

namespace velmora::modGlobal {

// Writes one line "[date time] message" to the log; startNew empties it first.
void LogMessage(const std::string& message, bool startNew);
// Appends `message` to the log; `detail` goes only where a person reads along (see LogSink).
void LogMessageWithDetail(const std::string& message, const std::string& detail);

// Most bytes of one client text that a log line quotes, so that what one message adds to the
// log is bounded however long its texts.
inline constexpr size_t kMaxQuotedBytes = 256;

// Client-supplied text made safe for a log line: bytes below 0x20, 0x7F and the backslash are
// written as escapes (\n, \r, \t, \\, \xNN), so a client cannot forge or split log lines. A text
// longer than kMaxQuotedBytes is quoted up to there, followed by "…(N bytes)" with its full
// length.
std::string LogSafe(std::string_view clientText);

}  // namespace velmora::modGlobal
