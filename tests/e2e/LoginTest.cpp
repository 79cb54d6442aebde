// The log-in dialogue over the wire: the prompt, the three steps with their exact answers and
// log lines, the seat count, name clashes and the record of each log-in in the network file.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "protocol/FrameCodec.h"
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

TEST_F(Login, TheNetworkNameIsFoundInAnyLetterCase) {
  Start();
  WireClient client(lobby.port);
  EXPECT_TRUE(client.LogIn("lOBBY", "secret", "Ann"));
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

// An accepted selection holds one seat until the connection ends or selects again; refusals of
// the later steps neither free nor take one.
TEST_F(Login, ASeatIsHeldFromSelectionAndGivenBackOnce) {
  lobby.maxusers = "1";
  Start();
  auto a = std::make_unique<WireClient>(lobby.port);
  WireClient b(lobby.port);
  ASSERT_TRUE(a->ExpectPrompt());
  ASSERT_TRUE(b.ExpectPrompt());
  EXPECT_TRUE(a->Step(1, "Lobby", 2, "OK"));
  EXPECT_TRUE(b.Step(1, "Lobby", 2, "FAIL"));
  // Refused for a full network, the right password gets B nowhere.
  EXPECT_TRUE(b.Step(2, Md5("secret"), 3, "FAIL"));
  EXPECT_TRUE(b.Step(3, "Bob", 4, "FAIL"));
  EXPECT_TRUE(a->Step(2, Md5("wrong"), 3, "FAIL"));
  EXPECT_TRUE(b.Step(1, "Lobby", 2, "FAIL"));
  EXPECT_TRUE(a->Step(3, "Ann", 4, "FAIL"));
  EXPECT_TRUE(b.Step(1, "Lobby", 2, "FAIL"));
  // Selecting the same network again gives the seat back and takes it anew.
  EXPECT_TRUE(a->Step(1, "lobby", 2, "OK"));
  EXPECT_TRUE(b.Step(1, "Lobby", 2, "FAIL"));
  a.reset();
  // A connection that never logged in ends with nothing after the code.
  ASSERT_TRUE(Logged("Client Disconnect: (102) "));
  EXPECT_TRUE(b.Step(1, "Lobby", 2, "OK"));
  // Only one seat came back.
  WireClient c(lobby.port);
  ASSERT_TRUE(c.ExpectPrompt());
  EXPECT_TRUE(c.Step(1, "Lobby", 2, "FAIL"));
}

TEST_F(Login, SelectingAnotherNetworkGivesTheSeatBack) {
  lobby.maxusers = "1";
  NetworkEntry arena{.name = "Arena", .password = "other", .port = FreePort()};
  StartServer({lobby, arena});
  WireClient a(lobby.port);
  WireClient b(lobby.port);
  ASSERT_TRUE(a.LogIn("Lobby", "secret", "Ann"));
  ASSERT_TRUE(b.ExpectPrompt());
  EXPECT_TRUE(b.Step(1, "Lobby", 2, "FAIL"));
  EXPECT_TRUE(a.Step(1, "Nowhere", 2, "FAIL"));
  EXPECT_TRUE(b.Step(1, "Lobby", 2, "OK"));
  EXPECT_TRUE(a.Step(1, "Lobby", 2, "FAIL"));
  EXPECT_TRUE(a.Step(1, "Arena", 2, "OK"));
  // A full network stays full for a refused user name too.
  EXPECT_TRUE(b.Step(2, Md5("secret"), 3, "OK"));
  EXPECT_TRUE(b.Step(3, "", 4, "FAIL"));
  EXPECT_TRUE(a.Step(1, "Lobby", 2, "FAIL"));
}

TEST_F(Login, ALoggedInMemberHoldsItsSeatUntilItLeaves) {
  lobby.maxusers = "2";
  Start();
  auto ann = Member(lobby.port, "Lobby", "secret", "Ann");
  auto bob = Member(lobby.port, "Lobby", "secret", "Bob");
  WireClient late(lobby.port);
  ASSERT_TRUE(late.ExpectPrompt());
  EXPECT_TRUE(late.Step(1, "Lobby", 2, "FAIL"));
  ann.reset();
  ASSERT_TRUE(Logged("Client Disconnect: (102) Ann"));
  EXPECT_TRUE(late.Step(1, "Lobby", 2, "OK"));
  EXPECT_TRUE(late.Step(1, "Lobby", 2, "OK"));
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

TEST_F(Login, ANameIsFreeAgainOnceItsConnectionEnds) {
  Start();
  auto ann = Member(lobby.port, "Lobby", "secret", "Ann");
  ann.reset();
  ASSERT_TRUE(Logged("Client Disconnect: (102) Ann"));
  WireClient again(lobby.port);
  EXPECT_TRUE(again.LogIn("Lobby", "secret", "ann"));
}

TEST_F(Login, ANewNameGivesTheOldOneBack) {
  Start();
  auto ann = Member(lobby.port, "Lobby", "secret", "Ann");
  EXPECT_TRUE(ann->Step(3, "Anna", 4, "OK"));
  WireClient other(lobby.port);
  ASSERT_TRUE(other.ExpectPrompt());
  ASSERT_TRUE(other.Step(1, "Lobby", 2, "OK"));
  ASSERT_TRUE(other.Step(2, Md5("secret"), 3, "OK"));
  EXPECT_TRUE(other.Step(3, "anna", 4, "FAIL"));
  EXPECT_TRUE(other.Step(3, "ann", 4, "OK"));
  ann.reset();
  EXPECT_EQ(other.Receive(), (Message{6, "Anna"}));
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

// A connection that has not logged in by the deadline is ended like any departure, at whatever
// step it stopped; a member is not. (A test aid shortens the minute of service.)
TEST_F(Login, ConnectionsThatHaveNotLoggedInByTheDeadlineAreEnded) {
  server.SetEnvironment("VELMORA_TEST_LOGIN_DEADLINE_MS", "1500");
  Start();
  WireClient silent(lobby.port);
  ASSERT_TRUE(silent.ExpectPrompt());
  WireClient halfway(lobby.port, {.sourceAddress = "127.0.0.2"});
  ASSERT_TRUE(halfway.ExpectPrompt());
  ASSERT_TRUE(halfway.Step(1, "Lobby", 2, "OK"));
  auto ann = Member(lobby.port, "Lobby", "secret", "Ann");
  EXPECT_TRUE(silent.ExpectNothing(500ms));
  EXPECT_FALSE(silent.PeerClosed()) << "ended before its deadline";
  EXPECT_TRUE(silent.WaitForClose(5s));
  EXPECT_TRUE(halfway.WaitForClose(5s));
  ASSERT_TRUE(Logged("Client Disconnect: (110) ", 2));
  EXPECT_EQ(server.CountLog("127.0.0.1: Login Timed Out."), 1u) << DescribeLog();
  EXPECT_EQ(server.CountLog("127.0.0.2: Login Timed Out."), 1u) << DescribeLog();
  EXPECT_TRUE(ann->ExpectNothing(1s));  // outlives the deadline, and hears of no departure
  EXPECT_TRUE(ann->Step(9, "", 9, "0"));
}

// A real client may send its whole dialogue, and its first report and chat, before it has read
// a single answer.
TEST_F(Login, AWholeDialogueSentInOneWritePasses) {
  Start();
  auto bob = Member(lobby.port, "Lobby", "secret", "Bob");
  WireClient ann(lobby.port);
  ann.SendRaw(CreatePacket(1, "Lobby") + CreatePacket(2, Md5("secret")) + CreatePacket(3, "Ann") +
              CreatePacket(4, "1,2,3,4,0,0") + CreatePacket(7, "hi"));
  EXPECT_EQ(ann.Receive(), (Message{1, "Network"}));
  EXPECT_EQ(ann.Receive(), (Message{2, "OK"}));
  EXPECT_EQ(ann.Receive(), (Message{3, "OK"}));
  EXPECT_EQ(ann.Receive(), (Message{4, "OK"}));
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|1,2,3,4,0,0"}));
  EXPECT_EQ(bob->Receive(), (Message{7, std::string("Ann\0hi", 6)}));
}

TEST_F(Login, AFirstLogInAddsTheUserToTheNetworkFile) {
  Start();
  WireClient client(lobby.port, {.sourceAddress = "127.0.0.7"});
  ASSERT_TRUE(client.LogIn("Lobby", "secret", "Bob"));
  std::string file = NetworkFile(lobby);
  EXPECT_TRUE(
      std::regex_search(file, std::regex(R"(<User\s+LastIP="127\.0\.0\.7"\s+Name="Bob"\s*/>)")))
      << file;
  // The network element is left as it was.
  EXPECT_TRUE(std::regex_search(file, std::regex(R"(<network\s+name="Lobby"\s+password="secret")")))
      << file;
  ASSERT_TRUE(Logged("127.0.0.7: User Logged In (Bob)"));
}

TEST_F(Login, ALogInOfAKnownUserOnlyUpdatesItsAddress) {
  lobby.users = {{.name = "Bob", .lastIp = "10.0.0.5", .isAdmin = "0"},
                 {.name = "Cy", .lastIp = "10.0.0.6"}};
  Start();
  WireClient client(lobby.port);
  ASSERT_TRUE(client.LogIn("Lobby", "secret", "BOB"));
  std::string file = NetworkFile(lobby);
  EXPECT_TRUE(std::regex_search(file, std::regex(R"(<User\s+Name="Bob"\s+LastIP="127\.0\.0\.1")")))
      << file;
  EXPECT_TRUE(std::regex_search(file, std::regex(R"(<User\s+Name="Cy"\s+LastIP="10\.0\.0\.6")")))
      << file;
  size_t users = 0;
  for (size_t at = file.find("<User"); at != std::string::npos; at = file.find("<User", at + 1))
    ++users;
  EXPECT_EQ(users, 2u) << file;
}

TEST_F(Login, ANetworkFileThatCannotBeRewrittenDoesNotStopTheLogIn) {
  Start();
  std::string path =
      server.NetworksFolder() + "/" + lobby.name + std::to_string(lobby.port) + ".conf";
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  std::string before = ReadFile(path);
  WireClient neo(lobby.port);
  EXPECT_TRUE(neo.LogIn("Lobby", "secret", "Neo"));
  EXPECT_TRUE(Logged("Error adding user Neo to network Lobby"));
  EXPECT_EQ(ReadFile(path), before);

  std::filesystem::remove(path);
  WireClient trinity(lobby.port);
  EXPECT_TRUE(trinity.LogIn("Lobby", "secret", "Trinity"));
  ASSERT_TRUE(Logged("127.0.0.1: User Logged In (Trinity)"));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(server.CountLog("Error adding user Trinity to network Lobby"), 0u);
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
