// The console's view of a real server in-process: snapshots taken from the listeners, counters
// kept by the sessions, and actions run as the administrators' own operations.
#include <gtest/gtest.h>

#include <algorithm>

#include "client/ClientSocket.h"
#include "host/ServerOperations.h"
#include "host/SnapshotTaker.h"
#include "networks/ServerNetworks.h"
#include "protocol/MessageCode.h"
#include "server/BanStore.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

using console::ActionResult;
using console::ConsoleSnapshot;
using console::NetworkView;

class ServerConsole : public ::testing::Test {
 protected:
  ServerConsole() { server.OpenDatabase(); }

  const NetworkView& Lobby(const ConsoleSnapshot& snapshot) {
    const NetworkView* lobby = snapshot.FindNetwork("Lobby");
    EXPECT_NE(lobby, nullptr);
    return *lobby;
  }
  uint64_t Logins(LoginOutcome outcome) {
    return server.Counters().Logins[static_cast<size_t>(outcome)];
  }
  uint64_t Departures(DepartureReason reason) {
    return server.Counters().Departures[static_cast<size_t>(reason)];
  }
  // Whether `line` is logged and directly followed by `next`.
  bool LoggedInOrder(const std::string& line, const std::string& next) {
    auto& lines = server.LogLines();
    auto at = std::find(lines.begin(), lines.end(), line);
    return at != lines.end() && at + 1 != lines.end() && at[1] == next;
  }
  // Sends one step of the log-in and returns the answer's text.
  std::string Answer(Peer& peer, ClientCode code, const std::string& data) {
    peer.Send(code, data);
    auto reply = peer.Receive();
    return reply ? reply->data : "(no answer)";
  }
  // The next message of `peer` with `code`, skipping the others.
  std::optional<Message> Next(Peer& peer, ServerCode code) {
    for (auto message = peer.Receive(); message; message = peer.Receive())
      if (message->Is(code)) return message;
    return std::nullopt;
  }

  ServerHarness server;
  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret", 10);
  ServerNetworks& arena = server.AddNetwork("Arena", "secret", 0);
  MapSocket& listener = server.AddListener();
  SnapshotTaker taker{server.Networks(), server.Listeners(), server.Bans(), server.Counters(),
                      0};
  ServerOperations operations{server.Networks(), server.Listeners(), server.Bans()};
};

TEST_F(ServerConsole, TheSnapshotFollowsLogInsReportsAndDepartures) {
  Peer ann(listener, "127.0.0.2");
  Peer bob(listener, "127.0.0.3");
  Peer stranger(listener, "127.0.0.4");
  ASSERT_TRUE(ann.LogIn("lobby", "secret", "Ann"));
  ASSERT_TRUE(bob.LogIn("Lobby", "secret", "Bob"));
  ASSERT_TRUE(stranger.Receive());  // the prompt
  EXPECT_EQ(Answer(stranger, ClientCode::kNetworkSelection, "Arena"), kFail);  // no seats
  EXPECT_EQ(Answer(stranger, ClientCode::kNetworkSelection, "Lobby"), kOk);
  EXPECT_EQ(Answer(stranger, ClientCode::kPasswordDigest, Md5("wrong")), kFail);
  EXPECT_EQ(Answer(stranger, ClientCode::kPasswordDigest, Md5("secret")), kOk);
  EXPECT_EQ(Answer(stranger, ClientCode::kUserName, "ann"), kFail);  // in use
  ann.Send(ClientCode::kPositionReport, "10,20,1,57,1,0");
  ASSERT_TRUE(Next(bob, ServerCode::kMemberPosition));

  ConsoleSnapshot snapshot = taker.Take();
  const NetworkView& view = Lobby(snapshot);
  EXPECT_EQ(view.SeatsUsed, lobby.CurrentUsers);
  EXPECT_EQ(view.Capacity, 10);
  ASSERT_EQ(view.Members.size(), 2u);
  const console::MemberView& first = view.Members[0];
  EXPECT_EQ(first.Name, "Ann");
  EXPECT_EQ(first.Address, "127.0.0.2");
  const PositionReport& at = first.Position;
  EXPECT_EQ(std::tie(at.X, at.Y, at.Facet, at.HP), std::make_tuple(10, 20, 1, 57));
  EXPECT_TRUE(at.InBattle);
  EXPECT_FALSE(at.IsDead);
  EXPECT_GT(first.ConnectedSince, 0);
  EXPECT_EQ(view.Members[1].Name, "Bob");
  EXPECT_TRUE(snapshot.FindNetwork("Arena")->Members.empty());
  EXPECT_EQ(snapshot.Connections.LoggedIn, 2u);
  EXPECT_EQ(snapshot.Connections.LoggingIn, 1u);
  EXPECT_EQ(snapshot.Connections.WaitingForLookup, 0u);
  EXPECT_EQ(snapshot.Counters.Logins, server.Counters().Logins);
  EXPECT_EQ(Logins(LoginOutcome::kAccepted), 2u);
  EXPECT_EQ(Logins(LoginOutcome::kNetworkRefused), 1u);
  EXPECT_EQ(Logins(LoginOutcome::kPasswordRefused), 1u);
  EXPECT_EQ(Logins(LoginOutcome::kNameRefused), 1u);

  bob.CloseWrite();
  ASSERT_TRUE(Next(ann, ServerCode::kMemberLeft));
  stranger.Drop();
  ASSERT_TRUE(bob.Closed());
  EXPECT_EQ(Departures(DepartureReason::kClosed), 1u);
  EXPECT_EQ(Departures(DepartureReason::kReset), 1u);
  snapshot = taker.Take();
  ASSERT_EQ(Lobby(snapshot).Members.size(), 1u);
  EXPECT_EQ(Lobby(snapshot).SeatsUsed, lobby.CurrentUsers);
  EXPECT_EQ(snapshot.Connections.LoggedIn + snapshot.Connections.LoggingIn, 1u);
}

TEST_F(ServerConsole, ActionsRunTheInBandOperationsAndNameTheWebConsole) {
  Peer ann(listener, "127.0.0.2");
  Peer bob(listener, "127.0.0.3");
  ASSERT_TRUE(ann.LogIn("Lobby", "secret", "Ann"));
  ASSERT_TRUE(bob.LogIn("Lobby", "secret", "Bob"));

  EXPECT_EQ(operations.Kick("lobby", "ANN", "away").What, ActionResult::Outcome::kDone);
  auto kicked = Next(ann, ServerCode::kKickNotice);
  ASSERT_TRUE(kicked);
  EXPECT_EQ(kicked->data, "away");
  EXPECT_TRUE(LoggedInOrder("Kick of ANN on network Lobby by the web console",
                            "ANN on network Lobby Kicked: away"));
  EXPECT_EQ(operations.Kick("Lobby", "Cy", "x").What, ActionResult::Outcome::kNotFound);
  EXPECT_EQ(operations.Kick("Nowhere", "Ann", "x").What, ActionResult::Outcome::kNotFound);

  ASSERT_TRUE(taker.Take().FindNetwork("Lobby")->Bans.empty());
  EXPECT_EQ(operations.Ban("Lobby", "bob", "spam").What, ActionResult::Outcome::kDone);
  ASSERT_TRUE(Next(bob, ServerCode::kBanNotice));
  EXPECT_TRUE(LoggedInOrder("Ban of bob on network Lobby by the web console",
                            "Bob on network Lobby Banned: spam"));
  EXPECT_EQ(server.Counters().BansRecorded, 1u);
  auto bans = Lobby(taker.Take()).Bans;
  ASSERT_EQ(bans.size(), 1u);
  EXPECT_EQ(bans[0].Address, "127.0.0.3");
  EXPECT_EQ(bans[0].By, "web console");
  EXPECT_EQ(bans[0].Reason, "spam");

  EXPECT_EQ(operations.LiftBan("Arena", bans[0].Id).What, ActionResult::Outcome::kNotFound);
  EXPECT_EQ(operations.LiftBan("Lobby", bans[0].Id).What, ActionResult::Outcome::kDone);
  EXPECT_TRUE(server.Logged("Lift of ban " + std::to_string(bans[0].Id) +
                            " on network Lobby by the web console"));
  EXPECT_TRUE(Lobby(taker.Take()).Bans.empty());
  EXPECT_EQ(operations.LiftBan("Lobby", bans[0].Id).What, ActionResult::Outcome::kNotFound);

  EXPECT_EQ(operations.Announce("Lobby", "hello\nall").What, ActionResult::Outcome::kDone);
  for (Peer* member : {&ann, &bob}) {
    auto announced = Next(*member, ServerCode::kAnnouncement);
    ASSERT_TRUE(announced);
    EXPECT_EQ(announced->data, "hello\nall");
  }
  EXPECT_TRUE(server.Logged("Announcement on network Lobby by the web console: hello\\nall"));
}

TEST(ServerConsoleWithoutDatabase, ABanThatCannotBeStoredIsRefusedAndNotTold) {
  ServerHarness server;
  server.AddNetwork("Lobby", "secret");
  MapSocket& listener = server.AddListener();
  ServerOperations operations{server.Networks(), server.Listeners(), server.Bans()};
  Peer bob(listener);
  ASSERT_TRUE(bob.LogIn("Lobby", "secret", "Bob"));
  EXPECT_EQ(operations.Ban("Lobby", "Bob", "spam").What, ActionResult::Outcome::kRefused);
  EXPECT_TRUE(bob.Silent());
  EXPECT_EQ(server.Counters().BansRecorded, 0u);
}

}  // namespace
}  // namespace velmora::testing
