// The log-in dialogue as a client lives it: seats from selection to departure, names that come
// free, the deadline for logging in, and the record each log-in leaves in the network file.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "networks/ServerNetworks.h"
#include "support/InProcessTest.h"
#include "support/ScratchFolder.h"
#include "support/ServerProcess.h"

namespace velmora::testing {
namespace {

using e2e::NetworkEntry;
using e2e::NetworkXml;

class LogInScenario : public InProcessTest {
 protected:
  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret", 50);
  MapSocket& listener = server.AddListener();
};

TEST_F(LogInScenario, TheNetworkNameIsFoundInAnyLetterCase) {
  Peer client(listener);
  EXPECT_TRUE(client.LogIn("lOBBY", "secret", "Ann"));
}

// An accepted selection holds one seat until the connection ends or selects again; refusals of
// the later steps neither free nor take one.
TEST_F(LogInScenario, ASeatIsHeldFromSelectionAndGivenBackOnce) {
  lobby.MaxUsers = 1;
  auto a = Prompted(listener);
  auto b = Prompted(listener);
  EXPECT_TRUE(Step(*a, 1, "Lobby", 2, "OK"));
  EXPECT_TRUE(Step(*b, 1, "Lobby", 2, "FAIL"));
  // Refused for a full network, the right password gets B nowhere.
  EXPECT_TRUE(Step(*b, 2, Md5("secret"), 3, "FAIL"));
  EXPECT_TRUE(Step(*b, 3, "Bob", 4, "FAIL"));
  EXPECT_TRUE(Step(*a, 2, Md5("wrong"), 3, "FAIL"));
  EXPECT_TRUE(Step(*b, 1, "Lobby", 2, "FAIL"));
  EXPECT_TRUE(Step(*a, 3, "Ann", 4, "FAIL"));
  EXPECT_TRUE(Step(*b, 1, "Lobby", 2, "FAIL"));
  // Selecting the same network again gives the seat back and takes it anew.
  EXPECT_TRUE(Step(*a, 1, "lobby", 2, "OK"));
  EXPECT_TRUE(Step(*b, 1, "Lobby", 2, "FAIL"));
  a.reset();
  server.Spin(50);
  // A connection that never logged in ends with nothing after the code.
  ASSERT_TRUE(server.Logged("Client Disconnect: (102) "));
  EXPECT_TRUE(Step(*b, 1, "Lobby", 2, "OK"));
  // Only one seat came back.
  auto c = Prompted(listener);
  EXPECT_TRUE(Step(*c, 1, "Lobby", 2, "FAIL"));
}

TEST_F(LogInScenario, SelectingAnotherNetworkGivesTheSeatBack) {
  lobby.MaxUsers = 1;
  server.AddNetwork("Arena", "other");
  Peer a(listener);
  ASSERT_TRUE(a.LogIn("Lobby", "secret", "Ann"));
  auto b = Prompted(listener);
  EXPECT_TRUE(Step(*b, 1, "Lobby", 2, "FAIL"));
  EXPECT_TRUE(Step(a, 1, "Nowhere", 2, "FAIL"));
  EXPECT_TRUE(Step(*b, 1, "Lobby", 2, "OK"));
  EXPECT_TRUE(Step(a, 1, "Lobby", 2, "FAIL"));
  EXPECT_TRUE(Step(a, 1, "Arena", 2, "OK"));
  // A full network stays full for a refused user name too.
  EXPECT_TRUE(Step(*b, 2, Md5("secret"), 3, "OK"));
  EXPECT_TRUE(Step(*b, 3, "", 4, "FAIL"));
  EXPECT_TRUE(Step(a, 1, "Lobby", 2, "FAIL"));
}

TEST_F(LogInScenario, ALoggedInMemberHoldsItsSeatUntilItLeaves) {
  lobby.MaxUsers = 2;
  auto ann = Member(listener, "Lobby", "secret", "Ann");
  auto bob = Member(listener, "Lobby", "secret", "Bob");
  auto late = Prompted(listener);
  EXPECT_TRUE(Step(*late, 1, "Lobby", 2, "FAIL"));
  ann.reset();
  server.Spin(50);
  ASSERT_TRUE(server.Logged("Client Disconnect: (102) Ann"));
  EXPECT_TRUE(Step(*late, 1, "Lobby", 2, "OK"));
  EXPECT_TRUE(Step(*late, 1, "Lobby", 2, "OK"));
}

TEST_F(LogInScenario, ANameIsFreeAgainOnceItsConnectionEnds) {
  auto ann = Member(listener, "Lobby", "secret", "Ann");
  ann.reset();
  server.Spin(50);
  ASSERT_TRUE(server.Logged("Client Disconnect: (102) Ann"));
  Peer again(listener);
  EXPECT_TRUE(again.LogIn("Lobby", "secret", "ann"));
}

TEST_F(LogInScenario, ANewNameGivesTheOldOneBack) {
  auto ann = Member(listener, "Lobby", "secret", "Ann");
  EXPECT_TRUE(Step(*ann, 3, "Anna", 4, "OK"));
  auto other = Prompted(listener);
  ASSERT_TRUE(Step(*other, 1, "Lobby", 2, "OK"));
  ASSERT_TRUE(Step(*other, 2, Md5("secret"), 3, "OK"));
  EXPECT_TRUE(Step(*other, 3, "anna", 4, "FAIL"));
  EXPECT_TRUE(Step(*other, 3, "ann", 4, "OK"));
  ann.reset();
  EXPECT_EQ(other->Receive(), (Message{6, "Anna"}));
}

// The others' maps lose the old name; a repeat of the name itself is no news to them.
TEST_F(LogInScenario, AMemberThatTakesAnotherNameLeavesUnderTheOldOne) {
  auto ann = Member(listener, "Lobby", "secret", "Ann");
  auto bob = Member(listener, "Lobby", "secret", "Bob");
  EXPECT_TRUE(Step(*ann, 3, "Anna", 4, "OK"));
  EXPECT_EQ(bob->Receive(), (Message{6, "Ann"}));
  EXPECT_TRUE(Step(*ann, 3, "Anna", 4, "OK"));
  EXPECT_TRUE(ExpectNothing(*bob));
  EXPECT_TRUE(ExpectNothing(*ann));
}

TEST_F(LogInScenario, ANewSelectionForgetsTheEarlierPassword) {
  server.AddNetwork("Arena", "other");
  auto client = Prompted(listener);
  ASSERT_TRUE(Step(*client, 1, "Lobby", 2, "OK"));
  ASSERT_TRUE(Step(*client, 2, Md5("secret"), 3, "OK"));
  ASSERT_TRUE(Step(*client, 1, "Arena", 2, "OK"));
  EXPECT_TRUE(Step(*client, 3, "Ann", 4, "FAIL"));
  ASSERT_TRUE(Step(*client, 1, "Lobby", 2, "OK"));
  EXPECT_TRUE(Step(*client, 3, "Ann", 4, "FAIL"));
  EXPECT_EQ(server.CountLog("127.0.0.1: Bad Username (Ann)"), 2u);
}

TEST_F(LogInScenario, ANameInUseOnTheListenerIsRefusedInAnyCaseAndOnAnyNetwork) {
  server.AddNetwork("Arena", "other");
  MapSocket& other = server.AddListener();
  auto ann = Member(listener, "Lobby", "secret", "Ann");

  auto clash = Prompted(listener);
  ASSERT_TRUE(Step(*clash, 1, "Arena", 2, "OK"));
  ASSERT_TRUE(Step(*clash, 2, Md5("other"), 3, "OK"));
  EXPECT_TRUE(Step(*clash, 3, "ANN", 4, "FAIL"));
  EXPECT_TRUE(server.Logged("127.0.0.1: Bad Username (ANN)"));
  EXPECT_TRUE(Step(*clash, 3, "Anna", 4, "OK"));

  // Another listener keeps its own names.
  Peer elsewhere(other);
  EXPECT_TRUE(elsewhere.LogIn("Lobby", "secret", "ann"));

  // Repeating one's own name is no clash.
  EXPECT_TRUE(Step(*ann, 3, "Ann", 4, "OK"));
  EXPECT_EQ(server.CountLog("127.0.0.1: User Logged In (Ann)"), 2u);
}

TEST_F(LogInScenario, ClientTextInLogLinesCannotSplitOrForgeThem) {
  {
    auto client = Prompted(listener);
    EXPECT_TRUE(Step(*client, 1, "a\nb", 2, "FAIL"));
    EXPECT_TRUE(Step(*client, 1, std::string("x\0y\r\t\\\x7F\x1B", 8), 2, "FAIL"));
    EXPECT_TRUE(Step(*client, 1, std::string(300, '\n'), 2, "FAIL"));
    ASSERT_TRUE(Step(*client, 1, "Lobby", 2, "OK"));
    ASSERT_TRUE(Step(*client, 2, Md5("secret"), 3, "OK"));
    EXPECT_TRUE(Step(*client, 3, "Eve\n[01/01/70 00:00:00] forged", 4, "FAIL"));
    EXPECT_TRUE(Step(*client, 3, "Eve\\", 4, "OK"));
  }
  server.Spin(50);
  std::string newlines;
  for (int i = 0; i < 256; ++i) newlines += "\\n";
  const std::string unknown = "127.0.0.1: Refusal Reason: network unknown";
  EXPECT_EQ(server.LogLines(),
            (std::vector<std::string>{
                "127.0.0.1: Client Connection Initiated...", "127.0.0.1: Network Fail (a\\nb)",
                unknown, "127.0.0.1: Network Fail (x\\x00y\\r\\t\\\\\\x7F\\x1B)", unknown,
                "127.0.0.1: Network Fail (" + newlines + "\xE2\x80\xA6(300 bytes))", unknown,
                "127.0.0.1: Bad Username (Eve\\n[01/01/70 00:00:00] forged)",
                "127.0.0.1: Refusal Reason: name invalid (the user name holds a control "
                "byte (below 0x20, or 0x7F))",
                "127.0.0.1: User Logged In (Eve\\\\)", "Client Disconnect: (102) Eve\\\\"}));
}

// A connection that has not logged in by the deadline is ended like any departure, at whatever
// step it stopped; a member is not.
class LogInDeadline : public InProcessTest {
 protected:
  LogInDeadline() : InProcessTest({.loginDeadline = std::chrono::milliseconds(1500)}) {}
  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret", 50);
  MapSocket& listener = server.AddListener();
};

TEST_F(LogInDeadline, ConnectionsThatHaveNotLoggedInByTheDeadlineAreEnded) {
  auto silent = Prompted(listener);
  auto halfway = Prompted(listener, "127.0.0.2");
  ASSERT_TRUE(Step(*halfway, 1, "Lobby", 2, "OK"));
  auto ann = Member(listener, "Lobby", "secret", "Ann");
  EXPECT_TRUE(ExpectNothing(*silent, 500));
  EXPECT_TRUE(silent->Connected()) << "ended before its deadline";
  EXPECT_TRUE(silent->Closed(5000));
  EXPECT_TRUE(halfway->Closed(5000));
  server.Spin(50);
  ASSERT_EQ(server.CountLog("Client Disconnect: (110) "), 2u);
  EXPECT_EQ(server.CountLog("127.0.0.1: Login Timed Out."), 1u);
  EXPECT_EQ(server.CountLog("127.0.0.2: Login Timed Out."), 1u);
  EXPECT_TRUE(ExpectNothing(*ann, 1000));  // outlives the deadline, and hears of no departure
  EXPECT_TRUE(Step(*ann, 9, "", 9, "0"));
}

// The record each log-in leaves in its network file, written as the server writes it.
class LogInRecord : public InProcessTest {
 protected:
  void Load(const NetworkEntry& entry) {
    std::filesystem::create_directories(folder / "velmora-server");
    path = folder / ("velmora-server/" + entry.name + ".conf");
    WriteFile(path, NetworkXml(entry));
    server.LoadNetwork(path);
  }

  // The file once every record waiting has been written.
  std::string File() {
    for (int pass = 0; pass < 100 && server.RecordsWaiting() > 0; ++pass) server.Spin(10);
    return ReadFile(path);
  }

  static size_t Users(const std::string& file) {
    size_t users = 0;
    for (size_t at = file.find("<User"); at != std::string::npos; at = file.find("<User", at + 1))
      ++users;
    return users;
  }

  ScratchFolder folder{"velmora-record"};
  std::string path;
  MapSocket& listener = server.AddListener();
};

// The enabled flag as the file gives it: only a number that is not 0 enables; a network of no
// seats is refused like a disabled one. A refused selection admits no password and no name.
TEST_F(LogInRecord, DisabledAndSeatlessNetworksRefuseEverySelection) {
  Load({.name = "Off", .password = "pw", .enabled = "0"});
  Load({.name = "Wordy", .password = "pw", .enabled = "true"});
  Load({.name = "Seatless", .password = "pw", .maxusers = "0"});
  Load({.name = "Decimal", .password = "pw", .enabled = "1.0"});
  auto client = Prompted(listener);
  EXPECT_TRUE(Step(*client, 1, "Off", 2, "FAIL"));
  EXPECT_TRUE(Step(*client, 1, "Wordy", 2, "FAIL"));
  EXPECT_TRUE(Step(*client, 1, "Seatless", 2, "FAIL"));
  EXPECT_TRUE(Step(*client, 1, "Decimal", 2, "OK"));
  EXPECT_TRUE(Step(*client, 1, "Off", 2, "FAIL"));
  EXPECT_TRUE(Step(*client, 2, Md5("pw"), 3, "FAIL"));
  EXPECT_TRUE(Step(*client, 3, "Ann", 4, "FAIL"));
  EXPECT_EQ(server.CountLog("127.0.0.1: Network Fail (Seatless)"), 1u);
  EXPECT_EQ(server.CountLog("127.0.0.1: Network Fail (Off)"), 2u);
  EXPECT_EQ(server.CountLog("127.0.0.1: Network Fail (Wordy)"), 1u);
}

TEST_F(LogInRecord, AFirstLogInAddsTheUserToTheNetworkFile) {
  Load({.name = "Lobby", .password = "secret"});
  Peer client(listener, "127.0.0.7");
  ASSERT_TRUE(client.LogIn("Lobby", "secret", "Bob"));
  std::string file = File();
  EXPECT_TRUE(
      std::regex_search(file, std::regex(R"(<User\s+LastIP="127\.0\.0\.7"\s+Name="Bob"\s*/>)")))
      << file;
  // The network element is left as it was.
  EXPECT_TRUE(std::regex_search(file, std::regex(R"(<network\s+name="Lobby"\s+password="secret")")))
      << file;
  EXPECT_TRUE(server.Logged("127.0.0.7: User Logged In (Bob)"));
}

TEST_F(LogInRecord, ALogInOfAKnownUserOnlyUpdatesItsAddress) {
  Load({.name = "Lobby",
        .password = "secret",
        .users = {{.name = "Bob", .lastIp = "10.0.0.5", .isAdmin = "0"},
                  {.name = "Cy", .lastIp = "10.0.0.6"}}});
  Peer client(listener);
  ASSERT_TRUE(client.LogIn("Lobby", "secret", "BOB"));
  std::string file = File();
  EXPECT_TRUE(std::regex_search(file, std::regex(R"(<User\s+Name="Bob"\s+LastIP="127\.0\.0\.1")")))
      << file;
  EXPECT_TRUE(std::regex_search(file, std::regex(R"(<User\s+Name="Cy"\s+LastIP="10\.0\.0\.6")")))
      << file;
  EXPECT_EQ(Users(file), 2u) << file;
}

TEST_F(LogInRecord, ANetworkFileThatCannotBeRewrittenDoesNotStopTheLogIn) {
  Load({.name = "Lobby", .password = "secret"});
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  std::string before = ReadFile(path);
  Peer neo(listener);
  EXPECT_TRUE(neo.LogIn("Lobby", "secret", "Neo"));
  EXPECT_EQ(File(), before);
  EXPECT_TRUE(server.Logged("Error adding user Neo to network Lobby"));

  std::filesystem::remove(path);
  Peer trinity(listener);
  EXPECT_TRUE(trinity.LogIn("Lobby", "secret", "Trinity"));
  File();
  EXPECT_TRUE(server.Logged("127.0.0.1: User Logged In (Trinity)"));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(server.CountLog("Error adding user Trinity to network Lobby"), 0u);
}

}  // namespace
}  // namespace velmora::testing
