#pragma once
// The lines of a start-up, held until it is known whether the server serves. A server that
// listens begins a new log with them; one that gives up (no listener could open) appends them to
// the log that is there, so that the previous run's log, or the log of another server that runs
// beside it, is never moved aside by a server that did not start.
#include <cstddef>
#include <string>
#include <vector>

#include "base/Log.h"

namespace velmora {

class StartUpLog final : public LogSink {
 public:
  // The most bytes of start-up lines held; a start-up that logs more (thousands of network
  // files) keeps its first lines and the count of the rest, which standard error has in full.
  static constexpr size_t kMaxHeldBytes = 1 << 20;

  explicit StartUpLog(LogSink& log) : log_(log) {}
  // Hands what is still held to the log as if the start-up had failed.
  ~StartUpLog() override;

  // A line with startNew begins holding; lines are held until Finish.
  void Write(const std::string& message, bool startNew) override;
  // Passes the held lines on: the first with startNew when the server serves, every one
  // appended when it does not. Later lines pass straight through.
  void Finish(bool serving);

 private:
  LogSink& log_;
  bool holding_ = false;
  std::vector<std::string> held_;
  size_t heldBytes_ = 0;
  size_t dropped_ = 0;
};

}  // namespace velmora
