// A registration killed at any moment must leave the network file whole: the old one or the new.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "networks/NetworkFiles.h"
#include "networks/NetworkFolderFixture.h"

namespace {
// Set in a forked child: the process dies the moment the rewrite renames its temporary file.
std::atomic<bool> g_dieAtRename{false};
}  // namespace

// Stands in for the C library's rename in this test program; behaves the same unless told to die.
extern "C" int rename(const char* from, const char* to) noexcept {
  if (g_dieAtRename) ::raise(SIGKILL);
  return ::renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace velmora {
namespace {

using ::testing::ElementsAre;

std::string ManyUsers(int count) {
  std::string text = "<?xml version=\"1.0\"?>\n<networks>\n  <network name=\"Big\" enabled=\"1\">\n";
  for (int i = 0; i < count; ++i)
    text += "    <User Name=\"user" + std::to_string(i) + "\" LastIP=\"10.0." +
            std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + "\"/>\n";
  return text + "  </network>\n</networks>\n";
}

class RewriteCrashTest : public testing::NetworkFolderFixture {
 protected:
  // Runs one registration in a child process; `killAfter` (if set) kills it from outside.
  int RegisterInChild(const std::string& path, std::optional<std::chrono::microseconds> killAfter,
                      bool dieAtRename) {
    pid_t child = ::fork();
    if (child == 0) {
      g_dieAtRename = dieAtRename;
      ServerNetworks network;
      network.NetworkName = "Big";
      network.Path = path;
      network.AddUserToNetwork("Newcomer", "10.9.9.9");
      ::_exit(0);
    }
    if (killAfter) {
      std::this_thread::sleep_for(*killAfter);
      ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
  }

  void RemoveTemporaryFiles() {
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
      if (entry.path().filename().string().front() == '.') std::filesystem::remove(entry.path());
  }
};

TEST_F(RewriteCrashTest, AKillBetweenFlushAndRenameLeavesTheOldFile) {
  const std::string original = ManyUsers(3);
  std::string path = WriteNetworkFile("big.conf", original);
  int status = RegisterInChild(path, std::nullopt, true);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(ReadFile(path), original);

  // The orphaned temporary file is hidden, so the next start does not take it for a network.
  int hidden = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder_))
    hidden += entry.path().filename().string().front() == '.';
  EXPECT_EQ(hidden, 1);
  std::vector<std::shared_ptr<ServerNetworks>> networks;
  modGlobal::LoadNetworks(folder_, networks);
  ASSERT_EQ(networks.size(), 1u);
  EXPECT_EQ(networks[0]->Users().size(), 3u);
  EXPECT_THAT(LogLines(), ElementsAre("Reading Network Files...", "Network loaded: " + path,
                                      "Loaded Network: Big"));
}

TEST_F(RewriteCrashTest, AKillAtAnyMomentLeavesTheOldOrTheNewFile) {
  const std::string original = ManyUsers(3000);
  std::string path = WriteNetworkFile("big.conf", original);
  // What a finished registration writes, and about how long it takes.
  std::string copy = base_ / "copy.conf";
  std::filesystem::copy_file(path, copy);
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(RegisterInChild(copy, std::nullopt, false), 0);
  auto duration = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - started);
  const std::string registered = ReadFile(copy);
  ASSERT_NE(registered, original);

  std::mt19937 random(12345);
  std::uniform_int_distribution<long> delay(0, duration.count() * 3 / 2);
  int oldSeen = 0, newSeen = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int round = 0; round < 40 && std::chrono::steady_clock::now() < deadline; ++round) {
    WriteNetworkFile("big.conf", original);
    RegisterInChild(path, std::chrono::microseconds(delay(random)), false);
    std::string now = ReadFile(path);
    ASSERT_TRUE(now == original || now == registered) << "torn file after round " << round;
    (now == original ? oldSeen : newSeen)++;
    RemoveTemporaryFiles();
  }
  std::printf("kills leaving the old file: %d, the new file: %d\n", oldSeen, newSeen);
}

}  // namespace
}  // namespace velmora
