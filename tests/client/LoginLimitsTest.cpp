// What a hostile client meets at log-in: the user-name rule.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/Log.h"
#include "client/ClientSocket.h"
#include "networks/ServerNetworks.h"
#include "server/MapSocket.h"
#include "support/ServerHarness.h"

namespace velmora::testing {
namespace {

class LoginLimits : public ::testing::Test {
 protected:
  size_t CountLog(const std::string& message) const {
    auto& lines = server.LogLines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), message));
  }

  ServerHarness server;
  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret");
  MapSocket& listener = server.AddListener();
};

TEST_F(LoginLimits, UserNamesMustBeShortAndPrintableAtLogInAndRename) {
  Peer ann(listener);
  ASSERT_TRUE(ann.LogIn("Lobby", "secret", std::string(64, 'a')));  // the longest name taken
  Peer bob(listener);
  ASSERT_TRUE(bob.LogIn("Lobby", "secret", "Bob ~\xC3\xA9"));  // 0x20, 0x7E and above 0x7F pass
  for (const std::string& bad : {std::string(), std::string(65, 'b'), std::string("Bob|1"),
                                 std::string("Bob\0", 4), std::string("Bob\x1F"),
                                 std::string("Bob\x7F")}) {
    bob.Send(MessageCode::kUserName, bad);
    EXPECT_EQ(bob.Receive()->data, "FAIL") << modGlobal::LogSafe(bad);
    EXPECT_EQ(CountLog("127.0.0.1: Bad Username (" + modGlobal::LogSafe(bad) + ")"), 1u)
        << modGlobal::LogSafe(bad);
  }
  EXPECT_EQ(bob.Connection().Username(), "Bob ~\xC3\xA9");  // a refused rename keeps the name
}

}  // namespace
}  // namespace velmora::testing
