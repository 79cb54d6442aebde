#pragma once
// One server per folder: an exclusive lock on a file, held for as long as the object lives and
// let go by the system however the process ends, so that a crash leaves no stale lock behind.
#include <memory>
#include <string>

namespace velmora::platform {

class InstanceLock {
 public:
  enum class Outcome {
    kTaken,          // this process holds the lock now
    kHeldElsewhere,  // another process holds it
    kUnavailable,    // the lock file could not be opened or locked at all (see Problem)
  };

  // Opens (creating it when missing) and locks the file at `path` without waiting.
  explicit InstanceLock(const std::string& path);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  Outcome Result() const { return outcome_; }
  // Why the lock was unavailable, in the system's words; empty otherwise.
  const std::string& Problem() const { return problem_; }

 private:
  int fd_ = -1;
  Outcome outcome_ = Outcome::kUnavailable;
  std::string problem_;
};

}  // namespace velmora::platform
