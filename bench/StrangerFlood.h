#pragma once
// Connections that never log in and send what an attacker would: frames up to the 4 KiB a
// stranger may send, cut into pieces of any size, of codes the server ignores before a log-in
// (and a few it answers). Half of them read the answers, half never do. Meanwhile a member logs
// in (--probe-network) and times its round trips. Printed: the server's RSS per connection.
#include "LoadOptions.h"

namespace velmora::bench {

// options.members strangers for options.duration seconds. Returns the exit code: 0 when the
// probe (if any) logged in and every question was answered.
int RunStrangerFlood(const LoadOptions& options);

}  // namespace velmora::bench
