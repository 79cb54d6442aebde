#pragma once
// The hash of a name without letter case, for the indexes of names that clients choose. It is
// seeded anew in every process (absl's hash), so nobody can work out beforehand which names
// collide and flood an index with them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include <absl/hash/hash.h>

#include "base/TextCase.h"

namespace velmora {

// A text as its letters without case, for hashing: equal hashes for texts that EqualsIgnoreCase
// finds equal.
struct FoldedText {
  std::string_view text;

  template <typename H>
  friend H AbslHashValue(H state, FoldedText folded) {
    // Folded a piece at a time, on the stack: names are short, but nothing bounds them here.
    char piece[64];
    for (std::string_view rest = folded.text; !rest.empty();) {
      size_t size = std::min(rest.size(), sizeof piece);
      for (size_t i = 0; i < size; ++i) piece[i] = FoldCase(rest[i]);
      state = H::combine_contiguous(std::move(state), piece, size);
      rest.remove_prefix(size);
    }
    return H::combine(std::move(state), folded.text.size());
  }
};

inline uint64_t NameHash(std::string_view name) { return absl::HashOf(FoldedText{name}); }

// Hash and equality of names without letter case, for hash tables keyed by a name.
struct FoldedName {
  using is_transparent = void;
  size_t operator()(std::string_view name) const { return NameHash(name); }
  bool operator()(std::string_view a, std::string_view b) const { return EqualsIgnoreCase(a, b); }
};

}  // namespace velmora
