// Connections the server ends itself: a frame whose length field cannot be right, and a client
// that stops reading while others keep it busy. Both end like any departure.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include "support/ServerTest.h"
#include "protocol/FrameCodec.h"

namespace velmora::e2e {
namespace {

std::string LengthField(int32_t length) {
  auto bits = static_cast<uint32_t>(length);
  std::string out(8, '\0');
  out[0] = static_cast<char>(bits >> 24);
  out[1] = static_cast<char>(bits >> 16);
  out[2] = static_cast<char>(bits >> 8);
  out[3] = static_cast<char>(bits);
  out[7] = 4;  // command 4, should the server take the header as one
  return out;
}

class Connection : public ServerTest {
 protected:
  void SetUp() override {
    lobby = {.name = "Lobby", .password = "pw", .port = FreePort(), .maxusers = "3"};
    StartServer({lobby});
  }
  NetworkEntry lobby;
};

TEST_F(Connection, ABadLengthFieldEndsTheConnectionLikeADeparture) {
  auto ann = Member(lobby.port, "Lobby", "pw", "Ann");
  int round = 0;
  for (int32_t length : {0, -1, 1, 7, kMaxFrameLength + 1, INT32_MIN}) {
    std::string name = "Bad" + std::to_string(round++);
    auto bad = Member(lobby.port, "Lobby", "pw", name);
    bad->SendRaw(LengthField(length));
    EXPECT_TRUE(bad->WaitForClose()) << length;
    EXPECT_EQ(ann->Receive(), (Message{6, name})) << length;
    EXPECT_TRUE(Logged("Client Disconnect: (71) " + name)) << length;
  }
  // Every seat came back: the network of three holds Ann and two more.
  auto bob = Member(lobby.port, "Lobby", "pw", "Bob");
  auto cy = Member(lobby.port, "Lobby", "pw", "Cy");
  EXPECT_TRUE(ann->ExpectNothing());
}

// The largest frame is taken; a chat line that fills it is not relayed, since with the sender's
// name in front it would make a frame beyond the bound that the server and its clients hold.
TEST_F(Connection, AFrameOfTheLargestLengthIsAcceptedButNotRelayedBeyondTheBound) {
  auto ann = Member(lobby.port, "Lobby", "pw", "Ann");
  auto bob = Member(lobby.port, "Lobby", "pw", "Bob");
  std::string text(kMaxFrameLength - kFrameHeaderSize, 'x');
  ann->Send(7, text);
  EXPECT_TRUE(Logged("127.0.0.1: Chat Too Long To Relay (" + std::to_string(text.size()) +
                     " bytes)."));
  text.resize(text.size() - 4);  // "Ann" and 0x00 in front of it fill the bound exactly
  ann->Send(7, text);
  auto chat = bob->Receive(5s);
  ASSERT_TRUE(chat.has_value());
  EXPECT_EQ(chat->command, 7);
  EXPECT_EQ(chat->data.size(), static_cast<size_t>(kMaxFrameLength - kFrameHeaderSize));
}

TEST_F(Connection, ABadLengthBeforeLogInEndsSilently) {
  auto ann = Member(lobby.port, "Lobby", "pw", "Ann");
  WireClient bad(lobby.port);
  ASSERT_TRUE(bad.ExpectPrompt());
  ASSERT_TRUE(bad.Step(1, "Lobby", 2, "OK"));
  bad.SendRaw(LengthField(3));
  EXPECT_TRUE(bad.WaitForClose());
  EXPECT_TRUE(Logged("Client Disconnect: (71) "));
  EXPECT_TRUE(ann->ExpectNothing());
}

TEST_F(Connection, AFrameArrivingByteByByteIsDeliveredOnce) {
  auto ann = Member(lobby.port, "Lobby", "pw", "Ann");
  auto bob = Member(lobby.port, "Lobby", "pw", "Bob");
  std::string frame = CreatePacket(7, "slowly");
  for (char byte : frame) {
    ann->SendRaw(std::string(1, byte));
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(bob->Receive(), (Message{7, std::string("Ann\0slowly", 10)}));
  EXPECT_TRUE(bob->ExpectNothing(100ms));
}

TEST_F(Connection, ConnectionsThatVanishAtOnceLeaveTheServerServing) {
  auto ann = Member(lobby.port, "Lobby", "pw", "Ann");
  for (int i = 0; i < 20; ++i) {
    WireClient gone(lobby.port);
    if (i % 2 == 1) gone.SendRaw(CreatePacket(1, "Lobby").substr(0, 6));
  }
  // One gone before its prompt went out closes in order; one that the prompt reached first
  // resets the connection, the prompt unread. Which of the two a client is depends on when the
  // server got to it.
  auto vanished = [&] {
    return server.CountLog("Client Disconnect: (102) ") +
           server.CountLog("Client Disconnect: (" + std::to_string(ECONNRESET) + ") ");
  };
  auto deadline = std::chrono::steady_clock::now() + 3s;
  while (vanished() < 20 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(vanished(), 20u) << DescribeLog();
  EXPECT_TRUE(ann->ExpectNothing(50ms));
  // Every seat of the vanished connections came back.
  auto bob = Member(lobby.port, "Lobby", "pw", "Bob");
  auto cy = Member(lobby.port, "Lobby", "pw", "Cy");
}

TEST_F(Connection, AResetConnectionEndsLikeADeparture) {
  auto ann = Member(lobby.port, "Lobby", "pw", "Ann");
  auto bob = Member(lobby.port, "Lobby", "pw", "Bob");
  bob->Reset();
  EXPECT_EQ(ann->Receive(), (Message{6, "Bob"}));
  bool logged = false;
  for (const auto& line : server.MessagesSinceListening())
    logged |= line.rfind("Client Disconnect: (", 0) == 0 && line.size() > 5 &&
              line.compare(line.size() - 5, 5, ") Bob") == 0;
  EXPECT_TRUE(logged) << DescribeLog();
  auto cy = Member(lobby.port, "Lobby", "pw", "Cy");
  auto dan = Member(lobby.port, "Lobby", "pw", "Dan");
}

TEST_F(Connection, WhatAClientSentBeforeItsOrderlyCloseIsHandledFirst) {
  auto ann = Member(lobby.port, "Lobby", "pw", "Ann");
  for (bool halfClose : {false, true}) {
    auto bob = Member(lobby.port, "Lobby", "pw", "Bob");
    for (int i = 0; i < 200; ++i) bob->Send(7, "line " + std::to_string(i));
    if (halfClose)
      bob->CloseWrite();
    else
      bob->Close();
    for (int i = 0; i < 200; ++i) {
      std::string line = "Bob" + std::string(1, '\0') + "line " + std::to_string(i);
      ASSERT_EQ(ann->Receive(), (Message{7, line}));
    }
    EXPECT_EQ(ann->Receive(), (Message{6, "Bob"}));
  }
}

// A member that reads nothing while another floods the network is cut off once 8 MiB wait
// for it, and the flooder goes on being served.
TEST_F(Connection, AClientThatStopsReadingIsCutOff) {
  auto ann = Member(lobby.port, "Lobby", "pw", "Ann");
  auto sleeper = Member(lobby.port, "Lobby", "pw", "Sleeper", {.receiveBuffer = 4096});
  std::string line(512 * 1024, 'z');
  // 40 lines of 512 KiB are 20 MiB: far more than the 8 MiB bound plus what the kernel buffers.
  for (int i = 0; i < 40 && server.CountLog("Client Disconnect: (105) Sleeper") == 0; ++i)
    ann->Send(7, line);
  EXPECT_TRUE(Logged("Client Disconnect: (105) Sleeper"));
  EXPECT_EQ(ann->Receive(), (Message{6, "Sleeper"}));
  EXPECT_TRUE(ann->Step(999, "", 999, "BYE"));
  // The seat came back: the network of three holds Ann and two more.
  auto bob = Member(lobby.port, "Lobby", "pw", "Bob");
  auto cy = Member(lobby.port, "Lobby", "pw", "Cy");
}

}  // namespace
}  // namespace velmora::e2e
