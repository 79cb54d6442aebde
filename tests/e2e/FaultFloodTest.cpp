// A member that stops reading while another floods its network: the server lets at most 8 MiB
// pile up for it and then ends it like any departure, while the members that do read keep
// receiving every frame of the flood, in order and without waiting for the stalled one.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/Sanitizer.h"
#include "support/ServerTest.h"

namespace velmora::e2e {
namespace {

constexpr size_t kLineSize = 128 * 1024;
// 200 lines of 128 KiB are 25 MiB: three times the bound, with room for what the kernel
// buffers on the way to the stalled client.
constexpr int kLines = ScaledCount(200, 120);

std::string Line(int serial) {
  std::string text = "line " + std::to_string(serial) + "|";
  text.resize(kLineSize, static_cast<char>('a' + serial % 26));
  return text;
}

class FaultFlood : public ServerTest {
 protected:
  void SetUp() override {
    lobby = {.name = "Lobby", .password = "pw", .port = FreePort(), .maxusers = "10"};
    StartServer({lobby});
  }
  NetworkEntry lobby;
};

TEST_F(FaultFlood, AStalledMemberIsCutOffWhileTheOthersReceiveTheWholeFlood) {
  auto flooder = Member(lobby.port, "Lobby", "pw", "Flood");
  auto watcher = Member(lobby.port, "Lobby", "pw", "Watch");
  auto sleeper = Member(lobby.port, "Lobby", "pw", "Sleeper", {.receiveBuffer = 4096});

  // The watcher reads on its own thread while the flood goes on; it stops after the last line
  // or at a deadline far beyond what delivering 25 MiB over loopback takes.
  std::vector<Message> received;
  int linesBeforeCut = -1;
  std::thread reader([&] {
    auto deadline = std::chrono::steady_clock::now() + 60s;
    int lines = 0;
    while (lines < kLines && std::chrono::steady_clock::now() < deadline) {
      auto message = watcher->Receive(1s);
      if (!message) continue;
      if (message->command == 7) ++lines;
      if (*message == Message{6, "Sleeper"}) linesBeforeCut = lines;
      received.push_back(std::move(*message));
    }
  });
  for (int serial = 0; serial < kLines; ++serial) flooder->Send(7, Line(serial));
  reader.join();

  int expected = 0;
  for (const auto& message : received) {
    if (message.command != 7) continue;
    ASSERT_EQ(message.data, std::string("Flood") + '\0' + Line(expected))
        << "line " << expected << " is missing, out of order or damaged";
    ++expected;
  }
  EXPECT_EQ(expected, kLines) << "the watcher received " << expected << " of " << kLines;

  EXPECT_TRUE(Logged("Client Disconnect: (105) Sleeper"));
  EXPECT_EQ(flooder->Receive(), (Message{6, "Sleeper"}));
  // The cut comes once 8 MiB wait for the sleeper: the watcher had long received those lines.
  EXPECT_GE(linesBeforeCut, static_cast<int>((8u << 20) / kLineSize));
  EXPECT_TRUE(sleeper->WaitForClose(10s));
  // Its seat and name are free again.
  auto again = Member(lobby.port, "Lobby", "pw", "Sleeper");
  EXPECT_TRUE(flooder->ExpectNothing(50ms));
  EXPECT_TRUE(watcher->ExpectNothing());
}

}  // namespace
}  // namespace velmora::e2e
