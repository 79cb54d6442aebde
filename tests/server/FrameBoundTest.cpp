// The server never sends a frame beyond the bound it holds its peers to.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "networks/ServerNetworks.h"
#include "networks/VelmoraUser.h"
#include "protocol/FrameCodec.h"
#include "server/BanStore.h"
#include "server/MapSocket.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

class FrameBound : public ::testing::Test {
 protected:
  ServerHarness server;
  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret");
  MapSocket& listener = server.AddListener();
};

TEST_F(FrameBound, AChatLineWhoseRelayWouldExceedTheBoundIsNotRelayed) {
  Peer ann(listener), bob(listener);
  ASSERT_TRUE(ann.LogIn("Lobby", "secret", "Ann"));
  ASSERT_TRUE(bob.LogIn("Lobby", "secret", "Bob"));
  // Relayed as "Ann", 0x00 and the text: the longest text that fits leaves 4 bytes of the bound.
  std::string fits(kMaxPayloadLength - 4, 'x');
  ann.Send(ClientCode::kChat, fits);
  auto relayed = bob.Receive();
  ASSERT_TRUE(relayed);
  EXPECT_EQ(relayed->data.size(), kMaxPayloadLength);
  std::string over = fits + "x";
  ann.Send(ClientCode::kChat, over);
  ann.Send(ClientCode::kChat, over);
  ann.Send(ClientCode::kChat, "short");
  EXPECT_EQ(bob.Receive()->data, std::string("Ann\0short", 9));
  EXPECT_EQ(server.CountLog("127.0.0.1: Chat Too Long To Relay (" +
                            std::to_string(over.size()) + " bytes)."),
            1u);  // once per connection
}

TEST_F(FrameBound, TheBanListCarriesTheWholeRowsThatFitInOneFrame) {
  server.OpenDatabase();
  auto root = std::make_shared<VelmoraUser>();
  root->Name = "Root";
  root->LastIP = "127.0.0.1";
  lobby.AddUser(root);
  lobby.Admins.push_back(root);
  std::string reason(kMaxPayloadLength / 2, 'r');
  for (int i = 0; i < 2; ++i)
    server.Bans().Record("10.0.0." + std::to_string(i), "Root", reason, std::time(nullptr),
                         "Lobby", "Eve");
  Peer admin(listener);
  ASSERT_TRUE(admin.LogIn("Lobby", "secret", "Root"));
  admin.Send(ClientCode::kBanListRequest, "");
  auto list = admin.Receive();
  ASSERT_TRUE(list);
  EXPECT_EQ(std::count(list->data.begin(), list->data.end(), '\0'), 1);
  EXPECT_EQ(list->data.rfind("1|10.0.0.0|Root|", 0), 0u);
  EXPECT_EQ(server.CountLog("127.0.0.1: Ban List Cut Short (1 Of 2 Bans)."), 1u);
}

}  // namespace
}  // namespace velmora::testing
