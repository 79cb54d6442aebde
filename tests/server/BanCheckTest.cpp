// The ban check at log-in answers from the bans held in memory, yet a ban that another program
// writes into the database file, or lifts there, counts from the next log-in on.
#include <gtest/gtest.h>

#include "platform/adapters/SqliteDatabase.h"
#include "support/ScratchFolder.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

TEST(BanCheck, FollowsTheTableWhoeverChangesIt) {
  ScratchFolder folder;
  ServerHarness server;
  server.AddNetwork("Lobby", "pw");
  MapSocket& listener = server.AddListener();
  server.OpenDatabase(folder / "velmora.db");
  auto logIn = [&](const std::string& user) {
    Peer peer(listener, "10.0.0.7");
    return peer.LogIn("Lobby", "pw", user);
  };
  ASSERT_TRUE(logIn("Eve"));

  platform::SqliteDatabase other(folder / "velmora.db");
  other.Execute("INSERT INTO bans (address, network) VALUES ('10.0.0.7', 'LOBBY')");
  EXPECT_FALSE(logIn("Eve2"));
  other.Execute("DELETE FROM bans");
  EXPECT_TRUE(logIn("Eve3"));
}

}  // namespace
}  // namespace velmora::testing
