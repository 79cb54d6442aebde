#include "platform/adapters/Clock.h"

#include <charconv>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace velmora::platform {

namespace {

std::string Format(const char* pattern, std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char buffer[128];
  size_t length = std::strftime(buffer, sizeof buffer, pattern, &local);
  return std::string(buffer, length);
}

// Reads a number of exactly `count` digits at `at` and moves past it.
std::optional<int> TakeDigits(std::string_view text, size_t& at, size_t count) {
  if (text.size() - at < count) return std::nullopt;
  int value = 0;
  for (size_t i = 0; i < count; ++i) {
    char c = text[at + i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  at += count;
  return value;
}

bool Take(std::string_view text, size_t& at, std::string_view oneOf) {
  if (at >= text.size() || oneOf.find(text[at]) == std::string_view::npos) return false;
  ++at;
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

std::optional<std::time_t> ReadUnixTime(std::string_view text) {
  bool plus = !text.empty() && text.front() == '+';
  if (plus) text.remove_prefix(1);
  std::string_view digits = !plus && !text.empty() && text.front() == '-' ? text.substr(1) : text;
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return static_cast<std::time_t>(value);
}

// Seconds east of UTC from "Z", "+hh:mm", "-hhmm" or "+hh" at `at`; none written is UTC.
std::optional<int> TakeZone(std::string_view text, size_t& at) {
  if (at == text.size() || Take(text, at, "Zz")) return 0;
  if (at >= text.size() || (text[at] != '+' && text[at] != '-')) return std::nullopt;
  int sign = text[at++] == '-' ? -1 : 1;
  auto hours = TakeDigits(text, at, 2);
  if (!hours || *hours > 23) return std::nullopt;
  int minutes = 0;
  if (at < text.size()) {
    Take(text, at, ":");
    auto written = TakeDigits(text, at, 2);
    if (!written || *written > 59) return std::nullopt;
    minutes = *written;
  }
  return sign * (*hours * 3600 + minutes * 60);
}

}  // namespace

void UseHostLocale() {
  static std::once_flag once;
  std::call_once(once, [] { std::setlocale(LC_ALL, ""); });
}

std::string ShortDate(std::time_t when) { return Format("%x", when); }
std::string ShortTime(std::time_t when) { return Format("%X", when); }

int64_t Ticks() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::microseconds>(since).count() * 60 / 1000000;
}

std::string ToIsoUtc(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buffer;
}

std::time_t FromIsoUtc(const std::string& text) {
  std::tm utc{};
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &utc.tm_year, &utc.tm_mon,
                  &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &consumed) != 6 ||
      consumed != static_cast<int>(text.size()))
    return -1;
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  return timegm(&utc);
}

std::optional<std::time_t> ReadStoredDate(std::string_view text) {
  if (auto number = ReadUnixTime(text)) return number;
  size_t at = 0;
  auto year = TakeDigits(text, at, 4);
  bool dashed = Take(text, at, "-");
  auto month = TakeDigits(text, at, 2);
  dashed = Take(text, at, "-") && dashed;
  auto day = TakeDigits(text, at, 2);
  if (!year || !dashed || !month || !day || *month < 1 || *month > 12 || *day < 1 ||
      *day > DaysInMonth(*year, *month))
    return std::nullopt;
  std::tm utc{};
  utc.tm_year = *year - 1900;
  utc.tm_mon = *month - 1;
  utc.tm_mday = *day;
  int zone = 0;
  if (at < text.size()) {
    if (!Take(text, at, " Tt")) return std::nullopt;
    auto hour = TakeDigits(text, at, 2);
    bool colon = Take(text, at, ":");
    auto minute = TakeDigits(text, at, 2);
    std::optional<int> second = 0;
    if (Take(text, at, ":")) {
      second = TakeDigits(text, at, 2);
      // Fractions of a second are written by some; the list shows whole seconds.
      if (Take(text, at, ".")) {
        if (!TakeDigits(text, at, 1)) return std::nullopt;
        while (TakeDigits(text, at, 1)) {
        }
      }
    }
    auto offset = TakeZone(text, at);
    if (!hour || !colon || !minute || !second || !offset || at != text.size() || *hour > 23 ||
        *minute > 59 || *second > 59)
      return std::nullopt;
    utc.tm_hour = *hour;
    utc.tm_min = *minute;
    utc.tm_sec = *second;
    zone = *offset;
  }
  return timegm(&utc) - zone;
}

}  // namespace velmora::platform
