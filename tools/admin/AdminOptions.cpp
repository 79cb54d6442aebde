#include "AdminOptions.h"

#include <charconv>

#include "ExitCode.h"
#include "protocol/UserName.h"

namespace velmora::admin {

namespace {

constexpr int kMaxTimeoutSeconds = 300;

[[noreturn]] void Usage(const std::string& message) {
  throw AdminFailure(ExitCode::kUsage, message + " (see velmora-admin --help)");
}

long ParseWhole(const std::string& text, long low, long high, const std::string& what) {
  long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    Usage(what + " must be a whole number from " + std::to_string(low) + " to " +
          std::to_string(high) + ", not '" + text + "'");
  return value;
}

}  // namespace

AdminOptions ParseCommandLine(const std::vector<std::string>& args) {
  AdminOptions options;
  std::vector<std::string> words;
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (auto equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      inlineValue = arg.substr(equals + 1);
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) Usage("option " + name + " needs a value");
      return args[++i];
    };
    bool logInOption = name == "-H" || name == "--host" || name == "-p" || name == "--port" ||
                       name == "-n" || name == "--network" || name == "-u" || name == "--user" ||
                       name == "--password-file";
    options.logInOptionGiven = options.logInOptionGiven || logInOption;
    if (name == "-H" || name == "--host") {
      options.host = value();
      if (options.host.empty()) Usage("the host must not be empty");
    } else if (name == "-p" || name == "--port") {
      options.port = static_cast<uint16_t>(ParseWhole(value(), 1, 65535, "the port"));
    } else if (name == "-n" || name == "--network") {
      options.network = value();
    } else if (name == "-u" || name == "--user") {
      options.user = value();
    } else if (name == "--password-file") {
      options.passwordFile = value();
    } else if (name == "-t" || name == "--timeout") {
      options.timeoutSeconds =
          static_cast<int>(ParseWhole(value(), 1, kMaxTimeoutSeconds, "the time-out"));
    } else if (name == "--database") {
      options.database = value();
      if (options.database->empty()) Usage("the database path must not be empty");
    } else if (name == "--password") {
      Usage("the password is never taken from the command line: use --password-file FILE, "
            "standard input, or the prompt");
    } else {
      Usage("unknown option " + name);
    }
  }
  if (!words.empty()) {
    options.command = words.front();
    options.arguments.assign(words.begin() + 1, words.end());
  }
  // "velmora-admin help [COMMAND]" reads like --help.
  if (options.command == "help") {
    options.help = true;
    options.command = options.arguments.empty() ? "" : options.arguments.front();
    options.arguments.clear();
  }
  return options;
}

void RequireLogInOptions(const AdminOptions& options) {
  if (options.port == 0) Usage("give the network's port with --port");
  if (options.network.empty()) Usage("give the network's name with --network");
  if (options.user.empty()) Usage("give the user name with --user");
  // The server answers a name it will not take with a bare "FAIL"; the rule is known here, so
  // the tool says which part of it the name breaks before anything is sent.
  if (std::string_view fault = UserNameFault(options.user); !fault.empty())
    Usage("the user name " + std::string(fault) + ": the server takes none such");
}

void RequireOfflineOptions(const AdminOptions& options) {
  // A network named beside --database would read as a filter that is not applied.
  if (options.logInOptionGiven)
    Usage("--database works on the file alone: leave out --host, --port, --network, --user "
          "and --password-file");
}

}  // namespace velmora::admin
