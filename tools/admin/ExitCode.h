#pragma once
// What velmora-admin's exit status tells a script. The numbers are part of the tool's interface
// (the README and --help list them): never renumber, only add.
#include <stdexcept>
#include <string>

namespace velmora::admin {

enum class ExitCode : int {
  kOk = 0,
  kUsage = 1,            // bad options or arguments (a user name the server would refuse
                         // by its form included), no password
  kConnection = 2,       // no connection, no network prompt, or the connection was lost;
                         // --database: the file is missing, unreadable or not the server's
  kNetworkRefused = 3,   // no such network, or it is disabled or full
  kPasswordRefused = 4,  // wrong network password
  kUserRefused = 5,      // user name in use, or banned
  kNotAdministrator = 6, // logged in, but not as an administrator of the network
  kProtocol = 7,         // no answer in time, an answer out of protocol, or not carried out
                         // (--database: the row could not be deleted)
  kNoTarget = 8,         // the user is not logged in, or no such ban
  kRemoved = 9,          // watch: this user was kicked or banned
};

inline int ToStatus(ExitCode code) { return static_cast<int>(code); }

// A failure that ends the tool: the message for the operator and the status for the script.
class AdminFailure : public std::runtime_error {
 public:
  AdminFailure(ExitCode code, const std::string& message)
      : std::runtime_error(message), code_(code) {}
  ExitCode Code() const { return code_; }

 private:
  ExitCode code_;
};

}  // namespace velmora::admin
