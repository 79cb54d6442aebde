// A member that stops reading while another floods its network. Chat that cannot be conflated
// piles up to 8 MiB at most, then the stalled member is ended like any departure, while the
// members that do read keep receiving every frame of the flood, in order and without waiting for
// the stalled one. A flood of positions only ever leaves the newest of each member waiting: the
// stalled member stays, and gets the final position when it reads again; a member that reads
// slowly during the flood gets positions from the present, not from a backlog of the past.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "protocol/Chat.h"
#include "protocol/FrameCodec.h"
#include "protocol/Position.h"
#include "support/Sanitizer.h"
#include "support/ServerTest.h"

namespace velmora::e2e {
namespace {

constexpr size_t kLineSize = 128 * 1024;
// 200 lines of 128 KiB are 25 MiB: three times the bound, with room for what the kernel
// buffers on the way to the stalled client.
constexpr int kLines = ScaledCount(200, 120);
// How many lines the flooder may run ahead of the watcher: 2 MiB, far inside the bound.
constexpr int kWatcherLead = 16;

std::string Line(int serial) {
  std::string text = "line " + std::to_string(serial) + "|";
  text.resize(kLineSize, static_cast<char>('a' + serial % 26));
  return text;
}

class FaultFlood : public ServerTest {
 protected:
  void SetUp() override {
    lobby = {.name = "Lobby", .password = "pw", .port = FreePort(), .maxusers = "10"};
    // A flood as fast as the client can send: no ceiling holds it back at the source.
    StartServer({lobby}, 0);
  }
  NetworkEntry lobby;
};

TEST_F(FaultFlood, AStalledMemberIsCutOffWhileTheOthersReceiveTheWholeFlood) {
  auto flooder = Member(lobby.port, "Lobby", "pw", "Flood");
  auto watcher = Member(lobby.port, "Lobby", "pw", "Watch");
  auto sleeper = Member(lobby.port, "Lobby", "pw", "Sleeper", {.receiveBuffer = 4096});

  // The watcher reads on its own thread while the flood goes on; it stops after the last line,
  // when the server ends its connection, or at a deadline far beyond what delivering 25 MiB
  // over loopback takes.
  std::vector<Message> received;
  int linesBeforeCut = -1;
  std::mutex mutex;
  std::condition_variable progress;
  int linesRead = 0;  // guarded by `mutex`
  bool readerDone = false;
  std::thread reader([&] {
    auto deadline = std::chrono::steady_clock::now() + 60s;
    int lines = 0;
    while (lines < kLines && !watcher->PeerClosed() &&
           std::chrono::steady_clock::now() < deadline) {
      auto message = watcher->Receive(1s);
      if (!message) continue;
      if (message->command == 7) ++lines;
      if (*message == Message{6, "Sleeper"}) linesBeforeCut = lines;
      received.push_back(std::move(*message));
      std::lock_guard lock(mutex);
      linesRead = lines;
      progress.notify_all();
    }
    std::lock_guard lock(mutex);
    readerDone = true;
    progress.notify_all();
  });
  for (int serial = 0; serial < kLines; ++serial) {
    // The watcher is a member that reads, but on a busy machine its thread may get no time for
    // a while: had the flooder run 8 MiB ahead of it meanwhile, the server would rightly cut
    // the watcher off as well. So the flood waits for it, never for the sleeper.
    std::unique_lock lock(mutex);
    progress.wait(lock, [&] { return readerDone || linesRead >= serial - kWatcherLead; });
    if (readerDone) break;
    lock.unlock();
    flooder->Send(7, Line(serial));
  }
  reader.join();
  EXPECT_FALSE(watcher->PeerClosed()) << "the watcher was cut off\n" << DescribeLog();

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

TEST_F(FaultFlood, AStalledMemberGetsTheNewestPositionsAndEveryChatLineOnceItReads) {
  constexpr int kReports = ScaledCount(1000000, 200000);
  constexpr int kChatEvery = kReports / 10;
  auto flooder = Member(lobby.port, "Lobby", "pw", "Flood");
  auto sleeper = Member(lobby.port, "Lobby", "pw", "Sleeper", {.receiveBuffer = 4096});
  std::string burst;
  for (int x = 1; x <= kReports; ++x) {
    AppendPacket(burst, 4, std::to_string(x) + ",7,1,100,0,0");
    if (x % kChatEvery == 0) AppendPacket(burst, 7, "at " + std::to_string(x));
    if (burst.size() > (1u << 20) || x == kReports) {
      flooder->SendRaw(burst);
      burst.clear();
    }
  }
  // The flooder's own goodbye comes back once everything before it was handled.
  ASSERT_TRUE(flooder->Step(999, "", 999, "BYE"));

  int64_t last = 0;
  std::vector<std::string> chat;
  while (last < kReports || chat.size() < size_t{kReports / kChatEvery}) {
    auto message = sleeper->Receive(5s);
    ASSERT_TRUE(message) << "the sleeper was cut off or starved at X " << last;
    if (message->command == 5) {
      auto position = ReadMemberPosition(message->data);
      ASSERT_TRUE(position && position->Name == "Flood");
      ASSERT_GT(position->Report.X, last) << "an older position after a newer";
      last = position->Report.X;
    } else if (message->command == 7) {
      chat.push_back(SplitChatLine(message->data).second);
    }
  }
  for (size_t i = 0; i < chat.size(); ++i)
    EXPECT_EQ(chat[i], "at " + std::to_string((i + 1) * kChatEvery));
  EXPECT_EQ(server.CountLog("Client Disconnect: (105) Sleeper"), 0u);
  EXPECT_TRUE(sleeper->Step(999, "", 999, "BYE"));
}

// What a slow reader reads between the sending of a position and its arrival is the backlog in
// front of it: the kernel's unsent bytes and the connection's own queue up to its conflation
// mark, both bounded, rather than megabytes of old positions in the kernel.
TEST_F(FaultFlood, ASlowReaderGetsTheFinalPositionBehindOnlyABoundedBacklog) {
  constexpr int kReports = ScaledCount(300000, 60000);
  constexpr size_t kMostBacklog = 1u << 20;
  auto flooder = Member(lobby.port, "Lobby", "pw", "Flood");
  auto slow = Member(lobby.port, "Lobby", "pw", "Slow", {.receiveBuffer = 4096});
  std::atomic<uint64_t> bytesRead{0};
  uint64_t bytesAtFinal = 0;
  bool gotFinal = false;
  std::thread reader([&] {
    auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
      auto message = slow->Receive(5s);
      if (!message) return;
      bytesRead += kFrameHeaderSize + message->data.size();
      auto position = ReadMemberPosition(message->data);
      if (message->command == 5 && position && position->Report.X == kReports + 1) {
        bytesAtFinal = bytesRead;
        gotFinal = true;
        return;
      }
      // A few hundred KiB a second: far slower than the flood comes.
      std::this_thread::sleep_for(100us);
    }
  });
  std::string burst;
  for (int x = 1; x <= kReports; ++x) {
    AppendPacket(burst, 4, std::to_string(x) + ",7,1,100,0,0");
    if (burst.size() > (256u << 10) || x == kReports) {
      flooder->SendRaw(burst);
      burst.clear();
    }
  }
  // Not an assertion: the reader must be joined whatever happens.
  EXPECT_TRUE(flooder->Step(999, "", 999, "BYE"));
  uint64_t bytesAtSending = bytesRead;
  flooder->Send(4, std::to_string(kReports + 1) + ",7,1,100,0,0");
  reader.join();
  ASSERT_TRUE(gotFinal) << "the slow reader never got the final position";
  EXPECT_LE(bytesAtFinal - bytesAtSending, kMostBacklog)
      << "the final position came behind a backlog of old ones";
  EXPECT_EQ(server.CountLog("Client Disconnect: (105) Slow"), 0u);
}

}  // namespace
}  // namespace velmora::e2e
