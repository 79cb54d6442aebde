// An administrator's announcement reaches the logged-in members of its network on its listener,
// or of every network when sent from the all-networks network; nobody else sends one.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/InProcessTest.h"

namespace velmora::testing {
namespace {

using namespace std::string_literals;

using Announcement = TwoNetworksWithAdmins;

TEST_F(Announcement, ReachesTheLoggedInMembersOfTheNetwork) {
  auto boss = Member(first, "Lobby", "secret", "Boss");
  auto bob = Member(first, "Lobby", "secret", "Bob", "127.0.0.2");
  auto dan = Member(first, "Arena", "other", "Dan", "127.0.0.4");
  auto distant = Member(second, "Lobby", "secret", "Far", "127.0.0.6");
  auto selected = Prompted(first, "127.0.0.7");
  ASSERT_TRUE(Step(*selected, 1, "Lobby", 2, "OK"));

  boss->Send(12, "Restart at noon\0!"s);
  EXPECT_EQ(bob->Receive(), (Message{998, "Restart at noon\0!"s}));
  EXPECT_EQ(boss->Receive(), (Message{998, "Restart at noon\0!"s}));
  EXPECT_TRUE(ExpectNothing(*selected));
  EXPECT_TRUE(ExpectNothing(*dan, 50));
  EXPECT_TRUE(ExpectNothing(*distant, 50));

  boss->Send(12, "");
  bob->Send(12, "from a mere member");
  EXPECT_TRUE(ExpectNothing(*bob));
  EXPECT_TRUE(ExpectNothing(*boss, 50));
}

TEST_F(Announcement, OfTheAllNetworksNetworkReachesEveryNetwork) {
  AddAdmin(server.AddNetwork("(All Networks)", "root"), "Root");
  auto root = Member(first, "(all networks)", "root", "Root");
  auto bob = Member(first, "Lobby", "secret", "Bob", "127.0.0.2");
  auto dan = Member(first, "Arena", "other", "Dan", "127.0.0.4");
  auto selected = Prompted(first, "127.0.0.7");
  ASSERT_TRUE(Step(*selected, 1, "Lobby", 2, "OK"));
  root->Send(12, "maintenance");
  EXPECT_EQ(bob->Receive(), (Message{998, "maintenance"}));
  EXPECT_EQ(dan->Receive(), (Message{998, "maintenance"}));
  EXPECT_EQ(root->Receive(), (Message{998, "maintenance"}));
  EXPECT_TRUE(ExpectNothing(*selected));
}

}  // namespace
}  // namespace velmora::testing
