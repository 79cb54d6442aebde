// velmora-admin: the operators' command-line client. Logs into one network of a running server
// over the same framed transport as the server's own connections, runs one command, and says
// how it went in its exit status. With --database it works on the server's ban database instead,
// for the administrator a ban keeps from logging in.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "AdminClient.h"
#include "AdminCommands.h"
#include "AdminOptions.h"
#include "ExitCode.h"
#include "OfflineCommands.h"
#include "PasswordSource.h"

namespace {

using namespace velmora::admin;

int Fail(const AdminFailure& failure) {
  std::cerr << "velmora-admin: " << failure.what() << "\n";
  return ToStatus(failure.Code());
}

int Run(const std::vector<std::string>& args) {
  AdminOptions options;
  const AdminCommand* command = nullptr;
  try {
    options = ParseCommandLine(args);
    if (!options.command.empty()) {
      command = FindCommand(options.command);
      if (command == nullptr)
        throw AdminFailure(ExitCode::kUsage, "unknown command '" + options.command +
                                                 "' (see velmora-admin --help)");
    }
    if (options.help) {
      std::cout << (command != nullptr ? CommandHelp(*command) : ToolHelp());
      return ToStatus(ExitCode::kOk);
    }
    if (command == nullptr)
      throw AdminFailure(ExitCode::kUsage, "give a command (see velmora-admin --help)");
    try {
      command->check(options);
    } catch (const AdminFailure& failure) {
      throw AdminFailure(failure.Code(), std::string(failure.what()) + " (see velmora-admin " +
                                             command->name + " --help)");
    }
    if (options.database) {
      if (!RunsOffline(command->name))
        throw AdminFailure(ExitCode::kUsage, std::string("only bans and unban work on the "
                                                         "database file, not ") +
                                                 command->name + " (see velmora-admin --help)");
      RequireOfflineOptions(options);
      return ToStatus(RunOffline(options));
    }
    RequireLogInOptions(options);
  } catch (const AdminFailure& failure) {
    return Fail(failure);
  }

  // The connection is shared with the event loop, which holds it while it is registered.
  auto client = std::make_shared<AdminClient>(std::chrono::seconds(options.timeoutSeconds));
  int status;
  try {
    std::string password = ReadPassword(options);
    client->Open(options.host, options.port);
    client->LogIn(options.network, password, options.user);
    status = ToStatus(command->run(*client, options));
  } catch (const AdminFailure& failure) {
    status = Fail(failure);
  }
  client->Leave();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv, argv + argc));
  } catch (const std::exception& error) {
    std::cerr << "velmora-admin: " << error.what() << "\n";
    return ToStatus(ExitCode::kProtocol);
  }
}
