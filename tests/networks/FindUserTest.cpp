#include <gtest/gtest.h>

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
  network.Users = {User("Ann", "10.0.0.1"), User("ann", "fe80::A"), User("ANN", "10.0.0.1"),
                   User("Bob", "10.0.0.1")};
  EXPECT_EQ(network.FindUser("aNN", "10.0.0.1"), network.Users[0]);
  EXPECT_EQ(network.FindUser("Ann", "FE80::a"), network.Users[1]);
  EXPECT_EQ(network.FindUser("Ann", "10.0.0.2"), nullptr);
  EXPECT_EQ(network.FindUser("An", "10.0.0.1"), nullptr);

  network.Users.push_back(User("Cy", "10.0.0.3"));
  EXPECT_EQ(network.FindUser("cy", "10.0.0.3"), network.Users[4]);
}

}  // namespace
}  // namespace velmora
