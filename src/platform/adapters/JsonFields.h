#pragma once
// The members of a flat JSON object, as a request body brings them: texts, whole numbers and
// Booleans. Anything else (nesting, fractions, nulls, text that is not JSON) makes the body
// unreadable, so that a hostile body cannot make the reader recurse or allocate without bound.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::platform {

struct JsonFields {
  std::map<std::string, std::string> Texts;
  std::map<std::string, int64_t> Integers;
  std::map<std::string, bool> Booleans;

  // Nothing when `text` is not one flat object.
  static std::optional<JsonFields> Parse(std::string_view text);

  std::optional<std::string> Text(const std::string& name) const;
  std::optional<int64_t> Integer(const std::string& name) const;
};

}  // namespace velmora::platform
