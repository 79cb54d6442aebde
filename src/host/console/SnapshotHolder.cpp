#include "host/console/SnapshotHolder.h"

#include <utility>

namespace velmora::console {

void SnapshotHolder::Publish(ConsoleSnapshot snapshot) {
  std::shared_ptr<const ConsoleSnapshot> fresh =
      std::make_shared<const ConsoleSnapshot>(std::move(snapshot));
  {
    std::lock_guard lock(mutex_);
    current_.swap(fresh);
  }
  // `fresh` now holds the old snapshot and lets it go here, outside the lock.
}

std::shared_ptr<const ConsoleSnapshot> SnapshotHolder::Current() const {
  std::lock_guard lock(mutex_);
  return current_;
}

}  // namespace velmora::console
