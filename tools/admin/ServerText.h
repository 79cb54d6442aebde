#pragma once
// Printing what other users wrote, safely, and tables of it.
#include <string>
#include <string_view>
#include <vector>

namespace velmora::admin {

// Text from other users made safe for a terminal: valid UTF-8 other than control characters
// passes; control characters and stray bytes are shown as \xNN, so that nobody can move the
// cursor, retitle the window or fake a line of output on the operator's screen.
std::string Printable(std::string_view text);

// Columns separated by two spaces, each as wide as its widest cell; the first row is the head.
std::string FormatTable(const std::vector<std::vector<std::string>>& rows);

}  // namespace velmora::admin
