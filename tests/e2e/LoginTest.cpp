// The log-in dialogue over the real binary's sockets: the prompt, the three steps with their
// exact answers and log lines, refusals, name clashes, addresses and names as the file keeps
// them. Seats, names coming free, the deadline and the records of log-ins are tested in-process
// (tests/client/LogInScenarioTest.cpp).
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

TEST_F(Login, EveryWrongStepIsRefusedAndLogged) {
  Start();
  WireClient client(lobby.port);
  ASSERT_TRUE(client.ExpectPrompt());
  EXPECT_TRUE(client.Step(1, "Nowhere", 2, "FAIL"));
  // No network is selected: neither a password nor a name can be accepted.
  EXPECT_TRUE(client.Step(2, Md5("secret"), 3, "FAIL"));
  EXPECT_TRUE(client.Step(3, "Ann", 4, "FAIL"));
  // The connection stays open and may start again.
  EXPECT_TRUE(client.Step(1, "Lobby", 2, "OK"));
  EXPECT_TRUE(client.Step(2, Md5("wrong"), 3, "FAIL"));
  EXPECT_TRUE(client.Step(3, "Ann", 4, "FAIL"));
  EXPECT_TRUE(client.Step(2, Md5("secret"), 3, "OK"));
  EXPECT_TRUE(client.Step(3, "Ann", 4, "OK"));
  ASSERT_TRUE(Logged("127.0.0.1: User Logged In (Ann)"));
  EXPECT_EQ(server.MessagesSinceListening(),
            (Messages{"127.0.0.1: Client Connection Initiated...",
                      "127.0.0.1: Network Fail (Nowhere)",
                      "127.0.0.1: Refusal Reason: network unknown",
                      "127.0.0.1: Login Failed.",
                      "127.0.0.1: Refusal Reason: no network accepted yet",
                      "127.0.0.1: Bad Username (Ann)",
                      "127.0.0.1: Refusal Reason: no network accepted yet",
                      "127.0.0.1: Login Failed.",
                      "127.0.0.1: Refusal Reason: wrong password",
                      "127.0.0.1: Bad Username (Ann)",
                      "127.0.0.1: Refusal Reason: password not accepted yet",
                      "127.0.0.1: User Logged In (Ann)"}));
}

TEST_F(Login, OnlyTheRawDigestIsAccepted) {
  Start();
  WireClient client(lobby.port);
  ASSERT_TRUE(client.ExpectPrompt());
  ASSERT_TRUE(client.Step(1, "Lobby", 2, "OK"));
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : Md5("secret")) {
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  EXPECT_TRUE(client.Step(2, hex, 3, "FAIL"));
  EXPECT_TRUE(client.Step(2, "secret", 3, "FAIL"));
  EXPECT_TRUE(client.Step(2, "", 3, "FAIL"));
  EXPECT_TRUE(client.Step(2, Md5("secret"), 3, "OK"));
}

TEST_F(Login, ANewSelectionForgetsTheEarlierPassword) {
  NetworkEntry arena{.name = "Arena", .password = "other", .port = FreePort()};
  StartServer({lobby, arena});
  WireClient client(lobby.port);
  ASSERT_TRUE(client.ExpectPrompt());
  ASSERT_TRUE(client.Step(1, "Lobby", 2, "OK"));
  ASSERT_TRUE(client.Step(2, Md5("secret"), 3, "OK"));
  ASSERT_TRUE(client.Step(1, "Arena", 2, "OK"));
  EXPECT_TRUE(client.Step(3, "Ann", 4, "FAIL"));
  ASSERT_TRUE(client.Step(1, "Lobby", 2, "OK"));
  EXPECT_TRUE(client.Step(3, "Ann", 4, "FAIL"));
  ASSERT_TRUE(Logged("127.0.0.1: Bad Username (Ann)", 2));
}

TEST_F(Login, DisabledAndSeatlessNetworksRefuseEverySelection) {
  NetworkEntry off{.name = "Off", .password = "pw", .port = FreePort(), .enabled = "0"};
  NetworkEntry wordy{.name = "Wordy", .password = "pw", .port = FreePort(), .enabled = "true"};
  NetworkEntry seatless{.name = "Seatless", .password = "pw", .port = FreePort(), .maxusers = "0"};
  NetworkEntry decimal{.name = "Decimal", .password = "pw", .port = FreePort(), .enabled = "1.0"};
  StartServer({lobby, off, wordy, seatless, decimal});
  WireClient client(lobby.port);
  ASSERT_TRUE(client.ExpectPrompt());
  EXPECT_TRUE(client.Step(1, "Off", 2, "FAIL"));
  EXPECT_TRUE(client.Step(1, "Wordy", 2, "FAIL"));
  EXPECT_TRUE(client.Step(1, "Seatless", 2, "FAIL"));
  EXPECT_TRUE(client.Step(1, "Decimal", 2, "OK"));
  // A refused selection admits no password and no name, right as they may be.
  EXPECT_TRUE(client.Step(1, "Off", 2, "FAIL"));
  EXPECT_TRUE(client.Step(2, Md5("pw"), 3, "FAIL"));
  EXPECT_TRUE(client.Step(3, "Ann", 4, "FAIL"));
  ASSERT_TRUE(Logged("127.0.0.1: Network Fail (Seatless)"));
  EXPECT_EQ(server.CountLog("127.0.0.1: Network Fail (Off)"), 2u);
  EXPECT_EQ(server.CountLog("127.0.0.1: Network Fail (Wordy)"), 1u);
}

TEST_F(Login, ANameInUseOnTheListenerIsRefusedInAnyCaseAndOnAnyNetwork) {
  NetworkEntry arena{.name = "Arena", .password = "other", .port = FreePort()};
  StartServer({lobby, arena});
  auto ann = Member(lobby.port, "Lobby", "secret", "Ann");

  WireClient clash(lobby.port);
  ASSERT_TRUE(clash.ExpectPrompt());
  ASSERT_TRUE(clash.Step(1, "Arena", 2, "OK"));
  ASSERT_TRUE(clash.Step(2, Md5("other"), 3, "OK"));
  EXPECT_TRUE(clash.Step(3, "ANN", 4, "FAIL"));
  ASSERT_TRUE(Logged("127.0.0.1: Bad Username (ANN)"));
  EXPECT_TRUE(clash.Step(3, "Anna", 4, "OK"));

  // Another listener keeps its own names.
  WireClient elsewhere(arena.port);
  EXPECT_TRUE(elsewhere.LogIn("Lobby", "secret", "ann"));

  // Repeating one's own name is no clash.
  EXPECT_TRUE(ann->Step(3, "Ann", 4, "OK"));
  EXPECT_EQ(server.CountLog("127.0.0.1: User Logged In (Ann)"), 2u);
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

TEST_F(Login, AnEmptyUserNameIsRefused) {
  Start();
  WireClient client(lobby.port);
  ASSERT_TRUE(client.ExpectPrompt());
  ASSERT_TRUE(client.Step(1, "Lobby", 2, "OK"));
  ASSERT_TRUE(client.Step(2, Md5("secret"), 3, "OK"));
  EXPECT_TRUE(client.Step(3, "", 4, "FAIL"));
  EXPECT_TRUE(Logged("127.0.0.1: Bad Username ()"));
}

TEST_F(Login, ClientTextInLogLinesCannotSplitOrForgeThem) {
  Start();
  {
    WireClient client(lobby.port);
    ASSERT_TRUE(client.ExpectPrompt());
    EXPECT_TRUE(client.Step(1, "a\nb", 2, "FAIL"));
    EXPECT_TRUE(client.Step(1, std::string("x\0y\r\t\\\x7F\x1B", 8), 2, "FAIL"));
    EXPECT_TRUE(client.Step(1, std::string(300, '\n'), 2, "FAIL"));
    ASSERT_TRUE(client.Step(1, "Lobby", 2, "OK"));
    ASSERT_TRUE(client.Step(2, Md5("secret"), 3, "OK"));
    EXPECT_TRUE(client.Step(3, "Eve\n[01/01/70 00:00:00] forged", 4, "FAIL"));
    EXPECT_TRUE(client.Step(3, "Eve\\", 4, "OK"));
  }
  std::string newlines;
  for (int i = 0; i < 256; ++i) newlines += "\\n";
  const std::string unknown = "127.0.0.1: Refusal Reason: network unknown";
  ASSERT_TRUE(Logged("Client Disconnect: (102) Eve\\\\"));
  EXPECT_EQ(server.MessagesSinceListening(),
            (Messages{"127.0.0.1: Client Connection Initiated...", "127.0.0.1: Network Fail (a\\nb)",
                      unknown, "127.0.0.1: Network Fail (x\\x00y\\r\\t\\\\\\x7F\\x1B)", unknown,
                      "127.0.0.1: Network Fail (" + newlines + "\xE2\x80\xA6(300 bytes))", unknown,
                      "127.0.0.1: Bad Username (Eve\\n[01/01/70 00:00:00] forged)",
                      "127.0.0.1: Refusal Reason: name invalid (the user name holds a control "
                      "byte (below 0x20, or 0x7F))",
                      "127.0.0.1: User Logged In (Eve\\\\)", "Client Disconnect: (102) Eve\\\\"}));
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
