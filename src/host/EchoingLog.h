#pragma once
// The log as the operator meets it: every line goes to the log file, and the lines a person
// starting or watching the server needs also go to the console (standard error, which the
// service manager keeps in its journal): the whole start-up up to "Listening..." and every error
// after it. Error lines may carry a detail that only the console gets (which port, which
// network, the system's words for the code); the log keeps its lines as they always were.
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "base/Log.h"

namespace velmora {

class EchoingLog final : public LogSink {
 public:
  // Writes one line, its line end included, where a person reads it.
  using Console = std::function<void(std::string_view line)>;
  // After start-up, at most this many lines reach the console in each window; the log has them
  // all. A client that can cause an error line at will must not flood the journal, nor stall the
  // server on a console nobody reads.
  static constexpr int kEchoesPerWindow = 20;
  static constexpr std::chrono::seconds kEchoWindow{60};

  EchoingLog(LogSink& log, Console console);

  // While starting up, every line is echoed; afterwards only error lines.
  void SetStartingUp(bool startingUp) { startingUp_ = startingUp; }
  void Write(const std::string& message, bool startNew) override;
  void WriteWithDetail(const std::string& message, const std::string& detail) override;
  // Says `text` on the console alone, for what concerns the operator but not the log.
  void Say(const std::string& text);

 private:
  void Echo(const std::string& message, const std::string& line);

  LogSink& log_;
  Console console_;
  bool startingUp_ = false;
  std::chrono::steady_clock::time_point windowStart_{};
  int echoedInWindow_ = 0;
};

}  // namespace velmora
