#include "host/CommandLine.h"

#include "host/console/ConsoleError.h"
#include "host/console/StatusAddress.h"

namespace velmora {

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
      // The same rule as the setting's, since it stands in for it.
      try {
        console::StatusAddress::Parse(value);
      } catch (const console::ConsoleError&) {
        throw CommandLineError("--status wants HOST:PORT, not '" + value + "'");
      }
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
