#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/MemoryChannel.h"
#include "platform/TcpListener.h"
#include "transport/EasyTCPSocket.h"
#include "protocol/FrameCodec.h"

namespace velmora {
namespace {

// A connection over memory goes the way of an accepted socket: the listener counts it, what it
// is given is cut and delivered in order, what it writes comes out whole, and its end is
// reported once.
class EchoSocket : public EasyTCPSocket {
 public:
  std::vector<std::string> received;
  int errors = 0;

 protected:
  void Event_Connected() override { SendMessage(1, "hello"); }
  void Event_ReceivedMessage(int32_t command, std::string_view data) override {
    received.emplace_back(data);
    SendMessage(command, data);
  }
  void Event_Error(int64_t) override {
    ++errors;
    Close();
  }
};

class EchoListener : public platform::TcpListener {
 protected:
  std::shared_ptr<platform::TcpConnection> Event_AddSocket() override {
    return std::make_shared<EchoSocket>();
  }
};

TEST(MemoryConnection, IsAcceptedFedAndEndedLikeAConnectedPeer) {
  EchoListener listener;
  listener.SetMaxConnections(1);
  auto [channel, peer] = platform::MemoryChannel::Make("192.0.2.7");
  auto connection = std::static_pointer_cast<EchoSocket>(listener.AcceptChannel(std::move(channel)));
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(connection->RemoteAddress(), "192.0.2.7");
  EXPECT_EQ(listener.ActiveConnectionCount(), 1u);
  EXPECT_EQ(listener.AcceptChannel(platform::MemoryChannel::Make("192.0.2.8").first), nullptr);
  platform::EventLoop::Instance().RunOnce(0);
  EXPECT_EQ(peer->Take(), CreatePacket(1, "hello"));

  std::string frames = CreatePacket(2, "a") + CreatePacket(3, "bc");
  peer->Push(frames.substr(0, 5));
  platform::EventLoop::Instance().RunOnce(0);
  EXPECT_TRUE(connection->received.empty());
  peer->Push(frames.substr(5));
  platform::EventLoop::Instance().RunOnce(0);
  EXPECT_EQ(connection->received, (std::vector<std::string>{"a", "bc"}));
  EXPECT_EQ(peer->Take(), frames);  // both echoes in one write

  peer->Push(std::string(4, '\0'));  // a length of 0
  peer->Push(CreatePacket(4, "late"));
  for (int pass = 0; pass < 3; ++pass) platform::EventLoop::Instance().RunOnce(0);
  EXPECT_EQ(connection->errors, 1);
  EXPECT_EQ(connection->LastErrorCode(), platform::TcpConnection::kErrorProtocol);
  EXPECT_EQ(connection->received.size(), 2u);
  EXPECT_EQ(listener.ActiveConnectionCount(), 0u);
}

}  // namespace
}  // namespace velmora
