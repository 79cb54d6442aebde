#include "host/console/MembersJsonCache.h"

#include "host/console/ConsoleJson.h"

namespace velmora::console {

std::string MembersJsonCache::For(const std::shared_ptr<const ConsoleSnapshot>& snapshot,
                                  const NetworkView& network) {
  std::lock_guard lock(mutex_);
  if (snapshot_ != snapshot) {
    // An older snapshot than the one held is not worth caching over it.
    if (snapshot_ && snapshot->TakenAt < snapshot_->TakenAt)
      return MembersJson(*snapshot, network);
    snapshot_ = snapshot;
    texts_.clear();
  }
  auto found = texts_.find(&network);
  if (found == texts_.end())
    found = texts_.emplace(&network, MembersJson(*snapshot, network)).first;
  return found->second;
}

}  // namespace velmora::console
