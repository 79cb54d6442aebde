// The operator's console of the real server: started from the settings after "Listening...",
// showing the members, acting on them, and refused where it would be open to everyone.
#include <gtest/gtest.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/HttpProbe.h"
#include "support/ServerTest.h"

namespace velmora::e2e {
namespace {

using nlohmann::json;
using testing::Exchange;
using testing::GetRequest;
using testing::PostRequest;

const std::string kToken = "correct horse battery staple";

class StatusConsole : public ServerTest {
 protected:
  // Starts the server with Lobby on `lobbyPort` and the console's settings.
  void StartWith(const std::string& statusAddress, const std::string& statusToken) {
    server.WriteNetwork({"Lobby", "pw", lobbyPort});
    std::vector<std::pair<std::string, std::string>> settings{{"AttachedNIC", ""},
                                                              {"StatusAddress", statusAddress}};
    if (!statusToken.empty()) settings.emplace_back("StatusToken", statusToken);
    server.WriteSettings(SettingsXml(settings));
    ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
  }

  // The console's port as its log line gives it; 0 when it does not come.
  uint16_t ConsolePort() {
    const std::string prefix = "Console listening on http://127.0.0.1:";
    auto deadline = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < deadline) {
      for (const auto& line : server.LogMessages())
        if (line.rfind(prefix, 0) == 0)
          return static_cast<uint16_t>(std::stoi(line.substr(prefix.size())));
      std::this_thread::sleep_for(10ms);
    }
    ADD_FAILURE() << "the console did not start\n" << DescribeLog();
    return 0;
  }

  uint16_t lobbyPort = FreePort();
};

TEST_F(StatusConsole, ShowsTheMembersOfTheRunningServerAndKicksOne) {
  std::time_t beforeStart = std::time(nullptr);
  StartWith("127.0.0.1:0", kToken);
  uint16_t console = ConsolePort();
  ASSERT_NE(console, 0);
  auto ann = Member(lobbyPort, "Lobby", "pw", "Ann");

  json members;
  for (int tries = 0; tries < 100 && members.empty(); ++tries) {
    auto answer = Exchange(console, GetRequest("/api/networks/lobby/members"));
    ASSERT_EQ(answer.Status, 200) << answer.Body;
    members = json::parse(answer.Body)["members"];
    if (members.empty()) std::this_thread::sleep_for(20ms);
  }
  ASSERT_EQ(members.size(), 1u);
  EXPECT_EQ(members[0]["name"], "Ann");
  EXPECT_EQ(members[0]["address"], "127.0.0.1");

  auto kicked = Exchange(console, PostRequest("/api/networks/Lobby/kick",
                                              R"({"user":"Ann","reason":"away"})",
                                              "Authorization: Bearer " + kToken + "\r\n"));
  EXPECT_EQ(kicked.Status, 200) << kicked.Body;
  auto notice = ann->Receive();
  ASSERT_TRUE(notice);
  EXPECT_EQ(*notice, (Message{996, "away"}));
  EXPECT_TRUE(Logged("Kick of Ann on network Lobby by the web console"));
  EXPECT_TRUE(Logged("Ann on network Lobby Kicked: away"));

  auto metrics = Exchange(console, GetRequest("/metrics"));
  EXPECT_NE(metrics.Body.find("velmora_logins_total{outcome=\"accepted\"} 1\n"),
            std::string::npos)
      << metrics.Body;
  const std::string startTime = "\nvelmora_start_time_seconds ";
  auto at = metrics.Body.find(startTime);
  ASSERT_NE(at, std::string::npos) << metrics.Body;
  std::time_t started = std::stoll(metrics.Body.substr(at + startTime.size()));
  EXPECT_GE(started, beforeStart);
  EXPECT_LE(started, std::time(nullptr));
}

TEST_F(StatusConsole, ABindBeyondLoopbackWithoutATokenIsRefusedAndMembersAreServed) {
  StartWith("0.0.0.0:0", "");
  const std::string error =
      "Error starting the console: StatusAddress is not a loopback address, so the console "
      "needs a StatusToken; set one, or listen on 127.0.0.1";
  EXPECT_TRUE(Logged(error));
  EXPECT_NE(server.Output().find(error + "\n"), std::string::npos)
      << server.Output();
  Member(lobbyPort, "Lobby", "pw", "Ann");
}

}  // namespace
}  // namespace velmora::e2e
