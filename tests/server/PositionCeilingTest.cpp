// The ceiling on how often a member's positions are relayed: a burst as large as the bucket
// passes at once, the surplus waits as the member's newest position until its next token, a
// waiting position never follows its sender's departure, and chat never waits.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client/ClientSocket.h"
#include "protocol/Chat.h"
#include "protocol/Position.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

class PositionCeilingTest : public ::testing::Test {
 protected:
  // Two tokens a second: a token every 500 ms, far longer than a test's burst takes.
  static constexpr uint32_t kPerSecond = 2;

  PositionCeilingTest() { server.Ceiling().SetPerSecond(kPerSecond); }

  std::unique_ptr<Peer> Member(const std::string& name) {
    auto peer = std::make_unique<Peer>(listener);
    EXPECT_TRUE(peer->LogIn("Lobby", "pw", name));
    return peer;
  }
  static void Report(Peer& sender, int64_t x) {
    sender.Send(ClientCode::kPositionReport, std::to_string(x) + ",1,0,100,0,0");
  }
  // The X of the next message, which must be a position of Ann.
  static int64_t NextX(Peer& reader, int timeoutMs = 2000) {
    auto message = reader.Receive(timeoutMs);
    if (!message || !message->Is(ServerCode::kMemberPosition)) return -1;
    auto position = ReadMemberPosition(message->data);
    return position && position->Name == "Ann" ? position->Report.X : -1;
  }

  ServerHarness server{ServerHarness::Options{.simulatedTime = true}};
  ServerNetworks& lobby = server.AddNetwork("Lobby", "pw");
  MapSocket& listener = server.AddListener();
  std::unique_ptr<Peer> ann = Member("Ann");
  std::unique_ptr<Peer> bob = Member("Bob");
};

TEST_F(PositionCeilingTest, ABurstAsLargeAsTheBucketPassesAtOnceAndOneMoreWaits) {
  for (int64_t x = 1; x <= kPerSecond; ++x) Report(*ann, x);
  for (int64_t x = 1; x <= kPerSecond; ++x) EXPECT_EQ(NextX(*bob, 200), x);
  EXPECT_EQ(server.Counters().ThrottledPositions, 0u);

  Report(*ann, 3);
  EXPECT_TRUE(bob->Silent(150)) << "the report past the bucket went out at once";
  EXPECT_EQ(server.Counters().ThrottledPositions, 1u);
  EXPECT_EQ(NextX(*bob), 3) << "the waiting report went out when the token came";
}

TEST_F(PositionCeilingTest, AfterABurstTheNewestPositionGoesOutAndNothingOlder) {
  for (int64_t x = 1; x <= 10; ++x) Report(*ann, x);
  EXPECT_EQ(NextX(*bob), 1);
  EXPECT_EQ(NextX(*bob), 2);
  EXPECT_EQ(NextX(*bob), 10);
  EXPECT_TRUE(bob->Silent(700)) << "more than the newest position went out";
  EXPECT_EQ(server.Counters().ThrottledPositions, 8u);
}

TEST_F(PositionCeilingTest, ChatIsNeverHeldWhilePositionsWait) {
  for (int64_t x = 1; x <= 3; ++x) Report(*ann, x);
  for (int line = 0; line < 40; ++line) ann->Send(ClientCode::kChat, std::to_string(line));
  EXPECT_EQ(NextX(*bob), 1);
  EXPECT_EQ(NextX(*bob), 2);
  for (int line = 0; line < 40; ++line) {
    auto message = bob->Receive(200);
    ASSERT_TRUE(message) << "chat line " << line << " waited";
    EXPECT_EQ(*message,
              Message(ServerCode::kChatLine, ChatLinePayload("Ann", std::to_string(line))));
  }
  EXPECT_EQ(NextX(*bob), 3);
}

TEST_F(PositionCeilingTest, AWaitingPositionNeverFollowsItsSendersDeparture) {
  for (int64_t x = 1; x <= 3; ++x) Report(*ann, x);
  EXPECT_EQ(NextX(*bob), 1);
  EXPECT_EQ(NextX(*bob), 2);
  ann.reset();
  EXPECT_EQ(bob->Receive(), Message(ServerCode::kMemberLeft, "Ann"));
  EXPECT_TRUE(bob->Silent(700)) << "a position after its sender left";
}

}  // namespace
}  // namespace velmora::testing
