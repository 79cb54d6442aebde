#pragma once
// The members' JSON of each network, written once per snapshot however many ask: for a big
// network that writing is most of what a request costs, and every viewer polls. Any thread; a
// second request for the same network waits for the first one's writing rather than repeating
// it.
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "host/console/ConsoleSnapshot.h"

namespace velmora::console {

class MembersJsonCache {
 public:
  // The members' JSON of `network`, a network of `snapshot`.
  std::string For(const std::shared_ptr<const ConsoleSnapshot>& snapshot,
                  const NetworkView& network);

 private:
  std::mutex mutex_;
  // The snapshot the texts were written from; a newer one makes them stale.
  std::shared_ptr<const ConsoleSnapshot> snapshot_;
  std::unordered_map<const NetworkView*, std::string> texts_;
};

}  // namespace velmora::console
