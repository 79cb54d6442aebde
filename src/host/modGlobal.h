#pragma once
// Routines that belong to no class.
#include <string>
#include <string_view>

namespace velmora::modGlobal {

// Writes one line "[date time] message" to com.velmora.log in the application-data folder.
// The file is opened and closed on every call; startNew empties it first.
void LogMessage(const std::string& message, bool startNew);

// Client-supplied text made safe for a log line: bytes below 0x20, 0x7F and the backslash are
// written as escapes (\n, \r, \t, \\, \xNN), so a client cannot forge or split log lines.
std::string LogSafe(std::string_view clientText);

}  // namespace velmora::modGlobal
