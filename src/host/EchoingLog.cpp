#include "host/EchoingLog.h"

namespace velmora {

namespace {

// "Server Error: 98", "Error loading network: x.conf", "Error: ..." and their like.
bool IsErrorLine(const std::string& message) {
  return message.rfind("Server Error", 0) == 0 || message.rfind("Error", 0) == 0;
}

}  // namespace

EchoingLog::EchoingLog(LogSink& log, Console console)
    : log_(log), console_(std::move(console)) {}

void EchoingLog::Write(const std::string& message, bool startNew) {
  log_.Write(message, startNew);
  Echo(message, message);
}

void EchoingLog::WriteWithDetail(const std::string& message, const std::string& detail) {
  log_.Write(message, false);
  Echo(message, message + " (" + detail + ")");
}

void EchoingLog::Say(const std::string& text) { console_(text + "\n"); }

void EchoingLog::Echo(const std::string& message, const std::string& line) {
  if (startingUp_) {
    console_(line + "\n");
    return;
  }
  if (!IsErrorLine(message)) return;
  auto now = std::chrono::steady_clock::now();
  if (now - windowStart_ >= kEchoWindow) {
    windowStart_ = now;
    echoedInWindow_ = 0;
  }
  if (echoedInWindow_ > kEchoesPerWindow) return;
  if (echoedInWindow_++ == kEchoesPerWindow) {
    console_("More errors follow in the log only, for up to a minute.\n");
    return;
  }
  console_(line + "\n");
}

}  // namespace velmora
