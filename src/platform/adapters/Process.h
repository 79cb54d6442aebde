#pragma once
#include <optional>
#include <string>

namespace velmora::platform {

// Raises the soft limit on open descriptors to the hard limit, so that a listener can hold its
// connections; returns the limit now in force.
long RaiseOpenFileLimit();

// Connection buffers come and go with every pass; by default the C library hands the top of
// the heap back to the system each time and faults it in again at once. This keeps freed
// memory for reuse instead, in one heap for all threads; GiveBackFreeMemory returns what is left
// over after a busy time.
void KeepFreedMemoryForReuse();
void GiveBackFreeMemory();
// The value of the environment variable `name`; nothing when it is unset or empty.
std::optional<std::string> EnvironmentValue(const char* name);

}  // namespace velmora::platform
