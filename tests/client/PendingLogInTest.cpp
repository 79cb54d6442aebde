// A log-in whose record is being written: the connection is answered "OK" only once the file
// holds it, handles nothing it sent afterwards before that, and its name is taken meanwhile.
#include <gtest/gtest.h>

#include <chrono>

#include "networks/NetworkFolderFixture.h"
#include "networks/ServerNetworks.h"
#include "server/MapSocket.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

class PendingLogIn : public NetworkFolderFixture {
 protected:
  void SetUp() override {
    NetworkFolderFixture::SetUp();
    guild = &server.LoadNetwork(WriteNetworkFile(
        "guild.conf", "<n><network name=\"Guild\" password=\"pw\" maxusers=\"9\" enabled=\"1\">"
                      "</network></n>"));
  }

  // A peer whose password was accepted, ready for its user name.
  std::unique_ptr<Peer> AtUserName() {
    auto peer = std::make_unique<Peer>(listener);
    EXPECT_TRUE(peer->Receive());
    peer->Send(ClientCode::kNetworkSelection, "Guild");
    EXPECT_EQ(peer->Receive()->data, kOk);
    peer->Send(ClientCode::kPasswordDigest, Md5("pw"));
    EXPECT_EQ(peer->Receive()->data, kOk);
    return peer;
  }

  ServerHarness server;
  MapSocket& listener = server.AddListener();
  ServerNetworks* guild = nullptr;
};

TEST_F(PendingLogIn, HoldsItsNameAndItsLaterMessagesUntilItsOk) {
  auto ann = AtUserName();
  auto rival = AtUserName();
  ann->Send(ClientCode::kUserName, "Ann");
  ann->Send(ClientCode::kAdminQuery, "");
  rival->Send(ClientCode::kUserName, "ANN");

  auto answer = ann->Receive();
  ASSERT_TRUE(answer);
  EXPECT_TRUE(answer->Is(ServerCode::kUserNameResult) && answer->data == kOk);
  EXPECT_NE(ReadFile(guild->Path).find("Name=\"Ann\""), std::string::npos);
  auto next = ann->Receive();
  ASSERT_TRUE(next);
  EXPECT_TRUE(next->Is(ServerCode::kAdminAnswer));
  EXPECT_EQ(rival->Receive()->data, kFail);
}

TEST_F(PendingLogIn, AConnectionThatEndsMeanwhileLeavesItsNameFree) {
  auto cy = AtUserName();
  cy->Send(ClientCode::kUserName, "Cy");
  server.RunPass();  // the name is taken and the record under way
  cy->CloseWrite();
  // The record is written on another thread: wait for it, however busy the machine is.
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((server.RecordsWaiting() > 0 || !server.Logged("Client Disconnect: (102) Cy")) &&
         std::chrono::steady_clock::now() < giveUp)
    server.RunPass(1);
  EXPECT_TRUE(server.Logged("Client Disconnect: (102) Cy"));
  EXPECT_NE(ReadFile(guild->Path).find("Name=\"Cy\""), std::string::npos);
  auto again = AtUserName();
  again->Send(ClientCode::kUserName, "Cy");
  EXPECT_EQ(again->Receive()->data, kOk);
}

}  // namespace
}  // namespace velmora::testing
