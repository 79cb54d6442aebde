// A position report crosses the real binary's sockets to the other members of its network. The
// rest of what members see of each other is tested in-process (tests/server/RelayTest.cpp).
#include <gtest/gtest.h>

#include "support/ServerTest.h"

namespace velmora::e2e {
namespace {

class RelayEndToEnd : public ServerTest {
 protected:
  void SetUp() override {
    lobby = {.name = "Lobby", .password = "secret", .port = FreePort()};
    arena = {.name = "Arena", .password = "other", .port = FreePort()};
    // The relay itself: no ceiling holds a burst back (the ceiling has tests of its own).
    StartServer({lobby, arena}, 0);
  }

  std::unique_ptr<WireClient> InLobby(std::string_view user) {
    return Member(lobby.port, "Lobby", "secret", user);
  }
  std::unique_ptr<WireClient> InArena(std::string_view user) {
    return Member(lobby.port, "Arena", "other", user);
  }

  NetworkEntry lobby;
  NetworkEntry arena;
};

TEST_F(RelayEndToEnd, APositionReportReachesTheOtherMembersOfTheNetworkOnly) {
  auto ann = InLobby("Ann");
  auto bob = InLobby("Bob");
  auto cy = InLobby("Cy");
  auto dan = InArena("Dan");

  ann->Send(4, "10,20,3,100,1,0");
  EXPECT_EQ(bob->Receive(), (Message{5, "Ann|10,20,3,100,1,0"}));
  EXPECT_EQ(cy->Receive(), (Message{5, "Ann|10,20,3,100,1,0"}));
  EXPECT_TRUE(ann->ExpectNothing());
  EXPECT_TRUE(dan->ExpectNothing(50ms));
}

}  // namespace
}  // namespace velmora::e2e
