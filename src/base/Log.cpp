#include "base/Log.h"

namespace velmora {

namespace {
LogSink* g_sink = nullptr;
}  // namespace

LogSink* InstallLogSink(LogSink* sink) {
  LogSink* before = g_sink;
  g_sink = sink;
  return before;
}

}  // namespace velmora

namespace velmora::modGlobal {

void LogMessage(const std::string& message, bool startNew) {
  if (g_sink != nullptr) g_sink->Write(message, startNew);
}

void LogMessageWithDetail(const std::string& message, const std::string& detail) {
  if (g_sink != nullptr) g_sink->WriteWithDetail(message, detail);
}

std::string LogSafe(std::string_view clientText) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string_view quoted = clientText.substr(0, kMaxQuotedBytes);
  std::string safe;
  safe.reserve(quoted.size());
  for (unsigned char c : quoted) {
    switch (c) {
      case '\n': safe += "\\n"; break;
      case '\r': safe += "\\r"; break;
      case '\t': safe += "\\t"; break;
      case '\\': safe += "\\\\"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          safe += "\\x";
          safe += kHex[c >> 4];
          safe += kHex[c & 15];
        } else {
          safe += static_cast<char>(c);
        }
    }
  }
  if (quoted.size() < clientText.size())  // "…" in UTF-8, then the full length
    safe += "\xE2\x80\xA6(" + std::to_string(clientText.size()) + " bytes)";
  return safe;
}

}  // namespace velmora::modGlobal
