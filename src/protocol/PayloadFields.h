#pragma once
// Payload fields are separated by one character, counted from the left; a field beyond the
// last separator is empty and there is no quoting.
#include <string_view>

namespace velmora {

// Field `index` (from 0) of `payload`.
inline std::string_view PayloadField(std::string_view payload, char separator, size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) {
    size_t next = payload.find(separator, start);
    if (next == std::string_view::npos) return {};
    start = next + 1;
  }
  size_t end = payload.find(separator, start);
  return payload.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

// How many fields the payload holds: one more than its separators.
inline size_t CountFields(std::string_view payload, char separator) {
  size_t count = 1;
  for (char c : payload) count += c == separator;
  return count;
}

}  // namespace velmora
