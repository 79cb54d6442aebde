#include "ServerText.h"

#include <algorithm>


namespace velmora::admin {

namespace {

// Length of the valid UTF-8 sequence at the start of `text` (overlong forms and surrogates
// refused), or 0.
size_t Utf8SequenceLength(std::string_view text) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  size_t length;
  uint32_t code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0u) != 0x80u) return 0;
    code = (code << 6) | (byte(i) & 0x3Fu);
  }
  bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  bool c1Control = code >= 0x80 && code <= 0x9F;
  if (overlong || surrogate || c1Control || code > 0x10FFFF) return 0;
  return length;
}

}  // namespace

std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (size_t length = c >= 0x80 ? Utf8SequenceLength(text.substr(i)) : 0; length > 0) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
    ++i;
  }
  return out;
}

std::string FormatTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (auto& row : rows)
    for (size_t column = 0; column < row.size(); ++column) {
      if (widths.size() <= column) widths.push_back(0);
      widths[column] = std::max(widths[column], row[column].size());
    }
  std::string out;
  for (auto& row : rows) {
    std::string line;
    for (size_t column = 0; column < row.size(); ++column) {
      line += row[column];
      if (column + 1 < row.size()) line.append(widths[column] - row[column].size() + 2, ' ');
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace velmora::admin
