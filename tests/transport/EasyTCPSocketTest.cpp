#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/net/EventLoop.h"
#include "transport/EasyTCPSocket.h"
#include "protocol/FrameCodec.h"
#include "support/AcceptOnePeer.h"
#include "support/FreePort.h"

namespace velmora {
namespace {

class RecordingSocket : public EasyTCPSocket {
 public:
  std::vector<std::pair<int32_t, std::string>> received;
  std::vector<int64_t> errors;
  int connected = 0;

 protected:
  void Event_Connected() override { ++connected; }
  void Event_Error(int64_t code) override { errors.push_back(code); }
  void Event_ReceivedMessage(int32_t command, std::string_view data) override {
    received.emplace_back(command, data);
  }
};

// A plain listening socket on loopback that the framed connection connects to.
class RawPeer {
 public:
  RawPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    ::fcntl(listener_, F_SETFL, O_NONBLOCK);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~RawPeer() {
    if (peer_ >= 0) ::close(peer_);
    ::close(listener_);
  }
  // Accepts while the event loop runs, so that the framed side can complete its connect.
  void Accept() {
    for (int pass = 0; pass < 3000 && peer_ < 0; ++pass) {
      peer_ = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
      if (peer_ < 0) platform::EventLoop::Instance().RunOnce(1);
    }
    int flags = ::fcntl(peer_, F_GETFL);
    ::fcntl(peer_, F_SETFL, flags & ~O_NONBLOCK);
  }
  void Send(const std::string& bytes) { ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }
  void Hangup() {
    ::close(peer_);
    peer_ = -1;
  }
  uint16_t port = 0;

 private:
  int listener_ = -1;
  int peer_ = -1;
};

void Spin(int passes) {
  for (int i = 0; i < passes; ++i) platform::EventLoop::Instance().RunOnce(1);
}

template <typename Condition>
bool SpinUntil(Condition condition) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!condition() && std::chrono::steady_clock::now() < deadline)
    platform::EventLoop::Instance().RunOnce(1);
  return condition();
}

std::shared_ptr<RecordingSocket> ConnectTo(RawPeer& peer) {
  auto socket = std::make_shared<RecordingSocket>();
  socket->Connect("127.0.0.1", peer.port);
  peer.Accept();
  EXPECT_TRUE(SpinUntil([&] { return socket->connected == 1; }));
  return socket;
}

TEST(EasyTCPSocket, AFrameSplitOverManyReadsArrivesOnce) {
  RawPeer peer;
  auto socket = ConnectTo(peer);
  std::string frame = CreatePacket(7, std::string(3000, 'x'));
  for (size_t at = 0; at < frame.size(); at += 700) {
    peer.Send(frame.substr(at, 700));
    Spin(3);
  }
  ASSERT_TRUE(SpinUntil([&] { return socket->received.size() == 1; }));
  EXPECT_EQ(socket->received[0].second.size(), 3000u);
}

TEST(EasyTCPSocket, AfterAnErrorNothingMoreIsDelivered) {
  RawPeer peer;
  auto socket = ConnectTo(peer);
  peer.Send(CreatePacket(4, "late"));
  peer.Hangup();
  ASSERT_TRUE(SpinUntil([&] { return !socket->errors.empty(); }));
  EXPECT_EQ(socket->errors.size(), 1u);
  EXPECT_FALSE(socket->IsConnected());
}

TEST(EasyTCPSocket, WaitForMessageTakesTheAwaitedCodeAndDropsTheRest) {
  RawPeer peer;
  auto socket = ConnectTo(peer);
  peer.Send(CreatePacket(4, "dropped") + CreatePacket(9, "answer"));
  EXPECT_EQ(socket->WaitForMessage(9, 3), "answer");
  Spin(5);
  EXPECT_TRUE(socket->received.empty());  // neither the 4 nor the 9 is delivered later
  peer.Send(CreatePacket(4, "kept"));
  ASSERT_TRUE(SpinUntil([&] { return socket->received.size() == 1; }));
  EXPECT_EQ(socket->received[0].second, "kept");
}

TEST(EasyTCPSocket, WaitForMessageOnAnUnconnectedSocketReturnsAtOnce) {
  RecordingSocket socket;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(socket.WaitForMessage(9, 5), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// A connection the server's listener takes up works like one it connected itself.
TEST(EasyTCPSocket, AnAcceptedPeerIsHeard) {
  uint16_t port = testing::FreePort();
  auto socket = std::make_shared<RecordingSocket>();
  std::thread peer([port] {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = -1;
    for (int attempt = 0; attempt < 50 && fd < 0; ++attempt) {
      fd = ::socket(AF_INET, SOCK_STREAM, 0);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
      ::close(fd);
      fd = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (fd < 0) return;
    std::string frame = CreatePacket(4, "hello");
    ::send(fd, frame.data(), frame.size(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::close(fd);
  });
  EXPECT_TRUE(testing::AcceptOnePeer(socket, port));
  EXPECT_EQ(socket->connected, 1);
  EXPECT_TRUE(SpinUntil([&] { return socket->received.size() == 1; }));
  peer.join();
  ASSERT_EQ(socket->received.size(), 1u);
  EXPECT_EQ(socket->received[0].second, "hello");
}

}  // namespace
}  // namespace velmora
