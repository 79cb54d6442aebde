// Kick and ban remove their target: the notice is the last thing it hears, it leaves its network
// at once whether it reads or not, and its connection closes once the notice is out.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "client/ClientSocket.h"
#include "networks/ServerNetworks.h"
#include "platform/net/MemoryChannel.h"
#include "protocol/MessageCode.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

class KickAndBan : public ::testing::Test {
 protected:
  KickAndBan() {
    server.OpenDatabase();
    EXPECT_TRUE(ann.LogIn("Lobby", "secret", "Ann"));
    EXPECT_TRUE(bob.LogIn("Lobby", "secret", "Bob"));
  }

  uint64_t Departures(DepartureReason reason) {
    return server.Counters().Departures[static_cast<size_t>(reason)];
  }
  // Whether `first` is logged, and `then` on a later line.
  bool LoggedInOrder(const std::string& first, const std::string& then) {
    auto& lines = server.LogLines();
    auto at = std::find(lines.begin(), lines.end(), first);
    return at != lines.end() && std::find(at + 1, lines.end(), then) != lines.end();
  }

  // On simulated time, so that waiting out the notice's grace costs nothing.
  ServerHarness server{ServerHarness::Options{.simulatedTime = true}};
  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret");
  MapSocket& listener = server.AddListener();
  Peer ann{listener, "10.0.0.1"};
  Peer bob{listener, "10.0.0.2"};
};

// The kick and the ban of Cy, each with what tells it apart.
struct Removal {
  const char* name;
  ServerCode notice;
  int64_t code;
  DepartureReason reason;
  const char* logged;
  size_t (*run)(MapSocket& listener);
};
const Removal kRemovals[] = {
    {"kick", ServerCode::kKickNotice, MapConnection::kErrorKicked, DepartureReason::kKicked,
     "CY on network Lobby Kicked: go",
     [](MapSocket& listener) { return listener.KickUser("CY", "Lobby", "go"); }},
    {"ban", ServerCode::kBanNotice, MapConnection::kErrorBanned, DepartureReason::kBanned,
     "Cy on network Lobby Banned: go",
     [](MapSocket& listener) { return listener.BanUser("Boss", "Lobby", "CY", "go"); }},
};

TEST_F(KickAndBan, TheNoticeThenTheDepartureThenTheClose) {
  std::string address = "10.0.0.3";
  for (const Removal& removal : kRemovals) {
    SCOPED_TRACE(removal.name);
    Peer cy(listener, address);
    address.back()++;
    ASSERT_TRUE(cy.LogIn("Lobby", "secret", "Cy"));
    EXPECT_EQ(lobby.CurrentUsers, 3);

    EXPECT_EQ(removal.run(listener), 1u);
    // It has left before anything is written: its seat is back, and it is nobody's member.
    EXPECT_EQ(lobby.CurrentUsers, 2);
    EXPECT_FALSE(cy.Connection().IsMember());
    EXPECT_TRUE(LoggedInOrder(removal.logged, "Client Disconnect: (" +
                                                  std::to_string(removal.code) + ") Cy"));
    EXPECT_EQ(Departures(removal.reason), 1u);

    for (Peer* member : {&ann, &bob}) EXPECT_EQ(member->Receive(), (Message{6, "Cy"}));
    EXPECT_EQ(cy.Receive(), (Message{Wire(removal.notice), "go"}));
    // The notice is all: the server's side ends after it, and closes when the client leaves.
    EXPECT_TRUE(cy.Silent());
    EXPECT_TRUE(cy.Far().WriteEnded());
    EXPECT_TRUE(cy.Connected());
    cy.CloseWrite();
    EXPECT_TRUE(cy.Closed());
    EXPECT_TRUE(ann.Silent(0));
    EXPECT_TRUE(bob.Connection().IsMember());
  }
}

TEST_F(KickAndBan, NothingTheTargetSendsAfterTheNoticeIsHandled) {
  // On its way when the kick comes: a chat line, a position, a new log-in.
  bob.Send(ClientCode::kChat, "still here");
  bob.Send(ClientCode::kPositionReport, "1,2,3,4,0,0");
  bob.Send(ClientCode::kNetworkSelection, "Lobby");
  ASSERT_EQ(listener.KickUser("Bob", "Lobby", "go"), 1u);
  EXPECT_EQ(ann.Receive(), (Message{6, "Bob"}));
  // And sent after it.
  bob.Send(ClientCode::kChat, "and now?");
  bob.Send(ClientCode::kAdminQuery, "");
  EXPECT_TRUE(ann.Silent(100));
  EXPECT_EQ(bob.TakeMessages(), (std::vector<Message>{{996, "go"}}));
  EXPECT_TRUE(bob.Silent());
  EXPECT_EQ(lobby.CurrentUsers, 1);
}

TEST_F(KickAndBan, AClientThatNeverReadsLosesItsSeatAtOnceAndItsConnectionWithinTheGrace) {
  bob.SetWindow(0);
  auto kicked = server.Clock()->Now();
  ASSERT_EQ(listener.KickUser("Bob", "Lobby", "go"), 1u);
  EXPECT_EQ(lobby.CurrentUsers, 1);
  EXPECT_EQ(ann.Receive(), (Message{6, "Bob"}));
  EXPECT_FALSE(bob.Far().WriteEnded());
  EXPECT_TRUE(bob.Closed(int(MapConnection::kNoticeGrace.count()) + 500));
  EXPECT_GE(server.Clock()->Now() - kicked, MapConnection::kNoticeGrace);
  EXPECT_EQ(server.CountLog("Client Disconnect: (103) Bob"), 1u);
}

TEST_F(KickAndBan, AKickOfNobodyRemovesNobody) {
  EXPECT_EQ(listener.KickUser("Cy", "Lobby", "go"), 0u);
  EXPECT_EQ(listener.KickUser("Bob", "Arena", "go"), 0u);
  EXPECT_TRUE(bob.Silent());
  EXPECT_EQ(lobby.CurrentUsers, 2);
}

TEST(KickAndBanWithoutDatabase, ABanThatIsNotRecordedEndsNothing) {
  ServerHarness server;
  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret");
  MapSocket& listener = server.AddListener();
  Peer ann(listener, "10.0.0.1");
  Peer bob(listener, "10.0.0.2");
  ASSERT_TRUE(ann.LogIn("Lobby", "secret", "Ann"));
  ASSERT_TRUE(bob.LogIn("Lobby", "secret", "Bob"));
  EXPECT_EQ(listener.BanUser("Boss", "Lobby", "Bob", "go"), 0u);
  EXPECT_TRUE(bob.Silent());
  EXPECT_TRUE(ann.Silent(0));
  EXPECT_TRUE(bob.Connection().IsMember());
  EXPECT_EQ(lobby.CurrentUsers, 2);
}

TEST(LoginDeadline, CountsAsADeadlineDeparture) {
  ServerHarness server;
  server.AddNetwork("Lobby", "secret");
  Peer late(server.AddListener());
  ASSERT_TRUE(late.Receive());  // the prompt: the deadline runs
  server.Pending().Sweep(std::chrono::steady_clock::now() + PendingLogins::kLoginDeadline +
                         std::chrono::seconds(1));
  EXPECT_TRUE(late.Closed());
  auto& departures = server.Counters().Departures;
  EXPECT_EQ(departures[static_cast<size_t>(DepartureReason::kDeadline)], 1u);
  EXPECT_EQ(departures[static_cast<size_t>(DepartureReason::kReset)], 0u);
}

}  // namespace
}  // namespace velmora::testing
