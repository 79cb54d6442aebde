#include "platform/net/DescriptorReserve.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>

namespace velmora::platform {

bool DescriptorReserveIntact(int openDescriptor) {
  // Taking them is the one exact count: the limit can change under a running process, and
  // descriptors freed below the highest one in use leave holes that no arithmetic sees.
  std::array<int, kDescriptorReserve> probes;
  size_t taken = 0;
  while (taken < probes.size()) {
    int probe = ::fcntl(openDescriptor, F_DUPFD_CLOEXEC, 0);
    if (probe < 0) break;
    probes[taken++] = probe;
  }
  for (size_t i = 0; i < taken; ++i) ::close(probes[i]);
  return taken == probes.size();
}

}  // namespace velmora::platform
