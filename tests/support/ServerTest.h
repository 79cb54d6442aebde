#pragma once
// Base fixture of the end-to-end tests: one server process per test, stopped at the end with
// the check that it exits cleanly (under the sanitizers that also means no leak and no fault).
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/FileText.h"
#include "support/ServerProcess.h"
#include "support/WireClient.h"

namespace velmora::e2e {

class ServerTest : public ::testing::Test {
 protected:
  // Writes the network files and settings that listen on all addresses, then starts.
  // `positionsPerSecond`: the setting MaxPositionsPerSecond, when the test gives one.
  void StartServer(const std::vector<NetworkEntry>& networks,
                   std::optional<int> positionsPerSecond = std::nullopt) {
    for (const auto& network : networks) server.WriteNetwork(network);
    StartServer(positionsPerSecond);
  }

  // Starts with the network files written so far, listening on all addresses.
  void StartServer(std::optional<int> positionsPerSecond = std::nullopt) {
    std::vector<std::pair<std::string, std::string>> settings = {{"Port", "12000"},
                                                                 {"AttachedNIC", ""}};
    if (positionsPerSecond)
      settings.emplace_back("MaxPositionsPerSecond", std::to_string(*positionsPerSecond));
    server.WriteSettings(SettingsXml(settings));
    ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
    // A listener that could not listen would fail every later step, each after a time-out.
    for (const auto& line : server.LogMessages())
      ASSERT_NE(line.rfind("Server Error: ", 0), 0u) << DescribeLog();
  }

  void TearDown() override {
    if (server.Running()) {
      int code = server.Stop();
      EXPECT_EQ(code, 0) << "server exit\n" << server.Output();
    }
  }

  // Waits until the log holds `message` (`count` times); on failure shows what it holds.
  ::testing::AssertionResult Logged(const std::string& message, size_t count = 1) {
    if (server.WaitForLog(message, 3s, count)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "log lacks \"" << message << "\" x" << count << "\n"
                                         << DescribeLog();
  }

  // A client that has logged in; a failed log-in fails the test.
  std::unique_ptr<WireClient> Member(uint16_t port, std::string_view network,
                                     std::string_view password, std::string_view user,
                                     ClientOptions options = {}) {
    auto client = std::make_unique<WireClient>(port, options);
    EXPECT_TRUE(client->LogIn(network, password, user)) << "log-in of " << user;
    return client;
  }

  // The network file of `network` as the server left it.
  std::string NetworkFile(const NetworkEntry& network) const {
    return testing::ReadFile(server.NetworksFolder() + "/" + network.name +
                             std::to_string(network.port) + ".conf");
  }

  std::string DescribeLog() const {
    std::string text = "log:\n";
    for (const auto& line : server.LogLines()) text += "  " + line + "\n";
    return text;
  }

  ServerProcess server;
};

}  // namespace velmora::e2e
