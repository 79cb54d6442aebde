// What members receive when some of them fall behind or leave together: a recipient past the
// soft mark gets the newest position of each member, never an older after a newer and never
// one after its sender's departure, with everything else in order; a network that leaves at
// once costs each remaining member one shared piece, not a copy per departure.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/NumberText.h"
#include "client/ClientSocket.h"
#include "platform/net/MemoryChannel.h"
#include "platform/net/TcpConnection.h"
#include "protocol/Chat.h"
#include "protocol/Position.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

class RelayDelivery : public ::testing::Test {
 protected:
  std::unique_ptr<Peer> Member(const std::string& name) {
    auto peer = std::make_unique<Peer>(listener);
    EXPECT_TRUE(peer->LogIn("Lobby", "pw", name));
    return peer;
  }
  void Report(Peer& sender, int64_t x) {
    sender.Send(ClientCode::kPositionReport, std::to_string(x) + ",1,0,100,0,0");
  }
  // Runs passes until the server has handled everything sent (bounded).
  void Settle() {
    for (int pass = 0; pass < 2000; ++pass) server.RunPass();
  }

  ServerHarness server;
  ServerNetworks& lobby = server.AddNetwork("Lobby", "pw", 300);
  MapSocket& listener = server.AddListener();
};

TEST_F(RelayDelivery, ARecipientPastTheMarkGetsTheNewestPositionsInOrderWithTheRest) {
  auto ann = Member("Ann");
  auto dan = Member("Dan");
  auto slow = Member("Slow");
  auto fast = Member("Fast");
  slow->SetWindow(0);  // reads nothing for now
  // Enough positions from Ann to take the slow reader well past the mark.
  const int64_t flood = MapConnection::kConflationMark / 20 + 2000;
  for (int64_t x = 1; x <= flood; ++x) Report(*ann, x);
  for (int64_t x = 1; x <= 3; ++x) Report(*dan, x);
  ann->Send(ClientCode::kChat, "hello");
  for (int64_t x = flood + 1; x <= flood + 5; ++x) Report(*ann, x);
  Settle();
  dan.reset();  // leaves, with a position of his still waiting for the slow reader
  Settle();
  slow->SetWindow(SIZE_MAX);

  for (Peer* reader : {slow.get(), fast.get()}) {
    std::map<std::string, int64_t> last;
    std::vector<std::string> others;
    int64_t annReports = 0;
    bool danLeft = false;
    for (int turn = 0; turn < 200 && !danLeft; ++turn) {
      for (auto& message : reader->TakeMessages()) {
        if (message.Is(ServerCode::kMemberPosition)) {
          auto position = ReadMemberPosition(message.data);
          ASSERT_TRUE(position);
          EXPECT_FALSE(danLeft && position->Name == "Dan") << "a position after its departure";
          EXPECT_GT(position->Report.X, last[position->Name]) << "an older position after a newer";
          last[position->Name] = position->Report.X;
          annReports += position->Name == "Ann";
        } else {
          others.push_back(message.data);
          danLeft = danLeft || (message.Is(ServerCode::kMemberLeft) && message.data == "Dan");
        }
      }
      server.RunPass();
    }
    EXPECT_EQ(last["Ann"], flood + 5) << "the newest position of Ann";
    EXPECT_EQ(others, (std::vector<std::string>{ChatLinePayload("Ann", "hello"), "Dan"}));
    if (reader == fast.get())
      EXPECT_EQ(annReports, flood + 5) << "a reader that keeps up gets every report";
    else
      EXPECT_LT(annReports, flood) << "the slow reader got every report: nothing conflated";
  }
  EXPECT_TRUE(slow->Connected());
}

TEST_F(RelayDelivery, ANetworkLeavingAtOnceCostsEachRemainingMemberOnePiece) {
  auto stays = Member("Stays");
  std::vector<std::unique_ptr<Peer>> leaving;
  for (int i = 0; i < 200; ++i) leaving.push_back(Member("m" + std::to_string(i)));
  stays->TakeMessages();
  for (auto& peer : leaving) peer->Far().CloseWrite();
  server.RunPass();  // every end read, every departure announced, in one pass
  auto& connection = stays->Connection();
  EXPECT_EQ(connection.OutputCapacity(), 0u) << "departures were copied, not shared";
  EXPECT_LE(connection.UnsentBytes(), 200 * (8 + 4) + platform::OutputQueue::kPieceCost);
  server.RunPass();
  auto messages = stays->TakeMessages();
  ASSERT_EQ(messages.size(), 200u);
  for (int i = 0; i < 200; ++i)
    EXPECT_EQ(messages[i], Message(ServerCode::kMemberLeft, "m" + std::to_string(i)));
}

}  // namespace
}  // namespace velmora::testing
