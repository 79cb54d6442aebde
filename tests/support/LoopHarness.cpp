#include "support/LoopHarness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "host/App.h"
#include "networks/ServerNetworks.h"
#include "platform/EventLoop.h"
#include "platform/Md5.h"
#include "platform/SqliteDatabase.h"
#include "server/BanTable.h"
#include "server/MapSocket.h"
#include "protocol/FrameCodec.h"

namespace velmora::testing {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

std::string Md5(const std::string& text) { return platform::Md5Digest(text); }

LoopHarness::LoopHarness() {
  char pattern[] = "/tmp/velmora-test-XXXXXX";
  folder_ = ::mkdtemp(pattern);
  ::setenv("XDG_DATA_HOME", folder_.c_str(), 1);
  App::Destroy();
  App::Create();
}

LoopHarness::~LoopHarness() {
  // Let pending handlers of closed connections run before the listeners go.
  Spin(5);
  App::Destroy();
  Spin(5);
  std::string command = "rm -rf '" + folder_ + "'";
  if (std::system(command.c_str()) != 0) {
  }
}

ServerNetworks& LoopHarness::AddNetwork(const std::string& name, const std::string& password,
                                        int64_t maxUsers, bool enabled) {
  auto network = std::make_shared<ServerNetworks>(name, password, maxUsers, enabled);
  App::Instance().Networks.push_back(network);
  return *network;
}

MapSocket& LoopHarness::AddListener() {
  auto listener = std::make_unique<MapSocket>();
  listener->SetPort(0);
  listener->Listen();
  App::Instance().sSockets.push_back(std::move(listener));
  return *App::Instance().sSockets.back();
}

uint16_t LoopHarness::PortOf(MapSocket& listener) const { return listener.BoundPort(); }

void LoopHarness::OpenDatabase() {
  auto db = std::make_unique<platform::SqliteDatabase>(folder_ + "/velmora.db");
  BanTable::Prepare(*db);
  App::Instance().serverdb = std::move(db);
}

void LoopHarness::Spin(int ms) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < until) platform::EventLoop::Instance().RunOnce(1);
}

std::vector<std::string> LoopHarness::LogLines() const {
  std::ifstream log(folder_ + "/com.velmora.log");
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(log, line)) {
    auto mark = line.find("] ");
    lines.push_back(mark == std::string::npos ? line : line.substr(mark + 2));
  }
  return lines;
}

LoopClient::LoopClient(uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("cannot connect");
  int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

LoopClient::~LoopClient() { Close(); }

void LoopClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void LoopClient::SendRaw(const std::string& bytes) {
  size_t sent = 0;
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (sent < bytes.size() && Clock::now() < deadline) {
    ssize_t put = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (put > 0) {
      sent += static_cast<size_t>(put);
    } else {
      platform::EventLoop::Instance().RunOnce(0);  // let the server drain us
      Pump();
    }
  }
}

void LoopClient::Send(int32_t command, const std::string& data) {
  SendRaw(CreatePacket(command, data));
}

bool LoopClient::Pump() {
  char chunk[65536];
  for (;;) {
    ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
    if (got > 0) {
      buffer_.append(chunk, static_cast<size_t>(got));
      continue;
    }
    if (got == 0) eof_ = true;
    return got == 0;
  }
}

std::optional<Frame> LoopClient::Receive(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto cut = CutFrame(buffer_);
    if (cut.status == CutStatus::kFrame) {
      Frame frame{cut.command, std::string(cut.data)};
      buffer_.erase(0, cut.consumed);
      return frame;
    }
    if (Clock::now() >= deadline || eof_) return std::nullopt;
    platform::EventLoop::Instance().RunOnce(1);
    Pump();
  }
}

bool LoopClient::Silent(int ms) { return !Receive(ms).has_value(); }

bool LoopClient::Closed(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    platform::EventLoop::Instance().RunOnce(1);
    Pump();
    if (eof_) return true;
  }
  return false;
}

void LoopClient::LogIn(const std::string& network, const std::string& password,
                       const std::string& user) {
  auto prompt = Receive();
  ASSERT_TRUE(prompt);
  ASSERT_EQ(prompt->command, 1);
  Send(1, network);
  auto selected = Receive();
  ASSERT_TRUE(selected && selected->command == 2 && selected->data == "OK");
  Send(2, Md5(password));
  auto checked = Receive();
  ASSERT_TRUE(checked && checked->command == 3 && checked->data == "OK");
  Send(3, user);
  auto named = Receive();
  ASSERT_TRUE(named && named->command == 4 && named->data == "OK");
}

}  // namespace velmora::testing
