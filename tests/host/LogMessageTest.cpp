#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "base/Log.h"
#include "host/NICByMac.h"
#include "platform/adapters/LogFile.h"
#include "support/LogCapture.h"
#include "support/ScopedVariable.h"
#include "support/ScratchFolder.h"
#include "platform/net/NetworkInterfaces.h"

namespace velmora {
namespace {

// The log in a folder of the test's own; the environment that points it there is given back
// afterwards, so that no later test of the process writes to the real user's log.
class LogFolder : public ::testing::Test {
 protected:
  std::vector<std::string> Lines() {
    std::ifstream log(folder + "/com.velmora.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
  }
  testing::ScratchFolder scratch{"velmora-log"};
  std::string folder = scratch.Path();
  testing::ScopedVariable dataHome{"XDG_DATA_HOME", folder};
  testing::ScopedVariable home{"HOME", folder + "/home"};
};

TEST_F(LogFolder, EachRunStartsAFreshFileAndLinesCarryTheirTimeStamp) {
  platform::LogFile file;
  LogSink* before = InstallLogSink(&file);
  modGlobal::LogMessage("old run", true);
  modGlobal::LogMessage("Loading Settings...", true);
  modGlobal::LogMessage("", false);
  modGlobal::LogMessage("two\nlines", false);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  std::regex stamped(R"(\[[^\] ]+ [^\]]+\] Loading Settings\.\.\.)");
  EXPECT_TRUE(std::regex_match(lines[0], stamped)) << lines[0];
  EXPECT_EQ(lines[1].back(), ' ');  // an empty message: the stamp, its bracket and one blank
  EXPECT_EQ(lines[1].substr(lines[1].size() - 2), "] ");
  EXPECT_EQ(lines[3], "lines");  // the message is written as given
  InstallLogSink(before);
}

TEST_F(LogFolder, ALogThatAnotherServerWritesIsAppendedToNotStartedAfresh) {
  {
    platform::LogFile running(folder);
    running.Write("first run", true);
    platform::LogFile second(folder);
    second.Write("second run", true);
    EXPECT_EQ(Lines().size(), 2u);
  }
  // Once it is let go, a new log begins there again.
  platform::LogFile third(folder);
  third.Write("third run", true);
  EXPECT_EQ(Lines().size(), 1u);
}

TEST_F(LogFolder, TheLogGoesToHomeWhenNoDataHomeIsSet) {
  testing::ScopedVariable noDataHome("XDG_DATA_HOME", std::nullopt);
  platform::LogFile().Write("here", true);
  std::ifstream log(folder + "/home/.local/share/com.velmora.log");
  EXPECT_TRUE(log.good());
}

TEST(LogSink, LinesGoToTheInstalledSinkOnlyAndNowhereWithoutOne) {
  {
    testing::LogCapture capture;
    modGlobal::LogMessage("kept", false);
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{"kept"});
  }
  modGlobal::LogMessage("dropped", false);  // nothing installed: no file appears anywhere
}

TEST(LogSafe, EscapesWhatCouldForgeOrSplitALine) {
  EXPECT_EQ(modGlobal::LogSafe("Ann"), "Ann");
  EXPECT_EQ(modGlobal::LogSafe("a\nb\rc\td"), "a\\nb\\rc\\td");
  EXPECT_EQ(modGlobal::LogSafe(std::string("\0\x1f\x7f\\", 4)), "\\x00\\x1F\\x7F\\\\");
  EXPECT_EQ(modGlobal::LogSafe("\xc3\xa9"), "\xc3\xa9");  // bytes above 0x7F pass unchanged
}

TEST(LogSafe, QuotesAtMost256BytesThenTheFullLength) {
  std::string full(256, 'a');
  EXPECT_EQ(modGlobal::LogSafe(full), full);
  // The escapes apply to the quoted bytes; the length counts the text as sent.
  std::string longer = std::string(255, 'a') + "\n" + std::string(1000, '\n');
  EXPECT_EQ(modGlobal::LogSafe(longer), std::string(255, 'a') + "\\n\xE2\x80\xA6(1256 bytes)");
}

TEST(NICByMac, MatchesThePlatformsNotationInAnyCaseOnly) {
  auto interfaces = platform::ListNetworkInterfaces();
  if (interfaces.empty()) GTEST_SKIP() << "no network interface besides loopback";
  const std::string& mac = interfaces.front().MacAddress;
  std::string lower = mac;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string dashed = mac;
  for (char& c : dashed)
    if (c == ':') c = '-';
  ASSERT_TRUE(modGlobal::NICByMac(mac));
  EXPECT_EQ(modGlobal::NICByMac(lower)->Name, interfaces.front().Name);
  EXPECT_FALSE(modGlobal::NICByMac(dashed));
  EXPECT_FALSE(modGlobal::NICByMac(""));
  EXPECT_FALSE(modGlobal::NICByMac(" " + mac));
}

TEST(NetworkInterfaces, MacTextIsUpperCaseHexPairsJoinedByColons) {
  const unsigned char bytes[] = {0x02, 0xfc, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(platform::MacAddressText(bytes, 6), "02:FC:00:00:00:01");
}

}  // namespace
}  // namespace velmora
