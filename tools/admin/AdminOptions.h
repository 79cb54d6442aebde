#pragma once
// The command line of velmora-admin: where to log in, as whom, and the one command to run.
// The password is deliberately not an option: a command line is visible to every local user.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::admin {

struct AdminOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  std::string network;
  std::string user;
  std::optional<std::string> passwordFile;
  int timeoutSeconds = 5;
  // --database: work on the server's database file instead of logging in (bans and unban).
  std::optional<std::string> database;
  // Whether an option that only a log-in uses was given (host, port, network, user, password).
  bool logInOptionGiven = false;
  // The command and its words, e.g. {"kick", "Bob", "spam"}; empty when none was given.
  std::string command;
  std::vector<std::string> arguments;
  // --help was asked for: of the tool when `command` is empty, else of that command.
  bool help = false;
};

// Options may stand before or after the command; "--" ends them, so that a text may begin
// with "-". Throws AdminFailure(kUsage) for an unknown option or a bad value. Checks only the
// form; RequireLogInOptions checks that what a log-in needs is there and that the user name
// keeps the server's rule for names, RequireOfflineOptions that --database is given alone.
AdminOptions ParseCommandLine(const std::vector<std::string>& args);
void RequireLogInOptions(const AdminOptions& options);
void RequireOfflineOptions(const AdminOptions& options);

}  // namespace velmora::admin
