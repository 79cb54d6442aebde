#pragma once
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::platform {

// Local date and time in the host's short notations (the C library's %x and %X after
// setlocale(LC_ALL, "")).
std::string ShortDate(std::time_t when);
std::string ShortTime(std::time_t when);
// Calls setlocale(LC_ALL, "") once, so that the notations follow the host's regional settings.
void UseHostLocale();

// Ticks of 1/60 second since an arbitrary start.
int64_t Ticks();

// ISO 8601 in UTC ("2026-12-08T07:30:00Z") and back; the back conversion gives -1 for bad text.
std::string ToIsoUtc(std::time_t when);
std::time_t FromIsoUtc(const std::string& text);

// A date and time as stored by whoever wrote the database row: ISO 8601 or SQLite text
// ("2024-05-06 12:34:56", "T" for the blank, minutes without seconds, a fraction of a second,
// "Z" or an offset of +hh:mm, +hhmm or +hh; a date alone is its midnight; no zone means UTC,
// as SQLite's own functions write it), or a Unix time (digits, with an optional sign). Nothing
// for any other text.
std::optional<std::time_t> ReadStoredDate(std::string_view text);

}  // namespace velmora::platform
