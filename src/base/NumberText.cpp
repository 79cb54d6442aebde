#include "base/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace velmora {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the leading decimal number (sign, digits, fraction, exponent); 0 when there is none.
size_t NumberLength(std::string_view text, bool* hasFractionOrExponent) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  bool decorated = false;
  if (i < text.size() && text[i] == '.') {
    size_t j = i + 1, fraction = 0;
    while (j < text.size() && IsDigit(text[j])) ++j, ++fraction;
    if (digits + fraction > 0) {
      i = j;
      digits += fraction;
      decorated = true;
    }
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    size_t exponentDigits = 0;
    while (j < text.size() && IsDigit(text[j])) ++j, ++exponentDigits;
    if (exponentDigits > 0) {
      i = j;
      decorated = true;
    }
  }
  if (hasFractionOrExponent) *hasFractionOrExponent = decorated;
  return i;
}

double ParseDouble(std::string_view number) {
  bool negative = !number.empty() && number[0] == '-';
  if (!number.empty() && (number[0] == '+' || number[0] == '-')) number.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Tell overflow from underflow by the exponent's sign.
    auto e = number.find_first_of("eE");
    bool tiny = e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-';
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return negative ? -value : value;
}

}  // namespace

bool BeginsWithNumber(std::string_view text) { return NumberLength(text, nullptr) > 0; }

double ReadNumber(std::string_view text) {
  size_t length = NumberLength(text, nullptr);
  if (length == 0) return 0;
  return ParseDouble(text.substr(0, length));
}

int64_t ReadInteger(std::string_view text) {
  // The usual field: a few plain digits, perhaps signed, and nothing after them.
  if (!text.empty() && text.size() <= 18) {
    size_t i = text[0] == '-' ? 1 : 0;
    if (i < text.size()) {
      int64_t value = 0;
      size_t digits = i;
      while (digits < text.size() && IsDigit(text[digits]))
        value = value * 10 + (text[digits++] - '0');
      if (digits == text.size()) return i == 1 ? -value : value;
    }
  }
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  bool decorated = false;
  size_t length = NumberLength(text, &decorated);
  if (length == 0) return 0;
  std::string_view number = text.substr(0, length);
  if (!decorated) {
    // Plain digits: read exactly, without the rounding of a double.
    bool negative = number[0] == '-';
    if (number[0] == '+' || number[0] == '-') number.remove_prefix(1);
    uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), magnitude);
    if (error == std::errc::result_out_of_range) return negative ? kMin : kMax;
    if (negative) return magnitude > uint64_t(kMax) ? kMin : -int64_t(magnitude);
    return magnitude > uint64_t(kMax) ? kMax : int64_t(magnitude);
  }
  double value = std::trunc(ParseDouble(number));
  if (value >= 9223372036854775807.0) return kMax;
  if (value <= -9223372036854775808.0) return kMin;
  return static_cast<int64_t>(value);
}

bool ReadFileFlag(std::string_view text) { return ReadNumber(text) == 1.0; }

bool ReadPayloadFlag(std::string_view text) {
  if (text.size() == 1 && IsDigit(text[0])) return text[0] != '0';  // the usual "0" or "1"
  return ReadNumber(text) > 0.0;
}

}  // namespace velmora
