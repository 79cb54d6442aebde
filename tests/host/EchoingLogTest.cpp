#include "host/EchoingLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora {
namespace {

class RecordingSink final : public LogSink {
 public:
  void Write(const std::string& message, bool) override { lines.push_back(message); }
  std::vector<std::string> lines;
};

class EchoingLogTest : public ::testing::Test {
 protected:
  RecordingSink file_;
  std::vector<std::string> console_;
  EchoingLog log_{file_, [this](std::string_view line) { console_.emplace_back(line); }};
};

TEST_F(EchoingLogTest, StartUpAndErrorLinesReachTheConsoleAndOnlyTheConsoleGetsTheDetail) {
  log_.SetStartingUp(true);
  log_.Write("Loading Settings...", true);
  log_.WriteWithDetail("Server Error: 98", "port 5000, network Lobby: Address already in use");
  log_.Write("Listening...", false);
  log_.SetStartingUp(false);
  log_.Write("127.0.0.1: User Logged In (Ann)", false);
  log_.Write("Error loading network: x.conf", false);
  log_.WriteWithDetail("Server Error: 24", "Too many open files");
  log_.Say("a word for the operator");

  EXPECT_EQ(file_.lines, (std::vector<std::string>{
                             "Loading Settings...", "Server Error: 98", "Listening...",
                             "127.0.0.1: User Logged In (Ann)", "Error loading network: x.conf",
                             "Server Error: 24"}));
  EXPECT_EQ(console_, (std::vector<std::string>{
                          "Loading Settings...\n",
                          "Server Error: 98 (port 5000, network Lobby: Address already in use)\n",
                          "Listening...\n", "Error loading network: x.conf\n",
                          "Server Error: 24 (Too many open files)\n",
                          "a word for the operator\n"}));
}

TEST_F(EchoingLogTest, ErrorsAfterStartUpReachTheConsoleOnlyUpToTheBound) {
  for (int i = 0; i < EchoingLog::kEchoesPerWindow + 5; ++i)
    log_.Write("Error adding user u" + std::to_string(i) + " to network Lobby", false);
  EXPECT_EQ(file_.lines.size(), static_cast<size_t>(EchoingLog::kEchoesPerWindow + 5));
  ASSERT_EQ(console_.size(), static_cast<size_t>(EchoingLog::kEchoesPerWindow + 1));
  EXPECT_EQ(console_.back(), "More errors follow in the log only, for up to a minute.\n");
}

}  // namespace
}  // namespace velmora
