#include <gtest/gtest.h>

#include "client/ClientSocket.h"
#include "networks/ServerNetworks.h"
#include "server/MapSocket.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

class LoginDialogue : public ::testing::Test {
 protected:
  ServerHarness server;
  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret", 2);
  MapSocket& listener = server.AddListener();
};

TEST_F(LoginDialogue, AcceptsTheRightStepsAndLogsThem) {
  Peer ann(listener);
  ASSERT_TRUE(ann.LogIn("lobby", "secret", "Ann"));
  EXPECT_EQ(lobby.CurrentUsers, 1);
  auto log = server.LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(), "127.0.0.1: Client Connection Initiated..."),
            log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "127.0.0.1: User Logged In (Ann)"), log.end());
}

TEST_F(LoginDialogue, RefusesEveryWrongStep) {
  Peer client(listener);
  ASSERT_EQ(client.Receive()->command, 1);
  client.Send(2, Md5("secret"));  // no network selected yet
  EXPECT_EQ(client.Receive()->data, "FAIL");
  client.Send(1, "nowhere");
  EXPECT_EQ(client.Receive()->data, "FAIL");
  client.Send(1, "Lobby");
  EXPECT_EQ(client.Receive()->data, "OK");
  client.Send(3, "Ann");  // a user name before the password
  EXPECT_EQ(client.Receive()->data, "FAIL");
  client.Send(2, "5ebe2294ecd0e0f08eab7690d2a6ee69");  // hex text is not the digest
  EXPECT_EQ(client.Receive()->data, "FAIL");
  client.Send(2, Md5("secret"));
  EXPECT_EQ(client.Receive()->data, "OK");
  client.Send(3, "");
  EXPECT_EQ(client.Receive()->data, "FAIL");
  EXPECT_EQ(lobby.CurrentUsers, 1);
  auto log = server.LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(), "127.0.0.1: Network Fail (nowhere)"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "127.0.0.1: Login Failed."), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "127.0.0.1: Bad Username (Ann)"), log.end());
}

TEST_F(LoginDialogue, SeatsComeBackExactlyOnce) {
  {
    Peer a(listener), b(listener), c(listener);
    ASSERT_TRUE(a.LogIn("Lobby", "secret", "A"));
    ASSERT_TRUE(b.LogIn("Lobby", "secret", "B"));
    ASSERT_EQ(c.Receive()->command, 1);
    c.Send(1, "Lobby");
    EXPECT_EQ(c.Receive()->data, "FAIL");  // full
    a.Send(1, "Lobby");                    // a new selection gives the seat back first
    EXPECT_EQ(a.Receive()->data, "OK");
    EXPECT_EQ(lobby.CurrentUsers, 2);
    b.Drop();
    server.Spin(30);
    EXPECT_EQ(lobby.CurrentUsers, 1);
    c.Send(1, "Lobby");
    EXPECT_EQ(c.Receive()->data, "OK");
  }
  server.Spin(30);
  EXPECT_EQ(lobby.CurrentUsers, 0);
}

TEST_F(LoginDialogue, BadLengthEndsTheConnectionLikeADeparture) {
  Peer ann(listener), bob(listener);
  ASSERT_TRUE(ann.LogIn("Lobby", "secret", "Ann"));
  ASSERT_TRUE(bob.LogIn("Lobby", "secret", "Bob"));
  bob.SendRaw(std::string("\0\0\0\3", 4));
  auto left = ann.Receive();
  ASSERT_TRUE(left);
  EXPECT_EQ(left->command, 6);
  EXPECT_EQ(left->data, "Bob");
  EXPECT_TRUE(bob.Closed());
  EXPECT_EQ(lobby.CurrentUsers, 1);
  auto log = server.LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(), "Client Disconnect: (71) Bob"), log.end());
}

}  // namespace
}  // namespace velmora::testing
