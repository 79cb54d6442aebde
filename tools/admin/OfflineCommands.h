#pragma once
// bans and unban on the server's database file itself, without a server or a log-in: the way
// back for an administrator whom a ban of a shared address (a LAN, one router) has shut out,
// since administrators are known by their address too.
#include <string>

#include "ExitCode.h"

namespace velmora::admin {

struct AdminOptions;

// Whether `command` can run on the database file (--database).
bool RunsOffline(const std::string& command);

// Runs options.command on the file options.database: prints the result and tells the exit
// status. Throws AdminFailure: kConnection when the file is missing, cannot be read or holds no
// ban table; kNoTarget for unban of an id that no row has; kProtocol when the row could not be
// deleted.
ExitCode RunOffline(const AdminOptions& options);

}  // namespace velmora::admin
