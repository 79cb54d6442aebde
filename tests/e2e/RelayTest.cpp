// What members see of each other: position reports, chat, member lists, departures, and the
// small requests every connection may make (administrator query, goodbye, ignored codes).
#include <gtest/gtest.h>

#include <algorithm>

#include "support/ServerTest.h"
#include "protocol/FrameCodec.h"

namespace velmora::e2e {
namespace {

using namespace std::string_literals;

class Relay : public ServerTest {
 protected:
  void SetUp() override {
    lobby = {.name = "Lobby",
             .password = "secret",
             .port = FreePort(),
             .users = {{.name = "Boss", .lastIp = "127.0.0.1", .isAdmin = "1"},
                       {.name = "Faraway", .lastIp = "10.1.1.1", .isAdmin = "1"}}};
    arena = {.name = "Arena", .password = "other", .port = FreePort()};
    // The relay itself: no ceiling holds a burst back (the ceiling has tests of its own).
    StartServer({lobby, arena}, 0);
  }

  std::unique_ptr<WireClient> InLobby(std::string_view user, uint16_t port = 0) {
    return Member(port != 0 ? port : lobby.port, "Lobby", "secret", user);
  }
  std::unique_ptr<WireClient> InArena(std::string_view user) {
    return Member(lobby.port, "Arena", "other", user);
  }

  NetworkEntry lobby;
  NetworkEntry arena;
};

TEST_F(Relay, APositionReportReachesTheOtherMembersOfTheNetworkOnly) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  auto cy = InLobby("Cy");
  auto dan = InArena("Dan");

  ann->Send(4, "10,20,3,100,1,0");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|10,20,3,100,1,0"}));
  EXPECT_EQ(cy->Receive(), (Message{5, "Ann|10,20,3,100,1,0"}));
  EXPECT_TRUE(ann->ExpectNothing());
  EXPECT_TRUE(dan->ExpectNothing(50ms));
}

TEST_F(Relay, ReportFieldsAreReadAsNumbersAndFlags) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");

  ann->Send(4, "10,20");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|10,20,0,0,0,0"}));
  ann->Send(4, "3.7,4.2,0,50,2,0.5");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|3,4,0,50,1,1"}));
  ann->Send(4, "7,8,0,50,yes,0");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|7,8,0,50,0,0"}));
  ann->Send(4, "1,2,3,4,0,1,99,extra");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|1,2,3,4,0,1"}));
  ann->Send(4, "");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|0,0,0,0,0,0"}));
  ann->Send(4, "1e3,+2E2,x7,0,0.0001,-1");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|1000,200,0,0,1,0"}));
  // A number beyond the 64-bit range keeps its sign.
  ann->Send(4, "-99999999999999999999,0,0,0,0,0");
  ann->Send(4, "99999999999999999999,0,0,0,0,0");
  auto huge = bob->Receive();
  ASSERT_TRUE(huge.has_value());
  EXPECT_EQ(huge->data.rfind("Ann|", 0), 0u) << Describe(huge);
  EXPECT_NE(huge->data[4], '-') << Describe(huge);
  EXPECT_NE(huge->data.substr(4, 2), "0,") << Describe(huge);
}

TEST_F(Relay, AReportWithANegativeNumberIsStoredButNotRelayed) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");

  ann->Send(4, "-1,5,0,0,0,0");
  ann->Send(4, "1,-5,0,0,0,0");
  ann->Send(4, "1,5,-1,0,0,0");
  ann->Send(4, "1,5,0,-2,1,1");
  EXPECT_TRUE(bob->ExpectNothing());
  // The stored values show in the member list, negative sign included.
  bob->Send(5, "");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|1,5,0,-2,1,1"}));
}

TEST_F(Relay, ChatCarriesTheSenderNameAZeroByteAndTheTextUnchanged) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  auto dan = InArena("Dan");

  std::string text = "hello\0world\0"s;
  ann->Send(7, text);
  EXPECT_EQ(bob->Receive(), (Message{7, "Ann\0hello\0world\0"s}));
  EXPECT_TRUE(ann->ExpectNothing());
  EXPECT_TRUE(dan->ExpectNothing(50ms));

  ann->Send(7, "");
  EXPECT_TRUE(bob->ExpectNothing());
}

TEST_F(Relay, ConnectionsThatHaveNotLoggedInNeitherSendNorReceive) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  WireClient selected(lobby.port);
  ASSERT_TRUE(selected.ExpectPrompt());
  ASSERT_TRUE(selected.Step(1, "Lobby", 2, "OK"));
  WireClient unnamed(lobby.port);
  ASSERT_TRUE(unnamed.ExpectPrompt());
  ASSERT_TRUE(unnamed.Step(1, "Lobby", 2, "OK"));
  ASSERT_TRUE(unnamed.Step(2, Md5("secret"), 3, "OK"));
  WireClient stranger(lobby.port);
  ASSERT_TRUE(stranger.ExpectPrompt());
  WireClient stranger2(lobby.port);
  ASSERT_TRUE(stranger2.ExpectPrompt());

  ann->Send(4, "1,2,3,4,0,0");
  ann->Send(7, "psst");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|1,2,3,4,0,0"}));
  EXPECT_EQ(bob->Receive(), (Message{7, "Ann\0psst"s}));
  for (WireClient* outsider : {&selected, &unnamed, &stranger, &stranger2}) {
    outsider->Send(4, "5,6,7,8,0,0");
    outsider->Send(7, "let me in");
    outsider->Send(5, "");
  }
  EXPECT_TRUE(selected.ExpectNothing());
  EXPECT_TRUE(unnamed.ExpectNothing(50ms));
  EXPECT_TRUE(stranger.ExpectNothing(50ms));
  // Connections without a network do not see each other either.
  EXPECT_TRUE(stranger2.ExpectNothing(50ms));
  EXPECT_TRUE(ann->ExpectNothing(50ms));
  EXPECT_TRUE(bob->ExpectNothing(50ms));

  // Outsiders are not listed.
  ann->Send(5, "");
  EXPECT_EQ(ann->Receive(), (Message{5, "Bob|0,0,0,0,0,0"}));
  EXPECT_TRUE(ann->ExpectNothing());
}

TEST_F(Relay, TheMemberListHoldsExactlyTheLoggedInOthersWithTheirValues) {
  auto ann = InLobby("Ann");
  ann->Send(5, "");
  EXPECT_TRUE(ann->ExpectNothing());

  auto bob = InLobby("Bob");
  auto cy = InLobby("Cy");
  auto dan = InArena("Dan");
  WireClient selected(lobby.port);
  ASSERT_TRUE(selected.ExpectPrompt());
  ASSERT_TRUE(selected.Step(1, "Lobby", 2, "OK"));
  bob->Send(4, "1,2,3,4,1,0");
  EXPECT_EQ(ann->Receive(), (Message{5, "Bob|1,2,3,4,1,0"}));
  EXPECT_EQ(cy->Receive(), (Message{5, "Bob|1,2,3,4,1,0"}));

  // Members come in the order their connections were accepted.
  ann->Send(5, "");
  EXPECT_EQ(ann->Receive(), (Message{5, "Bob|1,2,3,4,1,0"}));
  EXPECT_EQ(ann->Receive(), (Message{5, "Cy|0,0,0,0,0,0"}));
  EXPECT_TRUE(ann->ExpectNothing());
  EXPECT_TRUE(bob->ExpectNothing(50ms));
}

TEST_F(Relay, TheAdministratorQueryAnswersByRecordAndAddress) {
  WireClient newcomer(lobby.port);
  ASSERT_TRUE(newcomer.ExpectPrompt());
  EXPECT_TRUE(newcomer.Step(9, "", 9, "0"));
  auto ann = InLobby("Ann");
  EXPECT_TRUE(ann->Step(9, "", 9, "0"));
  auto boss = InLobby("boss");
  EXPECT_TRUE(boss->Step(9, "", 9, "1"));
  // The record is flagged, but its address is another one.
  auto faraway = InLobby("Faraway");
  EXPECT_TRUE(faraway->Step(9, "", 9, "0"));
}

TEST_F(Relay, GoodbyeIsAnsweredAndLeavesTheConnectionOpen) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  EXPECT_TRUE(ann->Step(999, "", 999, "BYE"));
  EXPECT_TRUE(ann->Step(999, "please", 999, "BYE"));
  ann->Send(4, "1,1,1,1,0,0");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|1,1,1,1,0,0"}));
  EXPECT_FALSE(ann->PeerClosed());
  WireClient newcomer(lobby.port);
  ASSERT_TRUE(newcomer.ExpectPrompt());
  EXPECT_TRUE(newcomer.Step(999, "", 999, "BYE"));
}

TEST_F(Relay, UnknownCodesAndAdministrativeCodesOfOthersAreIgnoredSilently) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  for (int32_t code : {0, 6, 8, 15, 996, 997, 998, 1000, -1, -999, 10, 11, 12, 13, 14})
    ann->Send(code, code == 10 || code == 11 ? "Bob|go" : "3");
  EXPECT_TRUE(ann->ExpectNothing());
  EXPECT_TRUE(bob->ExpectNothing(50ms));
  EXPECT_TRUE(ann->Step(9, "", 9, "0"));
  auto logged = server.MessagesSinceListening();
  for (const auto& line : logged) EXPECT_EQ(line.find("Kicked"), std::string::npos) << line;
}

TEST_F(Relay, MembersOfOneNetworkOnDifferentListenersDoNotSeeEachOther) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob", arena.port);
  auto cy = InLobby("Cy", arena.port);

  ann->Send(4, "1,2,3,4,0,0");
  ann->Send(7, "anyone?");
  EXPECT_TRUE(bob->ExpectNothing());
  ann->Send(5, "");
  EXPECT_TRUE(ann->ExpectNothing());

  bob->Send(7, "hi");
  EXPECT_EQ(cy->Receive(), (Message{7, "Bob\0hi"s}));
  EXPECT_TRUE(ann->ExpectNothing());

  ann.reset();
  ASSERT_TRUE(Logged("Client Disconnect: (102) Ann"));
  EXPECT_TRUE(bob->ExpectNothing());
}

TEST_F(Relay, ADepartureIsAnnouncedToTheLoggedInMembersOfItsNetwork) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  auto dan = InArena("Dan");
  WireClient selected(lobby.port);
  ASSERT_TRUE(selected.ExpectPrompt());
  ASSERT_TRUE(selected.Step(1, "Lobby", 2, "OK"));

  bob.reset();
  EXPECT_EQ(ann->Receive(), (Message{6, "Bob"}));
  EXPECT_TRUE(selected.ExpectNothing());
  EXPECT_TRUE(dan->ExpectNothing(50ms));

  // A connection that never logged in leaves without a word.
  selected.Close();
  ASSERT_TRUE(Logged("Client Disconnect: (102) "));
  EXPECT_TRUE(ann->ExpectNothing());
  WireClient stranger(lobby.port);
  ASSERT_TRUE(stranger.ExpectPrompt());
  stranger.Close();
  ASSERT_TRUE(Logged("Client Disconnect: (102) ", 2));
  EXPECT_TRUE(ann->ExpectNothing());
  EXPECT_TRUE(dan->ExpectNothing(50ms));
}

TEST_F(Relay, SelectingAgainLeavesTheNetworkUntilTheNextLogIn) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  auto dan = InArena("Dan");

  ASSERT_TRUE(ann->Step(1, "Arena", 2, "OK"));
  EXPECT_EQ(bob->Receive(), (Message{6, "Ann"}));
  EXPECT_TRUE(dan->ExpectNothing(50ms));
  ann->Send(4, "1,1,1,1,0,0");
  bob->Send(4, "2,2,2,2,0,0");
  EXPECT_TRUE(dan->ExpectNothing());
  EXPECT_TRUE(ann->ExpectNothing(50ms));

  ASSERT_TRUE(ann->Step(2, Md5("other"), 3, "OK"));
  ASSERT_TRUE(ann->Step(3, "Ann", 4, "OK"));
  ann->Send(4, "3,3,3,3,0,0");
  EXPECT_EQ(dan->Receive(), (Message{5, "Ann|3,3,3,3,0,0"}));
  EXPECT_TRUE(bob->ExpectNothing());
  // Lobby no longer hears of Ann's departure.
  ann.reset();
  EXPECT_EQ(dan->Receive(), (Message{6, "Ann"}));
  EXPECT_TRUE(bob->ExpectNothing());
}

TEST_F(Relay, AnswersKeepTheOrderOfTheirRequests) {
  auto boss = InLobby("Boss");
  auto bob = InLobby("Bob");
  std::string requests;
  for (int i = 0; i < 300; ++i) {
    AppendPacket(requests, i % 3 == 2 ? 5 : (i % 3 == 1 ? 999 : 9), "");
  }
  boss->SendRaw(requests);
  for (int i = 0; i < 300; ++i) {
    Message expected = i % 3 == 2   ? Message{5, "Bob|0,0,0,0,0,0"}
                       : i % 3 == 1 ? Message{999, "BYE"}
                                    : Message{9, "1"};
    ASSERT_EQ(boss->Receive(), expected) << i;
  }
  EXPECT_TRUE(boss->ExpectNothing(50ms));
}

TEST_F(Relay, AFloodOfReportsArrivesInOrder) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  auto cy = InLobby("Cy");
  constexpr int kReports = 500;
  for (int i = 0; i < kReports; ++i) ann->Send(4, std::to_string(i) + ",1,1,1,0,0");
  for (WireClient* member : {bob.get(), cy.get()}) {
    for (int i = 0; i < kReports; ++i) {
      auto report = member->Receive();
      ASSERT_EQ(report, (Message{5, "Ann|" + std::to_string(i) + ",1,1,1,0,0"}));
    }
  }
}

}  // namespace
}  // namespace velmora::e2e
