#include <gtest/gtest.h>

#include "networks/NetworkReload.h"
#include "networks/ServerNetworks.h"

namespace velmora {
namespace {

std::shared_ptr<VelmoraUser> User(std::string name, std::string address) {
  auto user = std::make_shared<VelmoraUser>();
  user->Name = std::move(name);
  user->LastIP = std::move(address);
  return user;
}

TEST(FindUser, AnswersTheFirstRecordOfNameAndAddressAlsoAfterTheListGrew) {
  ServerNetworks network;
  network.SetUsers({User("Ann", "10.0.0.1"), User("ann", "fe80::A"), User("ANN", "10.0.0.1"),
                    User("Bob", "10.0.0.1")});
  EXPECT_EQ(network.FindUser("aNN", "10.0.0.1"), network.Users()[0]);
  EXPECT_EQ(network.FindUser("Ann", "FE80::a"), network.Users()[1]);
  EXPECT_EQ(network.FindUser("Ann", "10.0.0.2"), nullptr);
  EXPECT_EQ(network.FindUser("An", "10.0.0.1"), nullptr);

  network.AddUser(User("Cy", "10.0.0.3"));
  network.AddUser(User("cy", "10.0.0.3"));
  EXPECT_EQ(network.FindUser("CY", "10.0.0.3"), network.Users()[4]);
}

// A list assigned anew is what the index answers from at once: records that left it are not
// found any more, those that moved are found where they are now.
TEST(FindUser, AnswersFromAListAssignedAnew) {
  ServerNetworks network;
  network.SetUsers({User("Ann", "10.0.0.1"), User("Bob", "10.0.0.2")});
  ASSERT_NE(network.FindUser("Ann", "10.0.0.1"), nullptr);
  network.SetUsers({User("Cy", "10.0.0.3"), User("bob", "10.0.0.2")});
  EXPECT_EQ(network.FindUser("Ann", "10.0.0.1"), nullptr);
  EXPECT_EQ(network.FindUser("BOB", "10.0.0.2"), network.Users()[1]);
  EXPECT_EQ(network.FindUser("cy", "10.0.0.3"), network.Users()[0]);
}

// A reload assigns a new list: a record that moved must still be found, or a user banned in the
// edited file would log in as one the server does not know.
TEST(FindUser, FindsARecordThatAReloadMoved) {
  ServerNetworks live;
  live.SetUsers({User("Ann", "10.0.0.1"), User("Bob", "10.0.0.2")});
  ASSERT_EQ(live.FindUser("Bob", "10.0.0.2"), live.Users()[1]);
  ServerNetworks fresh;
  fresh.SetUsers({User("Bob", "10.0.0.2"), User("Ann", "10.0.0.1")});
  fresh.Users()[0]->IsBanned = true;
  UpdateNetworkInPlace(live, fresh);
  auto bob = live.FindUser("bob", "10.0.0.2");
  ASSERT_NE(bob, nullptr);
  EXPECT_TRUE(bob->IsBanned);
  EXPECT_EQ(live.FindUser("Ann", "10.0.0.1"), live.Users()[1]);
}

}  // namespace
}  // namespace velmora
