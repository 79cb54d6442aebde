#pragma once
// The controlling terminal and standard input, for tools that ask a person for a secret.
#include <optional>
#include <string>

namespace velmora::platform {

// Whether standard input is a terminal (a person is typing) rather than a file or a pipe.
bool StandardInputIsTerminal();
// Writes `prompt` to standard error and reads one line from the terminal with echo turned off;
// the terminal is restored on every way out, an interrupt included. Nothing at end of input.
std::optional<std::string> ReadSecretLine(const std::string& prompt);
// One line of standard input without its line end; nothing at end of input.
std::optional<std::string> ReadStandardInputLine();

}  // namespace velmora::platform
