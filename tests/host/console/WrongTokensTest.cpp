// The clocks of the console's guards, driven by hand: the minute of wrong tokens and the life
// of a session.
#include "host/console/WrongTokens.h"

#include <gtest/gtest.h>

#include "host/console/ConsoleSessions.h"

namespace velmora::console {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(WrongTokens, TheShutOutLastsTheMinuteAndTheMinuteIsLoggedOnceWithItsCount) {
  WrongTokens wrong;
  Clock::time_point start{};
  for (int i = 0; i < WrongTokens::kAllowed; ++i) {
    EXPECT_FALSE(wrong.ShutOut("10.0.0.1", start + 1s));
    wrong.Count("10.0.0.1", start + 1s);
  }
  wrong.Count("10.0.0.1", start + 2s);
  wrong.Count("10.0.0.2", start + 30s);
  EXPECT_TRUE(wrong.ShutOut("10.0.0.1", start + 60s));
  EXPECT_FALSE(wrong.ShutOut("10.0.0.2", start + 60s)) << "another address";
  EXPECT_TRUE(wrong.EndedMinutes(start + 60s).empty());
  EXPECT_EQ(wrong.EndedMinutes(start + 61s),
            std::vector<std::string>{"Console: 11 wrong tokens from 10.0.0.1 within a minute"});
  EXPECT_FALSE(wrong.ShutOut("10.0.0.1", start + 61s));
  EXPECT_EQ(wrong.EndedMinutes(start + 90s),
            std::vector<std::string>{"Console: 1 wrong token from 10.0.0.2 within a minute"});
}

TEST(ConsoleSessions, ExpireAfterTwelveHoursAndTheOldestMakesRoom) {
  ConsoleSessions sessions;
  Clock::time_point start{};
  std::string first = sessions.Open(start);
  EXPECT_TRUE(sessions.Valid(first, start + 12h - 1s));
  EXPECT_FALSE(sessions.Valid(first, start + 12h));
  for (size_t i = 1; i < ConsoleSessions::kMaxSessions; ++i) sessions.Open(start + 1s);
  EXPECT_TRUE(sessions.Valid(first, start + 2s)) << "64 fit";
  std::string last = sessions.Open(start + 2s);
  EXPECT_FALSE(sessions.Valid(first, start + 2s)) << "the oldest made room";
  EXPECT_TRUE(sessions.Valid(last, start + 2s));
  EXPECT_FALSE(sessions.Valid("", start + 2s));
}

}  // namespace
}  // namespace velmora::console
