// An administrator's kick and ban as its members live them: whom they reach, what the target
// and the others hear, what is logged, and whom a ban keeps out. The ban list, lifting bans and bans across a restart
// are tested against the binary (tests/e2e/AdminTest.cpp).
#include <gtest/gtest.h>

#include <string>

#include "platform/net/MemoryChannel.h"
#include "support/InProcessTest.h"

namespace velmora::testing {
namespace {

class AdminCommand : public TwoNetworksWithAdmins {
 protected:
  void SetUp() override {
    server.OpenDatabase();
    TwoNetworksWithAdmins::SetUp();
  }
};

TEST_F(AdminCommand, AKickReachesTheNamedUserOnTheAdministratorsNetworkInAnyCase) {
  auto boss = Member(first, "Lobby", "secret", "Boss");
  auto bob = Member(first, "Lobby", "secret", "Bob", "127.0.0.2");
  auto dan = Member(first, "Arena", "other", "Dan", "127.0.0.4");
  auto ref = Member(first, "Arena", "other", "Ref");

  // Users of other networks are out of reach; the kick is logged all the same.
  boss->Send(10, "Dan|go away");
  ref->Send(10, "Bob|not yours");
  EXPECT_TRUE(ExpectNothing(*dan));
  EXPECT_TRUE(ExpectNothing(*bob, 50));
  EXPECT_TRUE(server.Logged("Dan on network Lobby Kicked: go away"));
  EXPECT_TRUE(server.Logged("Bob on network Arena Kicked: not yours"));

  // The notice is the last word: the others hear that Bob left, and the server ends his side
  // of the connection whatever he does.
  boss->Send(10, "bOB|spam");
  EXPECT_EQ(bob->Receive(), (Message{996, "spam"}));
  EXPECT_TRUE(ExpectNothing(*bob, 50));
  EXPECT_TRUE(bob->Far().WriteEnded());
  EXPECT_EQ(boss->Receive(), (Message{6, "Bob"}));
  EXPECT_TRUE(server.Logged("bOB on network Lobby Kicked: spam"));
  EXPECT_TRUE(server.Logged("Client Disconnect: (103) Bob"));
  // The reason: none, or up to a second bar.
  boss->Send(10, "Bob");
  boss->Send(10, "Bob|first|second");
  EXPECT_TRUE(ExpectNothing(*boss, 50));
  EXPECT_TRUE(server.Logged("Bob on network Lobby Kicked: "));
  EXPECT_TRUE(server.Logged("Bob on network Lobby Kicked: first"));
}

TEST_F(AdminCommand, ABanOfANameNobodyUsesOnTheNetworkDoesNothing) {
  auto boss = Member(first, "Lobby", "secret", "Boss");
  auto dan = Member(first, "Arena", "other", "Dan", "127.0.0.4");
  // A member of Lobby who came in through the other listener is out of this listener's reach.
  auto distant = Member(second, "Lobby", "secret", "Far", "127.0.0.6");
  // A connection that has not logged in has no name to be banned by.
  auto selected = Prompted(first, "127.0.0.7");
  ASSERT_TRUE(Step(*selected, 1, "Lobby", 2, "OK"));
  boss->Send(11, "Nobody|x");
  boss->Send(11, "Dan|x");
  boss->Send(11, "Far|x");
  boss->Send(11, "|x");
  boss->Send(10, "|x");
  EXPECT_TRUE(ExpectNothing(*dan));
  EXPECT_TRUE(ExpectNothing(*distant, 50));
  EXPECT_TRUE(ExpectNothing(*selected, 50));
  EXPECT_TRUE(Step(*boss, 13, "", 13, ""));
  for (const auto& line : server.LogLines())
    EXPECT_EQ(line.find("Banned"), std::string::npos) << line;
}

TEST_F(AdminCommand, ABannedAddressCannotLogInToThatNetworkAgain) {
  auto boss = Member(first, "Lobby", "secret", "Boss");
  auto bob = Member(first, "Lobby", "secret", "Bob", "127.0.0.2");
  boss->Send(11, "Bob|cheating");
  ASSERT_EQ(bob->Receive(), (Message{997, "cheating"}));
  bob.reset();
  EXPECT_EQ(boss->Receive(), (Message{6, "Bob"}));

  auto tryLogIn = [&](const std::string& network, const std::string& password,
                      const std::string& user, const std::string& address) {
    Peer client(first, address);
    return client.LogIn(network, password, user);
  };
  EXPECT_FALSE(tryLogIn("Lobby", "secret", "Bob", "127.0.0.2"));
  EXPECT_TRUE(server.Logged("127.0.0.2: Banned (Bob)"));
  EXPECT_FALSE(tryLogIn("Lobby", "secret", "Robert", "127.0.0.2"));
  EXPECT_TRUE(server.Logged("127.0.0.2: Banned (Robert)"));
  // The ban holds for its network and address only.
  EXPECT_TRUE(tryLogIn("ARENA", "other", "Bob", "127.0.0.2"));
  EXPECT_TRUE(tryLogIn("Lobby", "secret", "Bobby", "127.0.0.3"));
}

}  // namespace
}  // namespace velmora::testing
