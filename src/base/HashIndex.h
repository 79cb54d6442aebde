#pragma once
// Finds entries by a 64-bit hash, at a few bytes per entry: a network's many thousand users and
// a listener's members are indexed by the hash of their name, and a node-based map would cost
// them five times as much. Open addressing with linear probing; an entry is a small value (a
// pointer, a position plus one) whose default value marks a free slot, and the owner says what
// hash an entry stands under (`hashOf`), so the index keeps no hash of its own. Entries of equal
// hash are told apart by the owner.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

template <typename Entry>
class HashIndex {
 public:
  size_t Size() const { return count_; }
  void Clear() {
    slots_.clear();
    slots_.shrink_to_fit();
    count_ = 0;
    shift_ = 64;
  }

  template <typename HashOf>
  void Insert(Entry entry, const HashOf& hashOf) {
    // At most three quarters full, so that a miss ends after a few slots.
    if ((count_ + 1) * 4 > slots_.size() * 3) Resize(slots_.empty() ? 16 : slots_.size() * 2, hashOf);
    Place(entry, hashOf(entry));
    ++count_;
  }

  // Calls `visit` with each entry that stands under `hash`, until it returns true.
  template <typename HashOf, typename Visit>
  void ForEach(uint64_t hash, const HashOf& hashOf, const Visit& visit) const {
    if (count_ == 0) return;
    for (size_t i = Home(hash); slots_[i] != Entry{}; i = Next(i))
      if (hashOf(slots_[i]) == hash && visit(slots_[i])) return;
  }

  // Removes `entry`; false when it is not there.
  template <typename HashOf>
  bool Erase(Entry entry, const HashOf& hashOf) {
    if (count_ == 0) return false;
    size_t hole = Home(hashOf(entry));
    while (slots_[hole] != entry) {
      if (slots_[hole] == Entry{}) return false;
      hole = Next(hole);
    }
    // Entries after the hole that would not be found past it move back into it.
    for (size_t i = Next(hole); slots_[i] != Entry{}; i = Next(i)) {
      size_t home = Home(hashOf(slots_[i]));
      bool reachable = hole <= i ? (home > hole && home <= i) : (home > hole || home <= i);
      if (reachable) continue;
      slots_[hole] = slots_[i];
      hole = i;
    }
    slots_[hole] = Entry{};
    --count_;
    return true;
  }

 private:
  // The hash's top bits pick the slot: the names' hashes vary least in their low bits.
  size_t Home(uint64_t hash) const {
    return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  size_t Next(size_t i) const { return (i + 1) & (slots_.size() - 1); }
  void Place(Entry entry, uint64_t hash) {
    size_t i = Home(hash);
    while (slots_[i] != Entry{}) i = Next(i);
    slots_[i] = entry;
  }
  template <typename HashOf>
  void Resize(size_t size, const HashOf& hashOf) {
    std::vector<Entry> old(size, Entry{});
    old.swap(slots_);
    shift_ = 64;
    for (size_t s = size; s > 1; s >>= 1) --shift_;
    for (Entry entry : old)
      if (entry != Entry{}) Place(entry, hashOf(entry));
  }

  std::vector<Entry> slots_;  // a power of two in size, or empty
  size_t count_ = 0;
  unsigned shift_ = 64;
};

}  // namespace velmora
