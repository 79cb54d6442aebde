#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/TcpListener.h"
#include "transport/EasyTCPSocket.h"
#include "protocol/FrameCodec.h"

namespace velmora {
namespace {

// A connection without a socket goes the way of an accepted one: the listener counts it, its
// frames reach the sink whole, what it is given is cut and delivered one message per pass, and
// its end is reported once.
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

TEST(SocketlessConnection, IsAcceptedFedAndEndedLikeAConnectedPeer) {
  EchoListener listener;
  listener.SetMaxConnections(1);
  std::vector<std::string> written;
  auto sink = [&](const platform::SharedBytes& frame) { written.push_back(*frame); };
  auto connection =
      std::static_pointer_cast<EchoSocket>(listener.AcceptWithoutSocket("192.0.2.7", sink));
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(connection->RemoteAddress(), "192.0.2.7");
  EXPECT_EQ(listener.ActiveConnectionCount(), 1u);
  EXPECT_EQ(listener.AcceptWithoutSocket("192.0.2.8", sink), nullptr);  // over the limit
  EXPECT_EQ(written, std::vector<std::string>{CreatePacket(1, "hello")});

  std::string frames = CreatePacket(2, "a") + CreatePacket(3, "bc");
  ASSERT_TRUE(connection->ReceiveWithoutSocket(frames.substr(0, 5)));
  ASSERT_TRUE(connection->ReceiveWithoutSocket(frames.substr(5)));
  platform::EventLoop::Instance().RunOnce(0);
  EXPECT_EQ(connection->received, std::vector<std::string>{"a"});
  platform::EventLoop::Instance().RunOnce(0);
  EXPECT_EQ(connection->received, (std::vector<std::string>{"a", "bc"}));
  EXPECT_EQ(written.back(), CreatePacket(3, "bc"));

  ASSERT_TRUE(connection->ReceiveWithoutSocket(std::string(4, '\0')));  // a length of 0
  EXPECT_FALSE(connection->ReceiveWithoutSocket(CreatePacket(4, "late")));
  platform::EventLoop::Instance().RunOnce(0);
  EXPECT_EQ(connection->errors, 1);
  EXPECT_EQ(connection->LastErrorCode(), platform::TcpConnection::kErrorProtocol);
  EXPECT_EQ(listener.ActiveConnectionCount(), 0u);
}

}  // namespace
}  // namespace velmora
