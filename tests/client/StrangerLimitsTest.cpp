// A connection that has not logged in is a stranger: short frames only, little waiting input,
// little owed output. A real client's dialogue passes untouched, even sent in one write.
#include <gtest/gtest.h>

#include <string>

#include "client/ClientSocket.h"
#include "platform/net/MemoryChannel.h"
#include "platform/net/TcpConnection.h"
#include "protocol/FrameCodec.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

class StrangerLimits : public ::testing::Test {
 protected:
  ServerHarness server;
  ServerNetworks& lobby = server.AddNetwork("Lobby", "pw");
  MapSocket& listener = server.AddListener();
  const size_t kLongest = ClientSocket::kStrangerInput.maxFrame;
};

TEST_F(StrangerLimits, AFrameLongerThanAStrangerMaySendEndsTheConnection) {
  Peer fits(listener), tooLong(listener);
  fits.Send(ClientCode::kChat, std::string(kLongest - kFrameHeaderSize, 'x'));
  tooLong.Send(ClientCode::kChat, std::string(kLongest - kFrameHeaderSize + 1, 'x'));
  EXPECT_TRUE(tooLong.Closed());
  EXPECT_EQ(tooLong.Connection().LastErrorCode(), platform::TcpConnection::kErrorProtocol);
  EXPECT_TRUE(fits.Connected());
  // A member may.
  Peer member(listener);
  ASSERT_TRUE(member.LogIn("Lobby", "pw", "Ann"));
  member.Send(ClientCode::kChat, std::string(kLongest * 4, 'x'));
  EXPECT_TRUE(member.Silent());
  EXPECT_TRUE(member.Connected());
}

TEST_F(StrangerLimits, AStrangersWaitingInputAndOwedOutputAreBounded) {
  Peer flooder(listener);
  std::string goodbyes;
  while (goodbyes.size() < 3 * ClientSocket::kStrangerInput.maxQueuedBytes)
    goodbyes += CreatePacket(Wire(ClientCode::kGoodbye), "");
  flooder.SendRaw(goodbyes);
  server.RunPass(0);  // read while still being located: nothing is handled yet
  EXPECT_LE(flooder.Connection().BufferedBytes(),
            ClientSocket::kStrangerInput.maxQueuedBytes + 256);
  // It never reads its answers: once they pass what a stranger may be owed, it is cut off.
  flooder.SetWindow(0);
  EXPECT_TRUE(flooder.Closed());
  EXPECT_EQ(flooder.Connection().LastErrorCode(), platform::TcpConnection::kErrorOutputOverflow);
}

// A real client may send its whole dialogue, and its first report and chat, before it has read
// a single answer.
TEST_F(StrangerLimits, AWholeDialogueInOneWritePasses) {
  Peer bob(listener);
  ASSERT_TRUE(bob.LogIn("Lobby", "pw", "Bob"));
  Peer client(listener);
  client.SendRaw(CreatePacket(Wire(ClientCode::kNetworkSelection), "Lobby") +
                 CreatePacket(Wire(ClientCode::kPasswordDigest), Md5("pw")) +
                 CreatePacket(Wire(ClientCode::kUserName), "Ann") +
                 CreatePacket(Wire(ClientCode::kPositionReport), "1,2,3,4,0,0") +
                 CreatePacket(Wire(ClientCode::kChat), "hi"));
  EXPECT_EQ(client.Receive(), (Message{1, "Network"}));
  EXPECT_EQ(client.Receive(), (Message{2, "OK"}));
  EXPECT_EQ(client.Receive(), (Message{3, "OK"}));
  EXPECT_EQ(client.Receive(), (Message{4, "OK"}));
  EXPECT_TRUE(client.Connection().IsMember());
  EXPECT_EQ(bob.Receive(), (Message{5, "Ann|1,2,3,4,0,0"}));
  EXPECT_EQ(bob.Receive(), (Message{7, std::string("Ann\0hi", 6)}));
}

}  // namespace
}  // namespace velmora::testing
