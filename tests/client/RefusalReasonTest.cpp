// A refused log-in step answers only "FAIL"; its log line stays as it was and the next line says
// which cause it was, so that an operator can tell the causes apart.
#include <ctime>

#include <gtest/gtest.h>

#include "base/Log.h"
#include "networks/ServerNetworks.h"
#include "networks/VelmoraUser.h"
#include "server/BanStore.h"
#include "server/MapSocket.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

class RefusalReason : public ::testing::Test {
 protected:
  // The reason logged right after the last `refusal` line, without the address.
  std::string ReasonAfter(const std::string& refusal) const {
    const auto& log = server.LogLines();
    for (size_t i = log.size(); i-- > 0;)
      if (log[i] == "127.0.0.1: " + refusal) {
        const std::string prefix = "127.0.0.1: Refusal Reason: ";
        if (i + 1 == log.size() || log[i + 1].rfind(prefix, 0) != 0) return "(none)";
        return log[i + 1].substr(prefix.size());
      }
    return "(no refusal)";
  }
  // A connection whose selection of Lobby took a seat and that has sent `password`.
  std::unique_ptr<Peer> Seated(const std::string& password = "secret") {
    auto peer = std::make_unique<Peer>(listener);
    peer->Receive();
    peer->Send(ClientCode::kNetworkSelection, "Lobby");
    EXPECT_EQ(peer->Receive()->data, "OK");
    peer->Send(ClientCode::kPasswordDigest, Md5(password));
    peer->Receive();
    return peer;
  }
  std::string Answer(Peer& peer, ClientCode code, std::string_view data) {
    peer.Send(code, data);
    return peer.Receive()->data;
  }

  ServerHarness server;
  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret", 2);
  MapSocket& listener = server.AddListener();
};

TEST_F(RefusalReason, UnknownNetwork) {
  Peer peer(listener);
  peer.Receive();
  EXPECT_EQ(Answer(peer, ClientCode::kNetworkSelection, "Nowhere"), "FAIL");
  EXPECT_EQ(ReasonAfter("Network Fail (Nowhere)"), "network unknown");
}

TEST_F(RefusalReason, DisabledNetwork) {
  server.AddNetwork("Off", "secret", 10, false);
  Peer peer(listener);
  peer.Receive();
  EXPECT_EQ(Answer(peer, ClientCode::kNetworkSelection, "off"), "FAIL");
  EXPECT_EQ(ReasonAfter("Network Fail (off)"), "network disabled");
}

TEST_F(RefusalReason, FullNetwork) {
  auto first = Seated(), second = Seated();
  Peer third(listener);
  third.Receive();
  EXPECT_EQ(Answer(third, ClientCode::kNetworkSelection, "Lobby"), "FAIL");
  EXPECT_EQ(ReasonAfter("Network Fail (Lobby)"), "network full (2 of 2 seats taken)");
}

// Only the raw 16-byte digest is a password: its hex text, the password itself and nothing
// are refused like a wrong one.
TEST_F(RefusalReason, WrongPasswordAndDigestsThatAreNotTheRawOne) {
  auto peer = Seated("wrong");
  EXPECT_EQ(ReasonAfter("Login Failed."), "wrong password");
  EXPECT_EQ(Answer(*peer, ClientCode::kPasswordDigest, "5ebe2294ecd0e0f08eab7690d2a6ee69"),
            "FAIL");
  EXPECT_EQ(ReasonAfter("Login Failed."), "wrong password (the digest is 32 bytes, not 16)");
  EXPECT_EQ(Answer(*peer, ClientCode::kPasswordDigest, "secret"), "FAIL");
  EXPECT_EQ(Answer(*peer, ClientCode::kPasswordDigest, ""), "FAIL");
  EXPECT_EQ(Answer(*peer, ClientCode::kPasswordDigest, Md5("secret")), "OK");
}

// Each refusal leaves the connection open to start again, and logs its line and its reason.
TEST_F(RefusalReason, EveryWrongStepIsRefusedAndLogged) {
  Peer peer(listener);
  peer.Receive();
  EXPECT_EQ(Answer(peer, ClientCode::kNetworkSelection, "Nowhere"), "FAIL");
  // No network is selected: neither a password nor a name can be accepted.
  EXPECT_EQ(Answer(peer, ClientCode::kPasswordDigest, Md5("secret")), "FAIL");
  EXPECT_EQ(Answer(peer, ClientCode::kUserName, "Ann"), "FAIL");
  EXPECT_EQ(Answer(peer, ClientCode::kNetworkSelection, "Lobby"), "OK");
  EXPECT_EQ(Answer(peer, ClientCode::kPasswordDigest, Md5("wrong")), "FAIL");
  EXPECT_EQ(Answer(peer, ClientCode::kUserName, "Ann"), "FAIL");
  EXPECT_EQ(Answer(peer, ClientCode::kPasswordDigest, Md5("secret")), "OK");
  EXPECT_EQ(Answer(peer, ClientCode::kUserName, "Ann"), "OK");
  EXPECT_EQ(server.LogLines(),
            (std::vector<std::string>{"127.0.0.1: Client Connection Initiated...",
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

TEST_F(RefusalReason, InvalidNameSaysWhichPartOfTheRuleItBreaks) {
  auto peer = Seated();
  const std::pair<std::string, std::string> cases[] = {
      {"", "is empty"},
      {std::string(65, 'a'), "is longer than 64 bytes"},
      {"Bob|1", "holds \"|\""},
      {"Bob\x7F", "holds a control byte (below 0x20, or 0x7F)"},
  };
  for (const auto& [name, fault] : cases) {
    EXPECT_EQ(Answer(*peer, ClientCode::kUserName, name), "FAIL");
    EXPECT_EQ(ReasonAfter("Bad Username (" + modGlobal::LogSafe(name) + ")"),
              "name invalid (the user name " + fault + ")");
  }
}

TEST_F(RefusalReason, NameInUse) {
  Peer ann(listener);
  ASSERT_TRUE(ann.LogIn("Lobby", "secret", "Ann"));
  auto peer = Seated();
  EXPECT_EQ(Answer(*peer, ClientCode::kUserName, "ANN"), "FAIL");
  EXPECT_EQ(ReasonAfter("Bad Username (ANN)"), "name in use");
}

TEST_F(RefusalReason, BannedByTheNetworkFile) {
  auto mallory = std::make_shared<VelmoraUser>();
  mallory->Name = "Mallory";
  mallory->LastIP = "127.0.0.1";
  mallory->IsBanned = true;
  lobby.AddUser(mallory);
  lobby.Bans.push_back(mallory);
  auto peer = Seated();
  EXPECT_EQ(Answer(*peer, ClientCode::kUserName, "mallory"), "FAIL");
  EXPECT_EQ(ReasonAfter("Banned (mallory)"),
            "banned by the network file (this name at this address)");
  // From another address the record is not Mallory's.
  Peer elsewhere(listener, "127.0.0.10");
  EXPECT_TRUE(elsewhere.LogIn("Lobby", "secret", "Mallory"));
}

TEST_F(RefusalReason, BannedByTheTable) {
  server.OpenDatabase();
  ASSERT_TRUE(server.Bans().Record("127.0.0.1", "Root", "spam", std::time(nullptr), "Lobby",
                                   "Eve"));
  auto peer = Seated();
  EXPECT_EQ(Answer(*peer, ClientCode::kUserName, "Zed"), "FAIL");
  EXPECT_EQ(ReasonAfter("Banned (Zed)"), "banned by the ban table (this address on this network)");
}

}  // namespace
}  // namespace velmora::testing
