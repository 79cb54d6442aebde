#pragma once
// What the kernel alone costs, without the server: one process writes position frames round-robin
// to `members` loopback TCP connections, `batch` frames per send, while a child process on the
// other core reads them with epoll. The CPU time per send is the floor under any relay that
// writes each recipient separately on this machine.
#include "LoadOptions.h"

namespace velmora::bench {

// Sender on core 0, receiver on core 1; bounded by options.duration. Returns the exit code.
int RunLoopbackFloor(const LoadOptions& options);

}  // namespace velmora::bench
