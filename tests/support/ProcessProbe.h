#pragma once
// What the kernel tells about a running process and its sockets, for tests that look for
// leaks and listeners from the outside.
#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace velmora::e2e {

// The number of open descriptors of `pid` (entries of /proc/<pid>/fd).
std::optional<size_t> OpenDescriptors(pid_t pid);

// The resident set size of `pid` in KiB (VmRSS of /proc/<pid>/status).
std::optional<size_t> ResidentKiB(pid_t pid);

// The processor time `pid` has used so far, user and system, in clock ticks.
std::optional<long> CpuTicks(pid_t pid);

// Clock ticks a second.
long TicksPerSecond();

// Whether some socket of this machine listens on TCP `port`, on any address.
bool SomethingListensOn(uint16_t port);

}  // namespace velmora::e2e
