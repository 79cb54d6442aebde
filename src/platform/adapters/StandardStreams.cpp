#include "platform/adapters/StandardStreams.h"

#include <unistd.h>

#include <cerrno>

namespace velmora::platform {

namespace {

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace

void WriteStandardOutput(std::string_view text) { WriteAll(STDOUT_FILENO, text); }

void WriteStandardError(std::string_view text) { WriteAll(STDERR_FILENO, text); }

}  // namespace velmora::platform
