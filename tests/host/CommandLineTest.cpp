#include "host/CommandLine.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

CommandLineOptions Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "velmora");
  return ParseCommandLine(args);
}

TEST(CommandLineTest, TakesTheStatusAddressInEitherSpelling) {
  EXPECT_EQ(Parse({}).action, CommandLineOptions::Action::kRun);
  EXPECT_EQ(Parse({"--status", "127.0.0.1:5000"}).statusAddress, "127.0.0.1:5000");
  EXPECT_EQ(Parse({"--status=[::1]:65535"}).statusAddress, "[::1]:65535");
  EXPECT_EQ(Parse({"--status", "127.0.0.1:0"}).statusAddress, "127.0.0.1:0");  // any free port
  auto options = Parse({"--status", "host:1", "--version"});
  EXPECT_EQ(options.action, CommandLineOptions::Action::kVersion);
  EXPECT_EQ(options.statusAddress, "host:1");
  EXPECT_EQ(Parse({"--version", "--help"}).action, CommandLineOptions::Action::kHelp);
}

TEST(CommandLineTest, RefusesWhatItDoesNotKnowAndAddressesTheConsoleWouldRefuse) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-v"}, {"run"}, {"--status"}, {"--status", "host"}, {"--status", "host:-1"},
           {"--status", "host:65536"}, {"--status", ":5000"}, {"--status", "::1:5000"},
           {"--status", "two words:5000"}, {"--status=host:"}})
    EXPECT_THROW(Parse(args), CommandLineError) << ::testing::PrintToString(args);
}

}  // namespace
}  // namespace velmora
