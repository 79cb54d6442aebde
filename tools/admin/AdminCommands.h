#pragma once
// The commands of velmora-admin, each with its help text and its check of the arguments.
#include <string>
#include <vector>

#include "ExitCode.h"

namespace velmora::admin {

class AdminClient;
struct AdminOptions;

struct AdminCommand {
  const char* name;
  const char* synopsis;  // the words after the command name
  const char* summary;   // one line for the tool's help
  const char* details;   // the rest of the command's own help
  // Checks the words after the command name before anything is sent; throws AdminFailure.
  void (*check)(const AdminOptions& options);
  // Runs after the log-in; prints the result and tells the exit status.
  ExitCode (*run)(AdminClient& client, const AdminOptions& options);
};

const std::vector<AdminCommand>& Commands();
const AdminCommand* FindCommand(const std::string& name);

std::string ToolHelp();
std::string CommandHelp(const AdminCommand& command);

// The watch command lives in a file of its own.
ExitCode RunWatch(AdminClient& client, const AdminOptions& options);

}  // namespace velmora::admin
