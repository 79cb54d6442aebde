#include "platform/adapters/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/adapters/SystemErrorText.h"

namespace velmora::platform {

InstanceLock::InstanceLock(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    problem_ = SystemErrorText(errno);
    return;
  }
  int result;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    outcome_ = Outcome::kTaken;
    return;
  }
  if (errno == EWOULDBLOCK) {
    outcome_ = Outcome::kHeldElsewhere;
  } else {
    problem_ = SystemErrorText(errno);
  }
  ::close(fd_);
  fd_ = -1;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace velmora::platform
