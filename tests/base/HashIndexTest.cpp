#include "base/HashIndex.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

namespace velmora {
namespace {

// Few distinct hashes, so that runs of equal and colliding entries form and wrap around the
// end of the table; erasing from them must leave every other entry findable.
TEST(HashIndex, FindsWhatWasInsertedAndNotWhatWasErasedThroughGrowthAndCollisions) {
  auto hashOf = [](uint32_t entry) { return static_cast<uint64_t>(entry % 13) * 0x1000193u; };
  HashIndex<uint32_t> index;
  std::set<uint32_t> present;
  std::mt19937 random(7);
  for (int step = 0; step < 4000; ++step) {
    uint32_t entry = 1 + random() % 600;
    if (present.count(entry)) {
      EXPECT_TRUE(index.Erase(entry, hashOf));
      present.erase(entry);
    } else {
      index.Insert(entry, hashOf);
      present.insert(entry);
    }
    if (step % 97 != 0) continue;
    ASSERT_EQ(index.Size(), present.size());
    for (uint64_t bucket = 0; bucket < 13; ++bucket) {
      std::set<uint32_t> found;
      index.ForEach(bucket * 0x1000193u, hashOf, [&](uint32_t e) {
        found.insert(e);
        return false;
      });
      std::set<uint32_t> expected;
      for (uint32_t e : present)
        if (e % 13 == bucket) expected.insert(e);
      ASSERT_EQ(found, expected) << "hash " << bucket << " at step " << step;
    }
  }
  EXPECT_FALSE(index.Erase(601, hashOf));
  index.Clear();
  EXPECT_EQ(index.Size(), 0u);
  EXPECT_FALSE(index.Erase(1, hashOf));
}

}  // namespace
}  // namespace velmora
