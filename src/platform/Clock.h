#pragma once
#include <cstdint>
#include <ctime>
#include <string>

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

}  // namespace velmora::platform
