// The server as an operator meets it: what it says on standard error and how it exits, its
// command line, one server per folder, the log of the run before, reloading the network files
// with SIGHUP, and the readiness messages for the service manager.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "support/ServerTest.h"

namespace velmora::e2e {
namespace {

namespace fs = std::filesystem;

// Holds a TCP port on every IPv4 address, as another program would.
class PortHolder {
 public:
  explicit PortHolder(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    held_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd_, 1) == 0;
  }
  ~PortHolder() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

// A service manager's notify socket, as the server finds it in NOTIFY_SOCKET.
class FakeNotifySocket {
 public:
  explicit FakeNotifySocket(const std::string& path)
      : path_(path), fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bound_ = fd_ >= 0 && path.size() < sizeof address.sun_path &&
             ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~FakeNotifySocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Bound() const { return bound_; }

  // Waits for the message `expected`, keeping every message before it in Seen().
  ::testing::AssertionResult Expect(const std::string& expected,
                                    std::chrono::milliseconds limit = 5s) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd ready{fd_, POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0) continue;
      char buffer[4096];
      ssize_t length = ::recv(fd_, buffer, sizeof buffer, 0);
      if (length <= 0) continue;
      seen_.emplace_back(buffer, static_cast<size_t>(length));
      if (seen_.back() == expected) return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "no \"" << expected << "\"; seen "
                                         << ::testing::PrintToString(seen_);
  }
  const std::vector<std::string>& Seen() const { return seen_; }

 private:
  std::string path_;
  int fd_;
  bool bound_ = false;
  std::vector<std::string> seen_;
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Operator : public ServerTest {};

TEST_F(Operator, APortInUseIsNamedOnStandardErrorWhileTheLogKeepsTheBareCode) {
  uint16_t taken = FreePort();
  uint16_t free = FreePort();
  PortHolder holder(taken);
  ASSERT_TRUE(holder.Held());
  server.WriteNetwork({.name = "Lobby", .password = "pw", .port = taken});
  server.WriteNetwork({.name = "Arena", .password = "pw", .port = free});
  server.WriteSettings(SettingsXml({{"Port", "12000"}, {"AttachedNIC", "no-such-interface"}}));
  ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();

  std::string output = server.Output();
  EXPECT_TRUE(Contains(output, "Server Error: 98 (port " + std::to_string(taken) +
                                   ", network Lobby: Address already in use)\n"))
      << output;
  EXPECT_TRUE(Contains(output, "AttachedNIC \"no-such-interface\" matches no network "
                               "interface: listening on all addresses.\n"))
      << output;
  EXPECT_TRUE(Contains(output, "Loading Settings...\n")) << output;
  EXPECT_TRUE(Contains(output, "Loaded Network: Arena\n")) << output;
  EXPECT_TRUE(Contains(output, "Listening...\n")) << output;
  EXPECT_EQ(server.CountLog("Server Error: 98"), 1u) << DescribeLog();

  // The other network serves; after start-up only errors reach standard error.
  WireClient member(free);
  EXPECT_TRUE(member.LogIn("Lobby", "pw", "Ann"));
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_FALSE(Contains(server.Output(), "User Logged In")) << server.Output();
  EXPECT_FALSE(Contains(server.Output(), "Received quit signal.")) << server.Output();
}

TEST_F(Operator, NoListenerAtAllEndsTheServerWithStatusOne) {
  uint16_t taken = FreePort();
  PortHolder holder(taken);
  ASSERT_TRUE(holder.Held());
  server.WriteNetwork({.name = "Lobby", .password = "pw", .port = taken});
  server.WriteSettings(AllAddressesSettings());
  EXPECT_FALSE(server.Start());
  EXPECT_EQ(server.ExitCode(), 1) << server.Output();

  const std::string error = "Error: not one listener could be opened; exiting.";
  EXPECT_TRUE(Contains(server.Output(), error + "\n")) << server.Output();
  EXPECT_TRUE(Contains(server.Output(), "network Lobby: Address already in use)")) << server.Output();
  auto messages = server.LogMessages();
  EXPECT_EQ(messages.back(), error) << DescribeLog();
  EXPECT_FALSE(Contains(messages, "Listening...")) << DescribeLog();
}

TEST_F(Operator, HelpVersionAndAnUnknownArgumentTouchNoFile) {
  auto help = server.RunToEnd({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.output.rfind("Usage: velmora", 0), 0u) << help.output;

  auto version = server.RunToEnd({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output.rfind("velmora ", 0), 0u) << version.output;

  auto unknown = server.RunToEnd({"--verbose"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_TRUE(Contains(unknown.output, "unknown argument '--verbose'")) << unknown.output;
  EXPECT_TRUE(Contains(unknown.output, "Usage: velmora")) << unknown.output;

  auto badStatus = server.RunToEnd({"--status", "nowhere"});
  EXPECT_EQ(badStatus.exitCode, 2) << badStatus.output;

  for (const auto& path : {server.LogPath(), server.SettingsPath(), server.DatabasePath(),
                           server.Folder() + "/velmora.lock"})
    EXPECT_FALSE(fs::exists(path)) << path;
}

TEST_F(Operator, ASecondServerInTheFolderIsRefusedAndLeavesTheFirstOnesFilesAlone) {
  uint16_t port = FreePort();
  StartServer({{.name = "Lobby", .password = "pw", .port = port}});
  // Served once: start-up, the last save of the settings included, is over.
  WireClient member(port);
  ASSERT_TRUE(member.LogIn("Lobby", "pw", "Ann"));
  auto files = {server.LogPath(), server.PreviousLogPath(), server.SettingsPath()};
  std::vector<std::string> contents;
  std::vector<fs::file_time_type> times;
  for (const auto& path : files) {
    contents.push_back(ReadFile(path));
    times.push_back(fs::last_write_time(path));
  }

  auto second = server.RunToEnd({});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_TRUE(Contains(second.output, "a server is already running in " + server.Folder()))
      << second.output;
  size_t i = 0;
  for (const auto& path : files) {
    EXPECT_EQ(ReadFile(path), contents[i]) << path;
    EXPECT_EQ(fs::last_write_time(path), times[i]) << path;
    ++i;
  }
  EXPECT_TRUE(member.Step(999, "", 999, "BYE"));
}

TEST_F(Operator, ANewRunKeepsTheLogOfTheRunBefore) {
  server.WriteSettings(AllAddressesSettings());
  ASSERT_TRUE(server.Start());
  ASSERT_EQ(server.Stop(), 0);
  auto firstRun = server.LogLines();
  ASSERT_TRUE(server.Start()) << DescribeLog();

  std::vector<std::string> kept;
  std::istringstream previous(ReadFile(server.PreviousLogPath()));
  for (std::string line; std::getline(previous, line);) kept.push_back(line);
  firstRun.push_back(kStaleLogLine);  // Start's marker, after the first run's lines
  EXPECT_EQ(kept, firstRun);
  EXPECT_EQ(server.LogMessages().front(), "Loading Settings...");
  EXPECT_EQ(server.CountLog("Received quit signal.  Exiting."), 0u);
}

TEST_F(Operator, SighupAddsChangesAndRetiresNetworksWhileTheirMembersStay) {
  uint16_t lobbyPort = FreePort();
  uint16_t arenaPort = FreePort();
  uint16_t gardenPort = FreePort();
  NetworkEntry lobby{.name = "Lobby", .password = "old", .port = lobbyPort, .maxusers = "2"};
  server.WriteNetworkFile("lobby.conf", NetworkXml(lobby));
  server.WriteNetworkFile("arena.conf",
                          NetworkXml({.name = "Arena", .password = "a", .port = arenaPort}));
  server.WriteSettings(AllAddressesSettings());
  ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
  auto ann = Member(lobbyPort, "Lobby", "old", "Ann");
  auto bob = Member(arenaPort, "Arena", "a", "Bob");
  auto cid = Member(arenaPort, "Arena", "a", "Cid");

  lobby.password = "new";
  server.WriteNetworkFile("lobby.conf", NetworkXml(lobby));
  fs::remove(server.NetworksFolder() + "/arena.conf");
  server.WriteNetworkFile("garden.conf",
                          NetworkXml({.name = "Garden", .password = "g", .port = gardenPort}));
  server.Signal(SIGHUP);
  ASSERT_TRUE(Logged("Networks reloaded."));
  auto since = server.MessagesSinceListening();
  for (const auto& line : {"Reloading Networks...", "Network changed: Lobby",
                           "Network retired: Arena", "Network added: Garden"})
    EXPECT_TRUE(Contains(since, line)) << line << "\n" << DescribeLog();

  // The new network is served on its new port.
  WireClient gardener(gardenPort);
  EXPECT_TRUE(gardener.LogIn("Garden", "g", "Eve"));

  // The changed one takes the new password and keeps its seat count: one seat is left of two.
  WireClient dan(lobbyPort);
  ASSERT_TRUE(dan.ExpectPrompt());
  ASSERT_TRUE(dan.Step(1, "Lobby", 2, "OK"));
  EXPECT_TRUE(dan.Step(2, Md5("old"), 3, "FAIL"));
  EXPECT_TRUE(dan.Step(2, Md5("new"), 3, "OK"));
  ASSERT_TRUE(dan.Step(3, "Dan", 4, "OK"));
  WireClient third(lobbyPort);
  ASSERT_TRUE(third.ExpectPrompt());
  EXPECT_TRUE(third.Step(1, "Lobby", 2, "FAIL"));
  dan.Send(4, "10,20,1,50,0,0");
  EXPECT_EQ(ann->Receive(), (Message{5, "Dan|10,20,1,50,0,0"}));

  // The retired one takes nobody new, but its members go on until they leave.
  WireClient late(arenaPort);
  ASSERT_TRUE(late.ExpectPrompt());
  EXPECT_TRUE(late.Step(1, "Arena", 2, "FAIL"));
  bob->Send(4, "1,2,3,4,0,0");
  EXPECT_EQ(cid->Receive(), (Message{5, "Bob|1,2,3,4,0,0"}));
  bob->Close();
  EXPECT_EQ(cid->Receive(), (Message{6, "Bob"}));
}

TEST_F(Operator, TellsTheServiceManagerWhenItIsReadyReloadsAndStops) {
  FakeNotifySocket manager(server.Folder() + "/notify");
  ASSERT_TRUE(manager.Bound());
  server.SetEnvironment("NOTIFY_SOCKET", server.Folder() + "/notify");
  uint16_t port = FreePort();
  StartServer({{.name = "Lobby", .password = "pw", .port = port}});
  EXPECT_TRUE(manager.Expect("READY=1\nSTATUS=0 members logged in, 1 network"));

  auto ann = Member(port, "Lobby", "pw", "Ann");
  EXPECT_TRUE(manager.Expect("STATUS=1 member logged in, 1 network"));

  server.Signal(SIGHUP);
  EXPECT_TRUE(manager.Expect("RELOADING=1"));
  EXPECT_TRUE(manager.Expect("READY=1\nSTATUS=1 member logged in, 1 network"));

  EXPECT_EQ(server.Stop(), 0);
  EXPECT_TRUE(manager.Expect("STOPPING=1"));
}

}  // namespace
}  // namespace velmora::e2e
