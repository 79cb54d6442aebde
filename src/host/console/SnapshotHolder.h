#pragma once
// Hands snapshots from the event loop to the HTTP threads. Publishing swaps one pointer under a
// mutex that nothing holds for longer than that, so the loop never waits on a reader: a reader
// keeps the snapshot it took alive for as long as it needs it.
#include <memory>
#include <mutex>

#include "host/console/ConsoleSnapshot.h"

namespace velmora::console {

class SnapshotHolder {
 public:
  // Loop thread. The snapshot replaced is freed outside the lock (or by its last reader).
  void Publish(ConsoleSnapshot snapshot);
  // Any thread. nullptr until the first Publish.
  std::shared_ptr<const ConsoleSnapshot> Current() const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const ConsoleSnapshot> current_;
};

}  // namespace velmora::console
