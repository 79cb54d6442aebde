#pragma once
// The server's command line. With no arguments it runs; the few options it knows print
// something and leave every file alone, or name what a later run is to use.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora {

struct CommandLineOptions {
  enum class Action { kRun, kHelp, kVersion };
  Action action = Action::kRun;
  // --status HOST:PORT: the address of the status console.
  std::optional<std::string> statusAddress;
};

// An argument the server does not understand; what() says which and why.
class CommandLineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `args` as main receives them, the program's name first. Throws CommandLineError.
CommandLineOptions ParseCommandLine(const std::vector<std::string>& args);

// What --help prints, and what follows an error on standard error.
std::string UsageText();

}  // namespace velmora
