// The server killed outright (SIGKILL) at a random moment of a storm of first log-ins. Nothing
// may be lost that a client was told: a user whose log-in was answered "OK" is in the network
// file after the kill, and every network file still reads as a whole network. The clients of a
// network log in side by side into files of a few thousand users, so that their log-ins share
// rewrites and the kill mostly lands while one runs.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "networks/NetworkFiles.h"
#include "support/LogCapture.h"
#include "support/Sanitizer.h"
#include "support/ServerTest.h"

namespace velmora::e2e {
namespace {

constexpr int kRounds = ScaledCount(4, 2);
constexpr int kClientsPerNetwork = ScaledCount(12, 6);
constexpr int kListedUsers = ScaledCount(3000, 1000);
// How long a storm runs before the kill; the kill itself comes at a random moment. Under the
// sanitizers a rewrite takes long enough that a shorter storm may end before the first "OK".
constexpr int kShortestStormMs = ScaledCount(100, 800);
constexpr int kLongestStormMs = ScaledCount(500, 2000);

class FaultKill : public ServerTest {
 protected:
  // What the clients of one storm learnt.
  struct Storm {
    std::mutex mutex;
    std::map<std::string, std::set<std::string>> accepted;  // network -> users told "OK"
    std::vector<std::string> unexpected;  // failures that came before the kill
    std::atomic<bool> killed{false};
  };

  // One client after the other logs in a new name until the server is gone.
  static void LogInNewUsers(const NetworkEntry& network, const std::string& prefix,
                            const std::string& address, Storm& storm) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    for (int serial = 0; !storm.killed && std::chrono::steady_clock::now() < deadline;
         ++serial) {
      std::string user = prefix + "_" + std::to_string(serial);
      WireClient client(network.port, {.sourceAddress = address, .mustConnect = false});
      LogInOutcome outcome = client.TryLogIn(network.name, network.password, user);
      std::lock_guard lock(storm.mutex);
      if (outcome == LogInOutcome::kAccepted) {
        storm.accepted[network.name].insert(user);
        continue;
      }
      // The flag goes up before the kill: a failure seen while it is down is the server's.
      if (!storm.killed)
        storm.unexpected.push_back(user + (outcome == LogInOutcome::kRefused ? " refused"
                                                                           : " lost"));
      return;
    }
  }

  // Every file of the networks folder that the server would load reads as a network; the
  // users each lists are returned by network name.
  ::testing::AssertionResult ReadEveryNetworkFile(
      std::map<std::string, std::set<std::string>>& users) {
    // The reader logs what it reads: into memory, never into a log of the user running this.
    velmora::testing::LogCapture readerLog;
    users.clear();
    for (const auto& entry : std::filesystem::directory_iterator(server.NetworksFolder())) {
      std::string name = entry.path().filename().string();
      if (!IsNetworkFileName(name)) continue;
      auto network = modGlobal::ReadNetworkXML(entry.path().string());
      if (!network)
        return ::testing::AssertionFailure() << name << " does not read as a network:\n"
                                             << ReadFile(entry.path().string());
      for (const auto& user : network->Users()) users[network->NetworkName].insert(user->Name);
    }
    return ::testing::AssertionSuccess();
  }
};

TEST_F(FaultKill, EveryUserToldOkSurvivesAKillDuringAStormOfFirstLogIns) {
  std::vector<NetworkEntry> networks = {
      {.name = "North", .password = "n", .port = FreePort(), .maxusers = "100000"},
      {.name = "South", .password = "s", .port = FreePort(), .maxusers = "100000"}};
  for (auto& network : networks) {
    for (int i = 0; i < kListedUsers; ++i)
      network.users.push_back({.name = "listed" + std::to_string(i), .lastIp = "10.1.1.1"});
    server.WriteNetwork(network);
  }
  server.WriteSettings(AllAddressesSettings());

  std::random_device entropy;
  unsigned seed = entropy();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> stormLength(kShortestStormMs, kLongestStormMs);

  std::map<std::string, std::set<std::string>> told;  // every user told "OK", all rounds
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
    for (const auto& network : networks)
      ASSERT_EQ(server.CountLog("Loaded Network: " + network.name), 1u) << DescribeLog();

    Storm storm;
    std::vector<std::thread> clients;
    for (const auto& network : networks)
      for (int i = 0; i < kClientsPerNetwork; ++i)
        clients.emplace_back(LogInNewUsers, std::cref(network),
                             "r" + std::to_string(round) + network.name + std::to_string(i),
                             "127.0.0." + std::to_string(2 + i), std::ref(storm));
    std::this_thread::sleep_for(std::chrono::milliseconds(stormLength(random)));
    storm.killed = true;
    server.Signal(SIGKILL);
    for (auto& client : clients) client.join();
    EXPECT_EQ(server.Stop(), 128 + SIGKILL);

    EXPECT_TRUE(storm.unexpected.empty()) << ::testing::PrintToString(storm.unexpected);
    size_t acceptedThisRound = 0;
    for (auto& [network, users] : storm.accepted) {
      acceptedThisRound += users.size();
      told[network].insert(users.begin(), users.end());
    }
    // A storm that got nowhere would prove nothing.
    EXPECT_GT(acceptedThisRound, 0u) << DescribeLog();

    std::map<std::string, std::set<std::string>> listed;
    ASSERT_TRUE(ReadEveryNetworkFile(listed));
    for (auto& [network, users] : told) {
      std::vector<std::string> missing;
      for (const auto& user : users)
        if (!listed[network].count(user)) missing.push_back(user);
      EXPECT_TRUE(missing.empty()) << network << " lost " << ::testing::PrintToString(missing);
    }
  }
}

}  // namespace
}  // namespace velmora::e2e
