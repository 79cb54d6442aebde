// velmora.conf beside the binary as start-up leaves it: created on the first start, completed
// with the interface setting, and hand-written entries kept; and the position ceiling, which is
// read again at a reload.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "support/ServerTest.h"

namespace velmora::e2e {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string XmlUnescape(std::string text) {
  const std::pair<const char*, char> entities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
  for (const auto& [entity, c] : entities)
    for (size_t at; (at = text.find(entity)) != std::string::npos;)
      text.replace(at, std::strlen(entity), 1, c);
  return text;
}

// The entries of a settings file, in file order.
Entries ReadSettings(const std::string& path) {
  std::string xml = ReadFile(path);
  Entries entries;
  std::regex setting(R"re(<setting\s+namestring="([^"]*)"\s+valuestring="([^"]*)"\s*/>)re");
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), setting);
       it != std::sregex_iterator(); ++it)
    entries.emplace_back(XmlUnescape((*it)[1]), XmlUnescape((*it)[2]));
  return entries;
}

std::string ReadSysFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string value;
  std::getline(in, value);
  return value;
}

// The MAC address text of the first interface that is up, is not loopback and has a
// link-layer address, in kernel index order: upper-case pairs joined by ":".
std::string FirstInterfaceMac() {
  std::vector<std::pair<long, std::string>> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net", error)) {
    long flags = std::strtol(ReadSysFile(entry.path() / "flags").c_str(), nullptr, 16);
    long length = std::strtol(ReadSysFile(entry.path() / "addr_len").c_str(), nullptr, 10);
    std::string mac = ReadSysFile(entry.path() / "address");
    if ((flags & 0x1) == 0 || (flags & 0x8) != 0 || length <= 0 || mac.empty()) continue;
    std::transform(mac.begin(), mac.end(), mac.begin(), ::toupper);
    found.emplace_back(std::strtol(ReadSysFile(entry.path() / "ifindex").c_str(), nullptr, 10),
                       mac);
  }
  std::sort(found.begin(), found.end());
  return found.empty() ? "" : found.front().second;
}

class Settings : public ServerTest {
 protected:
  // The file as start-up left it: start-up saves after "Listening...", so read it only once the
  // server has ended.
  Entries SettingsAfterRun() {
    EXPECT_EQ(server.Stop(), 0) << server.Output();
    return ReadSettings(server.SettingsPath());
  }
};

TEST_F(Settings, AFirstStartWithoutNetworksWritesOnlyThePort) {
  ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
  EXPECT_EQ(SettingsAfterRun(), (Entries{{"Port", "12000"}})) << ReadFile(server.SettingsPath());
}

TEST_F(Settings, AFirstStartWithANetworkAddsTheFirstInterface) {
  server.WriteNetwork({.name = "Lobby", .password = "pw", .port = FreePort()});
  ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
  EXPECT_EQ(SettingsAfterRun(), (Entries{{"Port", "12000"}, {"AttachedNIC", FirstInterfaceMac()}}))
      << ReadFile(server.SettingsPath());
}

TEST_F(Settings, HandWrittenEntriesSurviveUnchanged) {
  uint16_t port = FreePort();
  server.WriteNetwork({.name = "Lobby", .password = "pw", .port = port});
  Entries written = {
      {"Port", "12000"}, {"Motd", "Fish & <chips> \"today\""}, {"AttachedNIC", ""}, {"Empty", ""}};
  server.WriteSettings(SettingsXml(written));
  ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
  // The empty interface setting is kept as written: the listener takes every address.
  WireClient client(port);
  EXPECT_TRUE(client.ExpectPrompt());
  Entries read = SettingsAfterRun();
  std::sort(read.begin(), read.end());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(read, written) << ReadFile(server.SettingsPath());
}

// The interface is found by its MAC text in any letter case, and then the listener takes only
// that interface's addresses; text in another notation matches nothing, so every address is
// taken, loopback included.
TEST_F(Settings, TheAttachedInterfaceIsMatchedByItsMacTextInAnyCase) {
  std::string mac = FirstInterfaceMac();
  if (mac.empty()) GTEST_SKIP() << "no interface to attach to";
  std::string lower = mac, dashed = mac;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  std::replace(dashed.begin(), dashed.end(), ':', '-');
  uint16_t attached = FreePort(), everywhere = FreePort();
  server.WriteNetwork({.name = "Lobby", .password = "pw", .port = attached});
  server.WriteSettings(SettingsXml({{"AttachedNIC", lower}}));
  ASSERT_TRUE(server.Start()) << DescribeLog();
  WireClient refused(attached, {.mustConnect = false});
  EXPECT_FALSE(refused.Connected());
  for (const auto& line : server.LogMessages())
    EXPECT_NE(line.rfind("Server Error: ", 0), 0u) << line;
  EXPECT_EQ(SettingsAfterRun(), (Entries{{"AttachedNIC", lower}}));

  server.WriteNetwork({.name = "Arena", .password = "pw", .port = everywhere});
  server.WriteSettings(SettingsXml({{"AttachedNIC", dashed}}));
  ASSERT_TRUE(server.Start()) << DescribeLog();
  WireClient accepted(everywhere);
  EXPECT_TRUE(accepted.ExpectPrompt());
}

TEST_F(Settings, AMalformedFileIsReplacedByAWellFormedOne) {
  server.WriteNetwork({.name = "Lobby", .password = "pw", .port = FreePort()});
  server.WriteSettings("<settings><setting namestring=\"Port\" valuestring=");
  ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
  EXPECT_EQ(SettingsAfterRun(), (Entries{{"AttachedNIC", FirstInterfaceMac()}}))
      << ReadFile(server.SettingsPath());
}

TEST_F(Settings, ThePositionCeilingIsReadAtStartAndAgainAtAReload) {
  NetworkEntry lobby{.name = "Lobby", .password = "pw", .port = FreePort()};
  server.WriteNetwork(lobby);
  auto withCeiling = [](const std::string& perSecond) {
    return SettingsXml({{"AttachedNIC", ""}, {"MaxPositionsPerSecond", perSecond}});
  };
  auto position = [](int x) { return std::to_string(x) + ",1,1,1,0,0"; };
  server.WriteSettings(withCeiling("1"));
  ASSERT_TRUE(server.Start()) << DescribeLog() << server.Output();
  auto ann = Member(lobby.port, "Lobby", "pw", "Ann");
  auto bob = Member(lobby.port, "Lobby", "pw", "Bob");
  // One a second: of a burst, the first report goes at once, then only the newest.
  for (int x = 1; x <= 20; ++x) ann->Send(4, position(x));
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|" + position(1)}));
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|" + position(20)}));

  server.WriteSettings(withCeiling("0"));
  server.Signal(SIGHUP);
  ASSERT_TRUE(Logged("Networks reloaded."));
  for (int x = 21; x <= 60; ++x) ann->Send(4, position(x));
  for (int x = 21; x <= 60; ++x) ASSERT_EQ(bob->Receive(), (Message{5, "Ann|" + position(x)}));
}

}  // namespace
}  // namespace velmora::e2e
