// Reading the network files again while members are logged in: records are updated in place,
// never pulled from under a connection that refers to them.
#include "networks/NetworkReload.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "client/ClientSocket.h"
#include "networks/NetworkFiles.h"
#include "networks/NetworkFolderFixture.h"
#include "support/ServerHarness.h"

namespace velmora {
namespace {

struct UserLine {
  std::string name;
  std::string address;
  bool admin = false;
};

std::string NetworkFile(const std::string& name, int port, const std::vector<UserLine>& users = {}) {
  std::string xml = "<velmora><network name=\"" + name +
                    "\" password=\"pw\" maxusers=\"10\" enabled=\"1\" port=\"" +
                    std::to_string(port) + "\">";
  for (const auto& user : users)
    xml += "<User Name=\"" + user.name + "\" LastIP=\"" + user.address + "\" IsAdmin=\"" +
           (user.admin ? "1" : "0") + "\"/>";
  return xml + "</network></velmora>";
}

class NetworkReloadTest : public testing::NetworkFolderFixture {
 protected:
  void Load() { modGlobal::LoadNetworks(folder_, harness_.Networks()); }
  std::vector<ServerNetworks*> Reload() {
    return modGlobal::ReloadNetworks(folder_, harness_.Networks());
  }
  bool Logged(const std::string& line) const { return harness_.Logged(line); }

  testing::ServerHarness harness_;
};

TEST_F(NetworkReloadTest, LoggedInUsersKeepTheirRecordsWhenTheUserListIsReplaced) {
  WriteNetworkFile("lobby.conf", NetworkFile("Lobby", 5000,
                                             {{"Operator", "127.0.0.1", true},
                                              {"Ann", "127.0.0.2", true}}));
  Load();
  MapSocket& listener = harness_.AddListener();
  testing::Peer operatorPeer(listener, "127.0.0.1");
  testing::Peer ann(listener, "127.0.0.2");
  ASSERT_TRUE(operatorPeer.LogIn("Lobby", "pw", "Operator"));
  ASSERT_TRUE(ann.LogIn("Lobby", "pw", "Ann"));
  VelmoraUser* operatorRecord = operatorPeer.Connection().User();
  ASSERT_TRUE(ann.Connection().isAdmin());

  WriteNetworkFile("lobby.conf", NetworkFile("Lobby", 5000,
                                             {{"Bob", "127.0.0.3"},
                                              {"Operator", "127.0.0.1", true}}));
  EXPECT_TRUE(Reload().empty());
  EXPECT_TRUE(Logged("Network changed: Lobby"));

  // The same record, still an administrator by identity.
  EXPECT_EQ(operatorPeer.Connection().User(), operatorRecord);
  EXPECT_TRUE(operatorPeer.Connection().isAdmin());
  // Gone from the file: no longer an administrator, but its record is still there to read.
  EXPECT_FALSE(ann.Connection().isAdmin());
  ASSERT_NE(ann.Connection().User(), nullptr);
  EXPECT_EQ(ann.Connection().User()->Name, "Ann");
  EXPECT_TRUE(ann.Connection().IsMember());
}

TEST_F(NetworkReloadTest, ARetiredNetworkTakesNobodyNewAndComesBackWithItsSeats) {
  std::string path = WriteNetworkFile("arena.conf", NetworkFile("Arena", 5000));
  Load();
  ServerNetworks* arena = harness_.Networks().front().get();
  MapSocket& listener = harness_.AddListener();
  testing::Peer bob(listener);
  ASSERT_TRUE(bob.LogIn("Arena", "pw", "Bob"));

  std::filesystem::remove(path);
  EXPECT_TRUE(Reload().empty());
  EXPECT_TRUE(Logged("Network retired: Arena"));
  EXPECT_TRUE(arena->Retired);
  EXPECT_EQ(listener.FindNetwork("Arena"), nullptr);
  EXPECT_TRUE(bob.Connection().IsMember());
  testing::Peer late(listener);
  ASSERT_TRUE(late.Receive());
  late.Send(ClientCode::kNetworkSelection, "Arena");
  auto answer = late.Receive();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->data, kFail);

  WriteNetworkFile("arena.conf", NetworkFile("Arena", 5001));
  EXPECT_EQ(Reload(), std::vector<ServerNetworks*>{arena});
  EXPECT_TRUE(Logged("Network added: Arena"));
  EXPECT_EQ(listener.FindNetwork("arena"), arena);
  EXPECT_EQ(arena->Port, 5001);
  EXPECT_EQ(arena->CurrentUsers, 1);
  EXPECT_EQ(harness_.Networks().size(), 1u);
}

TEST_F(NetworkReloadTest, APortChangeWaitsForARestartAndAnUnchangedFileSaysNothing) {
  WriteNetworkFile("lobby.conf", NetworkFile("Lobby", 5000));
  Load();
  ServerNetworks* lobby = harness_.Networks().front().get();
  EXPECT_TRUE(Reload().empty());
  EXPECT_TRUE(modGlobal::ReloadNetworks(std::nullopt, harness_.Networks()).empty());
  EXPECT_FALSE(lobby->Retired);

  WriteNetworkFile("lobby.conf", NetworkFile("Lobby", 5002));
  WriteNetworkFile("garden.conf", NetworkFile("Garden", 5003));
  auto added = Reload();
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added.front()->NetworkName, "Garden");
  EXPECT_TRUE(Logged("Network added: Garden"));
  EXPECT_TRUE(Logged("Port of network Lobby changed to 5002: restart the server to listen on it."));
  EXPECT_EQ(lobby->Port, 5000);
  EXPECT_FALSE(Logged("Network changed: Lobby"));
}

}  // namespace
}  // namespace velmora
