#include <gtest/gtest.h>

#include "platform/adapters/Clock.h"

namespace velmora::platform {
namespace {

// Rows written by the server, by SQLite's own datetime('now') or imported from elsewhere.
TEST(ReadStoredDate, ReadsTheUsualFormsAndNothingElse) {
  constexpr std::time_t kNoon = 1714998896;  // 2024-05-06 12:34:56 UTC
  for (const char* text : {"2024-05-06 12:34:56", "2024-05-06T12:34:56Z", "2024-05-06t12:34:56z",
                           "2024-05-06 12:34:56.789", "2024-05-06T12:34:56.5+00:00",
                           "2024-05-06T14:34:56+02:00", "2024-05-06T10:34:56-0200",
                           "2024-05-06T13:34:56+01", "1714998896", "+1714998896"})
    EXPECT_EQ(ReadStoredDate(text), kNoon) << text;
  EXPECT_EQ(ReadStoredDate("2024-05-06 12:34"), kNoon - 56);
  EXPECT_EQ(ReadStoredDate("2024-05-06"), kNoon - (12 * 3600 + 34 * 60 + 56));
  EXPECT_EQ(ReadStoredDate("2024-02-29 00:00:00"), 1709164800);
  EXPECT_EQ(ReadStoredDate("-86400"), -86400);

  for (const char* text : {"", "yesterday", "12/31/69 23:59:59", "2024-05-06 12:34:56 ",
                           "2024-5-6 12:34:56", "2023-02-29 00:00:00", "2024-13-01",
                           "2024-05-06 24:00:00", "2024-05-06 12:60:00", "2024-05-06 12:34:5",
                           "2024-05-06 12:34:56.", "2024-05-06 12:34:5678", "2024-05-06T12",
                           "2024-05-06 12:34:56+2", "2024-05-06 12:34:56+02:60", "17149988960x",
                           "1.5", "+-5", "99999999999999999999"})
    EXPECT_EQ(ReadStoredDate(text), std::nullopt) << text;
}

}  // namespace
}  // namespace velmora::platform
