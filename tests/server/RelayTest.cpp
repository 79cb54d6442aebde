// What members see of each other: position reports, chat, member lists, departures, and the
// small requests every connection may make (administrator query, goodbye, ignored codes).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "protocol/FrameCodec.h"
#include "support/InProcessTest.h"

namespace velmora::testing {
namespace {

using namespace std::string_literals;

class Relay : public InProcessTest {
 protected:
  void SetUp() override {
    AddAdmin(lobby, "Boss");
    AddAdmin(lobby, "Faraway", "10.1.1.1");
  }

  std::unique_ptr<Peer> InLobby(const std::string& user, MapSocket* on = nullptr) {
    return Member(on != nullptr ? *on : first, "Lobby", "secret", user);
  }
  std::unique_ptr<Peer> InArena(const std::string& user) {
    return Member(first, "Arena", "other", user);
  }

  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret");
  ServerNetworks& arena = server.AddNetwork("Arena", "other");
  MapSocket& first = server.AddListener();
  MapSocket& second = server.AddListener();
};

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
  EXPECT_TRUE(ExpectNothing(*bob));
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
  EXPECT_TRUE(ExpectNothing(*ann));
  EXPECT_TRUE(ExpectNothing(*dan, 50));

  ann->Send(7, "");
  EXPECT_TRUE(ExpectNothing(*bob));
}

TEST_F(Relay, ConnectionsThatHaveNotLoggedInNeitherSendNorReceive) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  auto selected = Prompted(first);
  ASSERT_TRUE(Step(*selected, 1, "Lobby", 2, "OK"));
  auto unnamed = Prompted(first);
  ASSERT_TRUE(Step(*unnamed, 1, "Lobby", 2, "OK"));
  ASSERT_TRUE(Step(*unnamed, 2, Md5("secret"), 3, "OK"));
  auto stranger = Prompted(first);
  auto stranger2 = Prompted(first);

  ann->Send(4, "1,2,3,4,0,0");
  ann->Send(7, "psst");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|1,2,3,4,0,0"}));
  EXPECT_EQ(bob->Receive(), (Message{7, "Ann\0psst"s}));
  for (Peer* outsider : {selected.get(), unnamed.get(), stranger.get(), stranger2.get()}) {
    outsider->Send(4, "5,6,7,8,0,0");
    outsider->Send(7, "let me in");
    outsider->Send(5, "");
  }
  EXPECT_TRUE(ExpectNothing(*selected));
  EXPECT_TRUE(ExpectNothing(*unnamed, 50));
  EXPECT_TRUE(ExpectNothing(*stranger, 50));
  // Connections without a network do not see each other either.
  EXPECT_TRUE(ExpectNothing(*stranger2, 50));
  EXPECT_TRUE(ExpectNothing(*ann, 50));
  EXPECT_TRUE(ExpectNothing(*bob, 50));

  // Outsiders are not listed.
  ann->Send(5, "");
  EXPECT_EQ(ann->Receive(), (Message{5, "Bob|0,0,0,0,0,0"}));
  EXPECT_TRUE(ExpectNothing(*ann));
}

TEST_F(Relay, TheMemberListHoldsExactlyTheLoggedInOthersWithTheirValues) {
  auto ann = InLobby("Ann");
  ann->Send(5, "");
  EXPECT_TRUE(ExpectNothing(*ann));

  auto bob = InLobby("Bob");
  auto cy = InLobby("Cy");
  auto dan = InArena("Dan");
  auto selected = Prompted(first);
  ASSERT_TRUE(Step(*selected, 1, "Lobby", 2, "OK"));
  bob->Send(4, "1,2,3,4,1,0");
  EXPECT_EQ(ann->Receive(), (Message{5, "Bob|1,2,3,4,1,0"}));
  EXPECT_EQ(cy->Receive(), (Message{5, "Bob|1,2,3,4,1,0"}));

  // Members come in the order their connections were accepted.
  ann->Send(5, "");
  EXPECT_EQ(ann->Receive(), (Message{5, "Bob|1,2,3,4,1,0"}));
  EXPECT_EQ(ann->Receive(), (Message{5, "Cy|0,0,0,0,0,0"}));
  EXPECT_TRUE(ExpectNothing(*ann));
  EXPECT_TRUE(ExpectNothing(*bob, 50));
}

TEST_F(Relay, TheAdministratorQueryAnswersByRecordAndAddress) {
  auto newcomer = Prompted(first);
  EXPECT_TRUE(Step(*newcomer, 9, "", 9, "0"));
  auto ann = InLobby("Ann");
  EXPECT_TRUE(Step(*ann, 9, "", 9, "0"));
  auto boss = InLobby("boss");
  EXPECT_TRUE(Step(*boss, 9, "", 9, "1"));
  // The record is flagged, but its address is another one.
  auto faraway = InLobby("Faraway");
  EXPECT_TRUE(Step(*faraway, 9, "", 9, "0"));
}

TEST_F(Relay, GoodbyeIsAnsweredAndLeavesTheConnectionOpen) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  EXPECT_TRUE(Step(*ann, 999, "", 999, "BYE"));
  EXPECT_TRUE(Step(*ann, 999, "please", 999, "BYE"));
  ann->Send(4, "1,1,1,1,0,0");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|1,1,1,1,0,0"}));
  EXPECT_TRUE(ann->Connected());
  auto newcomer = Prompted(first);
  EXPECT_TRUE(Step(*newcomer, 999, "", 999, "BYE"));
}

TEST_F(Relay, UnknownCodesAndAdministrativeCodesOfOthersAreIgnoredSilently) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  for (int32_t code : {0, 6, 8, 15, 996, 997, 998, 1000, -1, -999, 10, 11, 12, 13, 14})
    ann->Send(code, code == 10 || code == 11 ? "Bob|go" : "3");
  EXPECT_TRUE(ExpectNothing(*ann));
  EXPECT_TRUE(ExpectNothing(*bob, 50));
  EXPECT_TRUE(Step(*ann, 9, "", 9, "0"));
  for (const auto& line : server.LogLines())
    EXPECT_EQ(line.find("Kicked"), std::string::npos) << line;
}

TEST_F(Relay, MembersOfOneNetworkOnDifferentListenersDoNotSeeEachOther) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob", &second);
  auto cy = InLobby("Cy", &second);

  ann->Send(4, "1,2,3,4,0,0");
  ann->Send(7, "anyone?");
  EXPECT_TRUE(ExpectNothing(*bob));
  ann->Send(5, "");
  EXPECT_TRUE(ExpectNothing(*ann));

  bob->Send(7, "hi");
  EXPECT_EQ(cy->Receive(), (Message{7, "Bob\0hi"s}));
  EXPECT_TRUE(ExpectNothing(*ann));

  ann.reset();
  server.Spin(50);
  ASSERT_TRUE(server.Logged("Client Disconnect: (102) Ann"));
  EXPECT_TRUE(ExpectNothing(*bob));
}

TEST_F(Relay, ADepartureIsAnnouncedToTheLoggedInMembersOfItsNetwork) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  auto dan = InArena("Dan");
  auto selected = Prompted(first);
  ASSERT_TRUE(Step(*selected, 1, "Lobby", 2, "OK"));

  bob.reset();
  EXPECT_EQ(ann->Receive(), (Message{6, "Bob"}));
  EXPECT_TRUE(ExpectNothing(*selected));
  EXPECT_TRUE(ExpectNothing(*dan, 50));

  // A connection that never logged in leaves without a word.
  selected.reset();
  server.Spin(50);
  ASSERT_EQ(server.CountLog("Client Disconnect: (102) "), 1u);
  EXPECT_TRUE(ExpectNothing(*ann));
  Prompted(first).reset();
  server.Spin(50);
  ASSERT_EQ(server.CountLog("Client Disconnect: (102) "), 2u);
  EXPECT_TRUE(ExpectNothing(*ann));
  EXPECT_TRUE(ExpectNothing(*dan, 50));
}

TEST_F(Relay, SelectingAgainLeavesTheNetworkUntilTheNextLogIn) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  auto dan = InArena("Dan");

  ASSERT_TRUE(Step(*ann, 1, "Arena", 2, "OK"));
  EXPECT_EQ(bob->Receive(), (Message{6, "Ann"}));
  EXPECT_TRUE(ExpectNothing(*dan, 50));
  ann->Send(4, "1,1,1,1,0,0");
  bob->Send(4, "2,2,2,2,0,0");
  EXPECT_TRUE(ExpectNothing(*dan));
  EXPECT_TRUE(ExpectNothing(*ann, 50));

  ASSERT_TRUE(Step(*ann, 2, Md5("other"), 3, "OK"));
  ASSERT_TRUE(Step(*ann, 3, "Ann", 4, "OK"));
  ann->Send(4, "3,3,3,3,0,0");
  EXPECT_EQ(dan->Receive(), (Message{5, "Ann|3,3,3,3,0,0"}));
  EXPECT_TRUE(ExpectNothing(*bob));
  // Lobby no longer hears of Ann's departure.
  ann.reset();
  EXPECT_EQ(dan->Receive(), (Message{6, "Ann"}));
  EXPECT_TRUE(ExpectNothing(*bob));
}

TEST_F(Relay, AnswersKeepTheOrderOfTheirRequests) {
  auto boss = InLobby("Boss");
  auto bob = InLobby("Bob");
  std::string requests;
  for (int i = 0; i < 300; ++i) AppendPacket(requests, i % 3 == 2 ? 5 : (i % 3 == 1 ? 999 : 9), "");
  boss->SendRaw(requests);
  for (int i = 0; i < 300; ++i) {
    Message expected = i % 3 == 2   ? Message{5, "Bob|0,0,0,0,0,0"}
                       : i % 3 == 1 ? Message{999, "BYE"}
                                    : Message{9, "1"};
    ASSERT_EQ(boss->Receive(), expected) << i;
  }
  EXPECT_TRUE(ExpectNothing(*boss, 50));
}

TEST_F(Relay, AFloodOfReportsArrivesInOrder) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  auto cy = InLobby("Cy");
  constexpr int kReports = 500;
  for (int i = 0; i < kReports; ++i) ann->Send(4, std::to_string(i) + ",1,1,1,0,0");
  for (Peer* member : {bob.get(), cy.get()}) {
    for (int i = 0; i < kReports; ++i) {
      auto report = member->Receive();
      ASSERT_EQ(report, (Message{5, "Ann|" + std::to_string(i) + ",1,1,1,0,0"}));
    }
  }
}

}  // namespace
}  // namespace velmora::testing
