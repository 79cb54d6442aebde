#include "base/Utf8Text.h"

namespace velmora {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the well-formed sequence at the start of `rest`, or 0 (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF).
size_t SequenceLength(std::string_view rest) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(rest[i]); };
  unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                  : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                 : 0;
  if (length == 0 || rest.size() < length) return 0;
  for (size_t i = 1; i < length; ++i)
    if ((byte(i) & 0xC0) != 0x80) return 0;
  unsigned char second = byte(1);
  if (lead == 0xE0 && second < 0xA0) return 0;  // overlong
  if (lead == 0xED && second > 0x9F) return 0;  // surrogate
  if (lead == 0xF0 && second < 0x90) return 0;  // overlong
  if (lead == 0xF4 && second > 0x8F) return 0;  // above U+10FFFF
  return length;
}

}  // namespace

std::string ValidUtf8(std::string_view bytes) {
  std::string valid;
  valid.reserve(bytes.size());
  while (!bytes.empty()) {
    size_t length = SequenceLength(bytes);
    if (length == 0) {
      valid += kReplacement;
      length = 1;
    } else {
      valid.append(bytes.substr(0, length));
    }
    bytes.remove_prefix(length);
  }
  return valid;
}

}  // namespace velmora
