#include "host/CommandLine.h"

namespace velmora {

namespace {

// HOST:PORT, with an IPv6 host in brackets ("[::1]:5000"); the port from 1 to 65535.
bool IsHostAndPort(const std::string& text) {
  auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  std::string host = text.substr(0, colon);
  std::string port = text.substr(colon + 1);
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  int number = std::stoi(port);
  if (number < 1 || number > 65535) return false;
  bool bracketed = host.front() == '[' && host.back() == ']' && host.size() > 2;
  // A bare host with a colon of its own would make the port ambiguous.
  return bracketed || host.find_first_of(":[]") == std::string::npos;
}

}  // namespace

CommandLineOptions ParseCommandLine(const std::vector<std::string>& args) {
  CommandLineOptions options;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.action = CommandLineOptions::Action::kHelp;
    } else if (arg == "--version") {
      if (options.action != CommandLineOptions::Action::kHelp)
        options.action = CommandLineOptions::Action::kVersion;
    } else if (arg == "--status" || arg.rfind("--status=", 0) == 0) {
      std::string value;
      if (arg == "--status") {
        if (i + 1 == args.size()) throw CommandLineError("--status needs HOST:PORT");
        value = args[++i];
      } else {
        value = arg.substr(sizeof("--status=") - 1);
      }
      if (!IsHostAndPort(value))
        throw CommandLineError("--status wants HOST:PORT, not '" + value + "'");
      options.statusAddress = value;
    } else {
      throw CommandLineError("unknown argument '" + arg + "'");
    }
  }
  return options;
}

std::string UsageText() {
  return "Usage: velmora [--status HOST:PORT]\n"
         "       velmora --help | --version\n"
         "\n"
         "Runs the Velmora relay server from the folder that holds this program: settings in\n"
         "velmora.conf, one file per network in velmora-server/, the ban database velmora.db,\n"
         "and the log com.velmora.log in $XDG_DATA_HOME (else ~/.local/share). One server runs\n"
         "per folder. SIGTERM or Ctrl-C stops it; SIGHUP reads the network files again.\n"
         "\n"
         "  --help               print this text and exit\n"
         "  --version            print the version and exit\n"
         "  --status HOST:PORT   the address of the status console (kept for the console;\n"
         "                       the server runs as without it)\n";
}

}  // namespace velmora
