#include <gtest/gtest.h>

#include <map>
#include <random>

#include "client/ClientSocket.h"
#include "networks/ServerNetworks.h"
#include "server/MapSocket.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

// Whatever order connections select, fail, select again and vanish in, every network's count
// equals the seats its connections hold, and never leaves 0..MaxUsers.
TEST(SeatInvariant, HoldsUnderRandomOrdersOfSelectFailReselectAndDisconnect) {
  ServerHarness server;
  ServerNetworks& small = server.AddNetwork("Small", "a", 3);
  ServerNetworks& large = server.AddNetwork("Large", "b", 6);
  server.AddNetwork("Off", "c", 10, false);
  MapSocket& listener = server.AddListener();

  std::mt19937 random(20261208);
  std::vector<std::unique_ptr<Peer>> clients;
  const char* names[] = {"Small", "large", "Off", "none"};
  for (int step = 0; step < 300; ++step) {
    int action = static_cast<int>(random() % 6);
    if (clients.size() < 4 || action == 0) {
      clients.push_back(std::make_unique<Peer>(listener));
      ASSERT_EQ(clients.back()->Receive()->command, 1);
      continue;
    }
    auto& client = clients[random() % clients.size()];
    switch (action) {
      case 1:
      case 2: client->Send(1, names[random() % 4]); client->Receive(); break;
      case 3: client->Send(2, random() % 2 ? Md5("a") : Md5("b")); client->Receive(); break;
      case 4: client->Send(3, "user" + std::to_string(random() % 5)); client->Receive(); break;
      case 5:
        client = std::make_unique<Peer>(listener);  // the old one drops abruptly
        ASSERT_EQ(client->Receive()->command, 1);
        break;
    }
    server.Spin(2);
    std::map<const ServerNetworks*, int64_t> held;
    for (auto& connection : Sessions(listener))
      if (connection->SeatNetwork()) ++held[connection->SeatNetwork()];
    for (ServerNetworks* network : {&small, &large}) {
      ASSERT_EQ(network->CurrentUsers, held[network]) << "step " << step;
      ASSERT_GE(network->CurrentUsers, 0);
      ASSERT_LE(network->CurrentUsers, network->MaxUsers);
    }
  }
  clients.clear();
  server.Spin(50);
  EXPECT_EQ(small.CurrentUsers, 0);
  EXPECT_EQ(large.CurrentUsers, 0);
}

}  // namespace
}  // namespace velmora::testing
