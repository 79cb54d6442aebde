#pragma once
// Names, addresses and keys are compared without regard to letter case. Texts are byte strings
// with no character set of their own, so only ASCII letters fold.
#include <string>
#include <string_view>

namespace velmora {

inline char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

inline std::string FoldedCopy(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = FoldCase(c);
  return folded;
}

}  // namespace velmora
