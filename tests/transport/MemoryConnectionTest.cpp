// The framed connection over memory, where every step is deterministic: acceptance, delivery
// rounds, partial writes, the output buffer's life, and an orderly close.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/net/EventLoop.h"
#include "platform/net/MemoryChannel.h"
#include "platform/net/OutputQueue.h"
#include "platform/net/TcpListener.h"
#include "protocol/FrameCodec.h"
#include "transport/EasyTCPSocket.h"

namespace velmora {
namespace {

// Every message any connection handles, in the order they were handled: (connection, data).
std::vector<std::pair<int, std::string>> g_handled;

class EchoSocket : public EasyTCPSocket {
 public:
  explicit EchoSocket(int id) : id_(id) {}
  std::vector<std::string> received;
  std::vector<int64_t> errors;
  using EasyTCPSocket::BufferedBytes;

 protected:
  void Event_Connected() override { SendMessage(1, "hello"); }
  void Event_ReceivedMessage(int32_t command, std::string_view data) override {
    received.emplace_back(data);
    g_handled.emplace_back(id_, std::string(data));
    SendMessage(command, data);
  }
  void Event_Error(int64_t code) override {
    errors.push_back(code);
    Close();
  }

 private:
  int id_;
};

class EchoListener : public platform::TcpListener {
 protected:
  std::shared_ptr<platform::TcpConnection> Event_AddSocket() override {
    return std::make_shared<EchoSocket>(next_++);
  }

 private:
  int next_ = 0;
};

void Pass(int passes = 1) {
  for (int i = 0; i < passes; ++i) platform::EventLoop::Instance().RunOnce(0);
}

// A connection and its far end. Closed when the test is done with it: a channel's waiter holds
// its connection until the loop runs it, as a socket's pending operation would.
struct Connected {
  std::shared_ptr<EchoSocket> socket;
  std::shared_ptr<platform::MemoryPeer> peer;
  Connected(std::shared_ptr<EchoSocket> s, std::shared_ptr<platform::MemoryPeer> p)
      : socket(std::move(s)), peer(std::move(p)) {}
  Connected(Connected&&) = default;
  ~Connected() {
    if (!socket) return;
    socket->Close();
    Pass();
  }
};

Connected Connect(EchoListener& listener, const std::string& address = "192.0.2.7") {
  auto [channel, peer] = platform::MemoryChannel::Make(address);
  auto socket = std::static_pointer_cast<EchoSocket>(listener.AcceptChannel(std::move(channel)));
  return {socket, peer};
}

TEST(MemoryConnection, IsAcceptedFedAndEndedLikeAConnectedPeer) {
  EchoListener listener;
  listener.SetMaxConnections(1);
  auto [connection, peer] = Connect(listener);
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(connection->RemoteAddress(), "192.0.2.7");
  EXPECT_EQ(listener.ActiveConnectionCount(), 1u);
  EXPECT_EQ(listener.AcceptChannel(platform::MemoryChannel::Make("192.0.2.8").first), nullptr);
  Pass();
  EXPECT_EQ(peer->Take(), CreatePacket(1, "hello"));

  std::string frames = CreatePacket(2, "a") + CreatePacket(3, "bc");
  peer->Push(frames.substr(0, 5));
  Pass();
  EXPECT_TRUE(connection->received.empty());
  peer->Push(frames.substr(5));
  Pass();
  EXPECT_EQ(connection->received, (std::vector<std::string>{"a", "bc"}));
  EXPECT_EQ(peer->Take(), frames);  // both echoes in one write

  peer->Push(std::string(4, '\0'));  // a length of 0
  peer->Push(CreatePacket(4, "late"));
  Pass(3);
  EXPECT_EQ(connection->errors, std::vector<int64_t>{platform::TcpConnection::kErrorProtocol});
  EXPECT_EQ(connection->received.size(), 2u);
  EXPECT_EQ(listener.ActiveConnectionCount(), 0u);
}

TEST(MemoryConnection, EachPassDeliversRoundsOfOneMessagePerConnection) {
  EchoListener listener;
  constexpr int kRounds = platform::EventLoop::kDeliveryRounds;
  std::vector<Connected> connections;
  for (int i = 0; i < 3; ++i) connections.push_back(Connect(listener));
  Pass();
  // The first two have far more queued than a pass delivers; the third only two messages.
  for (int i = 0; i < 3; ++i) {
    std::string burst;
    for (int n = 0; n < (i < 2 ? 3 * kRounds : 2); ++n)
      burst += CreatePacket(4, std::to_string(i) + ":" + std::to_string(n));
    connections[i].peer->Push(burst);
  }
  g_handled.clear();
  auto& loop = platform::EventLoop::Instance();
  loop.SetDeliveryBudget(std::chrono::seconds(10));
  Pass();
  loop.SetDeliveryBudget(platform::EventLoop::kDeliveryBudget);
  ASSERT_EQ(g_handled.size(), size_t{2 * kRounds + 2});
  // Round r hands one message to each connection that still has one, in the same order.
  EXPECT_EQ(g_handled[0].second, "0:0");
  EXPECT_EQ(g_handled[1].second, "1:0");
  EXPECT_EQ(g_handled[2].second, "2:0");
  EXPECT_EQ(g_handled[3].second, "0:1");
  EXPECT_EQ(g_handled[5].second, "2:1");
  EXPECT_EQ(g_handled[6].second, "0:2");
  EXPECT_EQ(g_handled[7].second, "1:2");
  EXPECT_EQ(g_handled.back().second, "1:" + std::to_string(kRounds - 1));
  // The rest follows in later passes, each connection's messages in the order they came.
  for (int pass = 0; pass < 4; ++pass) Pass();
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(connections[i].socket->received.size(), size_t{3 * kRounds});
    for (int n = 0; n < 3 * kRounds; ++n)
      EXPECT_EQ(connections[i].socket->received[n], std::to_string(i) + ":" + std::to_string(n));
  }
}

TEST(MemoryConnection, APassOutOfTimeServesFirstNextTimeWhomItDidNotReach) {
  EchoListener listener;
  std::vector<Connected> connections;
  for (int i = 0; i < 100; ++i) connections.push_back(Connect(listener));
  Pass();
  for (int i = 0; i < 100; ++i) connections[i].peer->Push(CreatePacket(4, std::to_string(i)));
  auto& loop = platform::EventLoop::Instance();
  loop.SetDeliveryBudget(std::chrono::microseconds(0));
  g_handled.clear();
  Pass();  // the clock is read every 64 deliveries: that many, then the time is up
  EXPECT_EQ(g_handled.size(), 64u);
  Pass();
  loop.SetDeliveryBudget(platform::EventLoop::kDeliveryBudget);
  ASSERT_EQ(g_handled.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(g_handled[i].second, std::to_string(i));
}

TEST(MemoryConnection, WhatTheKernelDoesNotTakeWaitsAndTheBufferGoesWhenDrained) {
  EchoListener listener;
  auto [connection, peer] = Connect(listener);
  Pass();
  peer->Take();
  peer->SetWindow(10);  // a reader that takes 10 bytes at a time
  std::string sent;
  for (int n = 0; n < 5; ++n) {
    std::string frame = CreatePacket(4, std::string(20, static_cast<char>('a' + n)));
    sent += frame;
    peer->Push(frame);
  }
  Pass();
  EXPECT_EQ(peer->Unread(), 10u);
  EXPECT_EQ(connection->UnsentBytes(), sent.size() - 10);
  EXPECT_GT(connection->BufferedBytes(), 0u);
  std::string got;
  for (int turn = 0; turn < 100 && got.size() < sent.size(); ++turn) {
    got += peer->Take();
    Pass();
  }
  EXPECT_EQ(got, sent);
  EXPECT_EQ(connection->UnsentBytes(), 0u);
  EXPECT_EQ(connection->BufferedBytes(), 0u);  // an idle connection holds no buffer
}

TEST(MemoryConnection, EachQueuedPieceCountsAgainstTheBoundBesidesItsBytes) {
  EchoListener listener;
  auto [connection, peer] = Connect(listener);
  Pass();
  peer->Take();
  peer->SetWindow(0);  // a reader that takes nothing
  constexpr size_t kLimit = 4096;
  connection->SetOutputLimit(kLimit);
  // Small frames, each shared from a block of its own (as member lists are): counted by bytes
  // alone, 4 KiB would hold about 340 of them.
  const std::string frame = CreatePacket(6, "name");
  const size_t perPiece = frame.size() + platform::OutputQueue::kPieceCost;
  int queued = 0;
  while (connection->errors.empty() && queued < 400) {
    connection->SendSharedFrames(platform::MakeShared(frame), 0, frame.size());
    ++queued;
    Pass();
  }
  EXPECT_EQ(connection->errors, std::vector<int64_t>{platform::TcpConnection::kErrorOutputOverflow});
  EXPECT_EQ(static_cast<size_t>(queued), kLimit / perPiece + 1);
}

TEST(MemoryConnection, AnOrderlyCloseEndsTheConnectionAfterWhatCameBeforeIt) {
  EchoListener listener;
  auto [connection, peer] = Connect(listener);
  Pass();
  std::string burst;
  for (int n = 0; n < 3 * platform::EventLoop::kDeliveryRounds; ++n)
    burst += CreatePacket(7, std::to_string(n));
  peer->Push(burst + CreatePacket(7, "cut sh").substr(0, 9));  // and a frame cut short
  peer->CloseWrite();
  for (int pass = 0; pass < 10; ++pass) Pass();
  EXPECT_EQ(connection->received.size(), size_t{3 * platform::EventLoop::kDeliveryRounds});
  EXPECT_EQ(connection->errors, std::vector<int64_t>{platform::TcpConnection::kErrorLostConnection});
}

}  // namespace
}  // namespace velmora
