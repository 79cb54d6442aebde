// The life of the server process: its start-up log, the signals it answers, its exit, and a
// burst of traffic handled without pacing.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include "support/ServerTest.h"
#include "protocol/FrameCodec.h"

namespace velmora::e2e {
namespace {

using Messages = std::vector<std::string>;

const Messages kStartWithoutNetworks = {"Loading Settings...", "Initializing Server Socket...",
                                        "Loading Networks...", "Reading Network Files...",
                                        "Listening..."};

class Lifecycle : public ServerTest {};

TEST_F(Lifecycle, StartsAFreshLogAndExitsCleanlyOnSigterm) {
  server.WriteSettings(AllAddressesSettings());
  ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
  EXPECT_EQ(server.LogMessages(), kStartWithoutNetworks);

  EXPECT_EQ(server.Stop(), 0) << server.Output();
  Messages expected = kStartWithoutNetworks;
  expected.push_back("Received quit signal.  Exiting.");
  EXPECT_EQ(server.LogMessages(), expected);

  // Every line carries the stamp "[date time] ".
  const std::regex stamped(R"(\[[^\]]+ [^\]]+\] .*)");
  for (const auto& line : server.LogLines()) EXPECT_TRUE(std::regex_match(line, stamped)) << line;
}

TEST_F(Lifecycle, EachRunReplacesTheLogOfTheRunBefore) {
  server.WriteSettings(AllAddressesSettings());
  ASSERT_TRUE(server.Start());
  ASSERT_EQ(server.Stop(), 0) << server.Output();
  // Start seeds the log with a stale line; the second run must discard the first run's lines.
  ASSERT_TRUE(server.Start()) << DescribeLog();
  EXPECT_EQ(server.LogMessages(), kStartWithoutNetworks);
  EXPECT_EQ(server.CountLog("Received quit signal.  Exiting."), 0u);
}

// The log's place depends on the user, not on the folder: a second server the same user runs
// from another folder must leave the running server's log where it is, whether it gives up
// because its port is taken or starts and serves beside it.
TEST_F(Lifecycle, AServerInAnotherFolderNeverMovesTheRunningServersLog) {
  uint16_t port = FreePort();
  StartServer({{.name = "Lobby", .password = "pw", .port = port}});
  std::string previous = testing::ReadFile(server.PreviousLogPath());
  ServerProcess other;
  other.ShareLogOf(server);
  other.WriteSettings(AllAddressesSettings());
  other.WriteNetwork({.name = "Arena", .password = "pw", .port = port});
  EXPECT_EQ(other.RunToEnd({}).exitCode, 1);

  std::filesystem::remove(other.NetworksFolder() + "/Arena" + std::to_string(port) + ".conf");
  uint16_t otherPort = FreePort();
  other.WriteNetwork({.name = "Arena", .password = "pw", .port = otherPort});
  ASSERT_TRUE(other.Start()) << DescribeLog() << other.Output();
  auto ann = Member(port, "Lobby", "pw", "Ann");
  ASSERT_TRUE(Logged("127.0.0.1: User Logged In (Ann)"));

  Messages messages = server.LogMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front(), "Loading Settings...");
  // The failed start appended its lines, error included, and the successful one its own.
  EXPECT_EQ(server.CountLog("Loading Settings..."), 3u) << DescribeLog();
  EXPECT_EQ(server.CountLog("Error: not one listener could be opened; exiting."), 1u);
  EXPECT_EQ(server.CountLog("Listening..."), 2u);
  EXPECT_EQ(testing::ReadFile(server.PreviousLogPath()), previous);
  EXPECT_EQ(other.Stop(), 0) << other.Output();
}

TEST_F(Lifecycle, LogsEachNetworkFileItLoads) {
  NetworkEntry alpha{.name = "Alpha", .password = "pw", .port = FreePort()};
  server.WriteNetworkFile("alpha.conf", NetworkXml(alpha));
  server.WriteSettings(AllAddressesSettings());
  ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
  Messages expected = {"Loading Settings...",
                       "Initializing Server Socket...",
                       "Loading Networks...",
                       "Reading Network Files...",
                       "Network loaded: " + server.NetworksFolder() + "/alpha.conf",
                       "Loaded Network: Alpha",
                       "Listening..."};
  EXPECT_EQ(server.LogMessages(), expected);
}

TEST_F(Lifecycle, AListenerThatCannotListenIsLoggedAndTheRestGoOn) {
  uint16_t port = FreePort();
  server.WriteNetwork({.name = "Lobby", .password = "pw", .port = port});
  server.WriteNetworkFile("same-port.conf",
                          NetworkXml({.name = "Twin", .password = "pw", .port = port}));
  server.WriteSettings(AllAddressesSettings());
  ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
  WireClient client(port);
  EXPECT_TRUE(client.LogIn("Twin", "pw", "Ann"));
  const std::regex serverError(R"(Server Error: -?[0-9]+)");
  auto messages = server.LogMessages();
  auto errors = std::count_if(messages.begin(), messages.end(), [&](const std::string& line) {
    return std::regex_match(line, serverError);
  });
  EXPECT_EQ(errors, 1) << DescribeLog();
}

TEST_F(Lifecycle, PauseAndResumeOnlyWriteTheirLinesWhileServingGoesOn) {
  uint16_t port = FreePort();
  StartServer({{.name = "Lobby", .password = "pw", .port = port}});
  WireClient before(port);
  ASSERT_TRUE(before.LogIn("Lobby", "pw", "Ann"));

  server.Signal(SIGTSTP);
  ASSERT_TRUE(Logged("Life waits for no man."));
  // Paused or not, the server accepts and answers.
  WireClient during(port);
  EXPECT_TRUE(during.ExpectPrompt());
  EXPECT_TRUE(before.Step(999, "", 999, "BYE"));

  std::this_thread::sleep_for(100ms);
  server.Signal(SIGCONT);
  ASSERT_TRUE(Logged("CHARGE!"));
  EXPECT_TRUE(before.Step(9, "", 9, "0"));

  auto messages = server.MessagesSinceListening();
  auto pause = std::find(messages.begin(), messages.end(), "Life waits for no man.");
  auto resume = std::find(messages.begin(), messages.end(), "CHARGE!");
  EXPECT_LT(pause, resume);
  EXPECT_EQ(server.CountLog("Life waits for no man."), 1u);
  EXPECT_EQ(server.CountLog("CHARGE!"), 1u);
}

TEST_F(Lifecycle, SigintStopsLikeSigterm) {
  server.WriteSettings(AllAddressesSettings());
  ASSERT_TRUE(server.Start());
  server.Signal(SIGINT);
  ASSERT_TRUE(Logged("Received quit signal.  Exiting."));
  EXPECT_EQ(server.Stop(), 0) << server.Output();
  EXPECT_EQ(server.LogMessages().back(), "Received quit signal.  Exiting.");
  EXPECT_EQ(server.CountLog("Received quit signal.  Exiting."), 1u);
}

TEST_F(Lifecycle, StopsWithConnectedClients) {
  uint16_t port = FreePort();
  StartServer({{.name = "Lobby", .password = "pw", .port = port}});
  WireClient member(port);
  ASSERT_TRUE(member.LogIn("Lobby", "pw", "Ann"));
  WireClient prompted(port);
  ASSERT_TRUE(prompted.ExpectPrompt());
  EXPECT_EQ(server.Stop(), 0) << server.Output();
  EXPECT_EQ(server.LogMessages().back(), "Received quit signal.  Exiting.");
}

// Frames that arrive together must not be paced at one per main-loop pass with a wait between
// passes; 10,000 reports at 10 ms each would take 100 s. The bound here is only a deadline.
TEST_F(Lifecycle, ABurstOfTenThousandReportsIsAllRelayed) {
  uint16_t port = FreePort();
  // What the relay carries: no ceiling holds the burst back at its source.
  StartServer({{.name = "Lobby", .password = "pw", .port = port}}, 0);
  WireClient sender(port);
  WireClient receiver(port);
  ASSERT_TRUE(sender.LogIn("Lobby", "pw", "Ann"));
  ASSERT_TRUE(receiver.LogIn("Lobby", "pw", "Bob"));

  constexpr int kReports = 10000;
  std::string burst;
  for (int i = 0; i < kReports; ++i) AppendPacket(burst, 4, std::to_string(i) + ",20,1,50,0,0");
  std::thread writer([&] { sender.SendRaw(burst); });

  auto deadline = std::chrono::steady_clock::now() + 10s;
  int received = 0;
  while (received < kReports && std::chrono::steady_clock::now() < deadline) {
    auto message = receiver.Receive(1s);
    if (!message) continue;
    Message expected{5, "Ann|" + std::to_string(received) + ",20,1,50,0,0"};
    if (*message != expected) {
      ADD_FAILURE() << "report " << received << ": " << Describe(message);
      break;
    }
    ++received;
  }
  writer.join();
  EXPECT_EQ(received, kReports);
  EXPECT_TRUE(sender.ExpectNothing(100ms));
}

}  // namespace
}  // namespace velmora::e2e
