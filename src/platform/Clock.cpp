#include "platform/Clock.h"

#include <chrono>
#include <clocale>
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

}  // namespace velmora::platform
