// What a hostile client meets at log-in: the user-name rule, and the limits on guessing passwords
// per connection and per address.
#include <gtest/gtest.h>

#include "base/Log.h"
#include "client/ClientSocket.h"
#include "client/PasswordGuesses.h"
#include "networks/ServerNetworks.h"
#include "server/MapSocket.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

class LoginLimits : public ::testing::Test {
 protected:
  // Sends one password message and answers the reply's text, or "closed".
  std::string Password(Peer& client, const std::string& password) {
    client.Send(ClientCode::kPasswordDigest, Md5(password));
    auto reply = client.Receive(500);
    return reply ? reply->data : "closed";
  }
  // A connection from `address` whose network selection took a seat.
  std::unique_ptr<Peer> Seated(const std::string& address) {
    auto client = std::make_unique<Peer>(listener, address);
    EXPECT_TRUE(client->Receive());  // the prompt
    client->Send(ClientCode::kNetworkSelection, "Lobby");
    EXPECT_EQ(client->Receive()->data, "OK");
    return client;
  }

  ServerHarness server;
  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret");
  MapSocket& listener = server.AddListener();
};

TEST_F(LoginLimits, UserNamesMustBeShortAndPrintableAtLogInAndRename) {
  Peer ann(listener);
  ASSERT_TRUE(ann.LogIn("Lobby", "secret", std::string(64, 'a')));  // the longest name taken
  Peer bob(listener);
  ASSERT_TRUE(bob.LogIn("Lobby", "secret", "Bob ~\xC3\xA9"));  // 0x20, 0x7E and above 0x7F pass
  for (const std::string& bad : {std::string(), std::string(65, 'b'), std::string("Bob|1"),
                                 std::string("Bob\0", 4), std::string("Bob\x1F"),
                                 std::string("Bob\x7F")}) {
    bob.Send(ClientCode::kUserName, bad);
    EXPECT_EQ(bob.Receive()->data, "FAIL") << modGlobal::LogSafe(bad);
    EXPECT_EQ(server.CountLog("127.0.0.1: Bad Username (" + modGlobal::LogSafe(bad) + ")"), 1u)
        << modGlobal::LogSafe(bad);
  }
  EXPECT_EQ(bob.Connection().Username(), "Bob ~\xC3\xA9");  // a refused rename keeps the name
}

TEST_F(LoginLimits, TheFifthWrongPasswordEndsTheConnection) {
  auto client = Seated("10.0.0.1");
  for (int wrong = 1; wrong < ClientSocket::kMaxWrongPasswords; ++wrong)
    EXPECT_EQ(Password(*client, "guess"), "FAIL") << wrong;
  EXPECT_EQ(Password(*client, "secret"), "OK");  // four wrong ones leave it open
  EXPECT_EQ(Password(*client, "guess"), "closed");
  EXPECT_TRUE(client->Closed());
  EXPECT_EQ(server.CountLog("10.0.0.1: Login Failed."), 4u);
  EXPECT_EQ(server.CountLog("10.0.0.1: Too Many Wrong Passwords."), 1u);
  server.Spin(20);
  EXPECT_EQ(server.CountLog("Client Disconnect: (13) "), 1u);
  EXPECT_EQ(lobby.CurrentUsers, 0);
}

TEST_F(LoginLimits, AnAddressIsLockedOutAfterTwentyWrongPasswordsWithinAMinute) {
  std::vector<std::unique_ptr<Peer>> guessers;
  for (int wrong = 1; wrong < PasswordGuesses::kMaxWrongPerAddress; ++wrong) {
    if (wrong % (ClientSocket::kMaxWrongPasswords - 1) == 1) guessers.push_back(Seated("10.0.0.9"));
    EXPECT_EQ(Password(*guessers.back(), "guess"), "FAIL") << wrong;
  }
  auto last = Seated("10.0.0.9");
  EXPECT_EQ(Password(*last, "secret"), "OK");  // nineteen wrong ones: still checked
  EXPECT_EQ(Password(*last, "guess"), "FAIL");  // the twentieth
  EXPECT_EQ(Password(*last, "secret"), "FAIL");
  EXPECT_EQ(Password(*Seated("10.0.0.9"), "secret"), "FAIL");  // on every connection
  EXPECT_EQ(server.CountLog("10.0.0.9: Too Many Wrong Passwords From This Address, Locked Out "
                            "For A Minute."),
            1u);
  EXPECT_EQ(Password(*Seated("10.0.0.10"), "secret"), "OK");  // other addresses are not touched
}

// The window and the bound on memory, with the clock in the test's hands.
TEST(PasswordGuessCounter, ForgetsAnAddressWhenItsMinuteIsUpAndTracksBoundedlyMany) {
  PasswordGuesses guesses;
  auto start = PasswordGuesses::Clock::now();
  for (int i = 0; i < PasswordGuesses::kMaxWrongPerAddress; ++i) guesses.CountWrong("a", start);
  EXPECT_TRUE(guesses.LockedOut("a", start + PasswordGuesses::kWindow - std::chrono::seconds(1)));
  EXPECT_FALSE(guesses.LockedOut("a", start + PasswordGuesses::kWindow));

  for (size_t i = 0; i <= PasswordGuesses::kMaxAddresses; ++i)
    guesses.CountWrong("10." + std::to_string(i), start + PasswordGuesses::kWindow);
  EXPECT_EQ(guesses.TrackedAddresses(), PasswordGuesses::kMaxAddresses);
}

}  // namespace
}  // namespace velmora::testing
