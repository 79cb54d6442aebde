#include "platform/adapters/Process.h"

#include <malloc.h>
#include <sys/resource.h>

#include <cstdlib>

namespace velmora::platform {

long RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return static_cast<long>(limit.rlim_cur);
}

void KeepFreedMemoryForReuse() {
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
  // Large blocks (a network file's text) still get pages of their own, given back when freed.
  ::mallopt(M_MMAP_THRESHOLD, 8 << 20);
  // One heap for every thread. A helper thread's own heap keeps what it once grew to (a network
  // file rewritten, a batch of records) for good, since the threshold above holds the top of
  // every heap; in the one heap it is given back with the rest. Helper threads allocate rarely,
  // so they seldom wait for the loop's thread.
  ::mallopt(M_ARENA_MAX, 1);
}

void GiveBackFreeMemory() { ::malloc_trim(0); }

std::optional<std::string> EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

}  // namespace velmora::platform
