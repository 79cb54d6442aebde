// The log-in dialogue over the real binary's sockets: the prompt, the three steps with their
// exact answers and log lines, addresses and names as the file keeps them across a restart, one
// listener per port. Refusals, name clashes, seats, names coming free, the deadline and the
// records of log-ins are tested in-process (tests/client/LogInScenarioTest.cpp and
// RefusalReasonTest.cpp).
#include <gtest/gtest.h>

#include <regex>

#include "support/ServerTest.h"

namespace velmora::e2e {
namespace {

using Messages = std::vector<std::string>;

class Login : public ServerTest {
 protected:
  void SetUp() override { lobby = {.name = "Lobby", .password = "secret", .port = FreePort()}; }

  void Start() { StartServer({lobby}); }

  NetworkEntry lobby;
};

TEST_F(Login, AClientLogsInWithExactAnswersAndLogLines) {
  Start();
  {
    WireClient client(lobby.port);
    ASSERT_TRUE(client.ExpectPrompt());
    EXPECT_TRUE(client.Step(1, "Lobby", 2, "OK"));
    EXPECT_TRUE(client.Step(2, Md5("secret"), 3, "OK"));
    EXPECT_TRUE(client.Step(3, "Ann", 4, "OK"));
    EXPECT_TRUE(client.ExpectNothing(100ms));
  }
  ASSERT_TRUE(Logged("Client Disconnect: (102) Ann"));
  EXPECT_EQ(server.MessagesSinceListening(),
            (Messages{"127.0.0.1: Client Connection Initiated...",
                      "127.0.0.1: User Logged In (Ann)", "Client Disconnect: (102) Ann"}));
}

TEST_F(Login, AnIpv6ClientIsKnownByItsAddress) {
  Start();
  WireClient client(lobby.port, {.sourceAddress = "::1"});
  ASSERT_TRUE(client.LogIn("Lobby", "secret", "Six"));
  ASSERT_TRUE(Logged("::1: User Logged In (Six)"));
  EXPECT_EQ(server.CountLog("::1: Client Connection Initiated..."), 1u);
  std::string file = NetworkFile(lobby);
  EXPECT_TRUE(std::regex_search(file, std::regex(R"(<User\s+LastIP="::1"\s+Name="Six"\s*/>)")))
      << file;
}

// A registered name must not break its network file, or the network is lost at the next start;
// one that XML cannot hold (bytes that are no UTF-8) is not written at all. Control characters
// never get that far: the name rule refuses them at log-in.
TEST_F(Login, RegisteredNamesOfAnyTextKeepTheNetworkFileReadable) {
  Start();
  const std::vector<std::string> names = {"Q\"<&'>", "&amp;", "Caf\xC3\xA9"};
  for (const auto& name : names) {
    WireClient client(lobby.port);
    ASSERT_TRUE(client.LogIn("Lobby", "secret", name)) << name;
  }
  {
    WireClient client(lobby.port);
    ASSERT_TRUE(client.LogIn("Lobby", "secret", "Caf\xE9"));
  }
  EXPECT_TRUE(Logged("Error adding user Caf\xE9 to network Lobby"));
  ASSERT_EQ(server.Stop(), 0) << server.Output();
  ASSERT_TRUE(server.Start()) << DescribeLog();
  ASSERT_EQ(server.CountLog("Loaded Network: Lobby"), 1u) << DescribeLog() << NetworkFile(lobby);
  // Each name reads back as written: logging in again updates its record instead of adding one.
  for (const auto& name : names) {
    WireClient client(lobby.port);
    ASSERT_TRUE(client.LogIn("Lobby", "secret", name)) << name;
  }
  std::string file = NetworkFile(lobby);
  size_t users = 0;
  for (size_t at = file.find("<User"); at != std::string::npos; at = file.find("<User", at + 1))
    ++users;
  EXPECT_EQ(users, names.size()) << file;
}

TEST_F(Login, TwoNetworksOnTwoPortsGiveTwoListeners) {
  NetworkEntry arena{.name = "Arena", .password = "other", .port = FreePort()};
  StartServer({lobby, arena});
  WireClient first(lobby.port);
  WireClient second(arena.port);
  EXPECT_TRUE(first.LogIn("Arena", "other", "Ann"));
  EXPECT_TRUE(second.LogIn("Lobby", "secret", "Ann"));
}

}  // namespace
}  // namespace velmora::e2e
