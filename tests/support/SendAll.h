#pragma once
// Writing to a test's own loopback socket.
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#include <string_view>

namespace velmora::testing {

// Sends every byte on the blocking socket `fd`, going on after interruptions; false once the
// peer stopped taking them (or the socket's send time-out passed).
inline bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

}  // namespace velmora::testing
