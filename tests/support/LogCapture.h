#pragma once
// Keeps the messages the server logs while it lives, in memory, so that a test reads back exactly
// the lines it caused and nothing reaches a real log file.
#include <string>
#include <vector>

#include "base/Log.h"

namespace velmora::testing {

class LogCapture final : public LogSink {
 public:
  LogCapture() : previous_(InstallLogSink(this)) {}
  ~LogCapture() override { InstallLogSink(previous_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  void Write(const std::string& message, bool startNew) override {
    if (startNew) messages_.clear();
    messages_.push_back(message);
  }
  // The messages so far, without time stamps.
  const std::vector<std::string>& Messages() const { return messages_; }
  void Clear() { messages_.clear(); }

 private:
  LogSink* previous_;
  std::vector<std::string> messages_;
};

}  // namespace velmora::testing
